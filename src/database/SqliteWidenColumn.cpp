#include "database/SqliteWidenColumn.h"

#include "database/Connection.h"
#include "database/EngineErrors.h"
#include "database/SqliteSql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <optional>
#include <utility>

namespace telvar {

namespace {

Error sqlError(const QSqlError& error, const QString& context)
{
    Error e = engineError(SqlDialect::Sqlite, error, ErrorPhase::Statement);
    e.description = context + QStringLiteral(": ") + e.description;
    return e;
}

// Runs statement on the raw connection (no rewriting: these statements are
// SQLite's own).
Status run(const QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement))
        return sqlError(query.lastError(), statement);
    return {};
}

// The value of a one-column query; nothing when it gives no row.
Result<std::optional<QVariant>> valueOf(const QSqlDatabase& db, const QString& statement,
                                        const QVariantList& values = {})
{
    QSqlQuery query(db);
    query.prepare(statement);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!query.exec())
        return sqlError(query.lastError(), statement);
    if (!query.next())
        return std::optional<QVariant>();
    return std::optional<QVariant>(query.value(0));
}

// The AUTOINCREMENT counter of table in sqlite_sequence; nothing when the
// table has none (no AUTOINCREMENT key, or no row ever given a number).
Result<std::optional<qlonglong>> readSequence(const QSqlDatabase& db, const QString& table)
{
    Result<std::optional<QVariant>> exists =
        valueOf(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                   "name = 'sqlite_sequence'"));
    if (!exists)
        return exists.error();
    if (!exists.value())
        return std::optional<qlonglong>();
    Result<std::optional<QVariant>> seq =
        valueOf(db, QStringLiteral("SELECT max(seq) FROM sqlite_sequence WHERE name = ?"), {table});
    if (!seq)
        return seq.error();
    if (!seq.value() || seq.value()->isNull())
        return std::optional<qlonglong>();
    return std::optional<qlonglong>(seq.value()->toLongLong());
}

// Sets the counter of table back to at least sequence.
Status keepSequence(const QSqlDatabase& db, const QString& table, qlonglong sequence)
{
    Result<std::optional<qlonglong>> current = readSequence(db, table);
    if (!current)
        return current.error();
    const qlonglong value = std::max(sequence, current.value().value_or(sequence));
    for (const auto& [statement, values] :
         {std::pair{QStringLiteral("DELETE FROM sqlite_sequence WHERE name = ?"),
                    QVariantList{table}},
          std::pair{QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
                    QVariantList{table, value}}}) {
        QSqlQuery query(db);
        query.prepare(statement);
        for (const QVariant& v : values)
            query.addBindValue(v);
        if (!query.exec())
            return sqlError(query.lastError(), QStringLiteral("keeping the AUTOINCREMENT counter "
                                                              "of ") +
                                                   table);
    }
    return {};
}

// Gives the rebuilt table the old table's name.
//
// Triggers and views elsewhere in the database may name the table (another
// table's trigger that writes into it, a view over it). Since SQLite 3.26 a
// rename checks every one of them and rewrites the references to the old
// name; here the old name is the one that was just dropped, so that check
// fails ("error in trigger tr2: no such table: main.HTMCONFI") and the table
// could never be widened. The rename runs with legacy_alter_table on, which
// leaves other objects' text alone and checks only that it still parses. That
// is exactly right for this swap: every reference names the table by its
// final name, which is the name the rebuilt table takes, so none of them
// needs changing, and nothing has to be dropped and made again (which would
// also have to follow triggers that reach the table only through a view).
// The table's own indexes and triggers are made again by the caller; foreign
// keys of other tables keep naming the table as well, and are checked after
// the rebuild when they are enforced. The setting belongs to the connection
// and is put back as it was, whatever the outcome.
Status renameTable(const QSqlDatabase& db, const QString& temporary, const QString& name)
{
    Result<std::optional<QVariant>> before =
        valueOf(db, QStringLiteral("PRAGMA legacy_alter_table"));
    if (!before)
        return before.error();
    const bool legacy = before.value() && before.value()->toInt() != 0;
    if (!legacy) {
        if (Status s = run(db, QStringLiteral("PRAGMA legacy_alter_table = ON")); !s)
            return s;
    }
    Status done = run(db, QStringLiteral("ALTER TABLE ") + SqliteSql::quoteIdentifier(temporary) +
                              QStringLiteral(" RENAME TO ") + SqliteSql::quoteIdentifier(name));
    if (!legacy) {
        Status restored = run(db, QStringLiteral("PRAGMA legacy_alter_table = OFF"));
        if (done && !restored)
            done = restored;
    }
    return done;
}

