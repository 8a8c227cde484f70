// Polling cycles of the acquisition over real HTTP: the Acquisition started
// with its button, a clock's cycle run by its button, its pages loaded by
// HttpPageLoader (default options: 2 connections per host) from the station
// simulator, which runs as its own program so that the CPU time and memory
// printed here are the program's alone. Scenarios:
//   1  10, 100 and 1000 ports on distinct pages over 50 station hosts
//   2  the same counts on one host
//   3  the same counts on one shared page
//   4  100 fast ports on 50 hosts, without and with 10 ports on a slow host
//      (every body 40 ms after its head, as a device with Nagle's algorithm)
//   5  the program's CPU time while ten clocks are armed and none is due
//   6  the start itself with 1000 active ports, SQLite and (when
//      TELVAR_PG_HOST names a cluster) PostgreSQL as the SPC database
// and, for comparison with the full cycle, the loader alone loading 1000
// pages on 50 hosts.
//
// Options: --cycles N (cycles timed after the first, default 7),
// --idle-seconds N (default 60; 0 skips it), --starts N (default 5),
// --cxp-rows N (default 20000), --only LIST (scenarios by number, and
// "loader", comma-separated; all by default), --simulator PATH.

#include "BenchFailures.h"
#include "BenchFigures.h"
#include "BenchInstallation.h"
#include "BenchPostgres.h"
#include "BenchSimulator.h"
#include "acquisition/Acquisition.h"
#include "acquisition/Clock.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/PageLoader.h"
#include "acquisition/ReadingCheck.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/ConfigDatabase.h"
#include "config/ConfigTexts.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace telvar;

using namespace telvar::bench;

// ---- Measuring the program ----------------------------------------------

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The program's own CPU time, user and system, in seconds.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long contextSwitches()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// The peak resident memory starts again from the current one, so that each
// scenario reports its own peak.
void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

// VmHWM, in MiB.
double peakMemoryMiB()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Runs the event loop until done() holds, checking it whenever sender emits
// signal; dies after limitMs.
template <typename Sender, typename Signal>
void waitFor(const Sender* sender, Signal signal, const std::function<bool()>& done, int limitMs,
             const char* what)
{
    if (done())
        return;
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    bool expired = false;
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        expired = true;
        loop.quit();
    });
    limit.start(limitMs);
    loop.exec();
    if (expired)
        die(QStringLiteral("gave up waiting for ") + QString::fromLatin1(what));
}

// ---- What the acquisition talks to ----------------------------------------

// Counts the readings handed on and checks that they come in port order.
class CountingCheck final : public ReadingCheck {
public:
    Status LabelLee(const PortReading& reading) override
    {
        if (reading.Puert <= m_lastPuert)
            ++outOfOrder;
        m_lastPuert = reading.Puert;
        if (!reading.reading.trimmed().isEmpty())
            ++count;
        return {};
    }

    void reset()
    {
        count = 0;
        m_lastPuert = 0;
    }

    int count = 0;
    int outOfOrder = 0;

private:
    int m_lastPuert = 0;
};

// ---- The installation -----------------------------------------------------

struct PortRow {
    int puert = 0;
    QString webPg;
    QString ident;
    QString maqui;
    QString produ;
    QString carac;
    int reloj = 1;
};

const std::array<const char*, 4> kIdents = {"DIAM=", "LARGO=", "PESO=", "TEMP="};
const std::array<const char*, 4> kCaracs = {"DIAM", "LARGO", "PESO", "TEMP"};

// A row whose reading is the station's characteristic number (i mod 4).
PortRow stationRow(int puert, const QString& webPg, int i)
{
    const auto k = static_cast<std::size_t>(i % 4);
    return {puert,
            webPg,
            QString::fromLatin1(kIdents[k]),
            QStringLiteral("MAQ01"),
            QStringLiteral("PROD-A"),
            QString::fromLatin1(kCaracs[k]),
            1};
}

struct CxpRow {
    QString maqui;
    QString produ;
    QString carac;
    double inf = 0;
    double sup = 0;
};

