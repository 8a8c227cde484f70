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
// The fault rows count, in the data tables, each reading the cycles
// produced: recorded, duplicated (a value present more than once) and lost
// (a kept reading absent at the end).
//
// Options: --only LIST (1, a, b, c, d; comma-separated; all by default),
// --rounds N (cycles timed after the first, default 5), --fault-ports N
// (default 1000), --period-ms N (between cycles under a fault, default
// 3000), --lock-seconds N (30), --outage-seconds N (60), --kills N
// (20), --simulator PATH.

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

#include <QCommandLineParser>
#include <QCoreApplication>
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
#include <fcntl.h>
#include <functional>
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
#include <thread>
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
                for (const auto& [field, puert] : columns) {
                    const QVariant cell = q.value(field);
                    if (cell.isNull())
                        continue;
                    ++found.total;
                    ++found.counts[readingKey(puert, std::llround(cell.toDouble()))];
                }
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

    void start()
    {
        if (router->configDatabase().Reinicia() != ReiniciaOutcome::Done)
            die(QStringLiteral("Reinicia failed"));
        router->open();
        if (!router->recording().isOpen())
            die(QStringLiteral("the outbox did not open"));
        router->acquisition().cmdAbre_Click();
        if (!router->acquisition().isRunning())
            die(QStringLiteral("the acquisition did not start"));
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
    QString note;
};

void printFaultHeader()
{
    std::printf("\n%-58s %6s %8s %8s %6s %5s %5s %9s %7s %6s %5s\n", "fault", "cycles", "produced",
                "kept", "record", "late", "dup", "lost", "busy ms", "quar", "boxes");
}

void printFaultRow(const QString& name, const FaultFigures& f)
{
    std::printf("%-58s %6d %8lld %8lld %6lld %5lld %5lld %9lld %7.1f %6lld %5d\n", qPrintable(name),
                f.cycles, static_cast<long long>(f.produced), static_cast<long long>(f.kept),
                static_cast<long long>(f.counted.recorded), static_cast<long long>(f.late),
                static_cast<long long>(f.counted.duplicated),
                static_cast<long long>(f.counted.lost), f.worstBusyMs,
                static_cast<long long>(f.quarantined), f.boxes);
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
};

