// The whole road of a reading, from the station's page to the committed row
// of its data table, through the router as the program composes it (Router:
// HTTP page loader, acquisition, reading check, durable outbox, writer
// thread). The station simulator runs as its own program with 50 listening
// ports standing for 50 station hosts; every port reads the page counter of
// its own page ("sample N"), so that each reading is a value that appears
// once and can be found again in the data tables.
//
// The installation: 1000 ports, each with its own characteristic column,
// spread over 20 data tables (on "[JET4]" the files
// <data dir>/<format>/<machine>/<product>.MDB, table Datos, rollback journal
// and full sync as SQLite leaves them; on PostgreSQL the tables
// Datos_<format>_<machine>_<product> of the data database), limits wide
// enough that every reading is recorded.
//
//   1  cycles of 10, 100 and 1000 ports on distinct pages over 50 hosts, on
//      SQLite files and (when TELVAR_PG_HOST names a cluster) PostgreSQL:
//      from the clock's button to the last reading committed in its table,
//      the window thread's longest busy stretch, the outbox's commits and
//      the commits per data table
//   a  one data file held by another process (BEGIN EXCLUSIVE) for 30 s
//      while cycles run
//   b  PostgreSQL stopped for 60 s and started again while cycles run
//   c  PostgreSQL behind a TCP proxy that stops forwarding for 60 s
//   d  the router run as a child process running cycles back to back,
//      killed with SIGKILL at 20 random moments (most within a cycle, some
//      within its start) and started again on the same outbox
//   e  two `telvar --headless --start` programs on one installation, the
//      second under another host name (unshare --uts, as root), both killed
//      with SIGKILL and started again while readings wait in the outbox;
//      the starts the outbox's claim refused are counted
//   f  the outbox held by another process (BEGIN EXCLUSIVE) for 75 s while
//      cycles run
//   g  the outbox held for 15 s from before the router's start
//   h  the outbox on a tmpfs of its own (mounted as root) filled for 60 s
//   i  the data files read-only (0444, machine folders 0555) for 60 s; as
//      root the row's threads go without CAP_DAC_OVERRIDE
//   j  PostgreSQL turning every transaction read-only for 60 s (ALTER
//      SYSTEM default_transaction_read_only, on the benchmark's own cluster)
//   k  the router as a child process under TZ=Europe/Madrid with a wall
//      clock (libfaketime) crossing the repeated hour of 25 Oct 2026,
//      killed at 10 random moments and started again; the rows whose
//      readings' wall times lie more than 300 s apart are counted
//   l  one page of a host that takes the request and never answers beside
//      100 ordinary pages of the same host: how many of the 100 each cycle
//      records
// The fault rows count, in the data tables, each reading the cycles
// produced: recorded, duplicated (a value present more than once), lost
// (a kept reading absent at the end), and misreported (a reading the file
// of unrecorded readings names that is in a data table all the same).
//
// Options: --only LIST (1, a to l; comma-separated; all by default),
// --rounds N (cycles timed after the first, default 5), --fault-ports N
// (default 1000), --period-ms N (between cycles under a fault, default
// 3000), --lock-seconds N (30), --outage-seconds N (60), --kills N
// (20), --restarts N (e, 10), --outbox-lock-seconds N (f, 75),
// --start-lock-seconds N (g, 15), --full-seconds N (h, 60),
// --readonly-seconds N (i and j, 60), --dst-kills N (k, 10),
// --hang-seconds N (l, 60), --telvar PATH and --demo-install PATH (e; the
// programs built beside the benchmark by default), --simulator PATH.

#include "BenchFailures.h"
#include "BenchFigures.h"
#include "BenchInstallation.h"
#include "BenchPostgres.h"
#include "BenchSimulator.h"
#include "acquisition/Acquisition.h"
#include "acquisition/Clock.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/PageLoader.h"
#include "app/Router.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigTexts.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "recording/OutboxEntry.h"
#include "recording/ReadingToRecord.h"
#include "recording/RecordingService.h"
#include "recording/RecordingWriter.h"
#include "recording/UnrecordedLog.h"
#include "startup/Password.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <limits>
#include <linux/capability.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <numeric>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace telvar;

constexpr int kHosts = 50;
constexpr int kTables = 20;
constexpr int kMaxPorts = 1000;
// How long a cycle's readings, or a fault row's, may take to reach their
// tables before the benchmark gives up.
constexpr int kCycleLimitMs = 120000;
constexpr int kDrainLimitMs = 240000;

using namespace telvar::bench;

double worst(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Runs the event loop for ms milliseconds.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds (checked every 20 ms); false when
// limitMs passed first.
bool waitUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// ---- The window thread, watched ------------------------------------------

// The outbox's commits on the window thread: every queued call delivered to
// the recording service that did not report a batch is its flush (one
// append to the outbox, one commit). Timed where Qt delivers it.
struct FlushWatch {
    const QObject* service = nullptr;
    bool batchSeen = false;
    std::vector<double> flushMs;
};

FlushWatch g_flushWatch;

// The longest single event the window thread handled (outermost deliveries
// only), and what it was.
struct LongestEvent {
    double ms = 0;
    QString what;
};

LongestEvent g_longestEvent;

class BenchApplication final : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Qt 6 calls this on every thread; only the window thread's are
        // watched.
        if (QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        // The receiver may be gone once the event is delivered (a deferred
        // delete): what it is is read before.
        const QEvent::Type type = event->type();
        const char* receiverClass = receiver ? receiver->metaObject()->className() : "?";
        const bool serviceCall =
            receiver != nullptr && receiver == g_flushWatch.service && type == QEvent::MetaCall;
        if (serviceCall)
            g_flushWatch.batchSeen = false;
        const bool outermost = m_depth == 0;
        ++m_depth;
        QElapsedTimer timer;
        timer.start();
        const bool done = QCoreApplication::notify(receiver, event);
        --m_depth;
        const double ms = millis(timer);
        if (serviceCall && !g_flushWatch.batchSeen)
            g_flushWatch.flushMs.push_back(ms);
        if (outermost && ms > g_longestEvent.ms) {
            g_longestEvent.ms = ms;
            g_longestEvent.what =
                serviceCall ? (g_flushWatch.batchSeen ? QStringLiteral("a batch's outcome")
                                                      : QStringLiteral("the outbox's flush"))
                            : QStringLiteral("event %1 to %2")
                                  .arg(static_cast<int>(type))
                                  .arg(QString::fromLatin1(receiverClass));
        }
        return done;
    }

private:
    int m_depth = 0;
};

QString longestEventText()
{
    return QStringLiteral("longest single event on the window thread %1 ms (%2)")
        .arg(g_longestEvent.ms, 0, 'f', 1)
        .arg(g_longestEvent.what);
}

// A 1 ms timer on the window thread's event loop: how late it fires is how
// long the thread was busy without returning to its loop.
class LatenessProbe final {
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
    }

    void start()
    {
        reset();
        m_overall = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

    void reset()
    {
        m_last = m_clock.nsecsElapsed();
        m_worst = 0;
    }

    // The longest stretch since the last reset, the one under way included.
    double worstMs() const { return static_cast<double>(std::max(m_worst, current())) / 1e6; }
    // The same since the start.
    double overallMs() const { return static_cast<double>(std::max(m_overall, current())) / 1e6; }

private:
    static constexpr qint64 kPeriodNs = 1000000;

    qint64 current() const { return m_clock.nsecsElapsed() - m_last - kPeriodNs; }

    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_worst = std::max(m_worst, now - m_last - kPeriodNs);
        m_overall = std::max(m_overall, m_worst);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
    qint64 m_overall = 0;
};

// ---- What the router talks to ---------------------------------------------

// The router's page loader: an HttpPageLoader whose complete pages are
// also told to tap with their address and sample number.
class TapLoader final : public PageLoader {
public:
    using Tap = std::function<void(const QString& url, qint64 sample)>;

    explicit TapLoader(Tap tap) : m_tap(std::move(tap))
    {
        QObject::connect(
            &m_inner, &PageLoader::pageLoaded, this, [this](Ticket ticket, const LoadedPage& page) {
                const QString url = m_urls.take(ticket);
                if (page.outcome == PageOutcome::Complete) {
                    static const QRegularExpression sample(QStringLiteral("sample (\\d+)"));
                    const QRegularExpressionMatch match = sample.match(page.text);
                    if (match.hasMatch())
                        m_tap(url, match.captured(1).toLongLong());
                }
                emit pageLoaded(ticket, page);
            });
    }

    Ticket load(const QString& url) override
    {
        const Ticket ticket = m_inner.load(url);
        m_urls.insert(ticket, url);
        return ticket;
    }

    void cancel(Ticket ticket) override
    {
        m_urls.remove(ticket);
        m_inner.cancel(ticket);
    }

private:
    Tap m_tap;
    HttpPageLoader m_inner;
    QHash<Ticket, QString> m_urls;
};

// ---- The installation -----------------------------------------------------

enum class Engine { Sqlite, Postgres };

const char* engineName(Engine engine)
{
    return engine == Engine::Sqlite ? "SQLite" : "PostgreSQL";
}

struct Destination {
    QString forma;
    QString maqui;
    QString produ;
};

// Data table d (0..19): two formats, five machines, a product each.
Destination destination(int d)
{
    return {QStringLiteral("F%1").arg(d / 10 + 1), QStringLiteral("M%1").arg(d % 10 / 2 + 1),
            QStringLiteral("P%1").arg(d + 1, 2, 10, QLatin1Char('0'))};
}

int destinationOf(int puert)
{
    return (puert - 1) % kTables;
}

// Each port has its characteristic, so that the readings of one cycle
// gather into one row per table and a value names its port.
QString caracOf(int puert)
{
    return QStringLiteral("C%1").arg(puert, 4, 10, QLatin1Char('0'));
}

// A reading as found again: its port and its sample number.
quint64 readingKey(int puert, qint64 sample)
{
    return (static_cast<quint64>(puert) << 40) | static_cast<quint64>(sample);
}

struct PortRow {
    int puert = 0;
    QString webPg;
};

// Ports 1..count on distinct pages, port i on host (i - 1) mod 50.
std::vector<PortRow> spreadPorts(const Simulator& simulator, int count)
{
    std::vector<PortRow> rows;
    for (int puert = 1; puert <= count; ++puert)
        rows.push_back({puert, simulator.page((puert - 1) % kHosts,
                                              QStringLiteral("/station/%1.html").arg(puert))});
    return rows;
}

// The start-up values a child router needs, one "key=value" a line.
const std::array<std::pair<const char*, QString Modulo1::*>, 8> kDescribed = {{
    {"RutaApp", &Modulo1::RutaApp},
    {"PassBD", &Modulo1::PassBD},
    {"TipoBD", &Modulo1::TipoBD},
    {"CadConexion", &Modulo1::CadConexion},
    {"RutaDatos", &Modulo1::RutaDatos},
    {"Servidor", &Modulo1::Servidor},
    {"BaseDatos", &Modulo1::BaseDatos},
    {"UsuarioBD", &Modulo1::UsuarioBD},
}};

void writeDescription(const Modulo1& m, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        die(path + QStringLiteral(": ") + file.errorString());
    for (const auto& [key, field] : kDescribed)
        file.write(QByteArray(key) + '=' + (m.*field).toUtf8() + '\n');
}

void readDescription(const QString& path, Modulo1& m)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        die(path + QStringLiteral(": ") + file.errorString());
    QHash<QString, QString> values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.first(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    setUpModulo1(m, values.value(QStringLiteral("RutaApp")),
                 values.value(QStringLiteral("PassBD")));
    for (const auto& [key, field] : kDescribed)
        m.*field = values.value(QString::fromLatin1(key));
}

// The cells of the data tables: how often each reading is there.
struct Cells {
    QHash<quint64, int> counts;
    qint64 total = 0;
    qint64 rows = 0;
    // The readings each row gathers.
    std::vector<std::vector<quint64>> rowKeys;
};

