#include "support/PostgresTestServer.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

namespace telvar::test {

namespace {

// Runs statement on the maintenance database; "" or the error text.
QString runAdmin(const PostgresSettings& s, const QString& statement)
{
    static std::atomic<int> counter{0};
    const QString connection = QStringLiteral("telvar-test-pg-admin-") + QString::number(++counter);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(s.host);
        db.setPort(s.port);
        db.setUserName(s.user);
        db.setPassword(s.password);
        db.setDatabaseName(s.maintenanceDatabase);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(statement))
                error = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return error;
}

} // namespace

std::optional<PostgresSettings> PostgresTestServer::settings()
{
    if (qEnvironmentVariableIsEmpty("TELVAR_PG_HOST"))
        return std::nullopt;
    PostgresSettings s;
    s.host = qEnvironmentVariable("TELVAR_PG_HOST");
    s.port = qEnvironmentVariableIntValue("TELVAR_PG_PORT");
    s.user = qEnvironmentVariable("TELVAR_PG_USER");
    s.password = qEnvironmentVariable("TELVAR_PG_PASSWORD");
    s.maintenanceDatabase = qEnvironmentVariable("TELVAR_PG_DATABASE", QStringLiteral("postgres"));
    s.binDir = qEnvironmentVariable("TELVAR_PG_BINDIR");
    s.dataDir = qEnvironmentVariable("TELVAR_PG_DATADIR");
    return s;
}

QString PostgresTestServer::skipReason()
{
    // scripts/test says why it started no cluster; anything else ran the
    // tests without one.
    const QString reason = qEnvironmentVariable("TELVAR_PG_SKIP_REASON");
    if (!reason.isEmpty())
        return QStringLiteral("no PostgreSQL cluster: ") + reason;
    return QStringLiteral("TELVAR_PG_HOST not set: these tests ran without a PostgreSQL cluster "
                          "(scripts/test starts one; by hand: eval \"$(scripts/pg-cluster "
                          "start)\" before the tests, scripts/pg-cluster stop after them)");
}

QString PostgresTestDatabase::uniqueName()
{
    return QStringLiteral("telvar_t_") + QString::number(QCoreApplication::applicationPid()) +
           QLatin1Char('_') + QString::number(QRandomGenerator::global()->generate(), 16);
}

std::unique_ptr<PostgresTestDatabase> PostgresTestDatabase::create(QString* error,
                                                                   const QString& name)
{
    const auto s = PostgresTestServer::settings();
    if (!s) {
        if (error)
            *error = PostgresTestServer::skipReason();
        return nullptr;
    }
    const QString database = name.isEmpty() ? uniqueName() : name;
    // Quoted: a name keeps its case (the recording's data databases end in
    // "DATA").
    const QString statement = QStringLiteral("CREATE DATABASE \"") + database + QLatin1Char('"');
    const QString failure = runAdmin(*s, statement);
    if (!failure.isEmpty()) {
        if (error)
            *error = statement + QStringLiteral(": ") + failure;
        return nullptr;
    }
    return std::unique_ptr<PostgresTestDatabase>(new PostgresTestDatabase(*s, database));
}

PostgresTestDatabase::PostgresTestDatabase(PostgresSettings settings, QString name)
    : m_settings(std::move(settings)), m_name(std::move(name))
{
}

std::unique_ptr<PostgresTestRole> PostgresTestRole::create(const QString& password, QString* error)
{
    const auto s = PostgresTestServer::settings();
    if (!s) {
        if (error)
            *error = PostgresTestServer::skipReason();
        return nullptr;
    }
    const QString name = QStringLiteral("telvar_r_") +
                         QString::number(QCoreApplication::applicationPid()) + QLatin1Char('_') +
                         QString::number(QRandomGenerator::global()->generate(), 16);
    QString literal = password;
    literal.replace(QLatin1String("'"), QLatin1String("''"));
    // standard_conforming_strings is on: a backslash in the literal is itself.
    const QString failure =
        runAdmin(*s, QStringLiteral("CREATE ROLE ") + name + QStringLiteral(" LOGIN PASSWORD '") +
                         literal + QLatin1Char('\''));
    if (!failure.isEmpty()) {
        if (error)
            *error = QStringLiteral("CREATE ROLE ") + name + QStringLiteral(": ") + failure;
        return nullptr;
    }
    return std::unique_ptr<PostgresTestRole>(new PostgresTestRole(*s, name));
}

PostgresTestRole::PostgresTestRole(PostgresSettings settings, QString name)
    : m_settings(std::move(settings)), m_name(std::move(name))
{
}

PostgresTestRole::~PostgresTestRole()
{
    runAdmin(m_settings, QStringLiteral("DROP ROLE IF EXISTS ") + m_name);
}

PostgresTestDatabase::~PostgresTestDatabase()
{
    runAdmin(m_settings, QStringLiteral("DROP DATABASE IF EXISTS \"") + m_name +
                             QStringLiteral("\" WITH (FORCE)"));
}

} // namespace telvar::test