// Cycles of clock 1 every periodMs while the fault comes and goes; then
// waits until the outbox is empty and counts the tables.
FaultFigures runUnderFault(Installation& installation, const std::vector<PortRow>& rows,
                           const QString& outboxName, const FaultPlan& plan)
{
    installation.setPorts(rows);
    installation.clearData();
    FaultFigures figures;
    QSet<quint64> produced;
    {
        RouterRun run(installation, rows, installation.path(outboxName));
        run.start();
        Acquisition& acquisition = run.router->acquisition();
        LatenessProbe probe;
        probe.start();
        g_longestEvent = {};
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
    }
    figures.produced = produced.size();
    figures.counted = tally(produced, installation.cells());
    if (figures.note.isEmpty())
        figures.note = QStringLiteral("at most %1 readings waited in the outbox; it was empty %2 s "
                                      "after the last cycle")
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

void faultLockedFile(Installation& installation, const std::vector<PortRow>& rows, int lockSeconds,
                     int periodMs)
{
    const QString name = QStringLiteral("a. SQLite: one data file locked %1 s").arg(lockSeconds);
    QProcess holder;
    holder.setProgram(QCoreApplication::applicationFilePath());
    holder.setArguments({QStringLiteral("--hold-lock"), installation.dataFile(0),
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
    // Started without waiting: the window thread is what is measured.
    plan.begin = [&] { holder.start(); };
    plan.end = [] {};
    FaultFigures f = runUnderFault(installation, rows, QStringLiteral("outbox-lock.sqlite"), plan);
    const qint64 holderPid = holder.processId();
    if (holder.state() != QProcess::NotRunning)
        holder.waitForFinished(lockSeconds * 1000 + 10000);
    std::erase(childPids(), holderPid);
    if (lockedForMs < 0) {
        printNotMeasured(name, QStringLiteral("the lock holder never held the file"));
        return;
    }
    f.note += QStringLiteral("; %1 held %2 s")
                  .arg(QFileInfo(installation.dataFile(0)).fileName())
                  .arg(static_cast<double>(lockedForMs) / 1000.0, 0, 'f', 1);
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

// d. The router as a child process ("--child DESCRIPTION --outbox PATH
// --log PATH"): it runs clock 1's cycle again and again, and after each
// cycle appends the readings the recording has kept (the outbox's commit of
// the cycle's readings returned, no box shown) to the log, in one write
// ending with an "end" line.
int childRouter(const QString& description, const QString& outboxPath, const QString& logPath,
                int periodMs)
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
    QList<quint64> cycle;
    TapLoader loader([&cycle](const QString& url, qint64 sample) {
        const QRegularExpressionMatch match = station.match(url);
        if (match.hasMatch())
            cycle.append(readingKey(match.captured(1).toInt(), sample));
    });
    SystemClock clock;
    Router router(m, ui, loader, clock, outboxPath);
    if (router.configDatabase().Reinicia() != ReiniciaOutcome::Done)
        return fail("Reinicia failed");
    router.open();
    if (!router.recording().isOpen())
        return fail("the outbox did not open");
    Acquisition& acquisition = router.acquisition();
    acquisition.cmdAbre_Click();
    if (!acquisition.isRunning())
        return fail("the acquisition did not start");
    std::printf("running\n");
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
            for (const quint64 key : std::as_const(cycle))
                block += "v " + QByteArray::number(key) + '\n';
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
    QList<quint64> block;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("v ")) {
            block.append(line.mid(2).toULongLong());
        } else if (line.startsWith("end ")) {
            ++parsed.cycles;
            parsed.worstBusyMs = std::max(parsed.worstBusyMs, line.mid(4).toDouble());
            for (const quint64 key : std::as_const(block))
                parsed.kept.insert(key);
            block.clear();
        }
    }
    return parsed;
}

void faultKilled(Installation& installation, const std::vector<PortRow>& rows, int killCount)
{
    const QString name = QStringLiteral("d. %1: SIGKILL at %2 random moments of cycles")
                             .arg(QLatin1String(engineName(installation.engine())))
                             .arg(killCount);
    installation.setPorts(rows);
    installation.clearData();
    const QString description = installation.path(QStringLiteral("child.txt"));
    const QString outbox = installation.path(QStringLiteral("outbox-kill.sqlite"));
    const QString logPath = installation.path(QStringLiteral("kill.log"));
    QFile::remove(outbox);
    QFile::remove(logPath);
    writeDescription(installation.m, description);

    // Three kills in four land at a random moment of the second after the
    // child's acquisition started (pages on the way, readings handed on, the
    // outbox's commit, the writer's batches); the fourth at a random moment
    // of its start, while the writer takes up what the last one left.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> afterRunning(0, 1000);
    qint64 startupMs = 300;
    int kills = 0;
    int exitedEarly = 0;
    for (int round = 0; round < killCount; ++round) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--child"), description, QStringLiteral("--outbox"),
                            outbox, QStringLiteral("--log"), logPath, QStringLiteral("--period-ms"),
                            QStringLiteral("100")});
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
            if (!running && child.readAllStandardOutput().contains("running")) {
                running = true;
                startupMs = since.elapsed();
                loop.quit();
            }
        });
        QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer moment;
        moment.setSingleShot(true);
        QObject::connect(&moment, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (round % 4 == 3) {
            moment.start(
                std::uniform_int_distribution<int>(0, static_cast<int>(startupMs))(random));
            loop.exec();
        } else {
            moment.start(30000);
            loop.exec();
            if (running && child.state() != QProcess::NotRunning) {
                moment.start(afterRunning(random));
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
    const ChildLog childLog = readChildLog(logPath);

    // A last start records what the killed ones left in the outbox.
    FaultFigures f;
    {
        RouterRun run(installation, rows, outbox);
        LatenessProbe probe;
        probe.start();
        run.router->open();
        QElapsedTimer drain;
        drain.start();
        const bool drained =
            waitUntil([&] { return run.router->recording().waiting() == 0; }, kDrainLimitMs);
        f.drainSeconds = millis(drain) / 1000.0;
        f.quarantined = run.router->recording().quarantinedCount();
        f.late = run.late;
        f.boxes = run.ui.boxes;
        f.worstBusyMs = std::max(childLog.worstBusyMs, probe.worstMs());
        f.note = drained ? QStringLiteral("%1 kills (%2 children ended by themselves), %3 "
                                          "cycles completed between them, moments drawn with "
                                          "seed %5; the last start emptied the outbox in %4 s")
                               .arg(kills)
                               .arg(exitedEarly)
                               .arg(childLog.cycles)
                               .arg(f.drainSeconds, 0, 'f', 1)
                               .arg(seed)
                         : QStringLiteral("the outbox still held %1 readings after %2 s")
                               .arg(run.router->recording().waiting())
                               .arg(kDrainLimitMs / 1000);
    }
    f.cycles = childLog.cycles;
    f.produced = childLog.kept.size();
    f.kept = childLog.kept.size();
    f.counted = tally(childLog.kept, installation.cells());
    f.note += QStringLiteral("; kept = readings the children logged as kept; %1 more readings "
                             "kept before a kill and not yet logged are in the tables too")
                  .arg(f.counted.unlisted);
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
        QStringLiteral("What to run, comma-separated: 1 (speed), a, b, c, d (faults)."),
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
    parser.addOptions({only, rounds, faultPorts, period, lockSeconds, outageSeconds, killsOption,
                       simulator, holdLockOption, holdSeconds, child, outboxOption, logOption});
    parser.process(app);

    if (parser.isSet(holdLockOption))
        return holdLock(parser.value(holdLockOption), number(parser, holdSeconds, 1, 3600));
    if (parser.isSet(child))
        return childRouter(parser.value(child), parser.value(outboxOption), parser.value(logOption),
                           number(parser, period, 0, 600000));

    Options options;
    options.simulatorProgram = parser.value(simulator);
    options.rounds = number(parser, rounds, 1, 1000);
    options.faultPorts = number(parser, faultPorts, 1, kMaxPorts);
    options.periodMs = number(parser, period, 100, 600000);
    options.lockSeconds = number(parser, lockSeconds, 1, 3600);
    options.outageSeconds = number(parser, outageSeconds, 1, 3600);
    options.kills = number(parser, killsOption, 1, 1000);
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
    const bool anyFault =
        options.wants("a") || options.wants("b") || options.wants("c") || options.wants("d");
    if (anyFault) {
        std::printf("\nFaults, %d ports on 50 hosts, a cycle every %.1f s while the fault lasts "
                    "(d: back to back, 100 ms apart): readings produced by the pages, kept by "
                    "the outbox, recorded (found in the tables), 'late' as the writer counts "
                    "them (recorded by the batch at which a failing table came back), "
                    "duplicated (a value found more than once) and lost (a kept reading not "
                    "found); 'busy' the window thread's longest stretch over the whole row; "
                    "'quar' quarantined.\n",
                    options.faultPorts, options.periodMs / 1000.0);
        printFaultHeader();
    }
    if (options.wants("a"))
        faultLockedFile(*sqlite, faultRows, options.lockSeconds, options.periodMs);
    if (options.wants("d"))
        faultKilled(*sqlite, faultRows, options.kills);
    if (options.wants("d")) {
        if (postgres)
            faultKilled(*postgres, faultRows, options.kills);
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
    std::printf("\nLoad average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