// A program directory with its IAu folder, a configuration database that
// TLVDirec.IAU names, the SPC database (its CXP table) and the 20 data
// tables, on one engine.
class Installation final {
public:
    Installation(Engine engine, const std::optional<PgCluster>& pg) : m_engine(engine), m_pg(pg)
    {
        if (!m_dir.isValid())
            die(QStringLiteral("no temporary directory"));
        setUpModulo1(m, m_dir.path() + QLatin1Char('/'),
                     engine == Engine::Sqlite ? QStringLiteral("Clave26") : pg->password);
        QDir().mkpath(m.RutaIAU);
        m_configPath = createConfiguration(m);
        if (engine == Engine::Sqlite)
            createSqlite();
        else
            createPostgres();
    }

    ~Installation()
    {
        if (m_engine == Engine::Postgres) {
            for (const QString& name : {m.BaseDatos, dataDatabase()})
                (void)bench::runPostgresAdminStatement(
                    m_pg->host, m_pg->port, m_pg->user, m_pg->password,
                    QStringLiteral("DROP DATABASE IF EXISTS \"") + name +
                        QStringLiteral("\" WITH (FORCE)"));
        }
    }

    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    Engine engine() const { return m_engine; }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The server the installation's entry names (the cluster, or a proxy
    // before it).
    void useServer(const QString& servidor)
    {
        m.Servidor = servidor;
        m.CadConexion = ArmaConexion(m, m.BaseDatos);
    }

    // The configuration's ports, replacing those before: port i reads the
    // number after "sample" on its page.
    void setPorts(const std::vector<PortRow>& rows)
    {
        replacePorts(*openConfig(), rows, [](const PortRow& row) {
            const Destination to = destination(destinationOf(row.puert));
            return bench::ConfigPort{.puert = row.puert,
                                     .webPg = row.webPg,
                                     .ident = QStringLiteral("sample"),
                                     .longi = 7,
                                     .maqui = to.maqui,
                                     .produ = to.produ,
                                     .forma = to.forma,
                                     .carac = caracOf(row.puert),
                                     .reloj = 1};
        });
    }

    void clearData()
    {
        forEachTable([](const Connection& cn, const QString& table, int) {
            run(cn, QStringLiteral("DELETE FROM [") + table + QLatin1Char(']'));
        });
    }

    Cells cells() const
    {
        Cells found;
        forEachTable([&found](const Connection& cn, const QString& table, int) {
            auto selected = cn.exec(QStringLiteral("SELECT * FROM [") + table + QLatin1Char(']'));
            if (!selected)
                die(table + QStringLiteral(": ") + selected.error().description);
            QSqlQuery& q = selected.value();
            const QSqlRecord record = q.record();
            std::vector<std::pair<int, int>> columns; // field index, port
            for (int i = 0; i < record.count(); ++i) {
                const QString name = record.fieldName(i);
                if (name.size() == 5 && name.at(0).toUpper() == QLatin1Char('C'))
                    columns.emplace_back(i, name.mid(1).toInt());
            }
            while (q.next()) {
                ++found.rows;
                std::vector<quint64> keys;
                for (const auto& [field, puert] : columns) {
                    const QVariant cell = q.value(field);
                    if (cell.isNull())
                        continue;
                    ++found.total;
                    const quint64 key = readingKey(puert, std::llround(cell.toDouble()));
                    ++found.counts[key];
                    keys.push_back(key);
                }
                found.rowKeys.push_back(std::move(keys));
            }
        });
        return found;
    }

    QString dataFile(int d) const
    {
        const Destination to = destination(d);
        return m.RutaDatos + to.forma + QLatin1Char('/') + to.maqui + QLatin1Char('/') + to.produ +
               QStringLiteral(".MDB");
    }

    // The router's file of unrecorded readings, its fallback, and the
    // earlier halves of both.
    QStringList unrecordedLogs() const
    {
        const UnrecordedLog log = UnrecordedLog::forInstallation(m.RutaApp);
        return {log.path(), log.path() + QStringLiteral(".old"), log.fallbackPath(),
                log.fallbackPath() + QStringLiteral(".old")};
    }

    // Clock reloj's interval, in minutes.
    void setClockMinutes(int reloj, int minutes)
    {
        run(*openConfig(), QStringLiteral("UPDATE HTMRELOJ SET INTER = ? WHERE CLAVE = ?"),
            {minutes, reloj});
    }

    void clearUnrecorded() const
    {
        for (const QString& file : unrecordedLogs())
            QFile::remove(file);
    }

    Modulo1 m;

private:
    std::unique_ptr<Connection> openConfig() const
    {
        return open(configConnectionString(m_configPath, m.PassBD));
    }

    QString dataDatabase() const { return m.BaseDatos + QStringLiteral("DATA"); }

    QString tableName(int d) const
    {
        if (m_engine == Engine::Sqlite)
            return QStringLiteral("Datos");
        const Destination to = destination(d);
        return QStringLiteral("Datos_") + to.forma + QLatin1Char('_') + to.maqui +
               QLatin1Char('_') + to.produ;
    }

    void forEachTable(const std::function<void(const Connection&, const QString&, int)>& work) const
    {
        if (m_engine == Engine::Sqlite) {
            for (int d = 0; d < kTables; ++d) {
                auto cn = open(jetConnectionString(dataFile(d), m.PassBD));
                work(*cn, tableName(d), d);
            }
            return;
        }
        ConnectionTarget direct{m.TipoBD, m_pg->servidor(), m.UsuarioBD, m.PassBD};
        auto cn = open(ArmaConexion(direct, dataDatabase()));
        for (int d = 0; d < kTables; ++d)
            work(*cn, tableName(d), d);
    }

    // CXP as Qualitra declares it, a row for every port's characteristic
    // with limits no reading leaves.
    static void createCxp(const Connection& cn)
    {
        createCxpTable(cn);
        std::vector<int> ports(kMaxPorts);
        std::iota(ports.begin(), ports.end(), 1);
        insertRows(cn,
                   QStringLiteral("INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, "
                                  "CXPLSUPC) VALUES (?, ?, ?, -1, 1e9)"),
                   ports, [](int puert) {
                       const Destination to = destination(destinationOf(puert));
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
        for (int puert = d + 1; puert <= kMaxPorts; puert += kTables)
            sql += QStringLiteral(", [") + caracOf(puert) + QStringLiteral("] DOUBLE PRECISION");
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
        static int serial = 0;
        m.TipoBD = QStringLiteral("[POSTGRESQL]");
        m.UsuarioBD = m_pg->user;
        m.BaseDatos = QStringLiteral("telvar_pipe_%1_%2")
                          .arg(QCoreApplication::applicationPid())
                          .arg(++serial);
        m.Servidor = m_pg->servidor();
        m.CadConexion = ArmaConexion(m, m.BaseDatos);
        for (const QString& name : {m.BaseDatos, dataDatabase()})
            m_pg->admin(QStringLiteral("CREATE DATABASE \"") + name + QLatin1Char('"'));
        createCxp(*open(m.CadConexion));
        run(*open(m.CadConexion), QStringLiteral("ANALYZE CXP"));
        auto data = open(ArmaConexion(m, dataDatabase()));
        for (int d = 0; d < kTables; ++d)
            run(*data, dataTableStatement(d));
    }

    Engine m_engine;
    std::optional<PgCluster> m_pg;
    QTemporaryDir m_dir;
    QString m_configPath;
};

// What the data tables hold against the readings the cycles produced.
struct Tally {
    qint64 expected = 0;
    qint64 recorded = 0;
    qint64 duplicated = 0;
    qint64 lost = 0;
    // Readings in the tables that nobody listed (kept by a router killed
    // before it could say so).
    qint64 unlisted = 0;
    qint64 cells = 0;
};

Tally tally(const QSet<quint64>& expected, const Cells& cells)
{
    Tally t;
    t.expected = expected.size();
    t.cells = cells.total;
    for (auto it = cells.counts.cbegin(); it != cells.counts.cend(); ++it) {
        if (it.value() > 1)
            t.duplicated += it.value() - 1;
        if (!expected.contains(it.key()))
            ++t.unlisted;
    }
    for (const quint64 key : expected) {
        if (cells.counts.value(key) > 0)
            ++t.recorded;
        else
            ++t.lost;
    }
    return t;
}

// The readings the files of unrecorded readings name: each line is
// "<date> <time> <text>: <port> = <value> <cause>".
QSet<quint64> unrecordedKeys(const QStringList& files)
{
    static const QRegularExpression reading(QStringLiteral(": (\\d+) = (\\S+)"));
    QSet<quint64> keys;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QRegularExpressionMatch match = reading.match(QString::fromUtf8(line));
            bool number = false;
            const double value = match.hasMatch() ? match.captured(2).toDouble(&number) : 0;
            if (number)
                keys.insert(readingKey(match.captured(1).toInt(), std::llround(value)));
        }
    }
    return keys;
}

// ---- One router over an installation --------------------------------------

class RouterRun final {
public:
    RouterRun(Installation& installation, const std::vector<PortRow>& rows,
              const QString& outboxPath)
        : m_loader([this](const QString& url, qint64 sample) { tapped(url, sample); })
    {
        for (const PortRow& row : rows)
            m_puertOfUrl.insert(row.webPg, row.puert);
        router = std::make_unique<Router>(installation.m, ui, m_loader, m_clock, outboxPath);
        QObject::connect(&router->recording(), &RecordingService::batchWritten,
                         &router->recording(), [this](const BatchOutcome& outcome) {
                             g_flushWatch.batchSeen = true;
                             recorded += outcome.recorded.size();
                             quarantined += outcome.quarantined.size();
                             late += outcome.late;
                             ++batchesOf[outcome.place];
                             if (onBatch)
                                 onBatch();
                         });
        g_flushWatch.service = &router->recording();
    }

    ~RouterRun() { close(); }

    RouterRun(const RouterRun&) = delete;
    RouterRun& operator=(const RouterRun&) = delete;

    // Starts the router and its acquisition; a start that does not open
    // the outbox is fatal unless lenient, when it is said in the text
    // returned.
    QString start(bool lenient = false)
    {
        if (router->configDatabase().Reinicia() != ReiniciaOutcome::Done)
            die(QStringLiteral("Reinicia failed"));
        router->open();
        // The outbox opens on a thread of its own.
        if (!lenient)
            waitUntil([this] { return router->recording().isOpen(); }, 30000);
        QString said;
        if (!router->recording().isOpen()) {
            if (!lenient)
                die(QStringLiteral("the outbox did not open"));
            said = QStringLiteral("the outbox was not open when the acquisition started");
        }
        router->acquisition().cmdAbre_Click();
        if (!router->acquisition().isRunning())
            die(QStringLiteral("the acquisition did not start"));
        return said;
    }

    // Stops the acquisition and ends the router (its writer closes its
    // connections).
    void close()
    {
        if (!router)
            return;
        g_flushWatch.service = nullptr;
        if (router->acquisition().isRunning())
            router->acquisition().cmdAbre_Click();
        router.reset();
    }

    // Readings kept by the recording (recorded, waiting or quarantined).
    qint64 kept() const
    {
        const RecordingService& r = router->recording();
        return r.recordedTotal() + r.waiting() + r.quarantinedCount();
    }

    CountingInteraccion ui;
    std::unique_ptr<Router> router;
    // Every reading the pages gave, and those of the cycle under way.
    QSet<quint64> produced;
    QList<quint64> cycleReadings;
    // From the batches.
    qint64 recorded = 0;
    qint64 quarantined = 0;
    qint64 late = 0;
    QHash<QString, int> batchesOf;
    std::function<void()> onBatch;

private:
    void tapped(const QString& url, qint64 sample)
    {
        const int puert = m_puertOfUrl.value(url);
        if (puert == 0)
            return;
        const quint64 key = readingKey(puert, sample);
        produced.insert(key);
        cycleReadings.append(key);
    }

    TapLoader m_loader;
    SystemClock m_clock;
    QHash<QString, int> m_puertOfUrl;
};

// ---- 1. Page to committed row ----------------------------------------------

struct CycleSample {
    double commitMs = 0;
    double cycleEndMs = 0;
    double worstBusyMs = 0;
    double flushes = 0;
    double flushMs = 0;
    double flushMaxMs = 0;
    double batchesPerTable = 0;
    int readings = 0;
};

