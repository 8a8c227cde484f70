// Opening costs of the engine layer: one OpenDBOK + close, and one
// open-insert-close cycle (what recording a reading costs), on SQLite and,
// when TELVAR_PG_HOST names a cluster, PostgreSQL. Prints median and 95th
// percentile over the rounds (default 1000; first argument overrides).

#include "BenchFailures.h"
#include "BenchPostgres.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "database/OpenDBOK.h"
#include "demo/QualitraDemo.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

using namespace telvar;
using bench::check;
using bench::die;
using bench::FailOnBox;

// Times fn over rounds and prints the median and 95th percentile.
void measure(const char* engine, const char* what, int rounds, const std::function<void()>& fn)
{
    fn(); // warm-up: first use of the driver, caches
    std::vector<double> micros;
    micros.reserve(rounds);
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        fn();
        micros.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    const double p95 = micros[std::min(micros.size() - 1, micros.size() * 95 / 100)];
    std::printf("%-11s %-32s %6d rounds   median %9.1f us   p95 %9.1f us\n", engine, what, rounds,
                median, p95);
    std::fflush(stdout);
}

void benchOpenAndInsert(const char* engine, const ConnectionTarget& target,
                        const QString& spcDatabase, const QString& dataConnection,
                        const QString& table, int rounds)
{
    FailOnBox ui;
    Modulo1 m;
    m.PassBD = target.PassBD;
    m.CadConexion = ArmaConexion(target, spcDatabase);
    measure(engine, "OpenDBOK + close", rounds, [&] {
        OpenDBOKResult opened = OpenDBOK(m, ui, {m.CadConexion, target.TipoBD});
        if (!opened)
            die(QStringLiteral("OpenDBOK failed"));
        opened.cn->close();
    });
    QString data = dataConnection;
    const QString insert = QStringLiteral("INSERT INTO [") + table +
                           QStringLiteral("] (Fecha, Turno, Operador, [DIAM]) VALUES (?, ?, ?, ?)");
    measure(engine, "OpenDBOK + insert + close", rounds, [&] {
        OpenDBOKResult opened = OpenDBOK(m, ui, {data, target.TipoBD});
        if (!opened)
            die(QStringLiteral("OpenDBOK failed"));
        const std::unique_ptr<Connection>& cn = opened.cn;
        auto done = cn->exec(insert, {QStringLiteral("2026-03-05 7:04:09"), QStringLiteral("1"),
                                      QStringLiteral("OPER01"), 25.01});
        if (!done)
            die(done.error().description);
        cn->close();
    });
}

void benchSqlite(int rounds)
{
    QTemporaryDir dir;
    const QString passBD = QStringLiteral("clave-demo");
    const QString qualitra = dir.filePath(QStringLiteral("Qualitra.MDB"));
    check(demo::createQualitraDemoFile(qualitra, passBD), "Qualitra.MDB");
    const QString dataPath = dir.filePath(QStringLiteral("Datos"));
    check(demo::createDemoDataFiles(dataPath, passBD), "data files");

    const ConnectionTarget target{QLatin1String(kJetTag), {}, {}, passBD};
    const QString data =
        ArmaConexion(target, QDir(dataPath).filePath(QStringLiteral("FRM01/MAQ01/PROD-A.MDB")));

    // The first opening of a password-protected file verifies the password
    // hash (yescrypt); later ones in the same process do not.
    {
        QTemporaryDir fresh;
        const QString path = fresh.filePath(QStringLiteral("Cold.MDB"));
        check(EngineLayer::createFileDatabase(path, QStringLiteral("otra-clave")), "Cold.MDB");
        QElapsedTimer timer;
        timer.start();
        auto cn = EngineLayer::open(jetConnectionString(path, QStringLiteral("otra-clave")));
        if (!cn)
            die(cn.error().description);
        std::printf("%-11s %-32s %6d round    %9.1f us\n", "SQLite", "first open (password hash)",
                    1, static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    benchOpenAndInsert("SQLite", target, qualitra, data, QStringLiteral("Datos"), rounds);
}

void benchPostgres(int rounds)
{
    if (qEnvironmentVariableIsEmpty("TELVAR_PG_HOST")) {
        std::printf(
            "PostgreSQL  skipped: TELVAR_PG_HOST not set (scripts/bench starts a cluster)\n");
        return;
    }
    const QString host = qEnvironmentVariable("TELVAR_PG_HOST");
    const int port = qEnvironmentVariableIntValue("TELVAR_PG_PORT");
    const QString user = qEnvironmentVariable("TELVAR_PG_USER");
    const QString password = qEnvironmentVariable("TELVAR_PG_PASSWORD");
    const QString database =
        QStringLiteral("telvar_bench_") + QString::number(QCoreApplication::applicationPid());
    auto admin = [&](const QString& statement) {
        const QString error =
            bench::runPostgresAdminStatement(host, port, user, password, statement);
        if (!error.isEmpty())
            die(statement + QStringLiteral(": ") + error);
    };
    admin(QStringLiteral("CREATE DATABASE ") + database);

    const ConnectionTarget target{QStringLiteral("[POSTGRESQL]"),
                                  host + QLatin1Char(':') + QString::number(port), user, password};
    const QString spc = ArmaConexion(target, database);
    {
        auto cn = EngineLayer::open(spc);
        if (!cn)
            die(cn.error().description);
        check(demo::loadQualitraDemo(*cn.value()), "Qualitra tables");
        check(demo::createDemoDataTables(*cn.value(), *cn.value()), "data tables");
    }
    benchOpenAndInsert("PostgreSQL", target, database, spc,
                       QStringLiteral("Datos_FRM01_MAQ01_PROD-A"), rounds);
    admin(QStringLiteral("DROP DATABASE ") + database + QStringLiteral(" WITH (FORCE)"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 1000;
    if (argc > 1)
        rounds = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
    benchSqlite(rounds);
    benchPostgres(rounds);
    return 0;
}