// The CXP table of the SPC database, holding rows.
void createCxp(const Connection& cn, const std::vector<CxpRow>& rows)
{
    createCxpTable(cn);
    insertRows(cn,
               QStringLiteral("INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, CXPLSUPC) "
                              "VALUES (?, ?, ?, ?, ?)"),
               rows, [](const CxpRow& row) {
                   return QVariantList{row.maqui, row.produ, row.carac, row.inf, row.sup};
               });
}

// A program directory with its IAu folder, a configuration database that
// TLVDirec.IAU names, and the program-wide state pointing at them. The SPC
// database is set apart (useSqliteSpc, usePostgresSpc).
class Installation final {
public:
    explicit Installation(const QString& passBD)
    {
        if (!m_dir.isValid())
            die(QStringLiteral("no temporary directory"));
        setUpModulo1(m, m_dir.path() + QLatin1Char('/'), passBD);
        QDir().mkpath(m.RutaIAU);
        m_configPath = createConfiguration(m);
    }

    std::unique_ptr<Connection> openConfig() const
    {
        return open(configConnectionString(m_configPath, m.PassBD));
    }

    // Intervalo of clocks 1 to 10, in minutes.
    void setIntervals(const std::array<int, 10>& minutes)
    {
        auto cn = openConfig();
        for (int reloj = 1; reloj <= 10; ++reloj)
            run(*cn, QStringLiteral("UPDATE HTMRELOJ SET INTER = ? WHERE CLAVE = ?"),
                {minutes[static_cast<std::size_t>(reloj - 1)], reloj});
    }

    // The configuration's ports, replacing those before.
    void setPorts(const std::vector<PortRow>& rows)
    {
        replacePorts(*openConfig(), rows, [](const PortRow& row) {
            return bench::ConfigPort{.puert = row.puert,
                                     .webPg = row.webPg,
                                     .ident = row.ident,
                                     .longi = 6,
                                     .maqui = row.maqui,
                                     .produ = row.produ,
                                     .forma = QStringLiteral("FRM01"),
                                     .carac = row.carac,
                                     .reloj = row.reloj};
        });
    }

    // A SQLite SPC database (Qualitra.MDB) holding cxp in its CXP table.
    void useSqliteSpc(const std::vector<CxpRow>& cxp)
    {
        const QString path = m.RutaApp + QStringLiteral("Qualitra.MDB");
        QFile::remove(path);
        check(EngineLayer::createFileDatabase(path, m.PassBD), path);
        const QString connection = jetConnectionString(path, m.PassBD);
        createCxp(*open(connection), cxp);
        m.TipoBD = QLatin1String(kJetTag);
        m.CadConexion = connection;
    }

    // A PostgreSQL SPC database, already holding its CXP table; the
    // installation's password must be the server's.
    void usePostgresSpc(const ConnectionTarget& target, const QString& database)
    {
        m.TipoBD = target.TipoBD;
        m.Servidor = target.Servidor;
        m.UsuarioBD = target.UsuarioBD;
        m.CadConexion = ArmaConexion(target, database);
    }

    Modulo1 m;

private:
    QTemporaryDir m_dir;
    QString m_configPath;
};

// The CXP rows of the few characteristics the station pages carry.
std::vector<CxpRow> stationCxp()
{
    return {
        {QStringLiteral("MAQ01"), QStringLiteral("PROD-A"), QStringLiteral("DIAM"), 24.95, 25.05},
        {QStringLiteral("MAQ01"), QStringLiteral("PROD-A"), QStringLiteral("LARGO"), 119.5, 120.5},
        {QStringLiteral("***"), QStringLiteral("PROD-A"), QStringLiteral("PESO"), 48, 52},
        {QStringLiteral("***"), QStringLiteral("***"), QStringLiteral("TEMP"), 60, 80}};
}

// ---- The figures ----------------------------------------------------------

struct Options {
    QString simulatorProgram;
    int cycles = 7;
    int idleSeconds = 60;
    int starts = 5;
    int cxpRows = 20000;
    // Empty: every scenario.
    QStringList only;

    bool wants(const char* scenario) const
    {
        return only.isEmpty() || only.contains(QString::fromLatin1(scenario));
    }
};