// One cycle of clock 1, from its button to the last of its readings
// committed in its table.
CycleSample timeCycle(RouterRun& run, LatenessProbe& probe)
{
    Acquisition& acquisition = run.router->acquisition();
    run.recorded = 0;
    run.quarantined = 0;
    run.batchesOf.clear();
    run.cycleReadings.clear();
    g_flushWatch.flushMs.clear();

    CycleSample sample;
    QEventLoop loop;
    QElapsedTimer timer;
    bool ended = false;
    bool done = false;
    const auto settle = [&] {
        if (ended && !done && run.recorded + run.quarantined >= run.cycleReadings.size()) {
            done = true;
            sample.commitMs = millis(timer);
            sample.worstBusyMs = probe.worstMs();
            loop.quit();
        }
    };
    const QMetaObject::Connection endConnection =
        QObject::connect(&acquisition, &Acquisition::cycleEnded, &loop, [&](int) {
            ended = true;
            sample.cycleEndMs = millis(timer);
            settle();
        });
    run.onBatch = settle;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(kCycleLimitMs);

    probe.reset();
    timer.start();
    acquisition.bReloj_Click(1);
    if (!done)
        loop.exec();
    run.onBatch = nullptr;
    QObject::disconnect(endConnection);
    if (!done)
        die(QStringLiteral("a cycle's readings did not reach their tables within %1 s (%2 of %3)")
                .arg(kCycleLimitMs / 1000)
                .arg(run.recorded)
                .arg(run.cycleReadings.size()));

    sample.readings = static_cast<int>(run.cycleReadings.size());
    sample.flushes = static_cast<double>(g_flushWatch.flushMs.size());
    for (const double ms : g_flushWatch.flushMs) {
        sample.flushMs += ms;
        sample.flushMaxMs = std::max(sample.flushMaxMs, ms);
    }
    int batches = 0;
    for (const int n : std::as_const(run.batchesOf))
        batches += n;
    sample.batchesPerTable =
        run.batchesOf.isEmpty()
            ? 0
            : static_cast<double>(batches) / static_cast<double>(run.batchesOf.size());
    return sample;
}

void printSpeedHeader()
{
    std::printf("\n%-10s %5s %6s %8s %8s %8s %8s %8s %7s %7s %8s %8s %8s %8s  %s\n", "engine",
                "ports", "tables", "first", "median", "worst", "rdg/s", "cycle", "busy", "busymax",
                "flush/cy", "flush ms", "flushmax", "commit/t", "kept rec dup lost");
}

// Gives, for each configuration, the longest single event on the window
// thread.
QStringList benchSpeed(Installation& installation, const Simulator& simulator, int rounds)
{
    QStringList longest;
    for (const int count : {10, 100, 1000}) {
        const std::vector<PortRow> rows = spreadPorts(simulator, count);
        installation.setPorts(rows);
        installation.clearData();
        std::vector<CycleSample> samples;
        CycleSample first;
        Tally counted;
        qint64 kept = 0;
        int boxes = 0;
        int tables = 0;
        double overallBusy = 0;
        {
            RouterRun run(installation, rows,
                          installation.path(QStringLiteral("outbox-speed-%1.sqlite").arg(count)));
            run.start();
            LatenessProbe probe;
            probe.start();
            g_longestEvent = {};
            first = timeCycle(run, probe);
            for (int round = 0; round < rounds; ++round) {
                pause(100);
                samples.push_back(timeCycle(run, probe));
            }
            pause(100);
            overallBusy = probe.overallMs();
            probe.stop();
            tables = static_cast<int>(run.batchesOf.size());
            kept = run.kept();
            boxes = run.ui.boxes;
            run.close();
            counted = tally(run.produced, installation.cells());
        }
        std::vector<double> commit;
        std::vector<double> cycle;
        std::vector<double> busy;
        std::vector<double> flushes;
        std::vector<double> flushMs;
        std::vector<double> flushMax;
        std::vector<double> perTable;
        for (const CycleSample& s : samples) {
            commit.push_back(s.commitMs);
            cycle.push_back(s.cycleEndMs);
            busy.push_back(s.worstBusyMs);
            flushes.push_back(s.flushes);
            flushMs.push_back(s.flushMs);
            flushMax.push_back(s.flushMaxMs);
            perTable.push_back(s.batchesPerTable);
        }
        const double med = median(commit);
        std::printf("%-10s %5d %6d %8.1f %8.1f %8.1f %8.0f %8.1f %7.1f %7.1f %8.1f %8.2f %8.2f "
                    "%8.2f  %lld %lld %lld %lld%s\n",
                    engineName(installation.engine()), count, tables, first.commitMs, med,
                    worst(commit), med > 0 ? count * 1000.0 / med : 0.0, median(cycle),
                    median(busy), overallBusy, median(flushes), median(flushMs),
                    std::max(worst(flushMax), first.flushMaxMs), median(perTable),
                    static_cast<long long>(kept), static_cast<long long>(counted.recorded),
                    static_cast<long long>(counted.duplicated),
                    static_cast<long long>(counted.lost),
                    boxes ? qPrintable(QStringLiteral("  boxes %1!").arg(boxes)) : "");
        std::fflush(stdout);
        longest.append(QStringLiteral("%1 %2 ports: ")
                           .arg(QLatin1String(engineName(installation.engine())))
                           .arg(count) +
                       longestEventText());
    }
    return longest;
}

// Outbox::append alone, on a file of its own beside the installation's.
void benchAppend(const Installation& installation)
{
    auto opened = Outbox::open(installation.path(QStringLiteral("outbox-append.sqlite")), false);
    if (!opened)
        die(opened.error().description);
    Outbox& outbox = *opened.value();
    const QDateTime now = QDateTime::currentDateTime();
    std::printf("\nOutbox::append alone (WAL, full sync, the window thread's connection), median "
                "of 9 after one:");
    for (const int count : {1, 50, 1000}) {
        QList<OutboxEntry> entries;
        for (int puert = 1; puert <= count; ++puert) {
            const Destination to = destination(destinationOf(puert));
            auto entry = GrabaQLTR::entryFor(
                installation.m,
                ReadingToRecord{to.forma, to.maqui, to.produ, caracOf(puert),
                                QStringLiteral("OPER01"), QStringLiteral("123</p>")},
                now);
            if (!entry)
                die(entry.error().description);
            entry.value().Puert = puert;
            entries.append(entry.value());
        }
        std::vector<double> times;
        for (int round = 0; round <= 9; ++round) {
            QList<OutboxEntry> batch = entries;
            QElapsedTimer timer;
            timer.start();
            check(outbox.append(batch), QStringLiteral("Outbox::append"));
            if (round > 0)
                times.push_back(millis(timer));
        }
        std::printf("  %d entries %.2f ms (%.1f us/entry)%s", count, median(times),
                    median(times) * 1000.0 / count, count == 1000 ? "\n" : ";");
    }
    std::fflush(stdout);
}

// ---- Fault rows ---------------------------------------------------------

struct FaultFigures {
    qint64 produced = 0;
    qint64 kept = 0;
    Tally counted;
    qint64 late = 0;
    qint64 quarantined = 0;
    double worstBusyMs = 0;
    int cycles = 0;
    int boxes = 0;
    double drainSeconds = 0;
    // The most readings the outbox held at once (sampled every 100 ms).
    qint64 peakWaiting = 0;
    // Readings the files of unrecorded readings name, and those of them
    // found in a data table all the same.
    qint64 unrecorded = 0;
    qint64 misreported = 0;
    Cells cells;
    QString note;
};

// The tables and the files of unrecorded readings against the readings
// expected.
void countTables(FaultFigures& f, const QSet<quint64>& expected, const Installation& installation)
{
    f.cells = installation.cells();
    f.counted = tally(expected, f.cells);
    const QSet<quint64> unrecorded = unrecordedKeys(installation.unrecordedLogs());
    f.unrecorded = unrecorded.size();
    f.misreported = 0;
    for (const quint64 key : unrecorded) {
        if (f.cells.counts.value(key) > 0)
            ++f.misreported;
    }
}

void printFaultHeader()
{
    std::printf("\n%-58s %6s %8s %8s %6s %5s %5s %9s %7s %6s %6s %6s %5s\n", "fault", "cycles",
                "produced", "kept", "record", "late", "dup", "lost", "busy ms", "quar", "unrec",
                "misrep", "boxes");
}

void printFaultRow(const QString& name, const FaultFigures& f)
{
    std::printf("%-58s %6d %8lld %8lld %6lld %5lld %5lld %9lld %7.1f %6lld %6lld %6lld %5d\n",
                qPrintable(name), f.cycles, static_cast<long long>(f.produced),
                static_cast<long long>(f.kept), static_cast<long long>(f.counted.recorded),
                static_cast<long long>(f.late), static_cast<long long>(f.counted.duplicated),
                static_cast<long long>(f.counted.lost), f.worstBusyMs,
                static_cast<long long>(f.quarantined), static_cast<long long>(f.unrecorded),
                static_cast<long long>(f.misreported), f.boxes);
    if (!f.note.isEmpty())
        std::printf("    %s\n", qPrintable(f.note));
    std::fflush(stdout);
}

void printNotMeasured(const QString& name, const QString& why)
{
    std::printf("%-58s not measured: %s\n", qPrintable(name), qPrintable(why));
    std::fflush(stdout);
}

struct FaultPlan {
    int periodMs = 3000;
    int faultStartMs = 4000;
    int faultMs = 30000;
    // After the fault, cycles go on this long.
    int afterMs = 6000;
    std::function<void()> begin;
    std::function<void()> end;
    // Before the router is made, and once it has ended (before the tables
    // are counted).
    std::function<void()> beforeStart;
    std::function<void()> afterEnd;
    // Once the router is acquiring.
    std::function<void(RouterRun&)> started;
    // The window thread watched from before the router's start (whose
    // outbox may then not yet be open).
    bool watchStart = false;
};

// Cycles of clock 1 every periodMs while the fault comes and goes; then
// waits until the outbox is empty and counts the tables.
FaultFigures runUnderFault(Installation& installation, const std::vector<PortRow>& rows,
                           const QString& outboxName, const FaultPlan& plan)
{
    installation.setPorts(rows);
    installation.clearData();
    installation.clearUnrecorded();
    FaultFigures figures;
    QSet<quint64> produced;
    if (plan.beforeStart)
        plan.beforeStart();
    {
        RouterRun run(installation, rows,
                      QDir::isAbsolutePath(outboxName) ? outboxName
                                                       : installation.path(outboxName));
        LatenessProbe probe;
        if (plan.watchStart) {
            probe.start();
            g_longestEvent = {};
        }
        const QString startNote = run.start(plan.watchStart);
        Acquisition& acquisition = run.router->acquisition();
        if (!plan.watchStart) {
            probe.start();
            g_longestEvent = {};
        }
        if (plan.started)
            plan.started(run);
        QTimer cycles;
        cycles.setInterval(plan.periodMs);
        QObject::connect(&cycles, &QTimer::timeout, [&] {
            if (acquisition.cyclesRunning() == 0) {
                ++figures.cycles;
                acquisition.bReloj_Click(1);
            }
        });
        ++figures.cycles;
        acquisition.bReloj_Click(1);
        cycles.start();
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            figures.peakWaiting = std::max(figures.peakWaiting, run.router->recording().waiting());
        });
        sampler.start(100);
        QTimer::singleShot(plan.faultStartMs, &cycles, [&] { plan.begin(); });
        QTimer::singleShot(plan.faultStartMs + plan.faultMs, &cycles, [&] { plan.end(); });
        pause(plan.faultStartMs + plan.faultMs + plan.afterMs);
        cycles.stop();
        QElapsedTimer drain;
        drain.start();
        const bool drained = waitUntil(
            [&] {
                return acquisition.cyclesRunning() == 0 && run.router->recording().waiting() == 0;
            },
            kDrainLimitMs);
        figures.drainSeconds = millis(drain) / 1000.0;
        if (!drained)
            figures.note = QStringLiteral("the outbox still held %1 readings %2 s after the "
                                          "last cycle")
                               .arg(run.router->recording().waiting())
                               .arg(kDrainLimitMs / 1000);
        figures.worstBusyMs = probe.worstMs();
        probe.stop();
        figures.kept = run.kept();
        figures.late = run.late;
        figures.quarantined = run.router->recording().quarantinedCount();
        figures.boxes = run.ui.boxes;
        produced = run.produced;
        if (!startNote.isEmpty())
            figures.note = startNote + (figures.note.isEmpty() ? QString() : QStringLiteral("; ")) +
                           figures.note;
    }
    if (plan.afterEnd)
        plan.afterEnd();
    figures.produced = produced.size();
    countTables(figures, produced, installation);
    if (!figures.note.contains(QStringLiteral("still held")))
        figures.note += (figures.note.isEmpty() ? QString() : QStringLiteral("; ")) +
                        QStringLiteral("at most %1 readings waited in the outbox; it was empty "
                                       "%2 s after the last cycle")
                            .arg(figures.peakWaiting)
                            .arg(figures.drainSeconds, 0, 'f', 1);
    figures.note += QStringLiteral("; ") + longestEventText();
    return figures;
}

