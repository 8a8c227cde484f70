#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>

namespace telvar {

// The database password of a file database. A Jet database password has no
// SQLite counterpart, so a file created with a password keeps a salted
// yescrypt hash of it (libxcrypt) in the one-row table below, and opening
// the file with another password is refused. This is an access check of the
// same strength as Jet's, not encryption: the file itself stays readable.
namespace FilePassword {

// The metadata table: one row, column Clave holding the hash.
inline constexpr const char* kTable = "TelvarSeguridad";
inline constexpr const char* kColumn = "Clave";

// A new salted hash of password.
Result<QByteArray> hash(const QString& password);

// True when password matches storedHash. A stored hash that is malformed,
// or not of the method and cost hash() writes (whose verification could
// take any time: a bcrypt cost of 31 runs for days), gives an error, not a
// mismatch, without hashing anything. A password already verified against the same hash
// in this process is not hashed again: opening a file is frequent and the
// hash is deliberately slow.
Result<bool> verify(const QString& password, const QByteArray& storedHash);

} // namespace FilePassword

} // namespace telvar
