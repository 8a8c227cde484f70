#pragma once

#include <QString>

namespace telvar {

// The program's own texts: those the installation's message table does not
// hold (it holds the texts of the system Telvar comes from). Each is given
// in the message table's two languages, 1 Spanish and 2 English; any other
// language shows the Spanish. Texts with %1, %2 take their values with
// QString::arg.
enum class OwnText {
    // A database as its failure reports name it: the file, or the database
    // on its server (never the connection string).
    DatabaseFile,     // %1 the file
    DatabaseOnServer, // %1 the database, %2 the server, %3 the engine
    DatabaseUser,     // %1 the user (follows DatabaseOnServer)
    DatabaseNoneChosen,
    // Why a database cannot be opened.
    CauseFileMissing,   // %1 the file
    CauseFolderMissing, // %1 the folder, %2 the file
    CauseNotAFile,      // %1 the path
    CauseNoFileNamed,
    CauseFileUnreadable,    // %1 the file, %2 the system's reason
    CauseFileCannotOpen,    // %1 the file, %2 the engine's reason
    CauseNotADatabase,      // %1 the file, %2 the engine's reason
    CauseDamaged,           // %1 the file, %2 the engine's reason
    CauseWrongPassword,     // %1 the file
    CauseServerUnreachable, // %1 the server, %2 the database, %3 the server's message
    CauseLoginRefused,      // %1 the server, %2 the user, %3 the database, %4 the message
    CauseDriverMissing,     // %1 the engine, %2 what is missing
    // The configuration chooser.
    ChooserImportCaption,
    ChooserImportSource,
    ChooserImportTarget,
    ChooserImportTargetNotMdb, // %1 the path
    ChooserImportReplace,      // %1 the path
    ChooserImportDone,         // %1 tables, %2 rows, %3 the source, %4 the target
    ChooserImportBackup,       // %1 the backup
    ChooserImportNotConverted,
    ChooserImportMore, // %1 how many more
    ChooserImportUseIt,
    ChooserImportRunning,     // %1 the Jet file, %2 seconds
    ChooserImportTablesDone,  // %1 tables, %2 rows, %3 the last table
    ChooserImportReading,     // %1 the table
    ChooserImportReadingRows, // %1 the table, %2 rows so far
    ChooserImportCancel,
    ChooserImportCancelled,
    ChooserImportStopToClose,
    ChooserPathUnstorable, // %1 the path, %2 why
    PathHasComma,
    PathHasQuote,
    PathHasLineEnd,
    PathHasOuterBlanks,
    // Start-up.
    StartupNoDatabaseListed,
    StartupCoverMissing, // %1 the picture
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
    // The port form: the preview's near identifiers and page part, its
    // questions.
    PreviewNearMatches, // followed by the matches
    PreviewNoNearMatch,
    PreviewSearchedPart, // %1 the characters searched
    PreviewPagePart,     // %1 first, %2 last, %3 the page's characters
    PortDiscardChanges,
    PortOperatorChanged, // %1 the operator, %2 the machine
    PortProductChanged,  // %1 the product, %2 the machine
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
    PortRefused,
    PortHostDown,
    PortBlankReading,
    PortStateWaiting,
    StatusWaitingFirstPoll,
    PortIdentNotFound,      // %1 the identifier
    PortIdentNotFoundInCut, // %1 the identifier
    PortBlankAfter,         // %1 the identifier
    PortPageCannotLoad,
    PortCannotCut,   // %1 the identifier
    PortCheckFailed, // followed by why
    // The quarantine's reasons, and the follow-up of a "Send again".
    QuarantineNoDirectory, // %1 the directory
    QuarantineNoDataFile,  // %1 the data file
    QuarantineOtherCode,   // %1 the code, %2 the stored reason
    ResendFollowUp,        // %1 recorded, %2 still in quarantine
    ResendFollowUpWaiting, // %1 recorded, %2 still in quarantine, %3 waiting
    // The status server's setting (TelvarService.ini) and the status file.
    SettingUnreadable,  // %1 the file, %2 why
    SettingTooLarge,    // %1 the file, %2 the bound in bytes
    SettingNotKeyValue, // %1 the file, %2 the line
    SettingBadPort,     // %1 the file, %2 the line, %3 the value
    SettingPortTwice,   // %1 the file, %2 the line, %3 the earlier line
    StatusServerStaysOff,
    StatusServerCannotListen, // %1 the port, %2 why, %3 the status file
    StatusFileUnwritable,     // %1 the file, %2 why
    // The main window: the grid's undo, the readings' follow mark, the page
    // box, the status line.
    UndoButton,
    UndoTip, // %1 the field, %2 the port, %3 the earlier value
    EditOpenTip,
    NewReadingsTip,
    PageFollowCycles,
    PageOfHtml,        // %1 the port, %2 when
    PageOfCycle,       // %1 the port, %2 when
    FetchingPage,      // %1 the port, %2 the address
    StatusLinePort,    // %1 when, %2 the port, %3 what happened
    StatusLineRead,    // %1 the reading
    StatusLineOutside, // %1 the reading
    // The readings chart.
    ChartChoosePort,
    ChartFollow,
    ChartFollowTip,
    ChartLowerLimit, // %1 the limit
    ChartUpperLimit, // %1 the limit
    // The polling cycle's box of failing ports.
    CycleFailuresMore, // %1 how many ports are not listed
};

QString ownText(OwnText text, int idioma);

} // namespace telvar