// a. A data file held by another process: the benchmark itself, run as
// "--hold-lock FILE --hold-seconds N", takes BEGIN EXCLUSIVE on it.
int holdLock(const QString& file, int seconds)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(file);
        if (!db.open()) {
            std::fprintf(stderr, "%s\n", qPrintable(db.lastError().text()));
            return 1;
        }
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA busy_timeout = 10000")) ||
            !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
            return 1;
        }
        std::printf("locked\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        q.exec(QStringLiteral("COMMIT"));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    return 0;
}

// When the holder takes its lock: while cycles run, or before the router
// starts (the window thread then watched from the start on).
enum class LockWhen { DuringCycles, BeforeStart };

void faultLockedFile(Installation& installation, const std::vector<PortRow>& rows,
                     const QString& name, const QString& lockedFile, const QString& outboxName,
                     int lockSeconds, int periodMs, LockWhen when)
{
    const QString outboxPath = installation.path(outboxName);
    if (when == LockWhen::BeforeStart) {
        // The outbox the router will find: made by a start of its own.
        installation.setPorts(rows);
        RouterRun first(installation, rows, outboxPath);
        first.start();
        waitUntil([&] { return first.router->recording().isOpen(); }, 10000);
    }
    QProcess holder;
    holder.setProgram(QCoreApplication::applicationFilePath());
    holder.setArguments({QStringLiteral("--hold-lock"), lockedFile,
                         QStringLiteral("--hold-seconds"), QString::number(lockSeconds)});
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer lockedAt;
    qint64 lockedForMs = -1;
    QObject::connect(&holder, &QProcess::readyReadStandardOutput, [&] {
        if (holder.readAllStandardOutput().contains("locked"))
            lockedAt.start();
    });
    QObject::connect(&holder, &QProcess::finished, [&] {
        if (lockedAt.isValid())
            lockedForMs = lockedAt.elapsed();
    });
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = lockSeconds * 1000;
    QObject::connect(&holder, &QProcess::started,
                     [&] { childPids().push_back(holder.processId()); });
    if (when == LockWhen::DuringCycles) {
        // Started without waiting: the window thread is what is measured.
        plan.begin = [&] { holder.start(); };
    } else {
        // The lock is held before the router is made; the fault's time runs
        // from the router's start.
        plan.beforeStart = [&] {
            holder.start();
            waitUntil([&] { return lockedAt.isValid() || holder.state() == QProcess::NotRunning; },
                      30000);
        };
        plan.watchStart = true;
        plan.faultStartMs = 0;
        plan.begin = [] {};
    }
    plan.end = [] {};
    FaultFigures f = runUnderFault(installation, rows, outboxName, plan);
    const qint64 holderPid = holder.processId();
    if (holder.state() != QProcess::NotRunning)
        holder.waitForFinished(lockSeconds * 1000 + 10000);
    std::erase(childPids(), holderPid);
    if (lockedForMs < 0) {
        printNotMeasured(name, QStringLiteral("the lock holder never held the file"));
        return;
    }
    f.note += QStringLiteral("; %1 held %2 s")
                  .arg(QFileInfo(lockedFile).fileName())
                  .arg(static_cast<double>(lockedForMs) / 1000.0, 0, 'f', 1);
    if (when == LockWhen::BeforeStart)
        f.note += QStringLiteral(", taken before the router's start; busy from the start on");
    printFaultRow(name, f);
}

// b. pg_ctl on the benchmark's cluster, as the cluster's owner.
class PgControl final {
public:
    // nullopt, with why, when the cluster cannot be stopped and started here.
    static std::optional<PgControl> from(const PgCluster& pg, QString& why)
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
            if (skipNext) {
                skipNext = false;
            } else if (argument == QLatin1String("-D")) {
                skipNext = true;
            } else {
                options.append(argument);
            }
        }
        PgControl control;
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

void faultServerStopped(Installation& installation, const PgCluster& pg,
                        const std::vector<PortRow>& rows, int outageSeconds, int periodMs)
{
    const QString name =
        QStringLiteral("b. PostgreSQL stopped %1 s and started again").arg(outageSeconds);
    QString why;
    const std::optional<PgControl> control = PgControl::from(pg, why);
    if (!control) {
        printNotMeasured(name, why);
        return;
    }
    QProcess stopping;
    QProcess starting;
    QElapsedTimer down;
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = outageSeconds * 1000;
    plan.begin = [&] {
        down.start();
        control->stop(stopping);
    };
    plan.end = [&] { control->startServer(starting); };
    FaultFigures f =
        runUnderFault(installation, rows, QStringLiteral("outbox-pgstop.sqlite"), plan);
    stopping.waitForFinished(60000);
    starting.waitForFinished(60000);
    if (stopping.exitCode() != 0 || starting.exitCode() != 0)
        f.note += QStringLiteral("; pg_ctl stop exit %1, start exit %2")
                      .arg(stopping.exitCode())
                      .arg(starting.exitCode());
    printFaultRow(name, f);
}

// c. A TCP proxy on a thread of its own between the router and the
// server; while stalled it forwards nothing either way (connections stay
// open, new ones are accepted and wait).
class StallingProxy final {
public:
    explicit StallingProxy(quint16 upstream) : m_upstream(upstream)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0 || ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            die(QStringLiteral("proxy: no socket"));
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address = loopback(0);
        if (::bind(m_listen, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 64) != 0)
            die(QStringLiteral("proxy: cannot listen"));
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { loop(); });
    }

    ~StallingProxy()
    {
        m_stop = true;
        wake();
        m_thread.join();
        for (const Pair& p : m_pairs) {
            ::close(p.client);
            ::close(p.server);
        }
        ::close(m_listen);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }

    StallingProxy(const StallingProxy&) = delete;
    StallingProxy& operator=(const StallingProxy&) = delete;

    quint16 port() const { return m_port; }

    void setStalled(bool stalled)
    {
        m_stalled = stalled;
        wake();
    }

private:
    struct Pair {
        int client = -1;
        int server = -1;
        QByteArray toServer;
        QByteArray toClient;
        bool closed = false;
    };

    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    void wake()
    {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake[1], &byte, 1);
    }

    void accept()
    {
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(m_upstream);
        if (server < 0 ||
            ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(client);
            if (server >= 0)
                ::close(server);
            return;
        }
        const int one = 1;
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Pair pair;
        pair.client = client;
        pair.server = server;
        m_pairs.push_back(std::move(pair));
    }

    // Moves what from can give into buffer; false at its end or on error.
    static bool receive(int from, QByteArray& buffer)
    {
        char chunk[65536];
        const ssize_t got = ::recv(from, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            buffer.append(chunk, got);
            return true;
        }
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }

    static bool send(int to, QByteArray& buffer)
    {
        const ssize_t sent = ::send(to, buffer.constData(), static_cast<std::size_t>(buffer.size()),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            buffer.remove(0, sent);
            return true;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }

    void loop()
    {
        while (!m_stop) {
            const bool stalled = m_stalled;
            std::vector<pollfd> fds;
            fds.push_back({m_listen, POLLIN, 0});
            fds.push_back({m_wake[0], POLLIN, 0});
            for (const Pair& p : m_pairs) {
                short client = 0;
                short server = 0;
                if (!stalled) {
                    client = static_cast<short>((p.toServer.isEmpty() ? POLLIN : 0) |
                                                (p.toClient.isEmpty() ? 0 : POLLOUT));
                    server = static_cast<short>((p.toClient.isEmpty() ? POLLIN : 0) |
                                                (p.toServer.isEmpty() ? 0 : POLLOUT));
                }
                fds.push_back({p.client, client, 0});
                fds.push_back({p.server, server, 0});
            }
            if (::poll(fds.data(), fds.size(), 200) < 0)
                continue;
            if (fds[1].revents != 0) {
                char bytes[64];
                while (::read(m_wake[0], bytes, sizeof bytes) > 0) {
                }
            }
            for (std::size_t i = 0; i < m_pairs.size(); ++i) {
                Pair& p = m_pairs[i];
                const short client = fds[2 + 2 * i].revents;
                const short server = fds[3 + 2 * i].revents;
                const short failed = POLLERR | POLLHUP | POLLNVAL;
                if ((client | server) & failed && !((client | server) & POLLIN)) {
                    p.closed = true;
                    continue;
                }
                if (stalled)
                    continue;
                bool ok = true;
                if (client & POLLIN)
                    ok = ok && receive(p.client, p.toServer);
                if (server & POLLIN)
                    ok = ok && receive(p.server, p.toClient);
                if (ok && (client & POLLOUT))
                    ok = send(p.client, p.toClient);
                if (ok && (server & POLLOUT))
                    ok = send(p.server, p.toServer);
                if (!ok)
                    p.closed = true;
            }
            std::erase_if(m_pairs, [](const Pair& p) {
                if (p.closed) {
                    ::close(p.client);
                    ::close(p.server);
                }
                return p.closed;
            });
            if (fds[0].revents & POLLIN)
                accept();
        }
    }

    quint16 m_upstream;
    quint16 m_port = 0;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stalled{false};
    std::atomic<bool> m_stop{false};
    std::vector<Pair> m_pairs;
    std::thread m_thread;
};

void faultServerStalled(Installation& installation, const PgCluster& pg,
                        const std::vector<PortRow>& rows, int outageSeconds, int periodMs)
{
    const QString name =
        QStringLiteral("c. PostgreSQL stalled %1 s behind a TCP proxy").arg(outageSeconds);
    StallingProxy proxy(static_cast<quint16>(pg.port));
    installation.useServer(QStringLiteral("127.0.0.1:") + QString::number(proxy.port()));
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = outageSeconds * 1000;
    plan.begin = [&] { proxy.setStalled(true); };
    plan.end = [&] { proxy.setStalled(false); };
    const FaultFigures f =
        runUnderFault(installation, rows, QStringLiteral("outbox-pgstall.sqlite"), plan);
    installation.useServer(pg.servidor());
    printFaultRow(name, f);
}

