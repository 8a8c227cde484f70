#pragma once

#include "common/Error.h"

#include <QDateTime>
#include <QString>

namespace telvar {

// What setting a damaged outbox aside gave.
struct OutboxSalvage {
    // Where the damaged file now lies (never deleted).
    QString asidePath;
    // The readings read from it and kept in the new outbox.
    qint64 pending = 0;
    qint64 quarantined = 0;
    // Why not everything could be read ("" when all of it was).
    QString incomplete;
};

// Sets the damaged outbox at path aside, renaming it (with its write-ahead
// log) to path + ".damaged-<yyyyMMdd-HHmmss>", reads what can be read of it
// (Outbox::readDamaged) and makes a new outbox at path holding
// the salvaged readings, waiting and quarantined, with their notes. No
// connection to path may be open. An error only when the file cannot be set
// aside or the new outbox cannot be made; the damaged file is then where
// it was or where the error says.
Result<OutboxSalvage> setAsideDamagedOutbox(const QString& path, const QDateTime& now);

} // namespace telvar
