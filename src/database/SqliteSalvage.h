#pragma once

#include <QString>

namespace telvar {

// Copies what can be read of a damaged SQLite file into target (a new,
// empty file): every table with all its rows, the AUTOINCREMENT counters
// and the user version, then the indexes, views and triggers, rebuilt from
// the copied rows. It reads a file whose header counts more pages than the
// file holds (a file cut short) up to its real end.
//
// The damaged file is hostile: the statements of its schema are run only
// when each is one CREATE of its entry's own type and name, and while they
// and the row copies run, SQLite's authorizer refuses attaching and
// detaching databases, transactions, PRAGMAs and any change to a database
// other than target. Statements only read the damaged file (SQLite itself
// may still roll back a journal left beside it, as any opening would).
//
// "" when every row of every table was copied; otherwise why not (the
// tables whose rows cannot all be read, a schema entry that is not a plain
// declaration), and target then holds nothing that counts.
QString salvageSqliteFile(const QString& damaged, const QString& target);

} // namespace telvar
