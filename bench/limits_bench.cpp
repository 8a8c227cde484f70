// Loading the CXP limits of a start: a thousand active ports (default; the
// first argument overrides), each with its own machine, product and
// characteristic, spread over the four lookups and ports without limits.
// Timed on SQLite and, when TELVAR_PG_HOST names a cluster, PostgreSQL:
//   - one connection and CxpLimits (opening included), as the start does;
//   - one connection per port and up to four queries on it, for comparison.

#include "BenchFailures.h"
#include "BenchFigures.h"
#include "BenchInstallation.h"
#include "BenchPostgres.h"
#include "acquisition/CxpLimits.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace telvar;

struct Triple {
    QString machine;
    QString product;
    QString characteristic;
};

using bench::die;
using bench::millis;
using bench::open;
using bench::run;

// The ports' keys, and CXP rows for them: port i finds its limits in the
// (i mod 5)-th lookup, the fifth kind finds none.
std::vector<Triple> fillCxp(const Connection& cn, int ports)
{
    bench::createCxpTable(cn);
    std::vector<Triple> triples;
    QSqlDatabase db = cn.database();
    db.transaction();
    const QString any = QStringLiteral("***");
    for (int i = 0; i < ports; ++i) {
        const QString n = QString::number(i).rightJustified(5, QLatin1Char('0'));
        Triple t{QStringLiteral("M") + n, QStringLiteral("P") + n, QStringLiteral("C") + n};
        const int kind = i % 5;
        if (kind < 4)
            run(cn,
                QStringLiteral("INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, "
                               "CXPLSUPC) VALUES (?, ?, ?, ?, ?)"),
                {kind % 2 == 0 ? t.machine : any, kind < 2 ? t.product : any, t.characteristic,
                 static_cast<double>(i), static_cast<double>(i) + 0.5});
        triples.push_back(std::move(t));
    }
    if (!db.commit())
        die(db.lastError().text());
    return triples;
}

void benchEngine(const char* engine, const QString& connectionString, int ports)
{
    std::vector<Triple> triples;
    {
        auto cn = open(connectionString);
        triples = fillCxp(*cn, ports);
    }

    double checksum = 0;
    QElapsedTimer timer;
    timer.start();
    {
        auto cn = open(connectionString);
        const double opened = millis(timer);
        CxpLimits limits(*cn);
        for (const Triple& t : triples) {
            auto got = limits.limits(t.machine, t.product, t.characteristic);
            if (!got)
                die(got.error().description);
            checksum += got.value().LimInf;
        }
        const double total = millis(timer);
        std::printf("%-11s %-40s %5d ports   %9.1f ms   (open %.1f ms, %.1f us per port)\n", engine,
                    "one connection, CxpLimits", ports, total, opened,
                    (total - opened) * 1000.0 / ports);
    }

    // For comparison: a connection per port and the four queries in turn.
    const QString query =
        QStringLiteral("Select CXPLINFC, CXPLSUPC from CXP where CXPMAQUI=? and CXPPRODU=? and "
                       "CXPCARAC=?");
    const QString any = QStringLiteral("***");
    double oldChecksum = 0;
    timer.start();
    for (const Triple& t : triples) {
        auto cn = open(connectionString);
        const QVariantList tries[] = {{t.machine, t.product, t.characteristic},
                                      {any, t.product, t.characteristic},
                                      {t.machine, any, t.characteristic},
                                      {any, any, t.characteristic}};
        double inf = -999999;
        for (const QVariantList& values : tries) {
            auto rows = cn->exec(query, values);
            if (!rows)
                die(rows.error().description);
            if (rows.value().next()) {
                inf = rows.value().value(0).toDouble();
                break;
            }
        }
        oldChecksum += inf;
    }
    const double total = millis(timer);
    std::printf("%-11s %-40s %5d ports   %9.1f ms   (%.1f us per port)\n", engine,
                "a connection per port, four queries", ports, total, total * 1000.0 / ports);
    if (checksum != oldChecksum)
        die(QStringLiteral("the two ways found different limits"));
    std::fflush(stdout);
}

void benchSqlite(int ports)
{
    QTemporaryDir dir;
    const QString passBD = QStringLiteral("clave-demo");
    const QString path = dir.filePath(QStringLiteral("Qualitra.MDB"));
    if (Status made = EngineLayer::createFileDatabase(path, passBD); !made)
        die(made.error().description);
    benchEngine("SQLite", jetConnectionString(path, passBD), ports);
}

void benchPostgres(int ports)
{
    if (qEnvironmentVariableIsEmpty("TELVAR_PG_HOST")) {
        std::printf("PostgreSQL  skipped: TELVAR_PG_HOST not set (eval \"$(scripts/pg-cluster "
                    "start)\" first)\n");
        return;
    }
    const QString host = qEnvironmentVariable("TELVAR_PG_HOST");
    const int port = qEnvironmentVariableIntValue("TELVAR_PG_PORT");
    const QString user = qEnvironmentVariable("TELVAR_PG_USER");
    const QString password = qEnvironmentVariable("TELVAR_PG_PASSWORD");
    const QString database = QStringLiteral("telvar_bench_limits_") +
                             QString::number(QCoreApplication::applicationPid());
    auto admin = [&](const QString& statement) {
        const QString error =
            bench::runPostgresAdminStatement(host, port, user, password, statement);
        if (!error.isEmpty())
            die(statement + QStringLiteral(": ") + error);
    };
    admin(QStringLiteral("CREATE DATABASE ") + database);
    const ConnectionTarget target{QStringLiteral("[POSTGRESQL]"),
                                  host + QLatin1Char(':') + QString::number(port), user, password};
    benchEngine("PostgreSQL", ArmaConexion(target, database), ports);
    admin(QStringLiteral("DROP DATABASE ") + database + QStringLiteral(" WITH (FORCE)"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int ports = 1000;
    if (argc > 1)
        ports = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
    benchSqlite(ports);
    benchPostgres(ports);
    return 0;
}
