// A soak run of the router in compressed time. The router is the program's
// composition (Router: configuration, acquisition, reading check, durable
// outbox, writer threads) over the real HTTP page loader, with an injected
// clock that the benchmark moves forward: a simulated hour passes in
// --hour-ms of real time (7.5 s by default: 24 hours in three minutes), in
// steps of 10 ms, and after each step the ten clocks handle the ticks due.
// Pages are loaded, time out and wait for their retries in real time, so a
// real second inside a cycle is a few simulated minutes: a clock whose cycle
// waits on a slow or failing page polls less often than its interval says,
// and a retry is made only when its real wait, so stretched, still ends by
// the cycle's deadline (in practice on the clocks of five minutes and more).
//
// The installation: --ports ports (100 by default), port p on clock
// (p - 1) mod 10 + 1, whose interval is its number in minutes; each port
// reads "sample N" of a page of its own on a station host of its own (a
// listening port of the station simulator, which runs as its own program)
// into a column of its own in one of ten data tables: PostgreSQL tables of
// the data database on the cluster scripts/bench starts, or, without a
// cluster, SQLite data files. One port in ten, each on another clock, reads
// a faulty page instead: answered 400 ms late, empty (204), an error status
// (500, 503), a host that refuses connections, a host that accepts them and
// never answers.
//
// The database goes away every --outage-every simulated hours for
// --outage-minutes simulated minutes, half an hour into the middle hour of
// each period (by default 2:30 to 2:50, 6:30 to 6:50, ..., 22:30 to 22:50,
// so that the first and the last hour are quiet): the cluster's server is
// stopped with pg_ctl and started again, or on SQLite every data file is held
// under an exclusive lock by another process (this program, run as
// "--hold-lock FILE ...").
//
// Printed: a row per simulated hour (resident memory, open descriptors and
// the sockets among them, the outbox's depth, readings kept and recorded,
// pages retried, readings quarantined, the database's state), a row per
// outage (how long the outbox took to empty once the database was back),
// the data tables counted at the end, a verdict comparing the last hour with
// the first, and the time `telvar --headless` takes from its start to
// acquiring after it was killed with SIGKILL (--restarts rounds on a demo
// installation laid out by telvar_demo_install).
//
// Options: --hours N (24), --ports N (100), --hour-ms N (7500),
// --outage-every N (4), --outage-minutes N (20), --restarts N (7), --sqlite
// (the SQLite variant even with a cluster), --simulator PATH, --telvar PATH,
// --demo-install PATH.

#include "BenchFailures.h"
#include "BenchFigures.h"
#include "BenchInstallation.h"
#include "BenchPostgres.h"
#include "BenchSimulator.h"
#include "acquisition/Acquisition.h"
#include "acquisition/Clock.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/PollingClocks.h"
#include "app/Router.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigTexts.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "recording/RecordingService.h"
#include "recording/RecordingWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace telvar;
using namespace telvar::bench;

constexpr int kClocks = 10;
constexpr int kTables = 10;
// The simulator listens on at most 1000 ports, one of them silent.
constexpr int kMaxPorts = 999;
constexpr qint64 kHourMs = 3600000;
constexpr qint64 kMinuteMs = 60000;
// The real time between two moves of the clock.
constexpr int kStepMs = 10;
// How long the slow pages take to answer, in real milliseconds.
constexpr int kSlowPageMs = 400;
// How long the outbox may take to empty once the acquisition has stopped.
constexpr int kDrainLimitMs = 120000;
// How long `telvar --headless` may take to say it is acquiring.
constexpr int kAcquiringLimitMs = 60000;

// The moment the simulated day begins.
const QDateTime kDayStart(QDate(2026, 3, 2), QTime(0, 0));

// ---- The clock the benchmark moves ----------------------------------------

// The router's Clock: it stands still until the benchmark moves it forward.
// Atomic, since the recording may ask for the time off the window thread.
class SoakClock final : public Clock {
public:
    std::chrono::milliseconds elapsed() const override
    {
        return std::chrono::milliseconds(m_elapsed.load());
    }
    QDateTime now() const override { return kDayStart.addMSecs(m_elapsed.load()); }

    void advanceTo(qint64 ms)
    {
        if (ms > m_elapsed.load())
            m_elapsed.store(ms);
    }

private:
    std::atomic<qint64> m_elapsed{0};
};

// "H:MM" of a simulated moment.
QString clockText(qint64 ms)
{
    const qint64 minutes = ms / kMinuteMs;
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// ---- What the process holds ------------------------------------------------

struct ProcessFigures {
    double rssMb = 0;
    int descriptors = 0;
    int sockets = 0;
};

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The open descriptors of the process (the listing's own aside), and how
// many of them are sockets.
ProcessFigures processFigures()
{
    ProcessFigures figures;
    figures.rssMb = residentMb();
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return figures;
    const int listing = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == listing)
            continue;
        ++figures.descriptors;
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[128];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length > 0 &&
            std::string_view(target, static_cast<std::size_t>(length)).starts_with("socket:"))
            ++figures.sockets;
    }
    ::closedir(dir);
    return figures;
}

// ---- The pages ---------------------------------------------------------------

enum class Fault { None, Slow, Empty, ServerError, Unavailable, Refused, Hung };

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return "none";
    case Fault::Slow:
        return "slow (400 ms)";
    case Fault::Empty:
        return "empty (204)";
    case Fault::ServerError:
        return "error status 500";
    case Fault::Unavailable:
        return "error status 503";
    case Fault::Refused:
        return "host refusing connections";
    case Fault::Hung:
        return "host never answering";
    }
    return "?";
}

int clockOf(int puert)
{
    return (puert - 1) % kClocks + 1;
}

// Port p's data table: each table gets one port of every clock in turn.
int tableOf(int puert)
{
    return ((puert - 1) / kClocks) % kTables;
}

// One port in ten reads a faulty page: the k-th group of ten ports has it on
// clock k mod 10 + 1, so that every clock has one.
Fault faultOf(int puert)
{
    const int group = (puert - 1) / kClocks;
    if ((puert - 1) % kClocks != group % kClocks)
        return Fault::None;
    static constexpr Fault kKinds[] = {
        Fault::Slow,  Fault::Empty,       Fault::ServerError, Fault::Refused, Fault::Slow,
        Fault::Empty, Fault::Unavailable, Fault::Refused,     Fault::Hung,    Fault::ServerError};
    return kKinds[group % 10];
}

QString caracOf(int puert)
{
    return QStringLiteral("C%1").arg(puert, 4, 10, QLatin1Char('0'));
}

