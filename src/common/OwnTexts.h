#pragma once

#include <QString>

namespace telvar {

// The program's own texts: those the installation's message table does not
// hold (it holds the texts of the system Telvar comes from). Each is given
// in the message table's two languages, 1 Spanish and 2 English; any other
// language shows the Spanish. Texts with %1, %2 take their values with
// QString::arg.
enum class OwnText {
    PreviewTitle,
    PreviewReadAgain,
    PreviewNoPage,
    PreviewReading,  // %1 the address
    PreviewPageRead, // %1 characters, %2 HTTP status
    PreviewPageCut,  // %1 characters, %2 why
    PreviewTimedOut,
    PreviewUnreachable,
    PreviewUnreadable, // followed by why
    PreviewBadCut,
    PreviewCannotCut, // followed by why
    PreviewBlank,
    PreviewReadingValue, // %1 the reading, %2 its value
    PickerRowCap,        // %1 the number of rows
    FetchPageTip,
    ResendButton,
    ResendTip,
    OutboxStatus, // %1 waiting, %2 in quarantine
    OutboxNotOpen,
    OutboxFullMark,
    TablesFailing, // %1 how many
    LogUnwritableMark,
    FailingSince, // %1 the table, %2 since, %3 why
    QuarantineReadAt,
    QuarantinePort,
    QuarantineTable,
    QuarantineCharacteristic,
    QuarantineValue,
    QuarantineReason,
    TableFailing,        // %1 the table, %2 the error
    TableBack,           // %1 the table, %2 how many readings
    OutboxCannotOpenBox, // %1 the outbox
    OutboxCannotOpenCause,
    OutboxFullCause,  // %1 the bound
    OutboxFullBox,    // %1 the outbox, %2 the cause
    LogUnwritableBox, // %1 the file, %2 its fallback
    // The outbox's own trouble.
    OutboxFailing,           // %1 why
    OutboxBack,              // %1 the outbox
    OutboxSetAsideBox,       // %1 the outbox, %2 where it lies now, %3 waiting, %4 quarantined
    OutboxSalvageIncomplete, // %1 why
    OutboxHeldBox,           // %1 the outbox, %2 why
    OutboxEndedCause,
    OutboxInUseBox,  // %1 why
    OutboxUnguarded, // %1 the outbox
    // The ports' status: the grid's column, its tooltip, the causes of a
    // poll without a reading.
    StatusColumn,
    PortStateOk,
    PortStateLate,
    PortStateFailing,
    PortStateStopped,
    StatusPortClock,       // %1 the port, %2 the clock, %3 its minutes
    StatusPortButtonClock, // %1 the port, %2 the clock
    StatusPortNoClock,     // %1 the port
    StatusState,           // %1 the state
    StatusNotAcquiring,
    StatusLateFor,     // %1 minutes
    StatusLastReading, // %1 the reading, %2 when
    StatusNoReading,
    StatusLastSuccess,    // %1 when
    StatusFailuresInARow, // %1 how many
    StatusLastFailure,    // %1 when, %2 why
    StatusRecordedToday,  // %1 how many
    PortPageTimedOut,
    PortStationSilent,
    PortBlankReading,
    // The status server's setting (TelvarService.ini) and the status file.
    SettingUnreadable,  // %1 the file, %2 why
    SettingTooLarge,    // %1 the file, %2 the bound in bytes
    SettingNotKeyValue, // %1 the file, %2 the line
    SettingBadPort,     // %1 the file, %2 the line, %3 the value
    SettingPortTwice,   // %1 the file, %2 the line, %3 the earlier line
    StatusServerStaysOff,
    StatusServerCannotListen, // %1 the port, %2 why, %3 the status file
    StatusFileUnwritable,     // %1 the file, %2 why
};

QString ownText(OwnText text, int idioma);

} // namespace telvar