struct CycleFigures {
    int ports = 0;
    int hosts = 0;
    int pages = 0;
    double firstMs = 0;
    double medianMs = 0;
    int handedOnMin = 0;
    int handedOnMax = 0;
    int outOfOrder = 0;
    double peakMiB = 0;
    double cpuMsPerCycle = 0;
    double simulatorCpuMsPerCycle = 0;
    int boxes = 0;
};

void printCycleHeader()
{
    std::printf("\n%-34s %5s %5s %5s %9s %9s %10s %11s %8s %9s %8s %9s %5s\n", "scenario", "ports",
                "hosts", "pages", "first ms", "median ms", "readings/s", "handed on", "peak MiB",
                "CPU ms/cy", "CPU us/p", "sim ms/cy", "boxes");
}

void printCycleRow(const char* scenario, const CycleFigures& f)
{
    const QString handed =
        (f.handedOnMin == f.handedOnMax
             ? QString::number(f.handedOnMin)
             : QString::number(f.handedOnMin) + QLatin1Char('-') + QString::number(f.handedOnMax)) +
        QLatin1Char('/') + QString::number(f.ports) +
        (f.outOfOrder ? QStringLiteral("!") : QString());
    std::printf("%-34s %5d %5d %5d %9.1f %9.1f %10.0f %11s %8.1f %9.2f %8.1f %9.2f %5d\n", scenario,
                f.ports, f.hosts, f.pages, f.firstMs, f.medianMs,
                f.medianMs > 0 ? f.ports * 1000.0 / f.medianMs : 0.0, qPrintable(handed), f.peakMiB,
                f.cpuMsPerCycle, f.cpuMsPerCycle * 1000.0 / f.ports, f.simulatorCpuMsPerCycle,
                f.boxes);
    std::fflush(stdout);
}

int distinctHosts(const std::vector<PortRow>& rows)
{
    QSet<QString> hosts;
    for (const PortRow& row : rows) {
        const QUrl url(row.webPg);
        hosts.insert(url.host() + QLatin1Char(':') + QString::number(url.port()));
    }
    return static_cast<int>(hosts.size());
}

int distinctPages(const std::vector<PortRow>& rows)
{
    QSet<QString> pages;
    for (const PortRow& row : rows)
        pages.insert(row.webPg);
    return static_cast<int>(pages.size());
}

// Starts the acquisition on rows (all on clock 1), runs clock 1's cycle by
// its button once and then `cycles` times more, and stops.
CycleFigures runCycles(Installation& installation, const std::vector<PortRow>& rows, int cycles,
                       const std::vector<const Simulator*>& simulators)
{
    installation.setPorts(rows);
    resetPeakMemory();

    CycleFigures figures;
    figures.ports = static_cast<int>(rows.size());
    figures.hosts = distinctHosts(rows);
    figures.pages = distinctPages(rows);

    CountingInteraccion ui;
    ConfigDatabase config(installation.m, ui);
    if (config.Reinicia() != ReiniciaOutcome::Done)
        die(QStringLiteral("Reinicia failed"));
    HttpPageLoader loader;
    SystemClock clock;
    CountingCheck readings;
    Acquisition acquisition(installation.m, ui, config, loader, clock, readings);
    acquisition.cmdAbre_Click();
    if (!acquisition.isRunning())
        die(QStringLiteral("the acquisition did not start"));

    bool ended = false;
    QObject::connect(&acquisition, &Acquisition::cycleEnded, &acquisition, [&](int reloj) {
        if (reloj == 1)
            ended = true;
    });
    const auto simulatorCpu = [&] {
        double total = 0;
        for (const Simulator* simulator : simulators)
            total += simulator->cpuSeconds();
        return total;
    };

    std::vector<double> times;
    std::vector<double> cpu;
    double simulatorCpu0 = 0;
    figures.handedOnMin = figures.ports + 1;
    for (int cycle = 0; cycle <= cycles; ++cycle) {
        if (cycle == 1)
            simulatorCpu0 = simulatorCpu();
        readings.reset();
        ended = false;
        const double cpu0 = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        acquisition.bReloj_Click(1);
        waitFor(
            &acquisition, &Acquisition::cycleEnded, [&] { return ended; }, 120000, "a cycle's end");
        const double ms = millis(timer);
        if (cycle == 0) {
            figures.firstMs = ms;
        } else {
            times.push_back(ms);
            cpu.push_back(cpuSeconds() - cpu0);
        }
        figures.handedOnMin = std::min(figures.handedOnMin, readings.count);
        figures.handedOnMax = std::max(figures.handedOnMax, readings.count);
    }
    const int measured = std::max(cycles, 1);
    figures.medianMs = cycles > 0 ? median(times) : figures.firstMs;
    figures.cpuMsPerCycle = median(cpu) * 1000.0;
    figures.simulatorCpuMsPerCycle = (simulatorCpu() - simulatorCpu0) * 1000.0 / measured;
    figures.peakMiB = peakMemoryMiB();
    figures.outOfOrder = readings.outOfOrder;

    acquisition.cmdAbre_Click();
    figures.boxes = ui.boxes;
    return figures;
}

