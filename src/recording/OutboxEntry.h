#pragma once

#include "common/Error.h"
#include "recording/ReadingToRecord.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

namespace telvar {

// One reading kept in the outbox until its data table has committed it:
// everything its recording needs, fixed when the reading was checked, so
// that a reading recorded late is written as it would have been at once.
struct OutboxEntry {
    // The outbox's number for the entry; readings are recorded in its order.
    qint64 id = 0;
    int reloj = 0;
    int Puert = 0;
    // Where it goes: the SPC database's engine tag; the data directory
    // (file engines) or the data database's name (server engines); the
    // format, machine and product (trimmed), which name the data file or
    // table; and the characteristic's column (trimmed).
    QString engine;
    QString base;
    QString Forma;
    QString Maqui;
    QString Produ;
    QString Carac;
    // The reading as cut from the page, its operator, and the date, time
    // (whole seconds, local) and shift of the moment its page arrived.
    QString Valor;
    QString Opera;
    QDateTime stamp;
    QString Turno;
    // Set while the reading's write is on its way to its data table: the
    // row (N) it was written into and whether that write made the row. A
    // crash before the outbox hears of the commit leaves it set, and the
    // next attempt looks for that row and cell before writing again.
    std::optional<qint64> preparedRow;
    bool preparedNewRow = false;

    // The reading's data table: entries with the same key are written in one
    // transaction.
    QString destinationKey() const;

    bool operator==(const OutboxEntry&) const = default;
};

// A reading that waiting cannot record (a missing data file, table or
// column, a value that does not fit, an engine without data tables), kept
// aside with the reason until the engineer has mended its cause and sends
// it again.
struct QuarantinedEntry {
    OutboxEntry entry;
    CodeErr code = CodeErr::Recorded;
    Error reason;
    QDateTime since;
};

} // namespace telvar

Q_DECLARE_METATYPE(telvar::OutboxEntry)
Q_DECLARE_METATYPE(telvar::QuarantinedEntry)
