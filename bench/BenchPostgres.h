#pragma once

// The throwaway PostgreSQL cluster that scripts/bench starts, as the
// benchmarks use it for their own databases.

#include "BenchFailures.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <optional>

namespace telvar::bench {

// Runs one statement (CREATE or DROP DATABASE) on the cluster's maintenance
// database (TELVAR_PG_DATABASE, else "postgres"); the error's text, or ""
// when it ran.
inline QString runPostgresAdminStatement(const QString& host, int port, const QString& user,
                                         const QString& password, const QString& statement)
{
    const QString connectionName = QStringLiteral("bench-admin");
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(host);
        db.setPort(port);
        db.setUserName(user);
        db.setPassword(password);
        db.setDatabaseName(qEnvironmentVariable("TELVAR_PG_DATABASE", QStringLiteral("postgres")));
        if (!db.open())
            error = db.lastError().text();
        else if (QSqlQuery q(db); !q.exec(statement))
            error = q.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return error;
}

// The cluster as scripts/bench describes it in the environment.
struct PgCluster {
    QString host;
    int port = 0;
    QString user;
    QString password;
    QString bindir;
    QString datadir;

    QString servidor() const { return host + QLatin1Char(':') + QString::number(port); }

    // None when TELVAR_PG_HOST is not set.
    static std::optional<PgCluster> fromEnvironment()
    {
        if (qEnvironmentVariableIsEmpty("TELVAR_PG_HOST"))
            return std::nullopt;
        return PgCluster{qEnvironmentVariable("TELVAR_PG_HOST"),
                         qEnvironmentVariableIntValue("TELVAR_PG_PORT"),
                         qEnvironmentVariable("TELVAR_PG_USER"),
                         qEnvironmentVariable("TELVAR_PG_PASSWORD"),
                         qEnvironmentVariable("TELVAR_PG_BINDIR"),
                         qEnvironmentVariable("TELVAR_PG_DATADIR")};
    }

    // Runs statement on the maintenance database; dies when it fails.
    void admin(const QString& statement) const
    {
        const QString error = runPostgresAdminStatement(host, port, user, password, statement);
        if (!error.isEmpty())
            die(statement + QStringLiteral(": ") + error);
    }
};

} // namespace telvar::bench
