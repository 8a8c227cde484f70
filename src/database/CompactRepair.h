#pragma once

#include "common/RuntimeError.h"

#include <QString>

namespace telvar {

// Compact and repair of a damaged SQLite database file (what the program's
// Jet databases are here). A path through a symbolic link is repaired where
// the link points: the link stays, the real file is backed up and replaced.
// The repaired copy is built beside the file and checked; only a complete
// copy replaces the file. The damaged original is kept beside it as
// <path>.bak (or <path>.<n>.bak when that exists).
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
// Files: the repaired copy and the backup get the original's permissions
// (and its owner and group where this user may set them). A file this user
// may not write is not repaired; the error says so. The backup is written
// under a temporary name and named only when complete; the backup, the
// repaired copy and the directory are flushed to the disk before the
// repaired copy replaces the original, so a crash at any moment leaves the
// original or the repaired file in place, and never a partial backup under
// a backup's name. Temporary files an interrupted repair left beside the
// database are removed by its next repair.
//
// On success the result holds the path of the backup.
Result<QString> compactAndRepair(const QString& path);

} // namespace telvar
