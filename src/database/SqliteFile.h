#pragma once

#include "common/Error.h"

#include <QSqlDatabase>
#include <QString>

namespace telvar {

// How the engine layer reaches the SQLite files that stand for the
// program's Jet databases.
//
// Journal: the default rollback journal, never WAL. The program opens and
// closes a connection for every use, its data directories may live on
// network file systems (where WAL's shared memory does not work), and with a
// rollback journal the file alone is the whole database whenever no
// connection is open, so it can be copied or backed up as one file.
namespace SqliteFile {

enum class OpenMode {
    ReadWrite, // the file must exist; it is never created
    Create,    // read-write, created when missing
};

// The URI SQLite is given for path: "file:" + the percent-encoded absolute
// path + "?mode=rw" or "?mode=rwc".
QString uri(const QString& path, OpenMode mode);

// Sets up db (a QSQLITE connection, not yet open) for path, with the busy
// timeout of WaitBounds.
void configure(QSqlDatabase& db, const QString& path, OpenMode mode);

// An error (-2147467259, in the words of the file engine) unless path names
// an existing regular file.
Status checkExisting(const QString& path);

// Creates the database file path, protected by passBD (none when empty).
Status create(const QString& path, const QString& passBD);

// Sets the permissions a newly created file of this process gets (0666 less
// the process's umask) on path.
void applyDefaultPermissions(const QString& path);

} // namespace SqliteFile

} // namespace telvar