// Runs a program to its end; false, with its output in output, when it
// failed.
bool runProgram(const QString& program, const QStringList& arguments, QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool done = process.waitForStarted(10000) && process.waitForFinished(60000);
    output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (!done && output.isEmpty())
        output = process.errorString();
    return done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Writes path until its file system has no room left: the bytes written and
// the errno of the write that failed.
std::pair<qint64, int> fillFileSystem(const QString& path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return {0, errno};
    const std::vector<char> chunk(64 * 1024, 'x');
    qint64 written = 0;
    int why = 0;
    for (;;) {
        const ssize_t n = ::write(fd, chunk.data(), chunk.size());
        if (n < 0) {
            why = errno;
            break;
        }
        written += n;
    }
    ::close(fd);
    return {written, why};
}

// h. The outbox on a file system of its own, a small tmpfs the benchmark
// mounts (as root), filled by a file of the benchmark's while the fault
// lasts and emptied after it.
void faultFullFileSystem(Installation& installation, const std::vector<PortRow>& rows,
                         int fullSeconds, int periodMs)
{
    const QString name =
        QStringLiteral("h. SQLite: the outbox's file system full %1 s").arg(fullSeconds);
    if (::geteuid() != 0) {
        printNotMeasured(name, QStringLiteral("mounting a tmpfs for the outbox needs root"));
        return;
    }
    const QString dir = installation.path(QStringLiteral("outbox-fs"));
    QDir().mkpath(dir);
    QString output;
    if (!runProgram(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=64M"), QStringLiteral("tmpfs"), dir},
                    output)) {
        printNotMeasured(name, QStringLiteral("mount -t tmpfs failed: ") + output);
        return;
    }
    const QString filler = dir + QStringLiteral("/filler");
    std::pair<qint64, int> filled{0, 0};
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = fullSeconds * 1000;
    plan.begin = [&] { filled = fillFileSystem(filler); };
    plan.end = [&] { QFile::remove(filler); };
    FaultFigures f =
        runUnderFault(installation, rows, dir + QStringLiteral("/TelvarOutbox.sqlite"), plan);
    QFile::remove(filler);
    if (!runProgram(QStringLiteral("umount"), {dir}, output))
        runProgram(QStringLiteral("umount"), {QStringLiteral("-l"), dir}, output);
    f.note += QStringLiteral("; a 64 MiB tmpfs, the filler wrote %1 KiB and then: %2")
                  .arg(filled.first / 1024)
                  .arg(QString::fromLocal8Bit(std::strerror(filled.second)));
    printFaultRow(name, f);
}

// Root writes read-only files all the same: while it matters, the window
// thread (and every thread made from it, the router's writers among them)
// goes without the capabilities that let root pass over a file's
// permissions. False when they cannot be changed.
bool setPermissionOverride(bool on)
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    std::array<__user_cap_data_struct, 2> data{};
    if (::syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    const quint32 bits =
        (1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH) | (1U << CAP_FOWNER);
    if (on)
        data[0].effective |= bits & data[0].permitted;
    else
        data[0].effective &= ~bits;
    return ::syscall(SYS_capset, &header, data.data()) == 0;
}

// i. The data files read-only (0444) and their machine folders too (0555)
// for a while, then as they were.
void faultReadOnlyData(Installation& installation, const std::vector<PortRow>& rows,
                       int readOnlySeconds, int periodMs)
{
    const QString name =
        QStringLiteral("i. SQLite: the data folder read-only %1 s").arg(readOnlySeconds);
    QStringList files;
    QSet<QString> folders;
    for (int d = 0; d < kTables; ++d) {
        files.append(installation.dataFile(d));
        folders.insert(QFileInfo(installation.dataFile(d)).path());
    }
    const auto setModes = [&](mode_t fileMode, mode_t folderMode) {
        int failed = 0;
        for (const QString& file : std::as_const(files))
            failed += ::chmod(QFile::encodeName(file).constData(), fileMode) != 0;
        for (const QString& folder : std::as_const(folders))
            failed += ::chmod(QFile::encodeName(folder).constData(), folderMode) != 0;
        return failed;
    };
    const bool root = ::geteuid() == 0;
    bool withoutOverride = false;
    int failed = 0;
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = readOnlySeconds * 1000;
    if (root) {
        plan.beforeStart = [&] { withoutOverride = setPermissionOverride(false); };
        plan.afterEnd = [&] { setPermissionOverride(true); };
    }
    plan.begin = [&] { failed += setModes(0444, 0555); };
    plan.end = [&] { failed += setModes(0644, 0755); };
    FaultFigures f =
        runUnderFault(installation, rows, QStringLiteral("outbox-readonly.sqlite"), plan);
    if (root && !withoutOverride) {
        printNotMeasured(name, QStringLiteral("run as root, and root's capabilities to pass over "
                                              "file permissions cannot be dropped"));
        return;
    }
    f.note +=
        QStringLiteral("; %1 data files and %2 machine folders made read-only%3%4")
            .arg(files.size())
            .arg(folders.size())
            .arg(root ? QStringLiteral(" (the benchmark runs as root: its threads, the "
                                       "router's among them, went without "
                                       "CAP_DAC_OVERRIDE for the row)")
                      : QString())
            .arg(failed > 0 ? QStringLiteral(", %1 chmod calls failed").arg(failed) : QString());
    printFaultRow(name, f);
}

// j. The server turns every transaction read-only for a while
// (default_transaction_read_only through ALTER SYSTEM and a reload; writes
// fail with SQLSTATE 25006). The statements run on a thread of their own.
void faultServerReadOnly(Installation& installation, const PgCluster& pg,
                         const std::vector<PortRow>& rows, int readOnlySeconds, int periodMs)
{
    const QString name =
        QStringLiteral("j. PostgreSQL read-only transactions %1 s").arg(readOnlySeconds);
    QString why;
    if (!PgControl::from(pg, why)) {
        printNotMeasured(name, why + QStringLiteral(" (the row reconfigures the server: only the "
                                                    "benchmark's own cluster)"));
        return;
    }
    const auto admin = [&pg](const QString& statement) {
        return runPostgresAdminStatement(pg.host, pg.port, pg.user, pg.password, statement);
    };
    QString errors;
    std::thread worker;
    const auto setReadOnly = [&](bool on) {
        if (worker.joinable())
            worker.join();
        worker = std::thread([&admin, &errors, on] {
            QString error =
                admin(on ? QStringLiteral("ALTER SYSTEM SET default_transaction_read_only = on")
                         : QStringLiteral("ALTER SYSTEM RESET default_transaction_read_only"));
            if (error.isEmpty())
                error = admin(QStringLiteral("SELECT pg_reload_conf()"));
            if (!error.isEmpty())
                errors += (on ? QStringLiteral("on: ") : QStringLiteral("off: ")) + error +
                          QStringLiteral(" ");
        });
    };
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultMs = readOnlySeconds * 1000;
    plan.begin = [&] { setReadOnly(true); };
    plan.end = [&] { setReadOnly(false); };
    plan.afterEnd = [&] {
        if (worker.joinable())
            worker.join();
    };
    FaultFigures f =
        runUnderFault(installation, rows, QStringLiteral("outbox-pgreadonly.sqlite"), plan);
    if (worker.joinable())
        worker.join();
    if (!errors.isEmpty()) {
        // The server must not stay read-only for the rows after.
        (void)admin(QStringLiteral("ALTER SYSTEM RESET default_transaction_read_only"));
        (void)admin(QStringLiteral("SELECT pg_reload_conf()"));
        if (errors.startsWith(QStringLiteral("on: "))) {
            printNotMeasured(name, errors.trimmed());
            return;
        }
        f.note += QStringLiteral("; ") + errors.trimmed();
    }
    printFaultRow(name, f);
}

// d. The router as a child process ("--child DESCRIPTION --outbox PATH
// --log PATH"): it runs clock 1's cycle again and again, and after each
// cycle appends the readings the recording has kept (the outbox's commit of
// the cycle's readings returned, no box shown) to the log, in one write
// ending with an "end" line.
int childRouter(const QString& description, const QString& outboxPath, const QString& logPath,
                int periodMs, bool drainOnly)
{
    Modulo1 m;
    readDescription(description, m);
    QFile logFile(logPath);
    const auto fail = [](const char* why) {
        std::fprintf(stderr, "child router: %s\n", why);
        return 1;
    };
    if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail("cannot open its log");
    // The ports are read back from the configuration by the router; the
    // tap needs only their addresses, which name the port.
    static const QRegularExpression station(QStringLiteral("/station/(\\d+)\\.html$"));
    CountingInteraccion ui;
    // Each reading with the wall time at which its page came.
    QList<std::pair<quint64, qint64>> cycle;
    TapLoader loader([&cycle](const QString& url, qint64 sample) {
        const QRegularExpressionMatch match = station.match(url);
        if (match.hasMatch())
            cycle.append({readingKey(match.captured(1).toInt(), sample),
                          QDateTime::currentMSecsSinceEpoch()});
    });
    SystemClock clock;
    Router router(m, ui, loader, clock, outboxPath);
    if (drainOnly) {
        // Records what the outbox holds and ends once it has held nothing
        // for a second (after its counts came), saying its longest busy
        // stretch in the log.
        router.open();
        LatenessProbe probe;
        probe.start();
        QElapsedTimer since;
        since.start();
        QElapsedTimer empty;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &check, [&] {
            // Until the outbox is open its counts are not known.
            if (!router.recording().isOpen() || router.recording().waiting() > 0 ||
                since.elapsed() < 2000) {
                empty.invalidate();
                return;
            }
            if (!empty.isValid())
                empty.start();
            else if (empty.elapsed() >= 1000)
                QCoreApplication::exit(0);
        });
        check.start(100);
        const int code = QCoreApplication::exec();
        logFile.write("drain " + QByteArray::number(probe.worstMs(), 'f', 2) + '\n');
        logFile.flush();
        return code;
    }
    if (router.configDatabase().Reinicia() != ReiniciaOutcome::Done)
        return fail("Reinicia failed");
    router.open();
    // The outbox opens on a thread of its own.
    waitUntil([&router] { return router.recording().isOpen(); }, 30000);
    if (!router.recording().isOpen())
        return fail("the outbox did not open");
    Acquisition& acquisition = router.acquisition();
    acquisition.cmdAbre_Click();
    if (!acquisition.isRunning())
        return fail("the acquisition did not start");
    std::printf("running %s\n",
                qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd "
                                                                                "hh:mm:ss t"))));
    std::fflush(stdout);
    LatenessProbe probe;
    probe.start();
    // A cycle's readings are logged once the outbox has committed them:
    // the blocks wait, each for the count of readings handed over with it.
    RecordingService& recording = router.recording();
    QList<std::pair<qint64, QByteArray>> waitingBlocks;
    const auto writeKept = [&] {
        while (!waitingBlocks.isEmpty() && waitingBlocks.first().first <= recording.keptTotal()) {
            logFile.write(waitingBlocks.takeFirst().second);
            logFile.flush();
        }
    };
    QObject::connect(&recording, &RecordingService::kept, &acquisition, writeKept);
    QObject::connect(&acquisition, &Acquisition::cycleEnded, &acquisition, [&](int) {
        recording.flush();
        QByteArray block;
        if (ui.boxes == 0) {
            for (const auto& [key, ms] : std::as_const(cycle))
                block += "v " + QByteArray::number(key) + ' ' + QByteArray::number(ms) + '\n';
        }
        block += "end " + QByteArray::number(probe.worstMs(), 'f', 2) + '\n';
        waitingBlocks.append({recording.handedOver(), block});
        writeKept();
        cycle.clear();
        probe.reset();
        QTimer::singleShot(periodMs, &acquisition, [&] { acquisition.bReloj_Click(1); });
    });
    acquisition.bReloj_Click(1);
    return QCoreApplication::exec();
}

struct ChildLog {
    QSet<quint64> kept;
    // When each kept reading's page came (the child's wall clock).
    QHash<quint64, qint64> wallMs;
    int cycles = 0;
    double worstBusyMs = 0;
};

// The readings of every block the children finished writing.
ChildLog readChildLog(const QString& path)
{
    ChildLog parsed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return parsed;
    QList<std::pair<quint64, qint64>> block;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("v ")) {
            const QList<QByteArray> fields = line.split(' ');
            block.append({fields.value(1).toULongLong(), fields.value(2).toLongLong()});
        } else if (line.startsWith("end ")) {
            ++parsed.cycles;
            parsed.worstBusyMs = std::max(parsed.worstBusyMs, line.mid(4).toDouble());
            for (const auto& [key, ms] : std::as_const(block)) {
                parsed.kept.insert(key);
                parsed.wallMs.insert(key, ms);
            }
            block.clear();
        } else if (line.startsWith("drain ")) {
            parsed.worstBusyMs = std::max(parsed.worstBusyMs, line.mid(6).toDouble());
        }
    }
    return parsed;
}

// The rows of one of an outbox file's tables, read without a router (-1
// when it cannot be read).
qint64 outboxCount(const QString& path, const QString& table)
{
    const QString connection = QStringLiteral("outbox-count");
    qint64 count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT count(*) FROM ") + table) && q.next())
                count = q.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return count;
}

// How the children of a kill row run and die.
struct KillPlan {
    QString name;
    int kills = 20;
    // The children's environment (a time zone, a faked wall clock).
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // 0: d's moments; otherwise each child is killed at a random moment
    // between runLowMs and runHighMs after its acquisition started.
    int runLowMs = 0;
    int runHighMs = 0;
    // The last start, which records what the killed ones left, is a child
    // too (in the children's environment) instead of the benchmark itself.
    bool drainInChild = false;
};