struct Destination {
    QString forma;
    QString maqui;
    QString produ;
};

// Data table d (0..9): two formats, five machines, a product each.
Destination destination(int d)
{
    return {QStringLiteral("F%1").arg(d / 5 + 1), QStringLiteral("M%1").arg(d % 5 + 1),
            QStringLiteral("P%1").arg(d + 1, 2, 10, QLatin1Char('0'))};
}

// A port of 127.0.0.1 bound by the benchmark and never listened on: a
// connection to it is refused, as by a station whose server is down.
class RefusingPort final {
public:
    RefusingPort()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (m_socket < 0 ||
            ::bind(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            die(QStringLiteral("no port to refuse connections on"));
        m_port = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(m_socket); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    quint16 port() const { return m_port; }

private:
    int m_socket = -1;
    quint16 m_port = 0;
};

// The address port p reads: its own station on host p - 1 of the
// simulator, or its fault.
QString pageOf(int puert, const Simulator& simulator, int silentHost, quint16 refusing)
{
    const QString station = QStringLiteral("/station/%1.html").arg(puert);
    switch (faultOf(puert)) {
    case Fault::None:
        break;
    case Fault::Slow:
        return simulator.page(puert - 1, station + QStringLiteral("?delay=%1").arg(kSlowPageMs));
    case Fault::Empty:
        return simulator.page(puert - 1, QStringLiteral("/status/204"));
    case Fault::ServerError:
        return simulator.page(puert - 1, QStringLiteral("/status/500"));
    case Fault::Unavailable:
        return simulator.page(puert - 1, QStringLiteral("/status/503"));
    case Fault::Refused:
        return QStringLiteral("http://127.0.0.1:%1").arg(refusing) + station;
    case Fault::Hung:
        return simulator.page(silentHost, station);
    }
    return simulator.page(puert - 1, station);
}

// ---- The installation ---------------------------------------------------------

enum class Engine { Sqlite, Postgres };

// What the data tables hold: every cell with a value, and how many of those
// repeat a value of their column (the pages' sample numbers never repeat).
struct TableCount {
    qint64 rows = 0;
    qint64 cells = 0;
    qint64 repeated = 0;
};

// A program directory with its IAu folder, a configuration database with
// the ports and the clocks' intervals, the SPC database (its CXP table) and
// the ten data tables, on one engine.
class Installation final {
public:
    Installation(Engine engine, const std::optional<PgCluster>& pg, int portCount)
        : m_engine(engine), m_pg(pg), m_portCount(portCount)
    {
        if (!m_dir.isValid())
            die(QStringLiteral("no temporary directory"));
        setUpModulo1(m, m_dir.path() + QLatin1Char('/'),
                     engine == Engine::Sqlite ? QStringLiteral("Clave26") : pg->password);
        QDir().mkpath(m.RutaIAU);
        m_configPath = createConfiguration(m);
        {
            auto cn = open(configConnectionString(m_configPath, m.PassBD));
            for (int reloj = 1; reloj <= kClocks; ++reloj)
                run(*cn, QStringLiteral("UPDATE HTMRELOJ SET INTER = ? WHERE CLAVE = ?"),
                    {reloj, reloj});
        }
        if (engine == Engine::Sqlite)
            createSqlite();
        else
            createPostgres();
    }

    ~Installation()
    {
        if (m_engine == Engine::Postgres) {
            for (const QString& name : {m.BaseDatos, dataDatabase()})
                (void)runPostgresAdminStatement(m_pg->host, m_pg->port, m_pg->user, m_pg->password,
                                                QStringLiteral("DROP DATABASE IF EXISTS \"") +
                                                    name + QStringLiteral("\" WITH (FORCE)"));
        }
    }

    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    Engine engine() const { return m_engine; }
    QString dataDatabase() const { return m.BaseDatos + QStringLiteral("DATA"); }

    void setPorts(const std::function<QString(int)>& pageOfPort)
    {
        std::vector<int> ports(static_cast<std::size_t>(m_portCount));
        for (int i = 0; i < m_portCount; ++i)
            ports[static_cast<std::size_t>(i)] = i + 1;
        replacePorts(*open(configConnectionString(m_configPath, m.PassBD)), ports,
                     [&pageOfPort](int puert) {
                         const Destination to = destination(tableOf(puert));
                         return ConfigPort{.puert = puert,
                                           .webPg = pageOfPort(puert),
                                           .ident = QStringLiteral("sample"),
                                           .longi = 7,
                                           .maqui = to.maqui,
                                           .produ = to.produ,
                                           .forma = to.forma,
                                           .carac = caracOf(puert),
                                           .reloj = clockOf(puert)};
                     });
    }

    QString dataFile(int d) const
    {
        const Destination to = destination(d);
        return m.RutaDatos + to.forma + QLatin1Char('/') + to.maqui + QLatin1Char('/') + to.produ +
               QStringLiteral(".MDB");
    }

    QStringList dataFiles() const
    {
        QStringList files;
        for (int d = 0; d < kTables; ++d)
            files.append(dataFile(d));
        return files;
    }

    TableCount count() const
    {
        TableCount found;
        forEachTable([&found](const Connection& cn, const QString& table) {
            auto selected = cn.exec(QStringLiteral("SELECT * FROM [") + table + QLatin1Char(']'));
            if (!selected)
                die(table + QStringLiteral(": ") + selected.error().description);
            QSqlQuery& q = selected.value();
            const QSqlRecord record = q.record();
            std::vector<int> columns;
            for (int i = 0; i < record.count(); ++i) {
                const QString name = record.fieldName(i);
                if (name.size() == 5 && name.at(0).toUpper() == QLatin1Char('C'))
                    columns.push_back(i);
            }
            QHash<quint64, int> seen;
            while (q.next()) {
                ++found.rows;
                for (const int field : columns) {
                    const QVariant cell = q.value(field);
                    if (cell.isNull())
                        continue;
                    ++found.cells;
                    const quint64 key = (static_cast<quint64>(field) << 40) |
                                        static_cast<quint64>(std::llround(cell.toDouble()));
                    if (seen[key]++ > 0)
                        ++found.repeated;
                }
            }
        });
        return found;
    }

    Modulo1 m;

private:
    QString tableName(int d) const
    {
        if (m_engine == Engine::Sqlite)
            return QStringLiteral("Datos");
        const Destination to = destination(d);
        return QStringLiteral("Datos_") + to.forma + QLatin1Char('_') + to.maqui +
               QLatin1Char('_') + to.produ;
    }

    void forEachTable(const std::function<void(const Connection&, const QString&)>& work) const
    {
        if (m_engine == Engine::Sqlite) {
            for (int d = 0; d < kTables; ++d)
                work(*open(jetConnectionString(dataFile(d), m.PassBD)), tableName(d));
            return;
        }
        auto cn = open(ArmaConexion(m, dataDatabase()));
        for (int d = 0; d < kTables; ++d)
            work(*cn, tableName(d));
    }

    // CXP with a row for every port's characteristic, its limits wide
    // enough for any sample number.
    void createCxp(const Connection& cn) const
    {
        createCxpTable(cn);
        std::vector<int> ports(static_cast<std::size_t>(m_portCount));
        for (int i = 0; i < m_portCount; ++i)
            ports[static_cast<std::size_t>(i)] = i + 1;
        insertRows(cn,
                   QStringLiteral("INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, "
                                  "CXPLSUPC) VALUES (?, ?, ?, -1, 1e9)"),
                   ports, [](int puert) {
                       const Destination to = destination(tableOf(puert));
                       return QVariantList{to.maqui, to.produ, caracOf(puert)};
                   });
    }

    QString dataTableStatement(int d) const
    {
        QString sql = QStringLiteral("CREATE TABLE [") + tableName(d) + QStringLiteral("] (") +
                      (m_engine == Engine::Sqlite
                           ? QStringLiteral("N INTEGER PRIMARY KEY AUTOINCREMENT")
                           : QStringLiteral("N INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY "
                                            "KEY")) +
                      QStringLiteral(", Fecha VARCHAR(20), Turno VARCHAR(10), Operador "
                                     "VARCHAR(8)");
        for (int puert = 1; puert <= m_portCount; ++puert) {
            if (tableOf(puert) == d)
                sql +=
                    QStringLiteral(", [") + caracOf(puert) + QStringLiteral("] DOUBLE PRECISION");
        }
        return sql + QLatin1Char(')');
    }

    void createSqlite()
    {
        const QString spc = m.RutaApp + QStringLiteral("Qualitra.MDB");
        check(EngineLayer::createFileDatabase(spc, m.PassBD), spc);
        m.TipoBD = QLatin1String(kJetTag);
        m.CadConexion = jetConnectionString(spc, m.PassBD);
        createCxp(*open(m.CadConexion));
        m.RutaDatos = m.RutaApp + QStringLiteral("Datos/");
        for (int d = 0; d < kTables; ++d) {
            const QString file = dataFile(d);
            QDir().mkpath(QFileInfo(file).path());
            check(EngineLayer::createFileDatabase(file, m.PassBD), file);
            run(*open(jetConnectionString(file, m.PassBD)), dataTableStatement(d));
        }
    }

    void createPostgres()
    {
        m.TipoBD = QStringLiteral("[POSTGRESQL]");
        m.UsuarioBD = m_pg->user;
        m.BaseDatos = QStringLiteral("telvar_soak_%1").arg(QCoreApplication::applicationPid());
        m.Servidor = m_pg->servidor();
        m.CadConexion = ArmaConexion(m, m.BaseDatos);
        for (const QString& name : {m.BaseDatos, dataDatabase()})
            m_pg->admin(QStringLiteral("CREATE DATABASE \"") + name + QLatin1Char('"'));
        createCxp(*open(m.CadConexion));
        auto data = open(ArmaConexion(m, dataDatabase()));
        for (int d = 0; d < kTables; ++d)
            run(*data, dataTableStatement(d));
    }

    Engine m_engine;
    std::optional<PgCluster> m_pg;
    int m_portCount;
    QTemporaryDir m_dir;
    QString m_configPath;
};

// ---- The database going away ------------------------------------------------

// What takes the database away and brings it back, without blocking the
// window thread: goAway() and comeBack() start the work, isUp() says when
// the database is back (it is down from goAway() on).
class DatabaseOutage {
public:
    virtual ~DatabaseOutage() = default;
    virtual void goAway() = 0;
    virtual void comeBack() = 0;
    bool isUp() const { return m_up; }
    // What went wrong on the way, if anything.
    QStringList problems;

protected:
    DatabaseOutage() = default;
    bool m_up = true;
};

// pg_ctl on the cluster scripts/bench started, as the cluster's owner.
class ClusterControl final {
public:
    // nullopt, with why, when the cluster cannot be stopped and started here.
    static std::optional<ClusterControl> from(const PgCluster& pg, QString& why)
    {
        if (pg.bindir.isEmpty() || pg.datadir.isEmpty()) {
            why = QStringLiteral("TELVAR_PG_BINDIR or TELVAR_PG_DATADIR not set (scripts/bench "
                                 "sets them for the cluster it starts)");
            return std::nullopt;
        }
        QFile opts(QDir(pg.datadir).filePath(QStringLiteral("postmaster.opts")));
        if (!opts.open(QIODevice::ReadOnly)) {
            why = opts.fileName() + QStringLiteral(": ") + opts.errorString();
            return std::nullopt;
        }
        // The server's own command line: every quoted argument but -D and
        // its directory.
        static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
        QStringList options;
        bool skipNext = false;
        for (const QRegularExpressionMatch& match :
             quoted.globalMatch(QString::fromUtf8(opts.readAll()))) {
            const QString argument = match.captured(1);
            if (skipNext)
                skipNext = false;
            else if (argument == QLatin1String("-D"))
                skipNext = true;
            else
                options.append(argument);
        }
        ClusterControl control;
        control.m_pgCtl = QDir(pg.bindir).filePath(QStringLiteral("pg_ctl"));
        control.m_datadir = pg.datadir;
        control.m_options = options.join(QLatin1Char(' '));
        if (::geteuid() == 0) {
            struct stat info {};
            if (::stat(QFile::encodeName(pg.datadir).constData(), &info) != 0) {
                why = pg.datadir + QStringLiteral(": cannot stat");
                return std::nullopt;
            }
            const passwd* owner = ::getpwuid(info.st_uid);
            if (owner == nullptr) {
                why = QStringLiteral("the cluster's owner has no name");
                return std::nullopt;
            }
            control.m_owner = QString::fromLocal8Bit(owner->pw_name);
        }
        return control;
    }

    void stop(QProcess& process) const
    {
        start(process, {QStringLiteral("-D"), m_datadir, QStringLiteral("-m"),
                        QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("-t"),
                        QStringLiteral("60"), QStringLiteral("stop")});
    }

    void startServer(QProcess& process) const
    {
        start(process, {QStringLiteral("-D"), m_datadir, QStringLiteral("-l"),
                        QDir(m_datadir).filePath(QStringLiteral("../server.log")),
                        QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                        QStringLiteral("-o"), m_options, QStringLiteral("start")});
    }

private:
    void start(QProcess& process, const QStringList& arguments) const
    {
        if (m_owner.isEmpty()) {
            process.setProgram(m_pgCtl);
            process.setArguments(arguments);
        } else {
            process.setProgram(QStringLiteral("runuser"));
            process.setArguments(
                QStringList{QStringLiteral("-u"), m_owner, QStringLiteral("--"), m_pgCtl} +
                arguments);
        }
        // The server started outlives pg_ctl: it must not hold our pipes.
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
    }

    QString m_pgCtl;
    QString m_datadir;
    QString m_options;
    QString m_owner;
};

// The server stopped (fast shutdown: sessions ended, new connections
// refused) and started again.
class ServerStop final : public DatabaseOutage {
public:
    explicit ServerStop(ClusterControl control) : m_control(std::move(control))
    {
        QObject::connect(&m_stopping, &QProcess::finished, &m_stopping,
                         [this](int code, QProcess::ExitStatus) {
                             if (code != 0)
                                 problems.append(QStringLiteral("pg_ctl stop exit %1").arg(code));
                             m_stopped = true;
                             if (m_wantBack)
                                 startServer();
                         });
        QObject::connect(&m_starting, &QProcess::finished, &m_starting,
                         [this](int code, QProcess::ExitStatus) {
                             if (code != 0) {
                                 problems.append(QStringLiteral("pg_ctl start exit %1").arg(code));
                                 // Tried again: the run needs its database back.
                                 QTimer::singleShot(1000, &m_starting, [this] { startServer(); });
                                 return;
                             }
                             m_up = true;
                         });
    }

    ~ServerStop() override
    {
        m_stopping.waitForFinished(60000);
        m_starting.waitForFinished(60000);
    }

    void goAway() override
    {
        m_up = false;
        m_stopped = false;
        m_wantBack = false;
        m_control.stop(m_stopping);
    }

    void comeBack() override
    {
        m_wantBack = true;
        if (m_stopped)
            startServer();
    }

private:
    void startServer() { m_control.startServer(m_starting); }

    ClusterControl m_control;
    QProcess m_stopping;
    QProcess m_starting;
    bool m_stopped = false;
    bool m_wantBack = false;
};

// Every data file held by another process under BEGIN EXCLUSIVE: this
// program run as "--hold-lock FILE ...", which lets go when its standard
// input ends.
class FileLocks final : public DatabaseOutage {
public:
    explicit FileLocks(QStringList files) : m_files(std::move(files))
    {
        m_holder.setProgram(QCoreApplication::applicationFilePath());
        m_holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_holder, &QProcess::started, &m_holder,
                         [this] { childPids().push_back(m_holder.processId()); });
        QObject::connect(&m_holder, &QProcess::readyReadStandardOutput, &m_holder, [this] {
            if (m_holder.readAllStandardOutput().contains("locked"))
                m_locked = true;
        });
        QObject::connect(&m_holder, &QProcess::finished, &m_holder,
                         [this](int code, QProcess::ExitStatus) {
                             if (code != 0)
                                 problems.append(QStringLiteral("lock holder exit %1").arg(code));
                             else if (!m_locked)
                                 problems.append(QStringLiteral("the files were never locked"));
                             std::erase(childPids(), m_pid);
                             m_up = true;
                         });
    }

    ~FileLocks() override
    {
        if (m_holder.state() != QProcess::NotRunning) {
            m_holder.closeWriteChannel();
            m_holder.waitForFinished(60000);
        }
    }

    void goAway() override
    {
        m_up = false;
        m_locked = false;
        QStringList arguments;
        for (const QString& file : std::as_const(m_files))
            arguments << QStringLiteral("--hold-lock") << file;
        m_holder.setArguments(arguments);
        m_holder.start();
        m_pid = m_holder.processId();
    }

    void comeBack() override { m_holder.closeWriteChannel(); }

private:
    QStringList m_files;
    QProcess m_holder;
    qint64 m_pid = 0;
    bool m_locked = false;
};

// The lock holder: BEGIN EXCLUSIVE on every file, "locked" on standard
// output, and the locks kept until standard input ends.
int holdLocks(const QStringList& files)
{
    QStringList names;
    {
        std::vector<QSqlDatabase> held;
        for (const QString& file : files) {
            const QString name = QStringLiteral("holder-%1").arg(names.size());
            names.append(name);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(file);
            if (!db.open()) {
                std::fprintf(stderr, "%s\n", qPrintable(db.lastError().text()));
                return 1;
            }
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA busy_timeout = 60000")) ||
                !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(file),
                             qPrintable(q.lastError().text()));
                return 1;
            }
            held.push_back(db);
        }
        std::printf("locked\n");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        for (QSqlDatabase& db : held) {
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
    }
    for (const QString& name : std::as_const(names))
        QSqlDatabase::removeDatabase(name);
    return 0;
}