// Ports 1..count on distinct station pages, port i on host (i - 1) mod hosts.
std::vector<PortRow> spreadPorts(const Simulator& simulator, int count, int hosts, int first = 1)
{
    std::vector<PortRow> rows;
    for (int i = 0; i < count; ++i) {
        const int puert = first + i;
        rows.push_back(stationRow(
            puert, simulator.page(i % hosts, QStringLiteral("/station/%1.html").arg(puert)), i));
    }
    return rows;
}

std::vector<PortRow> sharedPagePorts(const Simulator& simulator, int count)
{
    std::vector<PortRow> rows;
    const QString page = simulator.page(0, QStringLiteral("/station/1.html"));
    for (int i = 0; i < count; ++i)
        rows.push_back(stationRow(i + 1, page, i));
    return rows;
}

// The loader alone: count pages on distinct station pages of `hosts` hosts,
// loaded together, once cold and then `rounds` times on the same loader.
void benchLoaderAlone(const Simulator& simulator, int count, int hosts, int rounds,
                      const CycleFigures& cycle)
{
    HttpPageLoader loader;
    std::vector<QString> urls;
    for (int i = 0; i < count; ++i)
        urls.push_back(simulator.page(i % hosts, QStringLiteral("/station/%1.html").arg(i + 1)));
    int got = 0;
    int complete = 0;
    QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                     [&](PageLoader::Ticket, const LoadedPage& page) {
                         ++got;
                         if (page.outcome == PageOutcome::Complete && !page.text.isEmpty())
                             ++complete;
                     });
    double firstMs = 0;
    std::vector<double> times;
    std::vector<double> cpu;
    int incomplete = 0;
    for (int round = 0; round <= rounds; ++round) {
        got = 0;
        complete = 0;
        const double cpu0 = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        for (const QString& url : urls)
            loader.load(url);
        waitFor(
            &loader, &PageLoader::pageLoaded, [&] { return got == count; }, 120000,
            "the loader's pages");
        const double ms = millis(timer);
        incomplete += count - complete;
        if (round == 0) {
            firstMs = ms;
        } else {
            times.push_back(ms);
            cpu.push_back(cpuSeconds() - cpu0);
        }
    }
    const double loaderUs = median(cpu) * 1e6 / count;
    const double cycleUs = cycle.cpuMsPerCycle * 1000.0 / cycle.ports;
    std::printf("\nLoader alone vs. the full cycle, %d distinct pages on %d hosts "
                "(median of %d rounds after the first):\n",
                count, hosts, rounds);
    std::printf("  HttpPageLoader alone   first %7.1f ms   median %7.1f ms   CPU %6.1f us/page"
                "%s\n",
                firstMs, median(times), loaderUs,
                incomplete ? qPrintable(QStringLiteral("   (%1 pages incomplete!)").arg(incomplete))
                           : "");
    std::printf("  full polling cycle     first %7.1f ms   median %7.1f ms   CPU %6.1f us/page\n",
                cycle.firstMs, cycle.medianMs, cycleUs);
    std::printf("  the cycle's own work (cycle minus loader): CPU %6.1f us/page\n",
                cycleUs - loaderUs);
    std::fflush(stdout);
}

