#pragma once

#include "common/RuntimeError.h"

#include <QString>

namespace telvar {

// Compact and repair of a damaged SQLite database file (what the program's
// Jet databases are here). The repaired copy is built beside the file and
// checked; only a complete copy replaces the file. The damaged original is
// kept beside it as <path>.bak (or <path>.<n>.bak when that exists).
//
// 1. VACUUM INTO a temporary file: rebuilds every table and index from a
//    readable file.
// 2. When that fails (for example a file cut short, which SQLite refuses to
//    read whole), the file's schema is read and every table copied with its
//    rows into a new file, indexes rebuilt from the copied rows.
// A table whose rows cannot all be read makes the repair fail: the original
// then stays in place untouched, no backup or temporary file is left, and
// the error says which tables could not be read.
//
// On success the result holds the path of the backup.
Result<QString> compactAndRepair(const QString& path);

} // namespace telvar