// ---- The soak ------------------------------------------------------------------

struct Options {
    QString simulatorProgram;
    QString telvarProgram;
    QString demoInstallProgram;
    int hours = 24;
    int ports = 100;
    int hourMs = 7500;
    int outageEvery = 4;
    int outageMinutes = 20;
    int restarts = 7;
    bool sqlite = false;
};

struct HourFigures {
    ProcessFigures process;
    // At the hour's end: waiting, and quarantined.
    qint64 waiting = 0;
    qint64 inQuarantine = 0;
    qint64 peakWaiting = 0;
    qint64 handed = 0;
    qint64 recorded = 0;
    qint64 retried = 0;
    qint64 quarantined = 0;
    int cycles = 0;
    int boxes = 0;
    qint64 downMs = 0;
    bool upAtEnd = true;
};

struct OutageFigures {
    qint64 plannedAt = 0;
    // Simulated and real time from goAway() until the database was back.
    qint64 downMs = 0;
    qint64 downRealMs = 0;
    qint64 peakWaiting = 0;
    // From the database back to the outbox empty, simulated and real; none
    // when it never emptied before the run ended.
    std::optional<qint64> drainMs;
    std::optional<qint64> drainRealMs;
};

// The simulated moments the database goes away.
std::vector<qint64> outageSchedule(const Options& options)
{
    std::vector<qint64> starts;
    const qint64 length = options.outageMinutes * kMinuteMs;
    // Half an hour into the middle hour of each period; none that would
    // reach into the last hour.
    for (qint64 k = 0;; ++k) {
        const qint64 start =
            (k * options.outageEvery + options.outageEvery / 2) * kHourMs + 30 * kMinuteMs;
        if (start + length > (options.hours - 1) * kHourMs)
            break;
        starts.push_back(start);
    }
    return starts;
}