// Ten clocks armed (intervals 2..11 minutes: none is due within the first
// minute), each clock's cycle run once by its button so that the loader
// holds its connections, then the event loop left alone for idleSeconds.
void benchIdle(Installation& installation, const Simulator& simulator, int idleSeconds)
{
    std::vector<PortRow> rows = spreadPorts(simulator, 10, 10);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].reloj = static_cast<int>(i) + 1;
    installation.setPorts(rows);
    installation.setIntervals({2, 3, 4, 5, 6, 7, 8, 9, 10, 11});

    CountingInteraccion ui;
    ConfigDatabase config(installation.m, ui);
    if (config.Reinicia() != ReiniciaOutcome::Done)
        die(QStringLiteral("Reinicia failed"));
    HttpPageLoader loader;
    SystemClock clock;
    CountingCheck readings;
    Acquisition acquisition(installation.m, ui, config, loader, clock, readings);
    int cyclesEnded = 0;
    QObject::connect(&acquisition, &Acquisition::cycleEnded, &acquisition,
                     [&](int) { ++cyclesEnded; });
    acquisition.cmdAbre_Click();
    if (!acquisition.isRunning())
        die(QStringLiteral("the acquisition did not start"));
    for (int reloj = 1; reloj <= 10; ++reloj)
        acquisition.bReloj_Click(reloj);
    waitFor(
        &acquisition, &Acquisition::cycleEnded, [&] { return cyclesEnded == 10; }, 60000,
        "the first cycles");
    int armed = 0;
    for (int reloj = 1; reloj <= 10; ++reloj)
        armed += acquisition.clocks().isEnabled(reloj) ? 1 : 0;

    cyclesEnded = 0;
    readings.reset();
    const double cpu0 = cpuSeconds();
    const long switches0 = contextSwitches();
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = millis(timer) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    const long switches = contextSwitches() - switches0;
    acquisition.cmdAbre_Click();
    installation.setIntervals({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

    std::printf("\n5. Idle, %d clocks armed (intervals 2..11 min), %.1f s: CPU %.4f s (%.4f %% "
                "of one core), %ld context switches, %d cycles, %d readings, boxes %d\n",
                armed, wall, cpu, cpu * 100.0 / wall, switches, cyclesEnded, readings.count,
                ui.boxes);
    std::fflush(stdout);
}

// Rows for `count` active ports over the ten clocks, each with its own
// machine, product and characteristic, and the CXP rows: port i finds its
// limits in the (i mod 5)-th of the four lookups (the fifth kind finds
// none), and filler rows of other machines bring CXP to cxpRows rows.
void startInstallation(const Simulator& simulator, int count, int cxpRows,
                       std::vector<PortRow>& rows, std::vector<CxpRow>& cxp)
{
    const QString any = QStringLiteral("***");
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i).rightJustified(5, QLatin1Char('0'));
        PortRow row = stationRow(
            i + 1, simulator.page(i % 50, QStringLiteral("/station/%1.html").arg(i + 1)), i);
        row.maqui = QStringLiteral("M") + n;
        row.produ = QStringLiteral("P") + n;
        row.carac = QStringLiteral("C") + n;
        row.reloj = i % 10 + 1;
        const int kind = i % 5;
        if (kind < 4)
            cxp.push_back({kind % 2 == 0 ? row.maqui : any, kind < 2 ? row.produ : any, row.carac,
                           static_cast<double>(i), static_cast<double>(i) + 0.5});
        rows.push_back(std::move(row));
    }
    for (int i = 0; static_cast<int>(cxp.size()) < cxpRows; ++i)
        cxp.push_back({QStringLiteral("F") + QString::number(i / 400).rightJustified(5, u'0'),
                       QStringLiteral("G") + QString::number(i / 20 % 20).rightJustified(5, u'0'),
                       QStringLiteral("H") + QString::number(i % 20).rightJustified(5, u'0'), 1,
                       2});
}

