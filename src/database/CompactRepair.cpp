#include "database/CompactRepair.h"

#include "database/Connection.h"
#include "database/ConnectionFactory.h"
#include "database/EngineErrors.h"
#include "database/SqliteFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryFile>
#include <cstdio>

namespace telvar {

namespace {

// The side files SQLite keeps beside a database.
const char* const kSideSuffixes[] = {"-journal", "-wal", "-shm"};

QString source()
{
    return errorSource(Dialecto::Sqlite);
}

RuntimeError repairError(const QString& what)
{
    return layerError(ErrorNumber::DamagedFile, source(), what);
}

QString quotedName(const QString& name)
{
    QString inner = name;
    inner.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString quotedLiteral(const QString& text)
{
    QString inner = text;
    inner.replace(QLatin1String("'"), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

// One Qt SQL connection for the length of a scope.
class ScopedSqlite final {
public:
    explicit ScopedSqlite(const QString& path, SqliteFile::OpenMode mode)
        : m_name(ConnectionFactory::newName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        SqliteFile::configure(db, path, mode);
        m_open = db.open();
        if (!m_open)
            m_error = db.lastError().databaseText();
    }
    ~ScopedSqlite()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    ScopedSqlite(const ScopedSqlite&) = delete;
    ScopedSqlite& operator=(const ScopedSqlite&) = delete;

    bool isOpen() const { return m_open; }
    const QString& openError() const { return m_error; }

    // Runs statement; "" when it worked, else the engine's text.
    QString run(const QString& statement)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (query.exec(statement))
            return QString();
        const QString text = query.lastError().databaseText();
        return text.isEmpty() ? query.lastError().text() : text;
    }

    QSqlQuery query(const QString& statement, QString& error)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (!query.exec(statement))
            error = query.lastError().databaseText();
        return query;
    }

private:
    QString m_name;
    bool m_open = false;
    QString m_error;
};

// A name beside path that nothing uses yet, reserved as an empty file.
QString reserveTemporary(const QString& path, QString& error)
{
    QTemporaryFile file(QFileInfo(path).absoluteDir().filePath(
        QStringLiteral(".") + QFileInfo(path).fileName() + QStringLiteral(".repair-XXXXXX")));
    if (!file.open()) {
        error = file.errorString();
        return QString();
    }
    file.setAutoRemove(false);
    return file.fileName();
}

void removeWithSideFiles(const QString& path)
{
    QFile::remove(path);
    for (const char* suffix : kSideSuffixes)
        QFile::remove(path + QLatin1String(suffix));
}

// Copies path (and any side file) to the first free <path>.bak / <path>.<n>.bak.
QString backUp(const QString& path, QString& error)
{
    QString backup = path + QStringLiteral(".bak");
    for (int n = 1; QFileInfo::exists(backup); ++n)
        backup = path + QLatin1Char('.') + QString::number(n) + QStringLiteral(".bak");
    QFile original(path);
    if (!original.copy(backup)) {
        error = original.errorString();
        return QString();
    }
    for (const char* suffix : kSideSuffixes) {
        const QString side = path + QLatin1String(suffix);
        if (QFileInfo::exists(side))
            QFile::copy(side, backup + QLatin1String(suffix));
    }
    return backup;
}

// Step 1: the damaged file rebuilt by VACUUM INTO target.
QString vacuumInto(const QString& path, const QString& target)
{
    ScopedSqlite damaged(path, SqliteFile::OpenMode::ReadWrite);
    if (!damaged.isOpen())
        return damaged.openError();
    return damaged.run(QStringLiteral("VACUUM INTO ") + quotedLiteral(target));
}

// Step 2: the schema and every table's rows copied into target.
QString salvageInto(const QString& path, const QString& target)
{
    ScopedSqlite repaired(target, SqliteFile::OpenMode::ReadWrite);
    if (!repaired.isOpen())
        return repaired.openError();
    // Reads the damaged file up to its real end, even where its header
    // claims more pages than the file holds.
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = ON")); !e.isEmpty())
        return e;
    if (QString e =
            repaired.run(QStringLiteral("ATTACH DATABASE ") +
                         quotedLiteral(SqliteFile::uri(path, SqliteFile::OpenMode::ReadWrite)) +
                         QStringLiteral(" AS damaged"));
        !e.isEmpty())
        return e;

    struct Entry {
        QString type, name, sql;
    };
    QList<Entry> entries;
    QString error;
    {
        QSqlQuery schema =
            repaired.query(QStringLiteral("SELECT type, name, sql FROM damaged.sqlite_master "
                                          "WHERE sql IS NOT NULL ORDER BY rowid"),
                           error);
        if (!error.isEmpty())
            return QStringLiteral("the schema cannot be read: ") + error;
        while (schema.next())
            entries.append({schema.value(0).toString(), schema.value(1).toString(),
                            schema.value(2).toString()});
        if (schema.lastError().isValid())
            return QStringLiteral("the schema cannot be read: ") +
                   schema.lastError().databaseText();
    }
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = OFF")); !e.isEmpty())
        return e;
    if (QString e = repaired.run(QStringLiteral("BEGIN")); !e.isEmpty())
        return e;

    QStringList unreadable;
    bool hasSequence = false;
    for (const Entry& entry : entries) {
        if (entry.type != QLatin1String("table"))
            continue;
        if (entry.name == QLatin1String("sqlite_sequence")) {
            hasSequence = true;
            continue; // created with the first AUTOINCREMENT table
        }
        if (entry.name.startsWith(QLatin1String("sqlite_")))
            continue;
        if (QString e = repaired.run(entry.sql); !e.isEmpty())
            return QStringLiteral("table ") + entry.name + QStringLiteral(": ") + e;
        const QString e =
            repaired.run(QStringLiteral("INSERT INTO main.") + quotedName(entry.name) +
                         QStringLiteral(" SELECT * FROM damaged.") + quotedName(entry.name));
        if (!e.isEmpty())
            unreadable.append(entry.name + QStringLiteral(" (") + e + QStringLiteral(")"));
    }
    if (hasSequence) {
        // AUTOINCREMENT counters: the damaged file's, so that row numbers
        // are never given out twice.
        repaired.run(QStringLiteral("DELETE FROM main.sqlite_sequence"));
        const QString e = repaired.run(QStringLiteral(
            "INSERT INTO main.sqlite_sequence SELECT * FROM damaged.sqlite_sequence"));
        if (!e.isEmpty())
            unreadable.append(QStringLiteral("sqlite_sequence (") + e + QStringLiteral(")"));
    }
    if (!unreadable.isEmpty()) {
        repaired.run(QStringLiteral("ROLLBACK"));
        return QStringLiteral("rows that cannot be read in ") +
               unreadable.join(QStringLiteral(", "));
    }
    for (const Entry& entry : entries) {
        if (entry.type == QLatin1String("table"))
            continue;
        // Indexes are rebuilt from the copied rows; views and triggers
        // follow as declared.
        if (QString e = repaired.run(entry.sql); !e.isEmpty()) {
            repaired.run(QStringLiteral("ROLLBACK"));
            return entry.type + QLatin1Char(' ') + entry.name + QStringLiteral(": ") + e;
        }
    }
    {
        QSqlQuery version = repaired.query(QStringLiteral("PRAGMA damaged.user_version"), error);
        if (error.isEmpty() && version.next())
            repaired.run(QStringLiteral("PRAGMA main.user_version = ") +
                         QString::number(version.value(0).toLongLong()));
    }
    if (QString e = repaired.run(QStringLiteral("COMMIT")); !e.isEmpty())
        return e;
    return repaired.run(QStringLiteral("DETACH DATABASE damaged"));
}

// "" when target passes SQLite's integrity check.
QString checkIntegrity(const QString& target)
{
    ScopedSqlite copy(target, SqliteFile::OpenMode::ReadWrite);
    if (!copy.isOpen())
        return copy.openError();
    QString error;
    QSqlQuery check = copy.query(QStringLiteral("PRAGMA integrity_check"), error);
    if (!error.isEmpty())
        return error;
    QStringList problems;
    while (check.next()) {
        const QString line = check.value(0).toString();
        if (line != QLatin1String("ok"))
            problems.append(line);
    }
    return problems.join(QStringLiteral("; "));
}

} // namespace

Result<QString> compactAndRepair(const QString& path)
{
    if (Status exists = SqliteFile::checkExisting(path); !exists)
        return exists.error();

    QString error;
    const QString backup = backUp(path, error);
    if (backup.isEmpty())
        return repairError(QStringLiteral("The damaged file could not be copied to a backup: ") +
                           error);

    QString failure;
    QString target = reserveTemporary(path, error);
    if (target.isEmpty()) {
        failure = QStringLiteral("no temporary file beside it: ") + error;
    } else {
        // VACUUM INTO wants a file that does not exist or is empty.
        const QString vacuumError = vacuumInto(path, target);
        QString repairText;
        if (!vacuumError.isEmpty()) {
            removeWithSideFiles(target);
            QFile reserve(target);
            reserve.open(QIODevice::WriteOnly);
            reserve.close();
            repairText = salvageInto(path, target);
        }
        if (repairText.isEmpty())
            repairText = checkIntegrity(target);
        if (!repairText.isEmpty())
            failure = repairText;
    }

    if (failure.isEmpty()) {
        SqliteFile::applyDefaultPermissions(target);
        // The repaired copy takes the file's place in one step; the side
        // files of the damaged file would corrupt it and are in the backup.
        if (std::rename(QFile::encodeName(target).constData(),
                        QFile::encodeName(path).constData()) != 0) {
            failure = QStringLiteral("the repaired copy could not replace it");
        } else {
            for (const char* suffix : kSideSuffixes)
                QFile::remove(path + QLatin1String(suffix));
            return backup;
        }
    }

    if (!target.isEmpty())
        removeWithSideFiles(target);
    // The original is still in place: its copy is not needed.
    removeWithSideFiles(backup);
    return repairError(QStringLiteral("Compact and repair of '") + path +
                       QStringLiteral("' failed: ") + failure +
                       QStringLiteral(". The file was left as it was."));
}

} // namespace telvar