struct SoakResult {
    std::vector<HourFigures> hours;
    std::vector<OutageFigures> outages;
    qint64 keptTotal = 0;
    qint64 recordedTotal = 0;
    qint64 waitingAtEnd = 0;
    qint64 quarantinedAtEnd = 0;
    qint64 retriedTotal = 0;
    double drainAtEndMs = 0;
    bool drainedAtEnd = false;
    QStringList boxTexts;
    double realSeconds = 0;
};

void printHourHeader()
{
    std::printf("\n%-11s %-4s %5s %8s %5s %6s %7s %7s %6s %7s %8s %7s %5s %5s\n", "hour", "db",
                "down", "RSS MB", "fds", "socket", "outbox", "peak", "cycles", "kept", "recorded",
                "retried", "quar", "boxes");
}

void printHour(int hour, const HourFigures& h)
{
    const QString span = QStringLiteral("%1-%2")
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(hour + 1, 2, 10, QLatin1Char('0'));
    std::printf(
        "%-11s %-4s %5s %8.1f %5d %6d %7lld %7lld %6d %7lld %8lld %7lld %5lld %5d\n",
        qPrintable(span), h.upAtEnd ? "up" : "down",
        qPrintable(h.downMs > 0 ? QStringLiteral("%1m").arg(static_cast<double>(h.downMs) /
                                                                static_cast<double>(kMinuteMs),
                                                            0, 'f', 0)
                                : QStringLiteral("-")),
        h.process.rssMb, h.process.descriptors, h.process.sockets,
        static_cast<long long>(h.waiting + h.inQuarantine), static_cast<long long>(h.peakWaiting),
        h.cycles, static_cast<long long>(h.handed), static_cast<long long>(h.recorded),
        static_cast<long long>(h.retried), static_cast<long long>(h.quarantined), h.boxes);
    std::fflush(stdout);
}

