#include "database/ConnectionFactory.h"

#include "database/ServerAnswerWatch.h"

#include <QSqlDatabase>
#include <atomic>

namespace telvar {

QString ConnectionFactory::newName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("telvar-db-") + QString::number(++counter);
}

std::unique_ptr<Connection>
ConnectionFactory::make(const QString& driver, const QString& connectionString, SqlDialect dialect)
{
    const QString name = newName();
    QSqlDatabase::addDatabase(driver, name);
    return std::unique_ptr<Connection>(new Connection(name, connectionString, dialect));
}

bool ConnectionFactory::watchServerAnswers(Connection& cn, std::chrono::milliseconds bound)
{
    cn.m_answers = ServerAnswerWatch::start(cn.database(), bound);
    return cn.m_answers != nullptr;
}

} // namespace telvar