// The rebuild itself, inside the caller's transaction.
Status rebuild(const QSqlDatabase& db, const QString& table, const QString& column, int width)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT type, name, sql FROM sqlite_master "
                                 "WHERE name = ? COLLATE NOCASE AND type = 'table'"));
    query.addBindValue(table);
    if (!query.exec())
        return sqlError(query.lastError(), QStringLiteral("reading the definition of ") + table);
    if (!query.next())
        return Error{ErrorNumber::TableNotFound, errorSource(SqlDialect::Sqlite),
                     QStringLiteral("The table ") + table + QStringLiteral(" does not exist")};
    const QString tableName = query.value(1).toString();
    const QString createSql = query.value(2).toString();
    query.finish();

    // The table's own indexes and triggers go with it and are made again
    // afterwards, in the order they were made.
    QStringList remake;
    query.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL "
                                 "AND type IN ('index', 'trigger') AND tbl_name = ? "
                                 "ORDER BY rowid"));
    query.addBindValue(tableName);
    if (!query.exec())
        return sqlError(query.lastError(), QStringLiteral("reading the indexes of ") + table);
    while (query.next())
        remake.append(query.value(0).toString());
    query.finish();

    // The AUTOINCREMENT high-water mark: dropping the table forgets it, and
    // the copy only knows the largest key still present.
    const Result<std::optional<qlonglong>> sequence = readSequence(db, tableName);
    if (!sequence)
        return sequence.error();

    QString temporary = tableName + QStringLiteral("_widening");
    for (int n = 2;; ++n) {
        query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ? COLLATE NOCASE"));
        query.addBindValue(temporary);
        if (!query.exec())
            return sqlError(query.lastError(), QStringLiteral("choosing a temporary table name"));
        const bool taken = query.next();
        query.finish();
        if (!taken)
            break;
        temporary = tableName + QStringLiteral("_widening") + QString::number(n);
    }

    // The new definition, under the temporary name until the old table is gone.
    Result<QString> createTemporary =
        SqliteSql::withColumnWidth(createSql, column, width, temporary);
    if (!createTemporary)
        return createTemporary.error();

    const QString steps[] = {
        createTemporary.value(),
        QStringLiteral("INSERT INTO ") + SqliteSql::quoteIdentifier(temporary) +
            QStringLiteral(" SELECT * FROM ") + SqliteSql::quoteIdentifier(tableName),
        QStringLiteral("DROP TABLE ") + SqliteSql::quoteIdentifier(tableName),
    };
    for (const QString& step : steps) {
        if (Status s = run(db, step); !s)
            return s;
    }
    if (Status s = renameTable(db, temporary, tableName); !s)
        return s;
    for (const QString& sql : remake) {
        if (Status s = run(db, sql); !s)
            return s;
    }
    if (sequence.value())
        return keepSequence(db, tableName, *sequence.value());
    return {};
}

} // namespace

Status widenSqliteTextColumn(const Connection& cn, const QString& table, const QString& column,
                             int width)
{
    if (cn.dialect() != SqlDialect::Sqlite)
        return Error{ErrorNumber::NotSupported, QStringLiteral("Telvar"),
                     QStringLiteral("Widening ") + table + QLatin1Char('.') + column +
                         QStringLiteral(" is only done on file databases")};

    QSqlDatabase db = cn.database();
    // Foreign keys are checked at the end, not while the table is missing;
    // the switch only works outside a transaction.
    bool foreignKeys = false;
    {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA foreign_keys")) && query.next())
            foreignKeys = query.value(0).toInt() != 0;
    }
    if (foreignKeys) {
        if (Status s = run(db, QStringLiteral("PRAGMA foreign_keys = OFF")); !s)
            return s;
    }
    Status result;
    if (!db.transaction()) {
        result = sqlError(db.lastError(), QStringLiteral("starting the rebuild of ") + table);
    } else {
        result = rebuild(db, table, column, width);
        if (result && foreignKeys) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("PRAGMA foreign_key_check")))
                result = sqlError(query.lastError(), QStringLiteral("checking foreign keys"));
            else if (query.next())
                result = Error{ErrorNumber::TableExists, errorSource(SqlDialect::Sqlite),
                               QStringLiteral("Rebuilding ") + table +
                                   QStringLiteral(" would break a foreign key of ") +
                                   query.value(0).toString()};
        }
        if (result) {
            if (!db.commit())
                result = sqlError(db.lastError(), QStringLiteral("saving the rebuild of ") + table);
        }
        if (!result)
            db.rollback();
    }
    if (foreignKeys)
        run(db, QStringLiteral("PRAGMA foreign_keys = ON"));
    return result;
}

} // namespace telvar