SoakResult runSoak(Installation& installation, HttpPageLoader& loader, DatabaseOutage& outage,
                   const Options& options)
{
    SoakResult result;
    SoakClock clock;
    // The router's boxes, counted (none should come); the first few are
    // printed with the figures.
    CountingInteraccion ui(/*printFirst=*/false);
    Router router(installation.m, ui, loader, clock);
    RecordingService& recording = router.recording();
    Acquisition& acquisition = router.acquisition();

    HourFigures current;
    QObject::connect(&recording, &RecordingService::batchWritten, &recording,
                     [&current](const BatchOutcome& outcome) {
                         current.recorded += outcome.recorded.size();
                         current.quarantined += outcome.quarantined.size();
                     });
    QObject::connect(&acquisition, &Acquisition::cycleEnded, &acquisition,
                     [&current](int) { ++current.cycles; });

    if (router.configDatabase().Reinicia() != ReiniciaOutcome::Done)
        die(QStringLiteral("Reinicia failed"));
    router.open();
    if (!recording.isOpen())
        die(QStringLiteral("the outbox did not open"));
    router.pressStartStop();
    if (!acquisition.isRunning())
        die(QStringLiteral("the acquisition did not start: ") + ui.first.join(QLatin1Char('\n')));

    const std::vector<qint64> schedule = outageSchedule(options);
    const qint64 outageLength = options.outageMinutes * kMinuteMs;
    const qint64 endMs = options.hours * kHourMs;
    const double simulatedPerReal = static_cast<double>(kHourMs) / options.hourMs;

    std::size_t nextOutage = 0;
    bool away = false;
    bool backAsked = false;
    bool draining = false;
    QElapsedTimer awaySince;
    QElapsedTimer backSince;
    qint64 backAt = 0;
    int hour = 0;
    qint64 handedBefore = 0;
    qint64 retriedBefore = 0;
    int boxesBefore = 0;

    QEventLoop loop;
    QElapsedTimer real;
    QTimer stepper;
    stepper.setTimerType(Qt::PreciseTimer);
    stepper.setInterval(kStepMs);
    QObject::connect(&stepper, &QTimer::timeout, &loop, [&] {
        const qint64 target = std::min(
            endMs, std::llround(static_cast<double>(real.nsecsElapsed()) / 1e6 * simulatedPerReal));
        const qint64 before = clock.elapsed().count();
        clock.advanceTo(target);
        const qint64 step = std::max<qint64>(0, target - before);

        // The database's comings and goings.
        if (!outage.isUp()) {
            current.downMs += step;
            if (!result.outages.empty())
                result.outages.back().downMs += step;
        }
        if (!away && nextOutage < schedule.size() && target >= schedule[nextOutage]) {
            OutageFigures figures;
            figures.plannedAt = schedule[nextOutage];
            result.outages.push_back(figures);
            away = true;
            backAsked = false;
            draining = false;
            awaySince.start();
            outage.goAway();
        }
        if (away && !backAsked && target >= schedule[nextOutage] + outageLength) {
            backAsked = true;
            outage.comeBack();
        }
        if (away && backAsked && outage.isUp()) {
            away = false;
            ++nextOutage;
            result.outages.back().downRealMs = awaySince.elapsed();
            draining = true;
            backAt = target;
            backSince.start();
        }
        if (draining && recording.waiting() == 0) {
            draining = false;
            result.outages.back().drainMs = target - backAt;
            result.outages.back().drainRealMs = backSince.elapsed();
        }

        acquisition.clocks().processDueTicks();

        const qint64 waiting = recording.waiting();
        current.peakWaiting = std::max(current.peakWaiting, waiting);
        if ((away || draining) && !result.outages.empty())
            result.outages.back().peakWaiting =
                std::max(result.outages.back().peakWaiting, waiting);

        while (hour < options.hours && target >= (hour + 1) * kHourMs) {
            current.process = processFigures();
            current.waiting = recording.waiting();
            current.inQuarantine = recording.quarantinedCount();
            current.handed = recording.handedOver() - handedBefore;
            current.retried = acquisition.retriedPages() - retriedBefore;
            current.boxes = ui.boxes - boxesBefore;
            current.upAtEnd = outage.isUp();
            handedBefore = recording.handedOver();
            retriedBefore = acquisition.retriedPages();
            boxesBefore = ui.boxes;
            printHour(hour, current);
            result.hours.push_back(current);
            current = HourFigures{};
            ++hour;
        }
        if (target >= endMs)
            loop.quit();
    });

    printHourHeader();
    real.start();
    stepper.start();
    loop.exec();
    stepper.stop();
    result.realSeconds = static_cast<double>(real.elapsed()) / 1000.0;

    // The acquisition stops as a person's Stop would; whatever still waits
    // is written before the router goes.
    router.pressStartStop();
    if (!outage.isUp()) {
        outage.comeBack();
        QElapsedTimer limit;
        limit.start();
        while (!outage.isUp() && limit.elapsed() < kDrainLimitMs) {
            QEventLoop wait;
            QTimer::singleShot(20, &wait, &QEventLoop::quit);
            wait.exec();
        }
    }
    QElapsedTimer drain;
    drain.start();
    while (recording.waiting() > 0 && drain.elapsed() < kDrainLimitMs) {
        recording.flush();
        QEventLoop wait;
        QTimer::singleShot(20, &wait, &QEventLoop::quit);
        wait.exec();
    }
    result.drainedAtEnd = recording.waiting() == 0;
    result.drainAtEndMs = static_cast<double>(drain.elapsed());
    result.keptTotal = recording.keptTotal();
    result.recordedTotal = recording.recordedTotal();
    result.waitingAtEnd = recording.waiting();
    result.quarantinedAtEnd = recording.quarantinedCount();
    result.retriedTotal = acquisition.retriedPages();
    result.boxTexts = ui.first;
    return result;
}