// The start (cmdAbre_Click) timed `starts` times after a first one, each
// followed by a stop.
void benchStart(const char* engine, Installation& installation, int ports, int cxpRows, int starts)
{
    CountingInteraccion ui;
    ConfigDatabase config(installation.m, ui);
    if (config.Reinicia() != ReiniciaOutcome::Done)
        die(QStringLiteral("Reinicia failed"));
    HttpPageLoader loader;
    SystemClock clock;
    CountingCheck readings;
    Acquisition acquisition(installation.m, ui, config, loader, clock, readings);
    double firstMs = 0;
    std::vector<double> startMs;
    std::vector<double> stopMs;
    std::vector<double> cpu;
    int limitsFound = 0;
    for (int round = 0; round <= starts; ++round) {
        const double cpu0 = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        acquisition.cmdAbre_Click();
        const double ms = millis(timer);
        if (!acquisition.isRunning())
            die(QStringLiteral("the acquisition did not start"));
        if (round == 0) {
            firstMs = ms;
            for (int element = 1; element <= ports; ++element)
                limitsFound += acquisition.LimInf(element) > -999999 ? 1 : 0;
        } else {
            startMs.push_back(ms);
            cpu.push_back(cpuSeconds() - cpu0);
        }
        timer.start();
        acquisition.cmdAbre_Click();
        if (round > 0)
            stopMs.push_back(millis(timer));
        if (acquisition.isRunning())
            die(QStringLiteral("the acquisition did not stop"));
    }
    std::printf("  %-11s first %8.1f ms   median %8.1f ms (CPU %.1f ms)   stop median %6.1f ms   "
                "%d ports, %d with limits, CXP %d rows, boxes %d\n",
                engine, firstMs, median(startMs), median(cpu) * 1000.0, median(stopMs), ports,
                limitsFound, cxpRows, ui.boxes);
    std::fflush(stdout);
}

