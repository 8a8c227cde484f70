// Polling cycles over the real loader and the station simulator on
// 127.0.0.1: a page that hangs on a host that answers its other pages costs
// only its own port, and a silent host still costs one page limit per try.

#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/Clock.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/PollingCycle.h"
#include "acquisition/PortOutcome.h"
#include "acquisition/ReadingCheck.h"
#include "common/Modulo1.h"
#include "simulator/StationServer.h"
#include "support/RecordingInteraccion.h"
#include "support/TestStation.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTcpServer>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace telvar {
namespace {

using namespace std::chrono_literals;
using simulator::ServerOptions;

// The loader's page limit in these tests, and a bound for a broken cycle.
constexpr int kLimitMs = 300;
constexpr int kWaitMs = 30000;

class AcceptingCheck final : public ReadingCheck {
public:
    Status LabelLee(const PortReading&) override { return {}; }
};

// How a cycle ended: each port's outcome by its Puert, and its retries.
struct CycleRun {
    QMap<int, PortOutcome> ports;
    int retries = 0;
    bool finished = false;
};

class HangingPageCycleTest : public ::testing::Test {
protected:
    HangingPageCycleTest()
    {
        m.Idioma = 1;
        m.messageTable = MessageTable(80, 40, 2);
        m.messageTable.setText(76, 13, 1, QStringLiteral("Puerto"));
    }

    void startStation(const ServerOptions& options = {})
    {
        m_station = std::make_unique<test::TestStation>(options);
        ASSERT_TRUE(m_station->started()) << m_station->error().toStdString();
    }

    // Counts the connections that the listener of port index accepts.
    void countAccepts(int portIndex, int* accepted)
    {
        simulator::StationServer& server = m_station->server();
        for (QTcpServer* listener : server.findChildren<QTcpServer*>()) {
            if (listener->serverPort() == m_station->port(portIndex))
                QObject::connect(listener, &QTcpServer::newConnection, &server,
                                 [accepted] { ++*accepted; });
        }
    }

    // One cycle of clock 3 over a port per address (Puert 1, 2, ... in
    // order), each reading "DIAM=", with the loader's limit as the try's and
    // deadlineMs after its start as the cycle's deadline.
    CycleRun runCycle(const QStringList& urls, int deadlineMs)
    {
        HttpPageLoaderOptions options;
        options.limits.timeLimitMs = kLimitMs;
        options.maxConnectionsPerHost = 2;
        HttpPageLoader loader(options);
        SystemClock clock;
        QList<PollingCycle::Port> ports;
        for (qsizetype k = 0; k < urls.size(); ++k) {
            TPuerto p;
            p.WebPg = urls[k];
            p.Ident = QStringLiteral("DIAM=");
            p.Inici = 1;
            p.Longi = 6;
            p.Reloj = QStringLiteral("3");
            p.Puert = static_cast<int>(k + 1);
            ports.append({p.Puert, p, {}});
        }
        CycleRun run;
        PollingCycle::Services services{m, ui, loader, display, check, clock};
        services.deadline = clock.elapsed() + std::chrono::milliseconds(deadlineMs);
        services.tryLimit = std::chrono::milliseconds(kLimitMs);
        services.portHandled = [&run](const PortOutcome& outcome) {
            run.ports.insert(outcome.Puert, outcome);
        };
        auto cycle = std::make_shared<PollingCycle>(3, ports, services,
                                                    [&run](PollingCycle&) { run.finished = true; });
        QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                         [cycle](PageLoader::Ticket ticket, const LoadedPage& page) {
                             cycle->pageLoaded(ticket, page);
                         });
        cycle->begin();
        EXPECT_TRUE(QTest::qWaitFor([&] { return run.finished; }, kWaitMs));
        run.retries = cycle->retries();
        cycle->cancel();
        return run;
    }

    // "<url>?delay=20" of generic station n on port index: a page that
    // takes 20 ms, so that many of them on one connection outlast a limit.
    QString goodPage(int n, int portIndex = 0) const
    {
        return m_station->url(QStringLiteral("/station/%1.html?delay=20").arg(n), portIndex);
    }