// ---- telvar --headless after a crash ---------------------------------------------

struct RestartFigures {
    std::vector<double> fromStartMs;
    std::vector<double> reportedMs;
    QString failure;
};

// Starts program with arguments and reads its standard error until it says
// it is acquiring: the time from the start to that line, and the time the
// line itself gives; nullopt (with the output in failure) when it did not
// within the limit. The process is left running.
std::optional<std::pair<double, double>> untilAcquiring(QProcess& process, const QString& program,
                                                        const QStringList& arguments,
                                                        QString& failure)
{
    static const QRegularExpression acquiring(
        QStringLiteral("Telvar: acquiring, (\\d+) ms after the start"));
    process.setProgram(program);
    process.setArguments(arguments);
    process.setReadChannel(QProcess::StandardError);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer since;
    since.start();
    process.start();
    if (!process.waitForStarted(10000)) {
        failure = program + QStringLiteral(": ") + process.errorString();
        return std::nullopt;
    }
    childPids().push_back(process.processId());
    QByteArray output;
    while (since.elapsed() < kAcquiringLimitMs) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine();
            output += line;
            const QRegularExpressionMatch match = acquiring.match(QString::fromUtf8(line));
            if (match.hasMatch())
                return std::make_pair(millis(since), match.captured(1).toDouble());
        }
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(100);
    }
    failure = QStringLiteral("telvar did not say it was acquiring within %1 s:\n")
                  .arg(kAcquiringLimitMs / 1000) +
              QString::fromUtf8(output + process.readAllStandardError());
    return std::nullopt;
}

void killProcess(QProcess& process)
{
    const qint64 pid = process.processId();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
    }
    std::erase(childPids(), pid);
}

RestartFigures measureRestarts(const Options& options)
{
    RestartFigures figures;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        figures.failure = QStringLiteral("no temporary directory");
        return figures;
    }
    {
        QProcess install;
        install.setProgram(options.demoInstallProgram);
        install.setArguments({dir.path()});
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start();
        if (!install.waitForFinished(300000) || install.exitStatus() != QProcess::NormalExit ||
            install.exitCode() != 0) {
            figures.failure = options.demoInstallProgram + QStringLiteral(" failed: ") +
                              install.errorString() + QLatin1Char('\n') +
                              QString::fromUtf8(install.readAll());
            return figures;
        }
    }
    const QStringList installation = {QStringLiteral("--headless"),
                                      QStringLiteral("--installation"), dir.path()};
    {
        QProcess first;
        const auto acquired =
            untilAcquiring(first, options.telvarProgram,
                           QStringList{QStringLiteral("--start")} + installation, figures.failure);
        // The line comes as the acquisition starts; the installation keeps
        // that it was started right after.
        if (acquired) {
            QEventLoop wait;
            QTimer::singleShot(1000, &wait, &QEventLoop::quit);
            wait.exec();
        }
        killProcess(first);
        if (!acquired)
            return figures;
    }
    for (int round = 0; round < options.restarts; ++round) {
        QProcess again;
        const auto acquired =
            untilAcquiring(again, options.telvarProgram, installation, figures.failure);
        // Left acquiring for a moment, as a router is when it crashes.
        if (acquired) {
            QEventLoop wait;
            QTimer::singleShot(200, &wait, &QEventLoop::quit);
            wait.exec();
        }
        killProcess(again);
        if (!acquired)
            return figures;
        figures.fromStartMs.push_back(acquired->first);
        figures.reportedMs.push_back(acquired->second);
    }
    return figures;
}

// ---- Printing -----------------------------------------------------------------

QString signedNumber(double value, int decimals)
{
    return (value >= 0 ? QStringLiteral("+") : QString()) + QString::number(value, 'f', decimals);
}

QString comparison(const char* what, double first, double last, int decimals, double steadyWithin)
{
    const double change = last - first;
    return QStringLiteral("%1 %2 -> %3 (%4, %5)")
        .arg(QLatin1String(what))
        .arg(first, 0, 'f', decimals)
        .arg(last, 0, 'f', decimals)
        .arg(signedNumber(change, decimals))
        .arg(std::abs(change) <= steadyWithin ? QStringLiteral("steady")
             : change > 0                     ? QStringLiteral("grew")
                                              : QStringLiteral("fell"));
}

