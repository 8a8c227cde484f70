#include "database/ScopedSqlite.h"

#include "database/ConnectionFactory.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace telvar {

ScopedSqlite::ScopedSqlite(const QString& path, SqliteFile::OpenMode mode)
    : m_name(ConnectionFactory::newName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    SqliteFile::configure(db, path, mode);
    m_open = db.open();
    if (!m_open)
        m_error = db.lastError().databaseText();
}

ScopedSqlite::~ScopedSqlite()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase ScopedSqlite::database() const
{
    return QSqlDatabase::database(m_name, false);
}

QString ScopedSqlite::run(const QString& statement)
{
    QSqlQuery query(database());
    if (query.exec(statement))
        return QString();
    const QString text = query.lastError().databaseText();
    return text.isEmpty() ? query.lastError().text() : text;
}

QSqlQuery ScopedSqlite::query(const QString& statement, QString& error)
{
    QSqlQuery query(database());
    if (!query.exec(statement)) {
        error = query.lastError().databaseText();
        if (error.isEmpty())
            error = query.lastError().text();
    }
    return query;
}

} // namespace telvar