// The rows of the data tables whose readings' wall times (as the children
// logged them) lie more than spanMs apart; and the widest span found.
std::pair<qint64, qint64> rowsSpanning(const Cells& cells, const QHash<quint64, qint64>& wallMs,
                                       qint64 spanMs)
{
    qint64 wide = 0;
    qint64 widest = 0;
    for (const std::vector<quint64>& keys : cells.rowKeys) {
        qint64 low = std::numeric_limits<qint64>::max();
        qint64 high = std::numeric_limits<qint64>::min();
        for (const quint64 key : keys) {
            const auto it = wallMs.constFind(key);
            if (it == wallMs.cend())
                continue;
            low = std::min(low, it.value());
            high = std::max(high, it.value());
        }
        if (high < low)
            continue;
        widest = std::max(widest, high - low);
        if (high - low > spanMs)
            ++wide;
    }
    return {wide, widest};
}

void faultKilled(Installation& installation, const std::vector<PortRow>& rows,
                 const KillPlan& killPlan)
{
    const QString& name = killPlan.name;
    const int killCount = killPlan.kills;
    installation.setPorts(rows);
    installation.clearData();
    const QString description = installation.path(QStringLiteral("child.txt"));
    const QString outbox = installation.path(QStringLiteral("outbox-kill.sqlite"));
    const QString logPath = installation.path(QStringLiteral("kill.log"));
    QFile::remove(outbox);
    QFile::remove(logPath);
    installation.clearUnrecorded();
    writeDescription(installation.m, description);

    // Three kills in four land at a random moment of the second after the
    // child's acquisition started (pages on the way, readings handed on, the
    // outbox's commit, the writer's batches); the fourth at a random moment
    // of its start, while the writer takes up what the last one left.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> afterRunning(0, 1000);
    std::uniform_int_distribution<int> spread(killPlan.runLowMs, killPlan.runHighMs);
    qint64 startupMs = 300;
    int kills = 0;
    int exitedEarly = 0;
    QStringList childClocks;
    for (int round = 0; round < killCount; ++round) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--child"), description, QStringLiteral("--outbox"),
                            outbox, QStringLiteral("--log"), logPath, QStringLiteral("--period-ms"),
                            QStringLiteral("100")});
        child.setProcessEnvironment(killPlan.environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer since;
        since.start();
        child.start();
        if (!child.waitForStarted(10000))
            die(QStringLiteral("the child router did not start"));
        childPids().push_back(child.processId());
        const qint64 pid = child.processId();
        QEventLoop loop;
        bool running = false;
        QObject::connect(&child, &QProcess::readyReadStandardOutput, &loop, [&] {
            const QByteArray output = child.readAllStandardOutput();
            if (!running && output.contains("running")) {
                running = true;
                startupMs = since.elapsed();
                childClocks.append(QString::fromUtf8(output.mid(output.indexOf("running") + 8))
                                       .section(QLatin1Char('\n'), 0, 0));
                loop.quit();
            }
        });
        QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer moment;
        moment.setSingleShot(true);
        QObject::connect(&moment, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (killPlan.runHighMs == 0 && round % 4 == 3) {
            moment.start(
                std::uniform_int_distribution<int>(0, static_cast<int>(startupMs))(random));
            loop.exec();
        } else {
            moment.start(30000);
            loop.exec();
            if (running && child.state() != QProcess::NotRunning) {
                moment.start(killPlan.runHighMs == 0 ? afterRunning(random) : spread(random));
                loop.exec();
            }
        }
        if (child.state() == QProcess::NotRunning) {
            ++exitedEarly;
            std::fprintf(
                stderr, "child router %lld ended by itself (%s %d)\n", static_cast<long long>(pid),
                child.exitStatus() == QProcess::CrashExit ? "crash" : "exit", child.exitCode());
        } else {
            child.kill();
            child.waitForFinished(10000);
            ++kills;
        }
        std::erase(childPids(), pid);
    }

    // A last start records what the killed ones left in the outbox.
    FaultFigures f;
    if (killPlan.drainInChild) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--child"), description, QStringLiteral("--outbox"),
                            outbox, QStringLiteral("--log"), logPath, QStringLiteral("--drain")});
        child.setProcessEnvironment(killPlan.environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer drain;
        drain.start();
        child.start();
        if (!child.waitForStarted(10000))
            die(QStringLiteral("the draining child router did not start"));
        childPids().push_back(child.processId());
        const qint64 pid = child.processId();
        const bool drained = child.waitForFinished(kDrainLimitMs) && child.exitCode() == 0;
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished(10000);
        }
        std::erase(childPids(), pid);
        f.drainSeconds = millis(drain) / 1000.0;
        // Its outbox's figures, read from the file once it ended.
        const qint64 left = outboxCount(outbox, QStringLiteral("pending"));
        f.quarantined = outboxCount(outbox, QStringLiteral("quarantine"));
        f.note = drained ? QStringLiteral("%1 kills (%2 children ended by themselves), %3 "
                                          "cycles completed between them, moments drawn with "
                                          "seed %5; a last child emptied the outbox in %4 s")
                               .arg(kills)
                               .arg(exitedEarly)
                               .arg(readChildLog(logPath).cycles)
                               .arg(f.drainSeconds, 0, 'f', 1)
                               .arg(seed)
                         : QStringLiteral("the last child did not empty the outbox within %1 s "
                                          "(%2 readings left)")
                               .arg(kDrainLimitMs / 1000)
                               .arg(left);
    } else {
        RouterRun run(installation, rows, outbox);
        LatenessProbe probe;
        probe.start();
        run.router->open();
        QElapsedTimer drain;
        drain.start();
        // Until the outbox is open its counts are not known.
        const bool drained = waitUntil(
            [&] {
                return run.router->recording().isOpen() && run.router->recording().waiting() == 0;
            },
            kDrainLimitMs);
        f.drainSeconds = millis(drain) / 1000.0;
        f.quarantined = run.router->recording().quarantinedCount();
        f.late = run.late;
        f.boxes = run.ui.boxes;
        f.worstBusyMs = probe.worstMs();
        f.note = drained ? QStringLiteral("%1 kills (%2 children ended by themselves), %3 "
                                          "cycles completed between them, moments drawn with "
                                          "seed %5; the last start emptied the outbox in %4 s")
                               .arg(kills)
                               .arg(exitedEarly)
                               .arg(readChildLog(logPath).cycles)
                               .arg(f.drainSeconds, 0, 'f', 1)
                               .arg(seed)
                         : QStringLiteral("the outbox still held %1 readings after %2 s")
                               .arg(run.router->recording().waiting())
                               .arg(kDrainLimitMs / 1000);
    }
    const ChildLog childLog = readChildLog(logPath);
    f.worstBusyMs = std::max(childLog.worstBusyMs, f.worstBusyMs);
    f.cycles = childLog.cycles;
    f.produced = childLog.kept.size();
    f.kept = childLog.kept.size();
    countTables(f, childLog.kept, installation);
    f.note += QStringLiteral("; kept = readings the children logged as kept; %1 more readings "
                             "kept before a kill and not yet logged are in the tables too")
                  .arg(f.counted.unlisted);
    if (killPlan.drainInChild) {
        const auto [wide, widest] = rowsSpanning(f.cells, childLog.wallMs, 300000);
        f.note += QStringLiteral("; %1 of %2 rows gather readings more than 300 s apart (the "
                                 "widest %3 s); the children's clocks at their starts: %4")
                      .arg(wide)
                      .arg(f.cells.rows)
                      .arg(static_cast<double>(widest) / 1000.0, 0, 'f', 1)
                      .arg(childClocks.join(QStringLiteral(", ")));
    }
    printFaultRow(name, f);
}

// k. The children under TZ=Europe/Madrid with a wall clock (libfaketime)
// that starts at 02:57 CEST on 25 Oct 2026 and runs on across the change
// to 02:00 CET, the same offset for every child so that time flows on
// across restarts; each killed at a random moment 10 to 40 s into its run.
void faultRepeatedHour(Installation& installation, const std::vector<PortRow>& rows, int kills)
{
    const QString name =
        QStringLiteral("k. SQLite: SIGKILL %1 times in the repeated hour (Madrid)").arg(kills);
    QString library;
    for (const char* candidate : {"/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1",
                                  "/usr/lib/aarch64-linux-gnu/faketime/libfaketimeMT.so.1",
                                  "/usr/lib/faketime/libfaketimeMT.so.1"}) {
        if (QFileInfo::exists(QString::fromLatin1(candidate))) {
            library = QString::fromLatin1(candidate);
            break;
        }
    }
    if (library.isEmpty()) {
        printNotMeasured(name, QStringLiteral("libfaketime not installed (Debian package "
                                              "faketime; scripts/deps installs it)"));
        return;
    }
    const qint64 start = QDateTime(QDate(2026, 10, 25), QTime(0, 57), Qt::UTC).toSecsSinceEpoch();
    const qint64 offset = start - QDateTime::currentSecsSinceEpoch();
    KillPlan plan;
    plan.name = name;
    plan.kills = kills;
    plan.environment.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Madrid"));
    plan.environment.insert(QStringLiteral("LD_PRELOAD"), library);
    plan.environment.insert(QStringLiteral("FAKETIME"),
                            (offset >= 0 ? QStringLiteral("+") : QString()) +
                                QString::number(offset));
    plan.environment.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    plan.runLowMs = 10000;
    plan.runHighMs = 40000;
    plan.drainInChild = true;
    faultKilled(installation, rows, plan);
}

// l. One station host whose one page takes the request and never answers,
// beside 100 ordinary pages on the same host: how many of the 100 each
// cycle records.
void faultHangingPage(Installation& installation, const Simulator& simulator, int hangSeconds,
                      int periodMs)
{
    const QString name =
        QStringLiteral("l. SQLite: one silent page beside 100 on its host, %1 s").arg(hangSeconds);
    constexpr int kOrdinary = 100;
    std::vector<PortRow> rows;
    rows.push_back({1, simulator.page(0, QStringLiteral("/silent"))});
    // Pages of their own (their counters start afresh), all on host 0.
    for (int puert = 2; puert <= kOrdinary + 1; ++puert)
        rows.push_back(
            {puert, simulator.page(0, QStringLiteral("/station/%1.html").arg(9000 + puert))});
    std::vector<QList<quint64>> cycles;
    std::vector<double> cycleSeconds;
    QElapsedTimer cycleTime;
    FaultPlan plan;
    plan.periodMs = periodMs;
    plan.faultStartMs = 0;
    plan.faultMs = hangSeconds * 1000;
    plan.begin = [] {};
    plan.end = [] {};
    plan.started = [&](RouterRun& run) {
        cycleTime.start();
        Acquisition& acquisition = run.router->acquisition();
        QObject::connect(&acquisition, &Acquisition::cycleEnded, &acquisition, [&](int) {
            cycles.push_back(run.cycleReadings);
            run.cycleReadings.clear();
            cycleSeconds.push_back(static_cast<double>(cycleTime.restart()) / 1000.0);
        });
    };
    FaultFigures f = runUnderFault(installation, rows, QStringLiteral("outbox-hang.sqlite"), plan);
    std::vector<int> recordedPerCycle;
    for (const QList<quint64>& keys : cycles) {
        int found = 0;
        for (const quint64 key : keys) {
            if (f.cells.counts.value(key) > 0)
                ++found;
        }
        recordedPerCycle.push_back(found);
    }
    if (recordedPerCycle.empty()) {
        f.note += QStringLiteral("; no cycle ended");
    } else {
        const double mean = std::accumulate(recordedPerCycle.begin(), recordedPerCycle.end(), 0.0) /
                            static_cast<double>(recordedPerCycle.size());
        QStringList each;
        for (const int n : recordedPerCycle)
            each.append(QString::number(n));
        f.note += QStringLiteral("; of the %1 ordinary pages, recorded per cycle: min %2, mean "
                                 "%3 over %4 cycles that ended (%5); the longest cycle took "
                                 "%6 s")
                      .arg(kOrdinary)
                      .arg(*std::min_element(recordedPerCycle.begin(), recordedPerCycle.end()))
                      .arg(mean, 0, 'f', 1)
                      .arg(recordedPerCycle.size())
                      .arg(each.join(QLatin1Char(' ')))
                      .arg(worst(cycleSeconds), 0, 'f', 1);
    }
    printFaultRow(name, f);
}

