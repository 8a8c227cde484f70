#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// Compact and repair of a damaged SQLite database file (what the program's
// Jet databases are here), replaced durably in place (FileReplacement: a
// link stays, the damaged original is kept as <path>.bak or <path>.<n>.bak,
// a crash at any moment leaves the damaged or the repaired file in place).
//
// The repaired copy is built beside the file and checked; only a complete
// copy replaces the file:
// - VACUUM INTO rebuilds every table and index of a file SQLite still reads
//   whole;
// - otherwise (for example a file cut short, which SQLite refuses to read
//   whole) every row that can be read is salvaged (SqliteSalvage), indexes
//   rebuilt from the copied rows.
// A table whose rows cannot all be read, or a schema entry that is not a
// plain declaration, makes the repair fail: the original then stays in
// place untouched, no backup or temporary file is left, and the error says
// why. A file this user may not write is not repaired; the error says so.
//
// On success the result holds the path of the backup.
Result<QString> compactAndRepair(const QString& path);

} // namespace telvar
