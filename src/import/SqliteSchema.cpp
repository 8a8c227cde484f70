#include "import/SqliteSchema.h"

#include "database/FilePassword.h"
#include "database/SqliteSql.h"

#include <optional>

namespace telvar::JetToSqlite {

namespace {

bool isWholeNumber(JetType type)
{
    return type == JetType::Byte || type == JetType::Integer || type == JetType::LongInteger;
}

const JetIndex* primaryKey(const JetTable& table)
{
    for (const JetIndex& index : table.indexes) {
        if (index.kind == JetIndex::Kind::Primary)
            return &index;
    }
    return nullptr;
}

// The column that is the table's INTEGER PRIMARY KEY, when there is one.
std::optional<int> rowidColumn(const JetTable& table)
{
    const JetIndex* key = primaryKey(table);
    if (!key || key->keys.size() != 1)
        return std::nullopt;
    const int column = key->keys.first().column;
    if (!isWholeNumber(table.columns.value(column).type))
        return std::nullopt;
    return column;
}

QString keyList(const JetTable& table, const JetIndex& index)
{
    QStringList keys;
    for (const JetIndexKey& key : index.keys)
        keys.append(SqliteSql::quoteIdentifier(table.columns[key.column].name) +
                    (key.descending ? QStringLiteral(" DESC") : QString()));
    return keys.join(QStringLiteral(", "));
}

} // namespace

QString declaredType(const JetColumn& column)
{
    switch (column.type) {
    case JetType::Boolean:
        return QStringLiteral("BOOLEAN");
    case JetType::Byte:
    case JetType::Integer:
    case JetType::LongInteger:
        return QStringLiteral("INTEGER");
    case JetType::Currency:
        return QStringLiteral("NUMERIC(19,4)");
    case JetType::Decimal:
        return QStringLiteral("NUMERIC(%1,%2)").arg(column.precision).arg(column.scale);
    case JetType::Single:
        return QStringLiteral("REAL");
    case JetType::Double:
        return QStringLiteral("DOUBLE");
    case JetType::DateTime:
        return QStringLiteral("DATETIME");
    case JetType::Binary:
    case JetType::OleObject:
        return QStringLiteral("BLOB");
    case JetType::Text:
        return QStringLiteral("VARCHAR(%1)").arg(column.width);
    case JetType::Memo:
        return QStringLiteral("TEXT");
    case JetType::ReplicationId:
        return QStringLiteral("VARCHAR(38)");
    }
    return QStringLiteral("BLOB");
}

QString createTable(const JetTable& table)
{
    const std::optional<int> rowid = rowidColumn(table);
    QStringList declarations;
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        const JetColumn& column = table.columns[i];
        QString declaration = SqliteSql::quoteIdentifier(column.name) + QLatin1Char(' ');
        if (rowid && *rowid == i) {
            declaration += column.autoNumber ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                                             : QStringLiteral("INTEGER NOT NULL PRIMARY KEY");
        } else {
            declaration += declaredType(column);
            if (column.required)
                declaration += QStringLiteral(" NOT NULL");
        }
        declarations.append(declaration);
    }
    if (const JetIndex* key = primaryKey(table); key && !rowid)
        declarations.append(QStringLiteral("PRIMARY KEY (") + keyList(table, *key) +
                            QLatin1Char(')'));
    return QStringLiteral("CREATE TABLE ") + SqliteSql::quoteIdentifier(table.name) +
           QStringLiteral(" (") + declarations.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QStringList createIndexes(const JetTable& table, QSet<QString>& taken)
{
    QStringList statements;
    for (const JetIndex& index : table.indexes) {
        if (index.kind == JetIndex::Kind::Primary)
            continue;
        const QString base = table.name + QLatin1Char('_') + index.name;
        QString name = base;
        for (int n = 2; taken.contains(name.toLower()); ++n)
            name = base + QLatin1Char('_') + QString::number(n);
        taken.insert(name.toLower());
        statements.append((index.kind == JetIndex::Kind::Unique
                               ? QStringLiteral("CREATE UNIQUE INDEX ")
                               : QStringLiteral("CREATE INDEX ")) +
                          SqliteSql::quoteIdentifier(name) + QStringLiteral(" ON ") +
                          SqliteSql::quoteIdentifier(table.name) + QStringLiteral(" (") +
                          keyList(table, index) + QLatin1Char(')'));
    }
    return statements;
}

QString insertRow(const JetTable& table)
{
    QStringList names;
    QStringList marks;
    for (const JetColumn& column : table.columns) {
        names.append(SqliteSql::quoteIdentifier(column.name));
        marks.append(QStringLiteral("?"));
    }
    return QStringLiteral("INSERT INTO ") + SqliteSql::quoteIdentifier(table.name) +
           QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
           marks.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QStringList declarationNotes(const JetTable& table)
{
    QStringList notes;
    const std::optional<int> rowid = rowidColumn(table);
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        const JetColumn& column = table.columns[i];
        if (column.autoNumber && !(rowid && *rowid == i))
            notes.append(QStringLiteral("AutoNumber column ") + column.name +
                         QStringLiteral(" keeps its numbers, but new rows get none (SQLite "
                                        "numbers only a single-column INTEGER PRIMARY KEY)."));
    }
    return notes;
}

QString unusableTableName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("a table needs a name");
    if (name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive))
        return QStringLiteral("SQLite keeps names starting with \"sqlite_\" for itself");
    if (name.compare(QLatin1String(FilePassword::kTable), Qt::CaseInsensitive) == 0)
        return QStringLiteral("the program keeps a file's database password in a table of that "
                              "name");
    return QString();
}

} // namespace telvar::JetToSqlite