// ---- Options and main -------------------------------------------------------

struct Options {
    QString simulatorProgram;
    int rounds = 5;
    int faultPorts = 1000;
    int periodMs = 3000;
    int lockSeconds = 30;
    int outageSeconds = 60;
    int kills = 20;
    int restarts = 10;
    int outboxLockSeconds = 75;
    int startLockSeconds = 15;
    int fullSeconds = 60;
    int readOnlySeconds = 60;
    int dstKills = 10;
    int hangSeconds = 60;
    QString telvarProgram;
    QString demoInstallProgram;
    QStringList only;

    bool wants(const char* what) const
    {
        return only.isEmpty() || only.contains(QString::fromLatin1(what));
    }
};

int number(const QCommandLineParser& parser, const QCommandLineOption& option, int low, int high)
{
    return std::clamp(parser.value(option).toInt(), low, high);
}

// e. Two `telvar --headless` routers on one installation, the second under
// another host name (a UTS namespace of its own), so that the instance
// lock, which is per host, lets it start and only the outbox's claim can
// stop it. Both are killed with SIGKILL and started again, the first to
// start taking turns, each time once readings wait in the outbox; what
// waited at each kill is read from the outbox file, and a last start of
// the benchmark's own router records what is left.
struct SecondRouterRound {
    bool acquired = false;
    bool refused = false;
    QByteArray errors;
};

// The readings an outbox file holds waiting (its pending table), read
// without a router.
QSet<quint64> outboxWaiting(const QString& path)
{
    const QString connection = QStringLiteral("outbox-waiting");
    QSet<quint64> keys;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT puert, valor FROM pending"))) {
                while (q.next())
                    keys.insert(readingKey(q.value(0).toInt(),
                                           std::llround(q.value(1).toString().toDouble())));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return keys;
}

void faultSecondRouter(const Options& options, const std::vector<PortRow>& rows)
{
    const QString name = QStringLiteral("e. SQLite: a second telvar --headless on another host, "
                                        "both killed %1 times")
                             .arg(options.restarts);
    if (::geteuid() != 0) {
        printNotMeasured(name, QStringLiteral("another host name needs a UTS namespace "
                                              "(unshare --uts), which needs root"));
        return;
    }
    for (const QString& program : {options.telvarProgram, options.demoInstallProgram}) {
        if (!QFileInfo(program).isExecutable()) {
            printNotMeasured(name, program + QStringLiteral(" not built (targets telvar and "
                                                            "telvar_demo_install)"));
            return;
        }
    }
    // The benchmark's installation with what the program reads at its
    // start besides: company, language, shifts and covers as the demo
    // installer writes them, the password file and the directory of
    // engines, whose [JET4] folder holds the SPC database.
    Installation installation(Engine::Sqlite, std::nullopt);
    Modulo1& m = installation.m;
    QTemporaryDir demo;
    QString output;
    if (!demo.isValid() || !runProgram(options.demoInstallProgram, {demo.path()}, output)) {
        printNotMeasured(name, QStringLiteral("the demo installer failed: ") + output);
        return;
    }
    for (const char* file :
         {"QLCompa.iau", "QLLang.IAU", "QLTurn.IAU", "CARATULA1.JPG", "CARATULA2.JPG"}) {
        const QString from = demo.filePath(QStringLiteral("IAu/") + QLatin1String(file));
        if (!QFile::copy(from, m.RutaIAU + QLatin1String(file)))
            die(from + QStringLiteral(": cannot be copied"));
    }
    const std::optional<QByteArray> password = encodePassword(m.PassBD);
    QFile passwordFile(m.RutaIAU + QStringLiteral("QLTRPASS.IAU"));
    if (!password || !passwordFile.open(QIODevice::WriteOnly))
        die(QStringLiteral("QLTRPASS.IAU cannot be written"));
    passwordFile.write(*password + "\r\n");
    passwordFile.close();
    QFile directory(m.RutaIAU + QStringLiteral("QLDirec.iau"));
    if (!directory.open(QIODevice::WriteOnly))
        die(QStringLiteral("QLDirec.iau cannot be written"));
    directory.write(QByteArray("[IMAGE],\"demo\"\r\n[JET4],\"") + QFile::encodeName(m.RutaDatos) +
                    "\"\r\n[POSTGRESQL],\"127.0.0.1:5432\",\"qualitra\",\"telvar\"\r\n");
    directory.close();
    if (!QFile::copy(m.RutaApp + QStringLiteral("Qualitra.MDB"),
                     m.RutaDatos + QStringLiteral("Qualitra.MDB")))
        die(QStringLiteral("Qualitra.MDB cannot be copied into the data folder"));
    {
        // The master tables whose key widths the program reads at its start.
        auto spc =
            open(jetConnectionString(m.RutaDatos + QStringLiteral("Qualitra.MDB"), m.PassBD));
        for (const auto& [table, key, description, width] :
             std::initializer_list<std::tuple<const char*, const char*, const char*, int>>{
                 {"USU", "USUCLAVE", "USUDESCR", kWidths.Opera},
                 {"EST", "ESTCLAVE", "ESTDESC1", kWidths.Estac},
                 {"MAQ", "MAQCLAVE", "MAQDESC1", kWidths.Maqui},
                 {"PRO", "PROCLAVE", "PRODESC1", kWidths.Produ},
                 {"FRM", "FRMCLAVE", "FRMDESC1", kWidths.Forma},
                 {"CAR", "CARCLAVE", "CARDESC1", kWidths.Carac},
                 {"INS", "INSCLAVE", "INSDESCR", 8}})
            run(*spc, QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(%3), %4 VARCHAR(40))")
                          .arg(QLatin1String(table), QLatin1String(key))
                          .arg(width)
                          .arg(QLatin1String(description)));
    }
    installation.setPorts(rows);
    // Clock 1 every minute (its shortest interval).
    installation.setClockMinutes(1, 1);
    installation.clearData();
    installation.clearUnrecorded();

    const QString folder = QDir(m.RutaApp).absolutePath();
    const QString outbox = Outbox::pathForInstallation(m.RutaApp);
    const QStringList arguments = {QStringLiteral("--headless"), QStringLiteral("--start"),
                                   QStringLiteral("--installation"), folder};
    const auto startRouter = [&](QProcess& process, bool otherHost) {
        if (otherHost) {
            QString command = QStringLiteral("hostname telvar-other-pc && exec");
            for (const QString& word : QStringList{options.telvarProgram} + arguments)
                command += QStringLiteral(" '") + word + QLatin1Char('\'');
            process.setProgram(QStringLiteral("unshare"));
            process.setArguments(
                {QStringLiteral("--uts"), QStringLiteral("sh"), QStringLiteral("-c"), command});
        } else {
            process.setProgram(options.telvarProgram);
            process.setArguments(arguments);
        }
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start();
        if (!process.waitForStarted(10000))
            die(process.program() + QStringLiteral(": ") + process.errorString());
        childPids().push_back(process.processId());
    };

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    QSet<quint64> waitedAtKills;
    int refusals = 0;
    int bothAcquired = 0;
    int noneAcquired = 0;
    int noReadings = 0;
    QStringList refusalSample;
    QElapsedTimer whole;
    whole.start();
    for (int round = 0; round < options.restarts; ++round) {
        std::array<QProcess, 2> routers;
        std::array<SecondRouterRound, 2> seen;
        const int first = round % 2;
        startRouter(routers[static_cast<size_t>(first)], first == 1);
        pause(1000);
        startRouter(routers[static_cast<size_t>(1 - first)], first == 0);
        // Until readings wait in the outbox (clock 1 comes once a minute).
        const bool waiting = waitUntil(
            [&] {
                for (size_t i = 0; i < 2; ++i) {
                    seen[i].errors += routers[i].readAllStandardError();
                    seen[i].acquired = seen[i].errors.contains("Telvar: acquiring");
                    seen[i].refused = seen[i].errors.contains("in use by another Telvar router");
                }
                return outboxCount(outbox, QStringLiteral("pending")) > 0;
            },
            90000);
        if (waiting)
            pause(std::uniform_int_distribution<int>(0, 300)(random));
        for (QProcess& router : routers) {
            const qint64 pid = router.processId();
            if (router.state() != QProcess::NotRunning) {
                router.kill();
                router.waitForFinished(10000);
            }
            std::erase(childPids(), pid);
        }
        int acquired = 0;
        for (size_t i = 0; i < 2; ++i) {
            seen[i].errors += routers[i].readAllStandardError();
            seen[i].acquired = seen[i].errors.contains("Telvar: acquiring");
            seen[i].refused = seen[i].errors.contains("in use by another Telvar router");
            refusals += seen[i].refused;
            acquired += seen[i].acquired && !seen[i].refused;
            if (seen[i].refused && refusalSample.isEmpty()) {
                for (const QByteArray& line : seen[i].errors.split('\n')) {
                    if (line.contains("in use by another Telvar router"))
                        refusalSample.append(QString::fromUtf8(line).left(300));
                }
            }
        }
        bothAcquired += acquired == 2;
        noneAcquired += acquired == 0;
        noReadings += !waiting;
        const QSet<quint64> left = outboxWaiting(outbox);
        waitedAtKills.unite(left);
        std::fprintf(stderr, "round %d: first %s; %d waiting at the kill; errors: %s | %s\n",
                     round + 1, first == 0 ? "this host" : "the other host",
                     static_cast<int>(left.size()),
                     qPrintable(QString::fromUtf8(seen[0].errors).simplified().left(300)),
                     qPrintable(QString::fromUtf8(seen[1].errors).simplified().left(300)));
    }
    const double killedSeconds = millis(whole) / 1000.0;

    FaultFigures f;
    {
        RouterRun run(installation, rows, outbox);
        LatenessProbe probe;
        probe.start();
        run.router->open();
        QElapsedTimer drain;
        drain.start();
        waitUntil([&] { return run.router->recording().isOpen(); }, 10000);
        pause(2000);
        waitUntil([&] { return run.router->recording().waiting() == 0; }, kDrainLimitMs);
        f.drainSeconds = millis(drain) / 1000.0;
        f.quarantined = run.router->recording().quarantinedCount();
        f.late = run.late;
        f.boxes = run.ui.boxes;
    }
    // What the tables hold is kept; so is what waited at a kill.
    QSet<quint64> kept = waitedAtKills;
    const Cells before = installation.cells();
    for (auto it = before.counts.cbegin(); it != before.counts.cend(); ++it)
        kept.insert(it.key());
    countTables(f, kept, installation);
    f.kept = kept.size();
    f.produced = kept.size();
    f.cycles = static_cast<int>(f.cells.rows / kTables);
    // The program's window thread is not watched from outside.
    f.worstBusyMs = std::numeric_limits<double>::quiet_NaN();
    f.note = QStringLiteral("%1 rounds in %2 s, %3 starts refused of %4 (%5 rounds with both "
                            "acquiring, %6 with neither, %7 without readings waiting before "
                            "the kill); %8 readings waited in the outbox at the kills; the last "
                            "start (the benchmark's router) emptied it in %9 s; produced = kept "
                            "= readings in the tables or waiting at a kill; cycles = rows per "
                            "table; busy not measured inside telvar; seed %10")
                 .arg(options.restarts)
                 .arg(killedSeconds, 0, 'f', 0)
                 .arg(refusals)
                 .arg(options.restarts * 2)
                 .arg(bothAcquired)
                 .arg(noneAcquired)
                 .arg(noReadings)
                 .arg(waitedAtKills.size())
                 .arg(f.drainSeconds, 0, 'f', 1)
                 .arg(seed);
    if (!refusalSample.isEmpty())
        f.note += QStringLiteral("; the refusal said: ") + refusalSample.first();
    printFaultRow(name, f);
}

} // namespace

