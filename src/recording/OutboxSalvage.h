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
// (Outbox::readDamaged) and makes a new outbox at path holding the salvaged
// readings, waiting and quarantined, with their notes: made whole beside
// path first, then renamed into place, and the damaged file marked as read
// (a file beside it, its name + ".salvaged"). alreadyAside names a file
// set aside by an earlier try that could not finish (a full disk): it is
// read again instead of setting anything aside. No connection to path may
// be open. An error when the file cannot be set aside or the new outbox
// cannot be made; the damaged file is then where the error says, and a
// later try finishes the work.
Result<OutboxSalvage> setAsideDamagedOutbox(const QString& path, const QDateTime& now,
                                            const QString& alreadyAside = QString());

// A damaged outbox set aside beside path whose readings were never put into
// a new one (the program ended half-way), or "".
QString unsalvagedAside(const QString& path);

} // namespace telvar