int number(const QCommandLineParser& parser, const QCommandLineOption& option, int low, int high)
{
    return std::clamp(parser.value(option).toInt(), low, high);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QElapsedTimer whole;
    whole.start();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A time-compressed soak run of the router, and telvar --headless "
                       "started again after a crash."));
    parser.addHelpOption();
    const QCommandLineOption hoursOption(QStringLiteral("hours"),
                                         QStringLiteral("Simulated hours."), QStringLiteral("N"),
                                         QStringLiteral("24"));
    const QCommandLineOption portsOption(QStringLiteral("ports"),
                                         QStringLiteral("Ports of the installation (1..999)."),
                                         QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption hourMsOption(QStringLiteral("hour-ms"),
                                          QStringLiteral("Real milliseconds of a simulated hour."),
                                          QStringLiteral("MS"), QStringLiteral("7500"));
    const QCommandLineOption everyOption(QStringLiteral("outage-every"),
                                         QStringLiteral("Simulated hours between outages."),
                                         QStringLiteral("N"), QStringLiteral("4"));
    const QCommandLineOption minutesOption(QStringLiteral("outage-minutes"),
                                           QStringLiteral("Simulated minutes of an outage."),
                                           QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption restartsOption(
        QStringLiteral("restarts"), QStringLiteral("Starts of telvar --headless after a SIGKILL."),
        QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption sqliteOption(QStringLiteral("sqlite"),
                                          QStringLiteral("SQLite data files even with a cluster."));
    const QCommandLineOption simulatorOpt = simulatorOption();
    const QString binDir = QCoreApplication::applicationDirPath();
    const QCommandLineOption telvarOption(
        QStringLiteral("telvar"), QStringLiteral("The telvar program."), QStringLiteral("PATH"),
        QDir(binDir).filePath(QStringLiteral("telvar")));
    const QCommandLineOption demoInstallOption(
        QStringLiteral("demo-install"), QStringLiteral("The telvar_demo_install program."),
        QStringLiteral("PATH"), QDir(binDir).filePath(QStringLiteral("telvar_demo_install")));
    const QCommandLineOption holdLockOption(QStringLiteral("hold-lock"),
                                            QStringLiteral("(child) Locks a file."),
                                            QStringLiteral("FILE"));
    parser.addOptions({hoursOption, portsOption, hourMsOption, everyOption, minutesOption,
                       restartsOption, sqliteOption, simulatorOpt, telvarOption, demoInstallOption,
                       holdLockOption});
    parser.process(app);

    if (parser.isSet(holdLockOption))
        return holdLocks(parser.values(holdLockOption));

    Options options;
    options.simulatorProgram = parser.value(simulatorOpt);
    options.telvarProgram = parser.value(telvarOption);
    options.demoInstallProgram = parser.value(demoInstallOption);
    options.hours = number(parser, hoursOption, 2, 24 * 30);
    options.ports = number(parser, portsOption, 1, kMaxPorts);
    options.hourMs = number(parser, hourMsOption, 500, 3600000);
    options.outageEvery = number(parser, everyOption, 1, 24 * 30);
    options.outageMinutes = number(parser, minutesOption, 1, 59);
    options.restarts = number(parser, restartsOption, 0, 100);
    options.sqlite = parser.isSet(sqliteOption);

    const std::optional<PgCluster> pg =
        options.sqlite ? std::nullopt : PgCluster::fromEnvironment();
    std::optional<ClusterControl> control;
    QString noControl;
    if (pg)
        control = ClusterControl::from(*pg, noControl);
    const Engine engine = control ? Engine::Postgres : Engine::Sqlite;

    std::printf("Soak: %d simulated hours in %.1f s of real time each (the clock moved every "
                "%d ms, %.0f simulated s per real s)\n",
                options.hours, options.hourMs / 1000.0, kStepMs,
                static_cast<double>(kHourMs) / options.hourMs);
    std::printf("Load average at the start: %s\n", qPrintable(loadAverage()));

    // The station simulator: a host per port, and one more that accepts
    // connections and never answers.
    const Simulator stations(options.simulatorProgram, options.ports + 1,
                             {QStringLiteral("--silent-ports"), QStringLiteral("1")});
    const RefusingPort refusing;
    Installation installation(engine, pg, options.ports);
    installation.setPorts(
        [&](int puert) { return pageOf(puert, stations, options.ports, refusing.port()); });

    if (engine == Engine::Postgres) {
        std::printf("Variant: PostgreSQL, the cluster scripts/bench started (%s), ten tables of "
                    "the data database %s; the database away = the server stopped (pg_ctl stop "
                    "-m fast) and started again (pg_ctl start)\n",
                    qPrintable(pg->servidor()), qPrintable(installation.dataDatabase()));
    } else {
        std::printf("Variant: SQLite, ten data files (%s); the database away = every data file "
                    "held under BEGIN EXCLUSIVE by another process\n",
                    options.sqlite ? "--sqlite"
                    : pg           ? qPrintable(QStringLiteral("the cluster cannot be stopped "
                                                                         "here: ") +
                                                noControl)
                                   : "no PostgreSQL cluster: TELVAR_PG_HOST not set");
    }

    // The ports: what their pages are and what the clocks give at most.
    double nominal = 0;
    QStringList faults;
    for (int puert = 1; puert <= options.ports; ++puert) {
        const Fault fault = faultOf(puert);
        if (fault == Fault::None)
            nominal += 60.0 / clockOf(puert);
        else
            faults.append(QStringLiteral("%1 (clock %2) %3")
                              .arg(puert)
                              .arg(clockOf(puert))
                              .arg(QLatin1String(faultName(fault))));
    }
    std::printf("Ports: %d on %d simulator hosts (station simulator, its own process), port p "
                "on clock (p - 1) mod 10 + 1 of interval p's clock number in minutes, each its "
                "own page and column; at most %.0f readings an hour if every page answered at "
                "once\n",
                options.ports, options.ports + 1, nominal);
    std::printf("Faulty pages: %s\n", qPrintable(faults.join(QStringLiteral("; "))));

    const std::vector<qint64> schedule = outageSchedule(options);
    QStringList planned;
    for (const qint64 start : schedule)
        planned.append(clockText(start) + QLatin1Char('-') +
                       clockText(start + options.outageMinutes * kMinuteMs));
    std::printf("Database away (simulated time): %s\n",
                planned.isEmpty() ? "never (too few hours)"
                                  : qPrintable(planned.join(QStringLiteral(", "))));
    std::printf("\nPer simulated hour: 'db' the database at the hour's end and 'down' the "
                "simulated minutes it was away within the hour (from the stop to the server "
                "back); 'RSS MB' VmRSS, 'fds' open descriptors and 'socket' those that are "
                "sockets, at the hour's end; 'outbox' readings waiting + quarantined at the "
                "hour's end, 'peak' the most waiting at once; 'cycles' polling cycles ended; "
                "'kept' readings handed to the outbox, 'recorded' committed by their tables, "
                "'retried' pages asked for again, 'quar' readings quarantined, 'boxes' boxes "
                "shown, within the hour.\n");
    std::fflush(stdout);

    std::unique_ptr<DatabaseOutage> outage;
    if (engine == Engine::Postgres)
        outage = std::make_unique<ServerStop>(*control);
    else
        outage = std::make_unique<FileLocks>(installation.dataFiles());

    SoakResult soak;
    {
        HttpPageLoader loader;
        soak = runSoak(installation, loader, *outage, options);
    }
    const TableCount counted = installation.count();

    std::printf("\nOutages (simulated time; real time in brackets): planned, away for, most "
                "readings waiting, outbox empty after the database was back\n");
    for (const OutageFigures& o : soak.outages) {
        std::printf(
            "  %-6s away %5.1f min (%5.2f s)  peak %5lld waiting  empty again %s\n",
            qPrintable(clockText(o.plannedAt)),
            static_cast<double>(o.downMs) / static_cast<double>(kMinuteMs),
            static_cast<double>(o.downRealMs) / 1000.0, static_cast<long long>(o.peakWaiting),
            o.drainMs
                ? qPrintable(
                      QStringLiteral("%1 min (%2 s) later")
                          .arg(static_cast<double>(*o.drainMs) / static_cast<double>(kMinuteMs), 0,
                               'f', 1)
                          .arg(static_cast<double>(*o.drainRealMs) / 1000.0, 0, 'f', 2))
                : "never before the run ended");
    }
    if (!outage->problems.isEmpty())
        std::printf("  problems: %s\n", qPrintable(outage->problems.join(QStringLiteral("; "))));

    std::printf("\nAt the end: acquisition stopped, the outbox %s %.1f s later; kept %lld, "
                "recorded %lld, waiting %lld, quarantined %lld, pages retried %lld\n",
                soak.drainedAtEnd ? "empty" : "still not empty", soak.drainAtEndMs / 1000.0,
                static_cast<long long>(soak.keptTotal), static_cast<long long>(soak.recordedTotal),
                static_cast<long long>(soak.waitingAtEnd),
                static_cast<long long>(soak.quarantinedAtEnd),
                static_cast<long long>(soak.retriedTotal));
    std::printf("Data tables: %lld rows, %lld readings, %lld of them repeated, %lld kept "
                "readings missing\n",
                static_cast<long long>(counted.rows), static_cast<long long>(counted.cells),
                static_cast<long long>(counted.repeated),
                static_cast<long long>(
                    std::max<qint64>(0, soak.keptTotal - soak.quarantinedAtEnd - soak.waitingAtEnd -
                                            (counted.cells - counted.repeated))));
    for (const QString& box : std::as_const(soak.boxTexts))
        std::printf("Box shown:\n%s\n", qPrintable(box));
    std::printf("Soak real time: %.1f s for %d simulated hours\n", soak.realSeconds, options.hours);
    std::fflush(stdout);

    // telvar --headless after a crash.
    RestartFigures restarts;
    if (options.restarts > 0) {
        std::printf("\ntelvar --headless after SIGKILL, %d rounds on a demo installation "
                    "(telvar_demo_install; started once with --start, then killed and started "
                    "again each round): from the process start to \"Telvar: acquiring\" on "
                    "standard error, and the time that line gives (from the program's own "
                    "start-up)\n",
                    options.restarts);
        std::fflush(stdout);
        if (!QFileInfo(options.telvarProgram).isExecutable() ||
            !QFileInfo(options.demoInstallProgram).isExecutable()) {
            std::printf("  not measured: %s or %s is not built\n",
                        qPrintable(options.telvarProgram), qPrintable(options.demoInstallProgram));
        } else {
            restarts = measureRestarts(options);
            QStringList rounds;
            for (std::size_t i = 0; i < restarts.fromStartMs.size(); ++i)
                rounds.append(QStringLiteral("%1 (%2)")
                                  .arg(restarts.fromStartMs[i], 0, 'f', 0)
                                  .arg(restarts.reportedMs[i], 0, 'f', 0));
            std::printf("  rounds, ms: %s\n", qPrintable(rounds.join(QStringLiteral(", "))));
            if (!restarts.fromStartMs.empty())
                std::printf(
                    "  start to acquiring: median %.0f ms, worst %.0f ms (the line's own "
                    "figure: median %.0f ms, worst %.0f ms)\n",
                    median(restarts.fromStartMs),
                    *std::max_element(restarts.fromStartMs.begin(), restarts.fromStartMs.end()),
                    median(restarts.reportedMs),
                    *std::max_element(restarts.reportedMs.begin(), restarts.reportedMs.end()));
            if (!restarts.failure.isEmpty())
                std::printf("  failed: %s\n", qPrintable(restarts.failure));
        }
    }

    // The verdict: the last hour against the first, printed only.
    if (!soak.hours.empty()) {
        const HourFigures& first = soak.hours.front();
        const HourFigures& last = soak.hours.back();
        int drained = 0;
        qint64 slowestDrain = 0;
        double slowestDrainReal = 0;
        for (const OutageFigures& o : soak.outages) {
            if (o.drainMs) {
                ++drained;
                slowestDrain = std::max(slowestDrain, *o.drainMs);
                slowestDrainReal =
                    std::max(slowestDrainReal, static_cast<double>(*o.drainRealMs) / 1000.0);
            }
        }
        std::printf(
            "\nVerdict, last hour against the first (%s engine): %s; %s; %s; outbox "
            "empty again after %d of %d outages (slowest %.1f simulated min, %.2f s "
            "real), %lld waiting and %lld quarantined at the last hour's end, %lld "
            "quarantined in all; readings recorded %lld in the first hour, %lld in the "
            "last\n",
            engine == Engine::Postgres ? "PostgreSQL" : "SQLite",
            qPrintable(comparison("resident memory MB", first.process.rssMb, last.process.rssMb, 1,
                                  std::max(2.0, first.process.rssMb * 0.05))),
            qPrintable(comparison("descriptors", first.process.descriptors,
                                  last.process.descriptors, 0, 5)),
            qPrintable(comparison("sockets", first.process.sockets, last.process.sockets, 0, 5)),
            drained, static_cast<int>(soak.outages.size()),
            static_cast<double>(slowestDrain) / static_cast<double>(kMinuteMs), slowestDrainReal,
            static_cast<long long>(last.waiting), static_cast<long long>(last.inQuarantine),
            static_cast<long long>(soak.quarantinedAtEnd), static_cast<long long>(first.recorded),
            static_cast<long long>(last.recorded));
        if (soak.hours.size() > 2) {
            const HourFigures& second = soak.hours[1];
            std::printf("From the second hour on (past the first hour's warming up): %s; %s\n",
                        qPrintable(comparison("resident memory MB", second.process.rssMb,
                                              last.process.rssMb, 1,
                                              std::max(2.0, second.process.rssMb * 0.05))),
                        qPrintable(comparison("descriptors", second.process.descriptors,
                                              last.process.descriptors, 0, 5)));
        }
    }
    std::printf("Load average at the end: %s\n", qPrintable(loadAverage()));
    std::printf("Real time in all: %.1f s\n", static_cast<double>(whole.elapsed()) / 1000.0);
    return 0;
}