int main(int argc, char** argv)
{
    BenchApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The road of a reading from its page to its committed row, and under "
                       "faults."));
    parser.addHelpOption();
    const QCommandLineOption only(
        QStringLiteral("only"),
        QStringLiteral("What to run, comma-separated: 1 (speed), a to l (faults)."),
        QStringLiteral("LIST"));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Cycles timed after the first."),
                                    QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption faultPorts(QStringLiteral("fault-ports"),
                                        QStringLiteral("Ports of the fault rows."),
                                        QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption period(QStringLiteral("period-ms"),
                                    QStringLiteral("Time between cycles under a fault."),
                                    QStringLiteral("MS"), QStringLiteral("3000"));
    const QCommandLineOption lockSeconds(QStringLiteral("lock-seconds"),
                                         QStringLiteral("How long the data file is locked."),
                                         QStringLiteral("S"), QStringLiteral("30"));
    const QCommandLineOption outageSeconds(
        QStringLiteral("outage-seconds"),
        QStringLiteral("How long PostgreSQL is stopped, and stalled."), QStringLiteral("S"),
        QStringLiteral("60"));
    const QCommandLineOption killsOption(QStringLiteral("kills"),
                                         QStringLiteral("How many times the router is killed."),
                                         QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption restartsOption(
        QStringLiteral("restarts"),
        QStringLiteral("How many times the two routers of row e are killed and started."),
        QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption outboxLockSeconds(
        QStringLiteral("outbox-lock-seconds"),
        QStringLiteral("How long the outbox is locked across cycles (f)."), QStringLiteral("S"),
        QStringLiteral("75"));
    const QCommandLineOption startLockSeconds(
        QStringLiteral("start-lock-seconds"),
        QStringLiteral("How long the outbox is locked from before the router's start (g)."),
        QStringLiteral("S"), QStringLiteral("15"));
    const QCommandLineOption fullSeconds(
        QStringLiteral("full-seconds"),
        QStringLiteral("How long the outbox's file system is full (h)."), QStringLiteral("S"),
        QStringLiteral("60"));
    const QCommandLineOption readOnlySeconds(
        QStringLiteral("readonly-seconds"),
        QStringLiteral("How long the data folder (i) and the server (j) are read-only."),
        QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption dstKills(
        QStringLiteral("dst-kills"),
        QStringLiteral("How many times the router is killed in the repeated hour (k)."),
        QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption hangSeconds(
        QStringLiteral("hang-seconds"),
        QStringLiteral("How long cycles run beside the silent page (l)."), QStringLiteral("S"),
        QStringLiteral("60"));
    const QCommandLineOption telvarOption(
        QStringLiteral("telvar"), QStringLiteral("The telvar program (e)."), QStringLiteral("PATH"),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("telvar")));
    const QCommandLineOption demoInstallOption(
        QStringLiteral("demo-install"),
        QStringLiteral("The demo installer, whose installation files row e borrows."),
        QStringLiteral("PATH"),
        QDir(QCoreApplication::applicationDirPath())
            .filePath(QStringLiteral("telvar_demo_install")));
    const QCommandLineOption simulator = bench::simulatorOption();
    // The benchmark's own children.
    const QCommandLineOption holdLockOption(QStringLiteral("hold-lock"),
                                            QStringLiteral("(child) Locks a file."),
                                            QStringLiteral("FILE"));
    const QCommandLineOption holdSeconds(QStringLiteral("hold-seconds"),
                                         QStringLiteral("(child) How long."), QStringLiteral("S"),
                                         QStringLiteral("30"));
    const QCommandLineOption child(QStringLiteral("child"),
                                   QStringLiteral("(child) Runs the router of a description."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption outboxOption(
        QStringLiteral("outbox"), QStringLiteral("(child) The outbox."), QStringLiteral("PATH"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("(child) Where kept readings go."),
                                       QStringLiteral("PATH"));
    const QCommandLineOption drainOption(
        QStringLiteral("drain"),
        QStringLiteral("(child) Records what the outbox holds, then ends."));
    parser.addOptions({only,
                       rounds,
                       faultPorts,
                       period,
                       lockSeconds,
                       outageSeconds,
                       killsOption,
                       restartsOption,
                       outboxLockSeconds,
                       startLockSeconds,
                       fullSeconds,
                       readOnlySeconds,
                       dstKills,
                       hangSeconds,
                       telvarOption,
                       demoInstallOption,
                       simulator,
                       holdLockOption,
                       holdSeconds,
                       child,
                       outboxOption,
                       logOption,
                       drainOption});
    parser.process(app);

    if (parser.isSet(holdLockOption))
        return holdLock(parser.value(holdLockOption), number(parser, holdSeconds, 1, 3600));
    if (parser.isSet(child))
        return childRouter(parser.value(child), parser.value(outboxOption), parser.value(logOption),
                           number(parser, period, 0, 600000), parser.isSet(drainOption));

    Options options;
    options.simulatorProgram = parser.value(simulator);
    options.rounds = number(parser, rounds, 1, 1000);
    options.faultPorts = number(parser, faultPorts, 1, kMaxPorts);
    options.periodMs = number(parser, period, 100, 600000);
    options.lockSeconds = number(parser, lockSeconds, 1, 3600);
    options.outageSeconds = number(parser, outageSeconds, 1, 3600);
    options.kills = number(parser, killsOption, 1, 1000);
    options.restarts = number(parser, restartsOption, 1, 1000);
    options.outboxLockSeconds = number(parser, outboxLockSeconds, 1, 3600);
    options.startLockSeconds = number(parser, startLockSeconds, 1, 3600);
    options.fullSeconds = number(parser, fullSeconds, 1, 3600);
    options.readOnlySeconds = number(parser, readOnlySeconds, 1, 3600);
    options.dstKills = number(parser, dstKills, 1, 1000);
    options.hangSeconds = number(parser, hangSeconds, 1, 3600);
    options.telvarProgram = parser.value(telvarOption);
    options.demoInstallProgram = parser.value(demoInstallOption);
    if (parser.isSet(only))
        options.only = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);

    const std::optional<PgCluster> pg = PgCluster::fromEnvironment();
    const Simulator stations(options.simulatorProgram, kHosts);
    std::printf("Station simulator: %d hosts on 127.0.0.1:%u..., its own process\n", kHosts,
                unsigned{stations.ports().front()});
    std::printf("Load average at the start: %s (wall times mean little on a busy machine)\n",
                qPrintable(loadAverage()));
    std::printf("Installation: %d data tables (SQLite files: rollback journal, full sync; "
                "PostgreSQL: tables of the data database%s); each port its own characteristic "
                "column; every reading within its limits.\n",
                kTables, pg ? ", fsync on" : ": no cluster, skipped");

    std::unique_ptr<Installation> sqlite = std::make_unique<Installation>(Engine::Sqlite, pg);
    std::unique_ptr<Installation> postgres;
    if (pg)
        postgres = std::make_unique<Installation>(Engine::Postgres, pg);

    if (options.wants("1")) {
        std::printf(
            "\n1. Page to committed row, in ms: 'first', 'median', 'worst' from clock 1's button "
            "to the last of the cycle's readings committed in its table (first cycle, then "
            "median and worst of %d); 'rdg/s' readings per second at the median; 'cycle' from "
            "the button to the cycle's end (every reading handed to the recording), median; "
            "'busy' the window thread's longest stretch away from its event loop (a 1 ms "
            "timer's lateness) within a cycle, median, and 'busymax' the longest over the whole "
            "run of the configuration (between cycles too); 'flush/cy' the outbox's commits "
            "on the window thread per cycle, 'flush ms' their time per cycle (median), "
            "'flushmax' the longest one; 'commit/t' the writer's commits per data table per "
            "cycle (median); then the readings kept, and found once, twice and never in the "
            "tables after the runs.\n",
            options.rounds);
        printSpeedHeader();
        QStringList longest = benchSpeed(*sqlite, stations, options.rounds);
        if (postgres)
            longest += benchSpeed(*postgres, stations, options.rounds);
        else
            std::printf("%-10s not measured: TELVAR_PG_HOST not set (scripts/bench starts a "
                        "cluster)\n",
                        "PostgreSQL");
        for (const QString& line : std::as_const(longest))
            std::printf("  %s\n", qPrintable(line));
        benchAppend(*sqlite);
    }

    const std::vector<PortRow> faultRows = spreadPorts(stations, options.faultPorts);
    bool anyFault = false;
    for (const char* row : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"})
        anyFault = anyFault || options.wants(row);
    if (anyFault) {
        std::printf("\nFaults, %d ports on 50 hosts, a cycle every %.1f s while the fault lasts "
                    "(d: back to back, 100 ms apart): readings produced by the pages, kept by "
                    "the outbox, recorded (found in the tables), 'late' as the writer counts "
                    "them (recorded by the batch at which a failing table came back), "
                    "duplicated (a value found more than once) and lost (a kept reading not "
                    "found); 'busy' the window thread's longest stretch over the whole row; "
                    "'quar' quarantined; 'unrec' readings the file of unrecorded readings "
                    "names, 'misrep' those of them found in a data table all the same.\n",
                    options.faultPorts, options.periodMs / 1000.0);
        printFaultHeader();
    }
    if (options.wants("a"))
        faultLockedFile(
            *sqlite, faultRows,
            QStringLiteral("a. SQLite: one data file locked %1 s").arg(options.lockSeconds),
            sqlite->dataFile(0), QStringLiteral("outbox-lock.sqlite"), options.lockSeconds,
            options.periodMs, LockWhen::DuringCycles);
    const auto killRow = [&options](const Installation& installation) {
        KillPlan plan;
        plan.name = QStringLiteral("d. %1: SIGKILL at %2 random moments of cycles")
                        .arg(QLatin1String(engineName(installation.engine())))
                        .arg(options.kills);
        plan.kills = options.kills;
        return plan;
    };
    if (options.wants("d"))
        faultKilled(*sqlite, faultRows, killRow(*sqlite));
    if (options.wants("d")) {
        if (postgres)
            faultKilled(*postgres, faultRows, killRow(*postgres));
        else
            printNotMeasured(QStringLiteral("d. PostgreSQL: SIGKILL"),
                             QStringLiteral("no PostgreSQL cluster"));
    }
    if (options.wants("b")) {
        if (postgres)
            faultServerStopped(*postgres, *pg, faultRows, options.outageSeconds, options.periodMs);
        else
            printNotMeasured(QStringLiteral("b. PostgreSQL stopped"),
                             QStringLiteral("no PostgreSQL cluster"));
    }
    if (options.wants("c")) {
        if (postgres)
            faultServerStalled(*postgres, *pg, faultRows, options.outageSeconds, options.periodMs);
        else
            printNotMeasured(QStringLiteral("c. PostgreSQL stalled"),
                             QStringLiteral("no PostgreSQL cluster"));
    }
    if (options.wants("e"))
        faultSecondRouter(options, faultRows);
    if (options.wants("f")) {
        const QString outbox = QStringLiteral("outbox-held.sqlite");
        faultLockedFile(*sqlite, faultRows,
                        QStringLiteral("f. SQLite: the outbox locked %1 s across cycles")
                            .arg(options.outboxLockSeconds),
                        sqlite->path(outbox), outbox, options.outboxLockSeconds, options.periodMs,
                        LockWhen::DuringCycles);
    }
    if (options.wants("g")) {
        const QString outbox = QStringLiteral("outbox-startlock.sqlite");
        faultLockedFile(*sqlite, faultRows,
                        QStringLiteral("g. SQLite: the outbox locked %1 s as the router starts")
                            .arg(options.startLockSeconds),
                        sqlite->path(outbox), outbox, options.startLockSeconds, options.periodMs,
                        LockWhen::BeforeStart);
    }
    if (options.wants("h"))
        faultFullFileSystem(*sqlite, faultRows, options.fullSeconds, options.periodMs);
    if (options.wants("i"))
        faultReadOnlyData(*sqlite, faultRows, options.readOnlySeconds, options.periodMs);
    if (options.wants("j")) {
        if (postgres)
            faultServerReadOnly(*postgres, *pg, faultRows, options.readOnlySeconds,
                                options.periodMs);
        else
            printNotMeasured(QStringLiteral("j. PostgreSQL read-only transactions"),
                             QStringLiteral("no PostgreSQL cluster"));
    }
    if (options.wants("k"))
        faultRepeatedHour(*sqlite, faultRows, options.dstKills);
    if (options.wants("l"))
        faultHangingPage(*sqlite, stations, options.hangSeconds, options.periodMs);
    std::printf("\nLoad average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
