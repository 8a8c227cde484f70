#include "database/SqliteSalvage.h"

#include "database/ScopedSqlite.h"
#include "database/SqliteFile.h"
#include "database/SqliteSql.h"

#include <QList>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <sqlite3.h>

namespace telvar {

namespace {

// The name the damaged file is attached under.
const char* const kDamaged = "damaged";

bool isMain(const char* database)
{
    return database && std::strcmp(database, "main") == 0;
}

// What the salvage's statements may do: read anything; create, fill and
// change objects of the new file only. Everything else (attaching or
// detaching another file, transactions and savepoints, PRAGMAs, temporary
// objects, dropping, any write to the damaged file) is refused.
int salvageAuthorizer(void*, int action, const char*, const char*, const char* database,
                      const char*)
{
    switch (action) {
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_REINDEX: // filling a new index
        return isMain(database) ? SQLITE_OK : SQLITE_DENY;
    default:
        return SQLITE_DENY;
    }
}

// SQLite's handle under a Qt SQL connection (Qt's driver uses the system's
// SQLite library, the one this code links).
sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// The authorizer above, on a connection for the length of a scope.
class SalvageGuard final {
public:
    explicit SalvageGuard(sqlite3* handle) : m_handle(handle)
    {
        sqlite3_set_authorizer(m_handle, &salvageAuthorizer, nullptr);
    }
    ~SalvageGuard() { sqlite3_set_authorizer(m_handle, nullptr, nullptr); }
    SalvageGuard(const SalvageGuard&) = delete;
    SalvageGuard& operator=(const SalvageGuard&) = delete;

private:
    sqlite3* m_handle;
};

struct SchemaEntry {
    QString type, name, sql;
};

QString readSchema(ScopedSqlite& target, QList<SchemaEntry>& entries)
{
    QString error;
    QSqlQuery schema =
        target.query(QStringLiteral("SELECT type, name, sql FROM ") + QLatin1String(kDamaged) +
                         QStringLiteral(".sqlite_master "
                                        "WHERE sql IS NOT NULL ORDER BY rowid"),
                     error);
    if (!error.isEmpty())
        return QStringLiteral("the schema cannot be read: ") + error;
    while (schema.next())
        entries.append(
            {schema.value(0).toString(), schema.value(1).toString(), schema.value(2).toString()});
    if (schema.lastError().isValid())
        return QStringLiteral("the schema cannot be read: ") + schema.lastError().databaseText();
    // Every entry is checked before anything runs.
    for (const SchemaEntry& entry : entries) {
        if (entry.type == QLatin1String("table") && entry.name.startsWith(QLatin1String("sqlite_")))
            continue; // SQLite's own tables, made by SQLite itself
        if (!SqliteSql::isSingleCreate(entry.sql, entry.type, entry.name))
            return QStringLiteral("its schema entry for ") + entry.type + QLatin1Char(' ') +
                   entry.name + QStringLiteral(" is not a plain declaration of it and is not run");
    }
    return QString();
}

// The tables with their rows, then the AUTOINCREMENT counters, then the
// other entries; inside the target's open transaction and the guard.
QString copyEntries(ScopedSqlite& target, const QList<SchemaEntry>& entries)
{
    const QString from = QLatin1String(kDamaged) + QLatin1Char('.');
    QStringList unreadable;
    bool hasSequence = false;
    for (const SchemaEntry& entry : entries) {
        if (entry.type != QLatin1String("table"))
            continue;
        if (entry.name == QLatin1String("sqlite_sequence")) {
            hasSequence = true;
            continue; // created with the first AUTOINCREMENT table
        }
        if (entry.name.startsWith(QLatin1String("sqlite_")))
            continue;
        if (QString e = target.run(entry.sql); !e.isEmpty())
            return QStringLiteral("table ") + entry.name + QStringLiteral(": ") + e;
        const QString name = SqliteSql::quoteIdentifier(entry.name);
        const QString e = target.run(QStringLiteral("INSERT INTO main.") + name +
                                     QStringLiteral(" SELECT * FROM ") + from + name);
        if (!e.isEmpty())
            unreadable.append(entry.name + QStringLiteral(" (") + e + QStringLiteral(")"));
    }
    if (hasSequence) {
        // AUTOINCREMENT counters: the damaged file's, so that row numbers
        // are never given out twice.
        target.run(QStringLiteral("DELETE FROM main.sqlite_sequence"));
        const QString e = target.run(QStringLiteral("INSERT INTO main.sqlite_sequence SELECT * "
                                                    "FROM ") +
                                     from + QStringLiteral("sqlite_sequence"));
        if (!e.isEmpty())
            unreadable.append(QStringLiteral("sqlite_sequence (") + e + QStringLiteral(")"));
    }
    if (!unreadable.isEmpty())
        return QStringLiteral("rows that cannot be read in ") +
               unreadable.join(QStringLiteral(", "));
    for (const SchemaEntry& entry : entries) {
        if (entry.type == QLatin1String("table"))
            continue;
        // Indexes are rebuilt from the copied rows; views and triggers
        // follow as declared.
        if (QString e = target.run(entry.sql); !e.isEmpty())
            return entry.type + QLatin1Char(' ') + entry.name + QStringLiteral(": ") + e;
    }
    return QString();
}

} // namespace

QString salvageSqliteFile(const QString& damaged, const QString& target)
{
    ScopedSqlite repaired(target, SqliteFile::OpenMode::ReadWrite);
    if (!repaired.isOpen())
        return repaired.openError();
    sqlite3* handle = handleOf(repaired.database());
    if (!handle)
        return QStringLiteral("the SQLite driver gives no handle to guard the salvage with");
    // Reads the damaged file up to its real end, even where its header
    // claims more pages than the file holds: SQLite only allows that while
    // the schema is writable, so the setting stays on until every row has
    // been read.
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = ON")); !e.isEmpty())
        return e;
    if (QString e = repaired.run(
            QStringLiteral("ATTACH DATABASE ") +
            SqliteSql::quoteLiteral(SqliteFile::uri(damaged, SqliteFile::OpenMode::ReadWrite)) +
            QStringLiteral(" AS ") + QLatin1String(kDamaged));
        !e.isEmpty())
        return e;

    QList<SchemaEntry> entries;
    if (QString e = readSchema(repaired, entries); !e.isEmpty())
        return e;
    if (QString e = repaired.run(QStringLiteral("BEGIN")); !e.isEmpty())
        return e;
    QString copied;
    {
        SalvageGuard guard(handle);
        copied = copyEntries(repaired, entries);
    }
    if (!copied.isEmpty()) {
        repaired.run(QStringLiteral("ROLLBACK"));
        return copied;
    }
    {
        QString error;
        QSqlQuery version = repaired.query(QStringLiteral("PRAGMA ") + QLatin1String(kDamaged) +
                                               QStringLiteral(".user_version"),
                                           error);
        if (error.isEmpty() && version.next())
            repaired.run(QStringLiteral("PRAGMA main.user_version = ") +
                         QString::number(version.value(0).toLongLong()));
    }
    if (QString e = repaired.run(QStringLiteral("COMMIT")); !e.isEmpty())
        return e;
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = OFF")); !e.isEmpty())
        return e;
    return repaired.run(QStringLiteral("DETACH DATABASE ") + QLatin1String(kDamaged));
}

} // namespace telvar
