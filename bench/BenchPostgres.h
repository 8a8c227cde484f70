#pragma once

// The throwaway PostgreSQL cluster that scripts/bench starts, as the
// benchmarks use it for their own databases.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

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

} // namespace telvar::bench
