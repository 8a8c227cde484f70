#include "database/Connection.h"

#include "database/EngineErrors.h"
#include "database/ServerAnswerWatch.h"
#include "database/SqlDialect.h"
#include "database/SqliteSql.h"

#include <QRegularExpression>
#include <QSqlField>
#include <QSqlRecord>
#include <chrono>
#include <limits>

namespace telvar {

namespace {

// SQLite's rule for text affinity, applied to a declared type.
bool hasTextAffinity(const QString& declaredType)
{
    const QString upper = declaredType.toUpper();
    if (upper.contains(QLatin1String("INT")))
        return false;
    return upper.contains(QLatin1String("CHAR")) || upper.contains(QLatin1String("CLOB")) ||
           upper.contains(QLatin1String("TEXT"));
}

// The length in "VARCHAR(8)", "TEXT ( 8 )", "NATIONAL CHARACTER(8)"; -1 without one.
int declaredLength(const QString& declaredType)
{
    static const QRegularExpression length(QStringLiteral("\\(\\s*(\\d+)\\s*\\)"));
    const auto match = length.match(declaredType);
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    const qlonglong value = match.captured(1).toLongLong(&ok);
    if (!ok || value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

} // namespace

Connection::Connection(QString qtConnectionName, QString connectionString, SqlDialect dialect)
    : m_qtConnectionName(std::move(qtConnectionName)),
      m_connectionString(std::move(connectionString)), m_dialect(dialect)
{
}

Connection::~Connection()
{
    close();
}

QSqlDatabase Connection::database() const
{
    if (m_qtConnectionName.isEmpty())
        return QSqlDatabase();
    return QSqlDatabase::database(m_qtConnectionName, false);
}

QString Connection::sql(const QString& statement) const
{
    return rewriteSql(m_dialect, statement);
}

Result<QSqlQuery> Connection::exec(const QString& statement, const QVariantList& values) const
{
    if (!isOpen())
        return layerError(ErrorNumber::ObjectClosed, errorSource(m_dialect),
                          QStringLiteral("Operation is not allowed when the object is closed."));
    const QSqlDatabase db = database();
    if (m_dialect != SqlDialect::Sqlite && !db.isOpen())
        return lostConnection();
    QSqlQuery query(db);
    const QString text = sql(statement);
    const ServerAnswerWatch::Wait wait(m_answers.get());
    bool ok = false;
    if (values.isEmpty()) {
        ok = query.exec(text);
    } else {
        ok = query.prepare(text);
        if (ok) {
            for (const QVariant& value : values)
                query.addBindValue(value);
            ok = query.exec();
        }
    }
    if (!ok)
        return statementError(query.lastError());
    return query;
}

Status Connection::transaction() const
{
    return transactionStep(&QSqlDatabase::transaction);
}

Status Connection::commit() const
{
    return transactionStep(&QSqlDatabase::commit);
}

Status Connection::rollback() const
{
    return transactionStep(&QSqlDatabase::rollback);
}

Status Connection::transactionStep(bool (QSqlDatabase::*step)()) const
{
    if (!isOpen())
        return layerError(ErrorNumber::ObjectClosed, errorSource(m_dialect),
                          QStringLiteral("Operation is not allowed when the object is closed."));
    QSqlDatabase db = database();
    if (m_dialect != SqlDialect::Sqlite && !db.isOpen())
        return lostConnection();
    const ServerAnswerWatch::Wait wait(m_answers.get());
    if (!(db.*step)())
        return statementError(db.lastError());
    return {};
}

QString Connection::gaveUpNote() const
{
    return QStringLiteral("the server gave no answer within ") +
           QString::number(std::chrono::duration<double>(m_answers->bound()).count()) +
           QStringLiteral(" s: the connection was given up");
}

Error Connection::statementError(const QSqlError& error) const
{
    Error e = engineError(m_dialect, error, ErrorPhase::Statement);
    if (m_answers && m_answers->gaveUp()) {
        e.description += QStringLiteral(" (") + gaveUpNote() + QStringLiteral(")");
        e.retryable = true;
    }
    return e;
}

Error Connection::lostConnection() const
{
    // Qt's server drivers run nothing on a connection they know to be
    // broken, and leave no error of their own.
    QString description = QStringLiteral("The connection to the server is lost");
    if (m_answers && m_answers->gaveUp())
        description += QStringLiteral(" (") + gaveUpNote() + QStringLiteral(")");
    Error e = layerError(ErrorNumber::UnspecifiedFailure, errorSource(m_dialect),
                         description + QLatin1Char('.'));
    e.retryable = true;
    return e;
}

Result<ColumnInfo> Connection::columnInfo(const QString& table, const QString& column) const
{
    if (m_dialect == SqlDialect::Sqlite)
        return sqliteColumnInfo(table, column);
    auto selected = exec(QStringLiteral("Select Top 1 * from ") + bracketName(table));
    if (!selected) {
        Error error = selected.error();
        error.description = table + QStringLiteral(": ") + error.description;
        return error;
    }
    const QSqlRecord record = selected.value().record();
    const int index = record.indexOf(column);
    if (index < 0)
        return layerError(ErrorNumber::ItemNotFound, errorSource(m_dialect),
                          QStringLiteral("The table ") + table + QStringLiteral(" has no column ") +
                              column + QStringLiteral("."));
    const QSqlField field = record.field(index);
    ColumnInfo info;
    info.name = field.name();
    info.declaredType = QString::fromLatin1(field.metaType().name());
    info.isText = field.metaType().id() == QMetaType::QString;
    info.definedSize = info.isText && field.length() > 0 ? field.length() : -1;
    return info;
}

Result<ColumnInfo> Connection::sqliteColumnInfo(const QString& table, const QString& column) const
{
    // The table's declaration, never "Select *": another connection may
    // change the table's columns (an engineer adding one) while this one
    // stays open, and Qt's SQLite driver sizes a row by the columns it saw
    // before SQLite prepared the statement again. A statement that names
    // no column tells whether the table is there at all.
    if (auto there = exec(QStringLiteral("Select 0 from ") + bracketName(table) +
                          QStringLiteral(" where 0 = 1"));
        !there) {
        Error error = there.error();
        error.description = table + QStringLiteral(": ") + error.description;
        return error;
    }
    ColumnInfo info;
    // Qt's SQLite driver does not report declared lengths: read the
    // declaration itself.
    auto declared = exec(QStringLiteral("PRAGMA table_info(") + SqliteSql::quoteIdentifier(table) +
                         QStringLiteral(")"));
    if (!declared) {
        Error error = declared.error();
        error.description = table + QStringLiteral(": ") + error.description;
        return error;
    }
    QSqlQuery& rows = declared.value();
    while (rows.next()) {
        if (rows.value(1).toString().compare(column, Qt::CaseInsensitive) == 0) {
            info.name = rows.value(1).toString();
            info.declaredType = rows.value(2).toString();
            info.isText = hasTextAffinity(info.declaredType);
            info.definedSize = info.isText ? declaredLength(info.declaredType) : -1;
            return info;
        }
    }
    return layerError(ErrorNumber::ItemNotFound, errorSource(m_dialect),
                      QStringLiteral("The table ") + table + QStringLiteral(" has no column ") +
                          column + QStringLiteral("."));
}

Result<int> Connection::definedSize(const QString& table, const QString& column) const
{
    auto info = columnInfo(table, column);
    if (!info)
        return info.error();
    const QString where = table + QLatin1Char('.') + column;
    if (!info.value().isText)
        return layerError(ErrorNumber::TypeMismatch, errorSource(m_dialect),
                          where + QStringLiteral(" is not a text column (") +
                              info.value().declaredType +
                              QStringLiteral("), so it has no defined size."));
    if (info.value().definedSize < 0)
        return layerError(ErrorNumber::Overflow, errorSource(m_dialect),
                          where + QStringLiteral(" is a text column without a declared length (") +
                              info.value().declaredType +
                              QStringLiteral("), so its defined size cannot be read."));
    return info.value().definedSize;
}

void Connection::close()
{
    if (m_qtConnectionName.isEmpty())
        return;
    // Stops the watch first: a connection that ends is not a server that
    // keeps it waiting.
    m_answers.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(m_qtConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_qtConnectionName);
    m_qtConnectionName.clear();
}

} // namespace telvar