    static void expectRead(const CycleRun& run, int puert)
    {
        ASSERT_TRUE(run.ports.contains(puert)) << puert;
        const PortOutcome& port = run.ports.value(puert);
        EXPECT_EQ(port.result, PortOutcome::Result::Read)
            << puert << ' ' << port.detail.toStdString();
        EXPECT_EQ(port.page, PageOutcome::Complete) << puert;
    }

    static void expectTimedOut(const CycleRun& run, int puert)
    {
        ASSERT_TRUE(run.ports.contains(puert)) << puert;
        const PortOutcome& port = run.ports.value(puert);
        EXPECT_EQ(port.result, PortOutcome::Result::NotFound) << puert;
        EXPECT_EQ(port.page, PageOutcome::TimedOut) << puert;
    }

    Modulo1 m;
    test::RecordingInteraccion ui;
    AcquisitionDisplay display;
    AcceptingCheck check;
    std::unique_ptr<test::TestStation> m_station;
};

TEST_F(HangingPageCycleTest, AHangingPageOfAGatewayCostsOnlyItsOwnPort)
{
    // One host serving 40 good pages and, first of all, one that takes its
    // connection and never answers: the good pages, 20 ms each over the
    // one connection left, take far longer than the hanging page's limit.
    constexpr int kGoodPages = 40;
    startStation();
    QStringList urls{m_station->url(QStringLiteral("/silent"))};
    for (int n = 1; n <= kGoodPages; ++n)
        urls.append(goodPage(n));
    const CycleRun run = runCycle(urls, 2000);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.ports.size(), kGoodPages + 1);
    expectTimedOut(run, 1);
    for (int puert = 2; puert <= kGoodPages + 1; ++puert)
        expectRead(run, puert);
    // Only the hanging page was asked for again, once: its third try could
    // not end by the deadline.
    EXPECT_EQ(run.retries, 1);
    // Nothing is reported for a page that did not arrive.
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(HangingPageCycleTest, PagesGivenUpBehindPagesHangingOnEveryConnectionAreRetried)
{
    // Two hanging pages take both connections of the host before anything
    // is answered: the loader takes the host for silent and gives up the
    // 20 pages waiting behind them. The cycle asks for those again 0.5 s
    // later, ahead of the hanging pages, and they arrive.
    constexpr int kGoodPages = 20;
    startStation();
    QStringList urls{m_station->url(QStringLiteral("/silent")),
                     m_station->url(QStringLiteral("/silent.html"))};
    for (int n = 1; n <= kGoodPages; ++n)
        urls.append(goodPage(n));
    const CycleRun run = runCycle(urls, 2000);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.ports.size(), kGoodPages + 2);
    expectTimedOut(run, 1);
    expectTimedOut(run, 2);
    for (int puert = 3; puert <= kGoodPages + 2; ++puert)
        expectRead(run, puert);
    // Every page once more; the hanging ones' third tries could not end by
    // the deadline.
    EXPECT_EQ(run.retries, kGoodPages + 2);
}

TEST_F(HangingPageCycleTest, ASilentHostCostsOneLimitPerTry)
{
    // Port 1 of the station accepts connections and never answers; port 0
    // answers. Each try of the silent host's 20 pages costs one limit: only
    // as many pages as it has connections reach it, the rest are given up
    // with it. The deadline leaves room for one retry.
    constexpr int kSilentPages = 20;
    constexpr int kLivePages = 5;
    ServerOptions options;
    options.portCount = 2;
    options.silentPortCount = 1;
    startStation(options);
    int silentAccepts = 0;
    countAccepts(1, &silentAccepts);
    QStringList urls;
    for (int n = 1; n <= kSilentPages; ++n)
        urls.append(goodPage(n, 1));
    for (int n = 1; n <= kLivePages; ++n)
        urls.append(goodPage(n, 0));
    const CycleRun run = runCycle(urls, 1800);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.ports.size(), kSilentPages + kLivePages);
    for (int puert = 1; puert <= kSilentPages; ++puert)
        expectTimedOut(run, puert);
    for (int puert = kSilentPages + 1; puert <= kSilentPages + kLivePages; ++puert)
        expectRead(run, puert);
    // Two tries of two connections each.
    EXPECT_EQ(silentAccepts, 4);
    EXPECT_EQ(run.retries, kSilentPages);
}

} // namespace
} // namespace telvar
