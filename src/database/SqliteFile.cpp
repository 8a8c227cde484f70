#include "database/SqliteFile.h"

#include "database/Connection.h"
#include "database/ConnectionFactory.h"
#include "database/EngineErrors.h"
#include "database/FilePassword.h"
#include "database/WaitBounds.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QUrl>
#include <sys/stat.h>

namespace telvar::SqliteFile {

namespace {

QString source()
{
    return errorSource(SqlDialect::Sqlite);
}

Status writePasswordRecord(QSqlDatabase& db, const QString& passBD)
{
    auto hash = FilePassword::hash(passBD);
    if (!hash)
        return hash.error();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("CREATE TABLE ") + QLatin1String(FilePassword::kTable) +
                    QStringLiteral(" (") + QLatin1String(FilePassword::kColumn) +
                    QStringLiteral(" VARCHAR(255) NOT NULL)")))
        return engineError(SqlDialect::Sqlite, query.lastError(), ErrorPhase::Statement);
    if (!query.prepare(QStringLiteral("INSERT INTO ") + QLatin1String(FilePassword::kTable) +
                       QStringLiteral(" (") + QLatin1String(FilePassword::kColumn) +
                       QStringLiteral(") VALUES (?)")))
        return engineError(SqlDialect::Sqlite, query.lastError(), ErrorPhase::Statement);
    query.addBindValue(QString::fromUtf8(hash.value()));
    if (!query.exec())
        return engineError(SqlDialect::Sqlite, query.lastError(), ErrorPhase::Statement);
    return {};
}

// Opens file, writes the database header (and the password record) and
// closes it again.
Status initialise(const QString& file, const QString& passBD)
{
    const QString name = ConnectionFactory::newName();
    Status status;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        configure(db, file, OpenMode::ReadWrite);
        if (!db.open()) {
            status = engineError(SqlDialect::Sqlite, db.lastError(), ErrorPhase::Connect);
        } else {
            QSqlQuery query(db);
            // Writing a header field makes the file a database even when it
            // gets no table.
            if (!query.exec(QStringLiteral("PRAGMA user_version = 0")))
                status = engineError(SqlDialect::Sqlite, query.lastError(), ErrorPhase::Statement);
            else if (!passBD.isEmpty())
                status = writePasswordRecord(db, passBD);
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return status;
}

} // namespace

QString uri(const QString& path, OpenMode mode)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded) +
           (mode == OpenMode::ReadWrite ? QStringLiteral("?mode=rw") : QStringLiteral("?mode=rwc"));
}

void configure(QSqlDatabase& db, const QString& path, OpenMode mode)
{
    // A statement waits at most the busy timeout for a lock that another
    // connection or process holds on the file, then fails with SQLITE_BUSY.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=") +
                         QString::number(WaitBounds::kSqliteBusyTimeout.count()));
    db.setDatabaseName(uri(path, mode));
}

Status checkExisting(const QString& path)
{
    if (path.isEmpty())
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("No database file is named (Data Source is empty)."));
    const QFileInfo info(path);
    if (!info.exists()) {
        if (!info.absoluteDir().exists())
            return layerError(ErrorNumber::UnspecifiedFailure, source(),
                              QStringLiteral("'") + path +
                                  QStringLiteral("' is not a valid path: its directory does "
                                                 "not exist."));
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("Could not find file '") + path + QStringLiteral("'."));
    }
    if (!info.isFile())
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("'") + path +
                              QStringLiteral("' is not a valid path: it is not a file."));
    return {};
}

Status create(const QString& path, const QString& passBD)
{
    const QFileInfo info(path);
    if (path.isEmpty())
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("No database file is named."));
    if (info.exists() || info.isSymLink())
        return layerError(ErrorNumber::DatabaseExists, source(),
                          QStringLiteral("Database already exists: '") + path +
                              QStringLiteral("'."));
    const QDir dir = info.absoluteDir();
    if (!dir.exists())
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("Could not find path '") + dir.path() +
                              QStringLiteral("'."));

    // Built under a temporary name beside its place and moved there only
    // when complete, without ever replacing a file that appeared meanwhile.
    QTemporaryFile temporary(dir.filePath(QStringLiteral(".telvar-new-XXXXXX")));
    if (!temporary.open())
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("Cannot create a file in '") + dir.path() +
                              QStringLiteral("': ") + temporary.errorString());
    temporary.close();
    if (Status status = initialise(temporary.fileName(), passBD); !status)
        return status;
    applyDefaultPermissions(temporary.fileName());
    if (!temporary.rename(info.absoluteFilePath())) {
        if (QFileInfo::exists(path))
            return layerError(ErrorNumber::DatabaseExists, source(),
                              QStringLiteral("Database already exists: '") + path +
                                  QStringLiteral("'."));
        return layerError(ErrorNumber::UnspecifiedFailure, source(),
                          QStringLiteral("Cannot create '") + path + QStringLiteral("': ") +
                              temporary.errorString());
    }
    temporary.setAutoRemove(false);
    return {};
}

void applyDefaultPermissions(const QString& path)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(QFile::encodeName(path).constData(), 0666 & ~mask);
}

} // namespace telvar::SqliteFile