void benchStarts(const Simulator& simulator, const Options& options)
{
    constexpr int kPorts = 1000;
    std::vector<PortRow> rows;
    std::vector<CxpRow> cxp;
    startInstallation(simulator, kPorts, options.cxpRows, rows, cxp);
    std::printf("\n6. The start (cmdAbre_Click) with %d active ports on the ten clocks, "
                "median of %d starts after the first, each followed by a stop:\n",
                kPorts, options.starts);

    {
        Installation installation(QStringLiteral("Clave26"));
        installation.setPorts(rows);
        installation.setIntervals({2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        installation.useSqliteSpc(cxp);
        benchStart("SQLite", installation, kPorts, static_cast<int>(cxp.size()), options.starts);
    }

    const std::optional<PgCluster> pg = PgCluster::fromEnvironment();
    if (!pg) {
        std::printf("  PostgreSQL  skipped: TELVAR_PG_HOST not set (scripts/bench starts a "
                    "cluster)\n");
        return;
    }
    const QString database =
        QStringLiteral("telvar_cycle_") + QString::number(QCoreApplication::applicationPid());
    pg->admin(QStringLiteral("CREATE DATABASE ") + database);
    {
        const ConnectionTarget target{QStringLiteral("[POSTGRESQL]"), pg->servidor(), pg->user,
                                      pg->password};
        {
            auto cn = open(ArmaConexion(target, database));
            createCxp(*cn, cxp);
            run(*cn, QStringLiteral("ANALYZE CXP"));
        }
        // The configuration database is a file whatever the SPC engine; it
        // shares the installation's password.
        Installation installation(pg->password);
        installation.setPorts(rows);
        installation.setIntervals({2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
        installation.usePostgresSpc(target, database);
        benchStart("PostgreSQL", installation, kPorts, static_cast<int>(cxp.size()),
                   options.starts);
    }
    pg->admin(QStringLiteral("DROP DATABASE ") + database + QStringLiteral(" WITH (FORCE)"));
}

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polling cycles of the acquisition over the station simulator."));
    parser.addHelpOption();
    const QCommandLineOption cycles(QStringLiteral("cycles"),
                                    QStringLiteral("Cycles timed after the first."),
                                    QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption idle(QStringLiteral("idle-seconds"),
                                  QStringLiteral("Length of the idle measure (0: skipped)."),
                                  QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption starts(QStringLiteral("starts"),
                                    QStringLiteral("Starts timed after the first."),
                                    QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption cxpRows(QStringLiteral("cxp-rows"),
                                     QStringLiteral("Rows of CXP for the starts."),
                                     QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption simulator = bench::simulatorOption();
    const QCommandLineOption only(
        QStringLiteral("only"),
        QStringLiteral("Scenarios to run, comma-separated: 1 to 6 and loader (default: all)."),
        QStringLiteral("LIST"));
    parser.addOptions({cycles, idle, starts, cxpRows, only, simulator});
    parser.process(app);
    Options options;
    options.cycles = std::max(1, parser.value(cycles).toInt());
    options.idleSeconds = std::max(0, parser.value(idle).toInt());
    options.starts = std::max(1, parser.value(starts).toInt());
    options.cxpRows = std::max(0, parser.value(cxpRows).toInt());
    options.simulatorProgram = parser.value(simulator);
    if (parser.isSet(only))
        options.only = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);

    constexpr int kHosts = 50;
    const Simulator fast(options.simulatorProgram, kHosts);
    const Simulator slow(options.simulatorProgram, 1,
                         {QStringLiteral("--nagle-ms"), QStringLiteral("40")});
    std::printf("Station simulator: %d hosts on 127.0.0.1:%u..., pid apart; slow host (bodies "
                "40 ms late on kept-alive connections) on 127.0.0.1:%u\n",
                kHosts, unsigned{fast.ports().front()}, unsigned{slow.ports().front()});
    std::printf("Load average at the start: %s (wall times mean little on a busy machine)\n",
                qPrintable(loadAverage()));
    std::printf("Cycles of clock 1 by its button on HttpPageLoader (2 connections per host): "
                "first cycle, then median of %d; CPU is this program's alone (getrusage, "
                "median per cycle), 'sim' the simulators' (/proc, mean per cycle); peak is "
                "VmHWM per scenario.\n",
                options.cycles);

    Installation installation(QStringLiteral("Clave26"));
    installation.useSqliteSpc(stationCxp());

    printCycleHeader();
    CycleFigures thousandOn50{};
    if (options.wants("1") || options.wants("loader")) {
        for (const int count : {10, 100, 1000}) {
            if (!options.wants("1") && count < 1000)
                continue;
            const CycleFigures f =
                runCycles(installation, spreadPorts(fast, count, kHosts), options.cycles, {&fast});
            printCycleRow("1. distinct pages, 50 hosts", f);
            if (count == 1000)
                thousandOn50 = f;
        }
    }
    if (options.wants("2")) {
        for (const int count : {10, 100, 1000})
            printCycleRow(
                "2. distinct pages, one host",
                runCycles(installation, spreadPorts(fast, count, 1), options.cycles, {&fast}));
    }
    if (options.wants("3")) {
        for (const int count : {10, 100, 1000})
            printCycleRow(
                "3. one shared page",
                runCycles(installation, sharedPagePorts(fast, count), options.cycles, {&fast}));
    }
    if (options.wants("4")) {
        const std::vector<PortRow> fastRows = spreadPorts(fast, 100, kHosts);
        const CycleFigures without = runCycles(installation, fastRows, options.cycles, {&fast});
        printCycleRow("4. 100 fast ports, no slow host", without);
        std::vector<PortRow> withSlow = fastRows;
        for (const PortRow& row : spreadPorts(slow, 10, 1, 101))
            withSlow.push_back(row);
        const CycleFigures with = runCycles(installation, withSlow, options.cycles, {&fast, &slow});
        printCycleRow("4. + 10 ports on one slow host", with);
        std::printf("   the slow host adds %.1f ms to the median cycle (%.1f -> %.1f ms)\n",
                    with.medianMs - without.medianMs, without.medianMs, with.medianMs);
    }

    if (options.wants("loader"))
        benchLoaderAlone(fast, 1000, kHosts, options.cycles, thousandOn50);

    if (options.wants("5")) {
        if (options.idleSeconds > 0)
            benchIdle(installation, fast, options.idleSeconds);
        else
            std::printf("\n5. Idle: skipped (--idle-seconds 0)\n");
    }

    if (options.wants("6"))
        benchStarts(fast, options);
    std::printf("\nLoad average at the end: %s\n", qPrintable(loadAverage()));
    return 0;
}
