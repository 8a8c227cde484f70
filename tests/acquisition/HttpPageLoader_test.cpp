#include "acquisition/HttpPageLoader.h"
#include "common/ErrorNumbers.h"
#include "simulator/StationPages.h"
#include "simulator/StationServer.h"
#include "support/LocalPorts.h"
#include "support/ServerThread.h"
#include "support/TestStation.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace telvar {
namespace {

using namespace Qt::StringLiterals;
using simulator::ServerOptions;
using simulator::StationServer;
using Ticket = PageLoader::Ticket;

constexpr qsizetype kDefaultBound = qsizetype(4) * 1024 * 1024;
// libcurl's numbers for the errors the loader reports.
constexpr long long kUnsupportedProtocol = 1;
constexpr long long kMalformedAddress = 3;
constexpr long long kTooManyRedirects = 47;
// Waits in the tests are bounds for a broken loader, never expectations.
constexpr int kWaitMs = 30000;

// Records every pageLoaded of one loader.
class Collector final {
public:
    explicit Collector(PageLoader& loader, Qt::ConnectionType type = Qt::AutoConnection)
    {
        QObject::connect(
            &loader, &PageLoader::pageLoaded, &m_context,
            [this](Ticket ticket, const LoadedPage& page) {
                order.push_back(ticket);
                pages.insert(ticket, page);
                if (onPage)
                    onPage(ticket, page);
            },
            type);
    }

    bool waitFor(qsizetype count, int timeoutMs = kWaitMs)
    {
        return QTest::qWaitFor([&] { return qsizetype(order.size()) >= count; }, timeoutMs);
    }
    bool waitFor(Ticket ticket, int timeoutMs = kWaitMs)
    {
        return QTest::qWaitFor([&] { return pages.contains(ticket); }, timeoutMs);
    }

    std::vector<Ticket> order;
    QHash<Ticket, LoadedPage> pages;
    std::function<void(Ticket, const LoadedPage&)> onPage;

private:
    QObject m_context;
};

class HttpPageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(); }

    void startServer(const ServerOptions& options = {})
    {
        m_station = std::make_unique<test::TestStation>(options);
        ASSERT_TRUE(m_station->started()) << m_station->error().toStdString();
        m_server = &m_station->server();
    }

    quint16 port(int index = 0) const { return m_station->port(index); }

    QString url(const QString& path, int portIndex = 0) const
    {
        return m_station->url(path, portIndex);
    }

    static LoadedPage loadOne(PageLoader& loader, const QString& address)
    {
        Collector collector(loader);
        const Ticket ticket = loader.load(address);
        EXPECT_TRUE(collector.waitFor(ticket)) << address.toStdString();
        EXPECT_EQ(collector.order.size(), 1u);
        return collector.pages.value(ticket);
    }

    static HttpPageLoaderOptions shortLimit(int timeLimitMs, int perHost = 2)
    {
        HttpPageLoaderOptions options;
        options.limits.timeLimitMs = timeLimitMs;
        options.maxConnectionsPerHost = perHost;
        return options;
    }

    // Counts the connections the simulator accepts, and calls probe at each.
    void countAccepts(int* accepted, std::function<void()> probe = {})
    {
        for (QTcpServer* listener : m_server->findChildren<QTcpServer*>())
            QObject::connect(listener, &QTcpServer::newConnection, m_server, [accepted, probe] {
                ++*accepted;
                if (probe)
                    probe();
            });
    }

    std::unique_ptr<test::TestStation> m_station;
    StationServer* m_server = nullptr;
};

// A port on 127.0.0.1 that takes no connection: its listener's queue holds
// one connection, which is never taken from it, so the system leaves every
// further attempt unanswered until the attempt times out.
class UnansweredPort final {
public:
    UnansweredPort()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_GE(m_listener, 0);
        EXPECT_EQ(::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(m_listener, 0), 0);
        EXPECT_EQ(::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        m_port = ntohs(address.sin_port);
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(m_filler, reinterpret_cast<sockaddr*>(&address), length), 0);
    }
    ~UnansweredPort()
    {
        ::close(m_filler);
        ::close(m_listener);
    }
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

// A station on a thread of its own, so that it answers while the test's
// thread is blocked: it answers a request 100 ms after the request arrived,
// and tells when one has.
class DelayedStation final {
public:
    explicit DelayedStation(const QByteArray& reply)
    {
        m_thread.run([this, reply] {
            m_server = new QTcpServer;
            m_server->listen(QHostAddress::LocalHost, 0);
            m_port = m_server->serverPort();
            QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this, reply] {
                while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                    socket->setParent(m_server);
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [this, socket, reply] { onRequestBytes(socket, reply); });
                }
            });
        });
    }
    ~DelayedStation()
    {
        m_thread.run([this] { delete m_server; });
    }
    DelayedStation(const DelayedStation&) = delete;
    DelayedStation& operator=(const DelayedStation&) = delete;

    bool requestArrived() const { return m_requestArrived; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/estacion1.html").arg(m_port); }

private:
    // On the station's thread.
    void onRequestBytes(QTcpSocket* socket, const QByteArray& reply)
    {
        QByteArray& head = m_heads[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n") || m_answered.contains(socket))
            return;
        m_answered.insert(socket);
        m_requestArrived = true;
        QTimer::singleShot(100, socket, [socket, reply] { socket->write(reply); });
    }

    test::ServerThread m_thread;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    QHash<QTcpSocket*, QByteArray> m_heads;
    QSet<QTcpSocket*> m_answered;
    std::atomic<bool> m_requestArrived = false;
};

TEST_F(HttpPageLoaderTest, LoadsAStationPageAsTheSimulatorWritesIt)
{
    HttpPageLoader loader;
    // Queued delivery needs the signal's types known to the meta-type system.
    Collector collector(loader, Qt::QueuedConnection);
    const QString address = url(QStringLiteral("/estacion1.html?tick=7"));
    const Ticket ticket = loader.load(address);
    EXPECT_NE(ticket, 0u);
    ASSERT_TRUE(collector.waitFor(ticket));
    const LoadedPage page = collector.pages.value(ticket);

    const QByteArray expected = simulator::stationPage(
        *simulator::demoProfile("/estacion1.html"), "/estacion1.html", m_server->options().seed, 7);
    EXPECT_EQ(page.outcome, PageOutcome::Complete);
    EXPECT_EQ(page.url, address);
    EXPECT_EQ(page.httpStatus, 200);
    EXPECT_EQ(page.text, QString::fromUtf8(expected));
    EXPECT_FALSE(page.error);
}

TEST_F(HttpPageLoaderTest, TicketsAreDistinctAndNeverZero)
{
    HttpPageLoader loader;
    Collector collector(loader);
    std::vector<Ticket> tickets;
    for (const QString& path :
         {QStringLiteral("/estacion1.html"), QStringLiteral("/estacion2.html"),
          QStringLiteral("file:///etc/passwd")})
        tickets.push_back(loader.load(path.startsWith(u'/') ? url(path) : path));
    ASSERT_TRUE(collector.waitFor(qsizetype(3)));
    std::vector<Ticket> sorted = tickets;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(std::count(tickets.begin(), tickets.end(), Ticket(0)), 0);
}

TEST_F(HttpPageLoaderTest, AnErrorStatusIsACompletePageWithItsBody)
{
    HttpPageLoader loader;
    for (const int status : {404, 500, 503}) {
        const LoadedPage page = loadOne(loader, url(QStringLiteral("/status/%1").arg(status)));
        EXPECT_EQ(page.outcome, PageOutcome::Complete) << status;
        EXPECT_EQ(page.httpStatus, status);
        EXPECT_TRUE(page.text.contains(QStringLiteral("<h1>%1 ").arg(status)))
            << page.text.toStdString();
        EXPECT_FALSE(page.error);
    }
}

struct FaultCase {
    const char* name;
    QString path; // empty: a port where nothing listens
    PageOutcome outcome;
    long long errorNumber; // 0: no error expected
    NoAnswer noAnswer = NoAnswer::Unknown;
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class FaultPages : public HttpPageLoaderTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultPages, EndWithTheirOutcomeAndNoText)
{
    const FaultCase& c = GetParam();
    HttpPageLoader loader(shortLimit(500));
    const QString address =
        c.path.isEmpty() ? QStringLiteral("http://127.0.0.1:%1/").arg(test::unusedLocalPort())
                         : url(c.path);
    const LoadedPage page = loadOne(loader, address);
    EXPECT_EQ(page.outcome, c.outcome);
    EXPECT_EQ(page.url, address);
    EXPECT_TRUE(page.text.isEmpty()) << page.text.left(200).toStdString();
    EXPECT_EQ(page.noAnswer, c.noAnswer);
    if (c.errorNumber == 0) {
        EXPECT_FALSE(page.error) << page.error->description.toStdString();
    } else {
        ASSERT_TRUE(page.error);
        EXPECT_EQ(page.error->number, c.errorNumber);
        EXPECT_EQ(page.error->source, QStringLiteral("libcurl"));
        EXPECT_FALSE(page.error->description.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    HttpPageLoader, FaultPages,
    ::testing::Values(
        FaultCase{"slow_beyond_limit", QStringLiteral("/slow/5000.html"), PageOutcome::TimedOut, 0},
        FaultCase{"silent", QStringLiteral("/silent"), PageOutcome::TimedOut, 0},
        FaultCase{"refused", QString(), PageOutcome::Unreachable, 0, NoAnswer::Refused},
        FaultCase{"closed_at_once", QStringLiteral("/close"), PageOutcome::Unreachable, 0},
        FaultCase{"garbage", QStringLiteral("/garbage"), PageOutcome::Unreachable, 0},
        FaultCase{"redirect_loop", QStringLiteral("/loop/a.html"), PageOutcome::Failed,
                  kTooManyRedirects},
        FaultCase{"six_redirects", QStringLiteral("/chain/6.html"), PageOutcome::Failed,
                  kTooManyRedirects}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(HttpPageLoaderTest, FollowsUpToFiveRedirects)
{
    HttpPageLoader loader;
    for (const char* path :
         {"/chain/1.html", "/chain/5.html", "/redirect?to=/estacion2.html&code=301",
          "/redirect?to=/estacion2.html&code=308"}) {
        const LoadedPage page = loadOne(loader, url(QString::fromLatin1(path)));
        EXPECT_EQ(page.outcome, PageOutcome::Complete) << path;
        EXPECT_EQ(page.httpStatus, 200) << path;
        EXPECT_TRUE(page.text.contains(QStringLiteral("<html"))) << path;
    }
}

struct AddressCase {
    const char* address;
    long long errorNumber;
};

class RefusedAddresses : public HttpPageLoaderTest,
                         public ::testing::WithParamInterface<AddressCase> {};

TEST_P(RefusedAddresses, FailFromTheEventLoopWithLibcurlsError)
{
    const AddressCase& c = GetParam();
    HttpPageLoader loader;
    Collector collector(loader);
    const QString address = QString::fromUtf8(c.address);
    const Ticket ticket = loader.load(address);
    // Never from inside load(), even when the address is refused at once.
    EXPECT_TRUE(collector.order.empty());
    ASSERT_TRUE(collector.waitFor(ticket));
    const LoadedPage page = collector.pages.value(ticket);
    EXPECT_EQ(page.outcome, PageOutcome::Failed);
    EXPECT_EQ(page.url, address);
    EXPECT_TRUE(page.text.isEmpty());
    EXPECT_EQ(page.httpStatus, 0);
    ASSERT_TRUE(page.error);
    EXPECT_EQ(page.error->number, c.errorNumber);
    EXPECT_EQ(page.error->source, QStringLiteral("libcurl"));
    EXPECT_FALSE(page.error->description.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(HttpPageLoader, RefusedAddresses,
                         ::testing::Values(AddressCase{"file:///etc/passwd", kUnsupportedProtocol},
                                           AddressCase{"FILE:///etc/hostname",
                                                       kUnsupportedProtocol},
                                           AddressCase{"ftp://127.0.0.1/x", kUnsupportedProtocol},
                                           AddressCase{"dict://127.0.0.1/x", kUnsupportedProtocol},
                                           AddressCase{"javascript:alert(1)", kUnsupportedProtocol},
                                           AddressCase{"http://", kMalformedAddress},
                                           AddressCase{"/etc/passwd", kMalformedAddress},
                                           AddressCase{"not an address", kMalformedAddress},
                                           AddressCase{"", kMalformedAddress}));

TEST_F(HttpPageLoaderTest, NeverReadsAFile)
{
    HttpPageLoader loader;
    const LoadedPage page = loadOne(loader, QStringLiteral("file:///etc/passwd"));
    EXPECT_EQ(page.outcome, PageOutcome::Failed);
    EXPECT_FALSE(page.text.contains(QStringLiteral("root")));
    ASSERT_TRUE(page.error);
    EXPECT_FALSE(page.error->description.contains(QStringLiteral("root:")));
}

TEST_F(HttpPageLoaderTest, CutsABodyLargerThanTheBoundThere)
{
    struct Case {
        qint64 size;
        PageOutcome outcome;
        qsizetype textSize;
    };
    const Case cases[] = {
        {kDefaultBound, PageOutcome::Complete, kDefaultBound},
        {kDefaultBound + 1, PageOutcome::Truncated, kDefaultBound},
        {qint64(64) * 1024 * 1024, PageOutcome::Truncated, kDefaultBound},
    };
    HttpPageLoader loader;
    EXPECT_EQ(loader.options().limits.maxBodyBytes, kDefaultBound);
    const QByteArray expectedStart = simulator::fillerBytes(0, kDefaultBound);
    for (const Case& c : cases) {
        const LoadedPage page = loadOne(loader, url(QStringLiteral("/large/%1").arg(c.size)));
        EXPECT_EQ(page.outcome, c.outcome) << c.size;
        EXPECT_EQ(page.httpStatus, 200);
        ASSERT_EQ(page.text.size(), c.textSize) << c.size;
        EXPECT_EQ(page.text, QString::fromLatin1(expectedStart));
        if (c.outcome == PageOutcome::Truncated) {
            ASSERT_TRUE(page.error);
            EXPECT_EQ(page.error->number, ErrorNumber::PageTooLarge);
            EXPECT_EQ(page.error->source, QStringLiteral("Telvar"));
            EXPECT_TRUE(page.error->description.contains(QStringLiteral("4194304")))
                << page.error->description.toStdString();
        } else {
            EXPECT_FALSE(page.error);
        }
    }
}

TEST_F(HttpPageLoaderTest, ASmallerBoundIsKeptExactly)
{
    HttpPageLoaderOptions options;
    options.limits.maxBodyBytes = 1000;
    HttpPageLoader loader(options);
    const LoadedPage page = loadOne(loader, url(QStringLiteral("/large/1001")));
    EXPECT_EQ(page.outcome, PageOutcome::Truncated);
    EXPECT_EQ(page.text.size(), 1000);
    ASSERT_TRUE(page.error);
    EXPECT_TRUE(page.error->description.contains(QStringLiteral("1000")));
}

TEST_F(HttpPageLoaderTest, DecodesTheCharsetTheServerDeclares)
{
    HttpPageLoader loader;
    const QString expected =
        QString::fromLatin1(simulator::latin1StationPage(m_server->options().seed, 3));
    ASSERT_TRUE(expected.contains(QStringLiteral("Estaci\u00f3n t\u00e9rmica, a\u00f1o")));
    for (const char* path : {"/charset/latin1.html?tick=3", "/charset/utf8.html?tick=3"}) {
        const LoadedPage page = loadOne(loader, url(QString::fromLatin1(path)));
        EXPECT_EQ(page.outcome, PageOutcome::Complete) << path;
        EXPECT_EQ(page.text, expected) << path;
    }
}

TEST_F(HttpPageLoaderTest, EachWaitingLoadGetsItsWholeTimeOnceConnected)
{
    // Ten loads of a page answered after 200 ms, one connection to its host
    // and a limit of one second: the last loads wait about two seconds for
    // the connection and still complete, as a load waiting for a connection
    // is not timed.
    HttpPageLoader loader(shortLimit(1000, 1));
    Collector collector(loader);
    int accepted = 0;
    int mostRunning = 0;
    const auto probe = [&] { mostRunning = std::max(mostRunning, loader.runningCount()); };
    countAccepts(&accepted, probe);
    collector.onPage = [&](Ticket, const LoadedPage&) { probe(); };
    for (int i = 0; i < 10; ++i)
        loader.load(url(QStringLiteral("/slow/200.html")));
    EXPECT_EQ(loader.runningCount(), 1);
    EXPECT_EQ(loader.waitingCount(), 9);
    ASSERT_TRUE(collector.waitFor(qsizetype(10)));
    for (const LoadedPage& page : collector.pages) {
        EXPECT_EQ(page.outcome, PageOutcome::Complete);
        EXPECT_TRUE(page.text.contains(QStringLiteral("<html")));
    }
    EXPECT_EQ(accepted, 1);
    EXPECT_LE(mostRunning, 1);
    EXPECT_EQ(loader.runningCount(), 0);
    EXPECT_EQ(loader.waitingCount(), 0);
}

// How a station host is dead.
enum class DeadHost {
    // Nothing listens on its port: every connection attempt is refused.
    Refused,
    // It takes no connection: the attempts go unanswered until they time out.
    AcceptsNoConnection,
    // It accepts connections and never answers a request.
    Silent,
};

struct DeadHostCase {
    const char* name;
    DeadHost kind;
    PageOutcome outcome;
    PageLimits limits;
    // The longest one load of the host can take: its connection attempt's
    // limit or its page's.
    int oneLimitMs;
    // Why a load that tried the host itself got no answer, and why the
    // loads given up with it did.
    NoAnswer ownNoAnswer;
    NoAnswer givenUpNoAnswer;
};

void PrintTo(const DeadHostCase& c, std::ostream* os)
{
    *os << c.name;
}

class DeadHosts : public HttpPageLoaderTest, public ::testing::WithParamInterface<DeadHostCase> {};

TEST_P(DeadHosts, EndAllLoadsOfTheHostInAboutOneLimit)
{
    const DeadHostCase& c = GetParam();
    constexpr int kLoads = 40;
    // Port 0 a live station, port 1 a silent one.
    ServerOptions serverOptions;
    serverOptions.portCount = 2;
    serverOptions.silentPortCount = 1;
    startServer(serverOptions);
    std::optional<UnansweredPort> unanswered;
    QString dead;
    switch (c.kind) {
    case DeadHost::Refused:
        dead = QStringLiteral("http://127.0.0.1:%1/estacion1.html").arg(test::unusedLocalPort());
        break;
    case DeadHost::AcceptsNoConnection:
        unanswered.emplace();
        dead = QStringLiteral("http://127.0.0.1:%1/estacion1.html").arg(unanswered->port());
        break;
    case DeadHost::Silent:
        dead = url(QStringLiteral("/estacion1.html"), 1);
        break;
    }
    HttpPageLoaderOptions options;
    options.limits = c.limits;
    HttpPageLoader loader(options);
    ASSERT_EQ(loader.options().maxConnectionsPerHost, 2);
    Collector collector(loader);
    int silentAccepts = 0;
    for (QTcpServer* listener : m_server->findChildren<QTcpServer*>()) {
        if (listener->serverPort() == port(1))
            QObject::connect(listener, &QTcpServer::newConnection, m_server,
                             [&silentAccepts] { ++silentAccepts; });
    }

    QElapsedTimer elapsed;
    elapsed.start();
    std::vector<Ticket> deadLoads;
    Ticket live = 0;
    for (int i = 0; i < kLoads; ++i) {
        deadLoads.push_back(loader.load(dead));
        // A live station among them is not given up with the dead one.
        if (i == kLoads / 2)
            live = loader.load(url(QStringLiteral("/estacion2.html"), 0));
    }
    // Never reported from inside load().
    EXPECT_TRUE(collector.order.empty());
    ASSERT_TRUE(collector.waitFor(qsizetype(kLoads + 1)));
    const qint64 tookMs = elapsed.elapsed();
    RecordProperty("dead_host_loads_ms", static_cast<int>(tookMs));
    QTest::qWait(50);

    // Each load reported once.
    ASSERT_EQ(collector.order.size(), std::size_t(kLoads + 1));
    std::vector<Ticket> sorted = collector.order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    int triedThemselves = 0;
    for (const Ticket ticket : deadLoads) {
        const LoadedPage page = collector.pages.value(ticket);
        EXPECT_EQ(page.outcome, c.outcome) << ticket;
        EXPECT_EQ(page.url, dead);
        EXPECT_TRUE(page.text.isEmpty());
        EXPECT_EQ(page.httpStatus, 0);
        EXPECT_FALSE(page.error) << page.error->description.toStdString();
        if (page.noAnswer == c.ownNoAnswer)
            ++triedThemselves;
        else
            EXPECT_EQ(page.noAnswer, c.givenUpNoAnswer) << ticket;
    }
    // Only the loads that had a connection slot tried the host.
    EXPECT_GE(triedThemselves, 1);
    EXPECT_LE(triedThemselves, 2);
    EXPECT_EQ(collector.pages.value(live).outcome, PageOutcome::Complete);
    // About one limit: without giving up, the 40 loads over 2 connections
    // would take 20 limits.
    EXPECT_LT(tookMs, 8 * c.oneLimitMs);
    EXPECT_EQ(loader.runningCount(), 0);
    EXPECT_EQ(loader.waitingCount(), 0);
    // A silent host got a connection per connection slot, no more.
    if (c.kind == DeadHost::Silent) {
        EXPECT_EQ(silentAccepts, 2);
    }

    // A later load (the next cycle) tries the host again.
    const Ticket again = loader.load(dead);
    EXPECT_EQ(loader.runningCount(), 1);
    ASSERT_TRUE(collector.waitFor(again));
    EXPECT_EQ(collector.pages.value(again).outcome, c.outcome);
    EXPECT_EQ(collector.pages.value(again).noAnswer, c.ownNoAnswer);
    if (c.kind == DeadHost::Silent) {
        EXPECT_EQ(silentAccepts, 3);
    }
}

PageLimits limitsOf(int timeLimitMs, int connectTimeoutMs)
{
    PageLimits limits;
    limits.timeLimitMs = timeLimitMs;
    limits.connectTimeoutMs = connectTimeoutMs;
    return limits;
}

INSTANTIATE_TEST_SUITE_P(
    HttpPageLoader, DeadHosts,
    ::testing::Values(
        DeadHostCase{"refused", DeadHost::Refused, PageOutcome::Unreachable, limitsOf(10000, 500),
                     500, NoAnswer::Refused, NoAnswer::HostGivenUp},
        DeadHostCase{"accepts_no_connection", DeadHost::AcceptsNoConnection, PageOutcome::TimedOut,
                     limitsOf(10000, 500), 500, NoAnswer::HostDown, NoAnswer::HostGivenUp},
        DeadHostCase{"silent", DeadHost::Silent, PageOutcome::TimedOut, limitsOf(500, 500), 500,
                     NoAnswer::Unknown, NoAnswer::HostSilent}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Where the page that hangs is among its host's loads.
struct HangingCase {
    const char* name;
    int hangingAt;
};

void PrintTo(const HangingCase& c, std::ostream* os)
{
    *os << c.name;
}

class HangingPages : public HttpPageLoaderTest,
                     public ::testing::WithParamInterface<HangingCase> {};

TEST_P(HangingPages, CostOnlyTheirOwnLoadOnAHostThatAnswersTheOthers)
{
    // One host (a gateway) serving many pages, one of which takes its
    // connection and never answers. The others, 20 ms each, take several
    // page limits on the one connection left: they are still waiting when
    // the hanging page times out, and get their connection and their limit
    // all the same.
    const HangingCase& c = GetParam();
    constexpr int kGoodPages = 40;
    HttpPageLoader loader(shortLimit(300, 2));
    Collector collector(loader);
    int accepted = 0;
    countAccepts(&accepted);
    Ticket hanging = 0;
    std::vector<Ticket> good;
    for (int i = 0; i <= kGoodPages; ++i) {
        if (i == c.hangingAt)
            hanging = loader.load(url(QStringLiteral("/silent")));
        else
            good.push_back(loader.load(url(QStringLiteral("/station/%1.html?delay=20").arg(i))));
    }
    ASSERT_TRUE(collector.waitFor(qsizetype(kGoodPages + 1)));
    QTest::qWait(20);
    ASSERT_EQ(collector.order.size(), std::size_t(kGoodPages + 1));

    const LoadedPage hung = collector.pages.value(hanging);
    EXPECT_EQ(hung.outcome, PageOutcome::TimedOut);
    EXPECT_EQ(hung.noAnswer, NoAnswer::Unknown);
    for (const Ticket ticket : good) {
        const LoadedPage page = collector.pages.value(ticket);
        EXPECT_EQ(page.outcome, PageOutcome::Complete) << page.url.toStdString();
        EXPECT_EQ(page.noAnswer, NoAnswer::Unknown) << page.url.toStdString();
        EXPECT_TRUE(page.text.contains(QStringLiteral("DIAM="))) << page.url.toStdString();
    }
    // The good pages outlasted the hanging page's limit: it ended before
    // the last of them, which were waiting for a connection when it did.
    const auto position = std::find(collector.order.begin(), collector.order.end(), hanging);
    EXPECT_GE(std::distance(position, collector.order.end()), 3);
    // The host's two connections, and one more for the connection the
    // hanging page left unusable.
    EXPECT_LE(accepted, 3);
    EXPECT_EQ(loader.runningCount(), 0);
    EXPECT_EQ(loader.waitingCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(HttpPageLoader, HangingPages,
                         ::testing::Values(HangingCase{"first", 0}, HangingCase{"middle", 20}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(HttpPageLoaderTest, AHostWhosePagesHangOnEveryConnectionIsSilent)
{
    // The host answered a page, but before the hanging pages' limits began;
    // since then both of its connections hang and nothing else is
    // answered: the loads waiting behind them are given up with the host,
    // as a silent station's, in one limit.
    HttpPageLoader loader(shortLimit(300, 2));
    Collector collector(loader);
    const Ticket earlier = loader.load(url(QStringLiteral("/station/1.html")));
    ASSERT_TRUE(collector.waitFor(earlier));
    EXPECT_EQ(collector.pages.value(earlier).outcome, PageOutcome::Complete);

    const Ticket hung1 = loader.load(url(QStringLiteral("/silent")));
    const Ticket hung2 = loader.load(url(QStringLiteral("/silent")));
    std::vector<Ticket> waiting;
    for (int i = 0; i < 10; ++i)
        waiting.push_back(loader.load(url(QStringLiteral("/station/%1.html").arg(i))));
    EXPECT_EQ(loader.runningCount(), 2);
    EXPECT_EQ(loader.waitingCount(), 10);
    ASSERT_TRUE(collector.waitFor(qsizetype(13)));
    for (const Ticket ticket : {hung1, hung2}) {
        EXPECT_EQ(collector.pages.value(ticket).outcome, PageOutcome::TimedOut);
        EXPECT_EQ(collector.pages.value(ticket).noAnswer, NoAnswer::Unknown);
    }
    for (const Ticket ticket : waiting) {
        const LoadedPage page = collector.pages.value(ticket);
        EXPECT_EQ(page.outcome, PageOutcome::TimedOut);
        EXPECT_EQ(page.noAnswer, NoAnswer::HostSilent);
        EXPECT_TRUE(page.text.isEmpty());
    }
    // Given up when the first hanging page timed out, before the second
    // ended.
    ASSERT_EQ(collector.order.size(), 13u);
    const std::pair<Ticket, Ticket> ends{collector.order[1], collector.order.back()};
    EXPECT_TRUE(ends == std::pair(hung1, hung2) || ends == std::pair(hung2, hung1));

    // Loads made later try the host again, and get its pages.
    const Ticket again = loader.load(url(QStringLiteral("/station/2.html")));
    ASSERT_TRUE(collector.waitFor(again));
    EXPECT_EQ(collector.pages.value(again).outcome, PageOutcome::Complete);
}

TEST_F(HttpPageLoaderTest, AHostThatRefusedIsTriedAgainOnceItListens)
{
    const quint16 deadPort = test::unusedLocalPort();
    const QString address = QStringLiteral("http://127.0.0.1:%1/estacion1.html").arg(deadPort);
    HttpPageLoader loader;
    Collector collector(loader);
    for (int i = 0; i < 6; ++i)
        loader.load(address);
    ASSERT_TRUE(collector.waitFor(qsizetype(6)));
    for (const LoadedPage& page : collector.pages)
        EXPECT_EQ(page.outcome, PageOutcome::Unreachable);

    // The station comes up: the next cycle's loads find it.
    ServerOptions options;
    options.port = deadPort;
    StationServer station(options);
    QString error;
    ASSERT_TRUE(station.start(&error)) << error.toStdString();
    const Ticket first = loader.load(address);
    const Ticket second = loader.load(address);
    ASSERT_TRUE(collector.waitFor(qsizetype(8)));
    EXPECT_EQ(collector.pages.value(first).outcome, PageOutcome::Complete);
    EXPECT_EQ(collector.pages.value(second).outcome, PageOutcome::Complete);
}

TEST(HttpPageLoaderLimits, AConnectionAttemptIsGivenUpWellBeforeThePageLimit)
{
    EXPECT_EQ(kPageTimeLimitMs, 7000);
    EXPECT_EQ(kConnectTimeoutMs, 2000);
    UnansweredPort station;
    HttpPageLoader loader;
    EXPECT_EQ(loader.options().limits.timeLimitMs, kPageTimeLimitMs);
    EXPECT_EQ(loader.options().limits.connectTimeoutMs, kConnectTimeoutMs);
    Collector collector(loader);
    QElapsedTimer elapsed;
    elapsed.start();
    const Ticket ticket =
        loader.load(QStringLiteral("http://127.0.0.1:%1/estacion1.html").arg(station.port()));
    ASSERT_TRUE(collector.waitFor(ticket));
    EXPECT_EQ(collector.pages.value(ticket).outcome, PageOutcome::TimedOut);
    // The connection attempt's two seconds, not the page's seven.
    EXPECT_LT(elapsed.elapsed(), 5000);
}

TEST(HttpPageLoaderLimits, APageThatArrivedWhileTheThreadWasBusyIsComplete)
{
    constexpr int kLimitMs = 800;
    const QByteArray body = "<html><body>T=12.5 kg</body></html>";
    DelayedStation station("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
    HttpPageLoaderOptions options;
    options.limits.timeLimitMs = kLimitMs;
    HttpPageLoader loader(options);
    Collector collector(loader);
    const Ticket ticket = loader.load(station.url());
    ASSERT_TRUE(QTest::qWaitFor([&] { return station.requestArrived(); }, kWaitMs));
    ASSERT_TRUE(collector.order.empty());
    // The thread is busy for longer than the page's limit, and the answer
    // arrives meanwhile: it is read before the limit is judged.
    std::this_thread::sleep_for(std::chrono::milliseconds(kLimitMs + 700));
    ASSERT_TRUE(collector.waitFor(ticket));
    const LoadedPage page = collector.pages.value(ticket);
    EXPECT_EQ(page.outcome, PageOutcome::Complete);
    EXPECT_EQ(page.httpStatus, 200);
    EXPECT_EQ(page.text, QString::fromLatin1(body));
}

TEST_F(HttpPageLoaderTest, KeepsToTheHostsConnectionsAndReusesThem)
{
    HttpPageLoader loader(shortLimit(10000, 2));
    Collector collector(loader);
    int accepted = 0;
    int mostOpen = 0;
    countAccepts(&accepted, [&] { mostOpen = std::max(mostOpen, m_server->connectionCount()); });
    for (int i = 0; i < 8; ++i)
        loader.load(url(QStringLiteral("/slow/50.html")));
    ASSERT_TRUE(collector.waitFor(qsizetype(8)));
    for (const LoadedPage& page : collector.pages)
        EXPECT_EQ(page.outcome, PageOutcome::Complete);
    // Kept-alive connections stay open at the server: two, used by all eight.
    EXPECT_EQ(accepted, 2);
    EXPECT_LE(mostOpen, 2);
    EXPECT_EQ(m_server->connectionCount(), 2);

    // The next round of loads (the next cycle) finds them still open.
    for (int i = 0; i < 3; ++i)
        loader.load(url(QStringLiteral("/estacion%1.html").arg(i + 1)));
    ASSERT_TRUE(collector.waitFor(qsizetype(11)));
    EXPECT_EQ(accepted, 2);
}

TEST_F(HttpPageLoaderTest, KeepsTheConnectionsOfManyHostsForTheNextRounds)
{
    // More hosts than transfers may run at once: each host's connections
    // stay open between rounds, although together they outnumber the
    // transfer limit.
    constexpr int kHosts = 60;
    constexpr int kPagesPerHost = 4;
    ServerOptions options;
    options.portCount = kHosts;
    startServer(options);
    HttpPageLoader loader;
    ASSERT_LT(loader.options().maxTransfers, kHosts * loader.options().maxConnectionsPerHost);
    Collector collector(loader);
    int accepted = 0;
    countAccepts(&accepted);
    qsizetype expected = 0;
    for (int round = 0; round < 3; ++round) {
        for (int page = 0; page < kPagesPerHost; ++page)
            for (int host = 0; host < kHosts; ++host)
                loader.load(url(QStringLiteral("/station/%1.html").arg(page + 1), host));
        expected += kHosts * kPagesPerHost;
        ASSERT_TRUE(collector.waitFor(expected));
    }
    for (const LoadedPage& page : collector.pages)
        EXPECT_EQ(page.outcome, PageOutcome::Complete) << page.url.toStdString();
    // At most the hosts' connections, opened in the first round (rounds
    // after it find them all open) and still open at the server.
    EXPECT_GE(accepted, kHosts);
    EXPECT_LE(accepted, kHosts * loader.options().maxConnectionsPerHost);
    EXPECT_EQ(m_server->connectionCount(), accepted);
}

TEST_F(HttpPageLoaderTest, ReplacesConnectionsTheStationClosesWhileIdle)
{
    // The station closes a connection that waits 250 ms for a request; each
    // round finds its connections closed, so libcurl closes its ends and
    // the next sockets get their numbers again.
    ServerOptions options;
    options.idleTimeoutMs = 250;
    startServer(options);
    HttpPageLoader loader(shortLimit(10000, 2));
    Collector collector(loader);
    int accepted = 0;
    countAccepts(&accepted);
    constexpr int kRounds = 5;
    for (int round = 1; round <= kRounds; ++round) {
        loader.load(url(QStringLiteral("/slow/20.html")));
        loader.load(url(QStringLiteral("/slow/20.html")));
        ASSERT_TRUE(collector.waitFor(qsizetype(2 * round)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_server->connectionCount() == 0; }, kWaitMs));
    }
    for (const LoadedPage& page : collector.pages)
        EXPECT_EQ(page.outcome, PageOutcome::Complete);
    // A new connection for every page, each round's pair at once.
    EXPECT_EQ(accepted, 2 * kRounds);
    // Only the last round's sockets may still have notifiers: those of the
    // closed ones are gone.
    QTest::qWait(10);
    EXPECT_LE(loader.findChildren<QSocketNotifier*>().size(), 4);
}

TEST_F(HttpPageLoaderTest, AHungHostDoesNotHoldBackAnother)
{
    ServerOptions options;
    options.portCount = 2;
    options.silentPortCount = 1; // the second port never answers
    startServer(options);
    HttpPageLoader loader(shortLimit(20000, 1));
    Collector collector(loader);
    const Ticket hung1 = loader.load(url(QStringLiteral("/estacion1.html"), 1));
    const Ticket hung2 = loader.load(url(QStringLiteral("/estacion1.html"), 1));
    const Ticket live = loader.load(url(QStringLiteral("/estacion1.html"), 0));
    EXPECT_EQ(loader.runningCount(), 2);
    EXPECT_EQ(loader.waitingCount(), 1);
    ASSERT_TRUE(collector.waitFor(live));
    EXPECT_EQ(collector.order, std::vector<Ticket>{live});
    EXPECT_EQ(collector.pages.value(live).outcome, PageOutcome::Complete);
    loader.cancel(hung1);
    loader.cancel(hung2);
    EXPECT_EQ(loader.runningCount(), 0);
    EXPECT_EQ(loader.waitingCount(), 0);
}

TEST_F(HttpPageLoaderTest, KeepsToTheTotalNumberOfTransfers)
{
    ServerOptions options;
    options.portCount = 2;
    options.silentPortCount = 1;
    startServer(options);
    HttpPageLoaderOptions loaderOptions = shortLimit(300, 2);
    loaderOptions.maxTransfers = 1;
    HttpPageLoader loader(loaderOptions);
    Collector collector(loader);
    const Ticket hung = loader.load(url(QStringLiteral("/estacion1.html"), 1));
    const Ticket live = loader.load(url(QStringLiteral("/estacion1.html"), 0));
    EXPECT_EQ(loader.runningCount(), 1);
    EXPECT_EQ(loader.waitingCount(), 1);
    ASSERT_TRUE(collector.waitFor(qsizetype(2)));
    EXPECT_EQ(collector.order, (std::vector<Ticket>{hung, live}));
    EXPECT_EQ(collector.pages.value(hung).outcome, PageOutcome::TimedOut);
    EXPECT_EQ(collector.pages.value(live).outcome, PageOutcome::Complete);
}

TEST_F(HttpPageLoaderTest, ACancelledLoadIsNeverReported)
{
    HttpPageLoader loader(shortLimit(10000, 1));
    Collector collector(loader);
    const Ticket running = loader.load(url(QStringLiteral("/slow/200.html")));
    const Ticket waiting = loader.load(url(QStringLiteral("/slow/200.html")));
    const Ticket refused = loader.load(QStringLiteral("file:///etc/passwd"));
    EXPECT_EQ(loader.runningCount(), 1);
    EXPECT_EQ(loader.waitingCount(), 1);
    loader.cancel(running);
    loader.cancel(waiting);
    loader.cancel(refused);
    // Unknown tickets are ignored.
    loader.cancel(0);
    loader.cancel(refused + 1000);
    EXPECT_EQ(loader.runningCount(), 0);
    EXPECT_EQ(loader.waitingCount(), 0);

    // A later, slower load ends after the cancelled ones would have.
    const Ticket later = loader.load(url(QStringLiteral("/slow/400.html")));
    ASSERT_TRUE(collector.waitFor(later));
    EXPECT_EQ(collector.order, std::vector<Ticket>{later});
    loader.cancel(later); // already reported: ignored
    QTest::qWait(50);
    EXPECT_EQ(collector.order, std::vector<Ticket>{later});
}

TEST_F(HttpPageLoaderTest, CanBeDestroyedWithLoadsInFlight)
{
    auto loader = std::make_unique<HttpPageLoader>(shortLimit(10000, 1));
    Collector collector(*loader);
    loader->load(url(QStringLiteral("/silent")));
    loader->load(url(QStringLiteral("/silent"))); // waits for a connection
    loader->load(QStringLiteral("http://localhost:%1/slow/5000.html").arg(port()));
    QTest::qWait(100);
    loader->load(QStringLiteral("file:///etc/passwd")); // ended, not yet reported
    loader->load(QStringLiteral("http://localhost:%1/estacion1.html").arg(port()));
    loader.reset();
    QTest::qWait(200);
    EXPECT_TRUE(collector.order.empty());
}

TEST_F(HttpPageLoaderTest, CanBeDestroyedByAReceiverOfItsSignal)
{
    auto* loader = new HttpPageLoader(shortLimit(10000, 2));
    QPointer<HttpPageLoader> watch(loader);
    Collector collector(*loader);
    collector.onPage = [&](Ticket, const LoadedPage&) { delete loader; };
    loader->load(url(QStringLiteral("/silent")));
    loader->load(QStringLiteral("file:///a"));
    loader->load(QStringLiteral("file:///b"));
    loader->load(QStringLiteral("file:///c"));
    ASSERT_TRUE(collector.waitFor(qsizetype(1)));
    QTest::qWait(100);
    EXPECT_TRUE(watch.isNull());
    EXPECT_EQ(collector.order.size(), 1u);
}

TEST_F(HttpPageLoaderTest, AReceiverMayLoadAndCancelWhileReportsAreDelivered)
{
    HttpPageLoader loader;
    Collector collector(loader);
    const Ticket first = loader.load(QStringLiteral("file:///a"));
    const Ticket second = loader.load(QStringLiteral("file:///b"));
    Ticket again = 0;
    collector.onPage = [&](Ticket ticket, const LoadedPage&) {
        if (ticket == first) {
            loader.cancel(second); // finished, not yet reported: dropped
            again = loader.load(url(QStringLiteral("/estacion3.html")));
        }
    };
    ASSERT_TRUE(collector.waitFor(qsizetype(2)));
    QTest::qWait(50);
    EXPECT_EQ(collector.order, (std::vector<Ticket>{first, again}));
    EXPECT_EQ(collector.pages.value(again).outcome, PageOutcome::Complete);
}

// A server that answers every request with the same bytes and closes: for
// replies the station simulator does not make.
class RawServer final {
public:
    explicit RawServer(QByteArray reply) : m_reply(std::move(reply))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(&m_server);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_requests[socket] += socket->readAll();
                    if (m_requests[socket].contains("\r\n\r\n") && !m_answered.contains(socket)) {
                        m_answered.insert(socket, true);
                        socket->write(m_reply);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }

    QString url(const char* path = "/") const
    {
        return QStringLiteral("http://127.0.0.1:%1%2")
            .arg(m_server.serverPort())
            .arg(QLatin1StringView(path));
    }

    // The request heads received, each line ended by CR LF.
    QList<QByteArray> requests() const
    {
        QList<QByteArray> heads;
        for (const QByteArray& received : m_requests)
            heads.append(received.left(received.indexOf("\r\n\r\n") + 2));
        return heads;
    }

private:
    QByteArray m_reply;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
    QHash<QTcpSocket*, bool> m_answered;
};

struct RawCase {
    const char* name;
    QByteArray reply;
    PageOutcome outcome;
    long long errorNumber; // 0: no error expected
    QString text;
};

void PrintTo(const RawCase& c, std::ostream* os)
{
    *os << c.name;
}

class RawReplies : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawReplies, EndAsTheirKindOfFault)
{
    const RawCase& c = GetParam();
    RawServer server(c.reply);
    HttpPageLoader loader;
    Collector collector(loader);
    const Ticket ticket = loader.load(server.url());
    ASSERT_TRUE(collector.waitFor(ticket));
    const LoadedPage page = collector.pages.value(ticket);
    EXPECT_EQ(page.outcome, c.outcome);
    EXPECT_EQ(page.text, c.text);
    if (c.errorNumber == 0) {
        EXPECT_FALSE(page.error) << page.error->description.toStdString();
    } else {
        ASSERT_TRUE(page.error);
        EXPECT_EQ(page.error->number, c.errorNumber);
    }
}

TEST(HttpPageLoaderRequest, IsOneGetThatBypassesCaches)
{
    RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    HttpPageLoader loader;
    Collector collector(loader);
    const Ticket ticket = loader.load(server.url("/estacion1.html?x=1"));
    ASSERT_TRUE(collector.waitFor(ticket));
    EXPECT_EQ(collector.pages.value(ticket).text, QStringLiteral("ok"));
    const QList<QByteArray> requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    const QList<QByteArray> lines = requests.front().split('\n');
    EXPECT_EQ(lines.front(), QByteArray("GET /estacion1.html?x=1 HTTP/1.1\r"));
    EXPECT_TRUE(lines.contains("Cache-Control: no-cache\r")) << requests.front().constData();
    EXPECT_FALSE(requests.front().toLower().contains("cookie"));
}

QByteArray hugeHead()
{
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
    for (int i = 0; i < 4000; ++i)
        reply += "X-Filler: " + QByteArray(90, 'x') + "\r\n";
    return reply + "\r\nok";
}

INSTANTIATE_TEST_SUITE_P(
    HttpPageLoader, RawReplies,
    ::testing::Values(
        RawCase{"redirect_to_a_file",
                "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n",
                PageOutcome::Failed, kUnsupportedProtocol, QString()},
        RawCase{"redirect_to_ftp",
                "HTTP/1.1 301 Moved\r\nLocation: ftp://127.0.0.1/x\r\nContent-Length: 0\r\n\r\n",
                PageOutcome::Failed, kUnsupportedProtocol, QString()},
        RawCase{"head_beyond_its_bound", hugeHead(), PageOutcome::Unreachable, 0, QString()},
        RawCase{"body_cut_short",
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100\r\n\r\nabc",
                PageOutcome::Unreachable, 0, QString()},
        RawCase{"windows_1252_over_the_wire",
                "HTTP/1.1 200 OK\r\nContent-Type: text/html;charset=windows-1252\r\n"
                "Content-Length: 8\r\nConnection: close\r\n\r\n\x80 \x93x\x94 \xe9!",
                PageOutcome::Complete, 0, u"\u20ac \u201cx\u201d \u00e9!"_s},
        RawCase{"no_length_until_close",
                "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>a\xc3\xb1o</p>",
                PageOutcome::Complete, 0, u"<p>a\u00f1o</p>"_s}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct DecodeCase {
    const char* name;
    QByteArray contentType;
    QByteArray body;
    QString text;
};

void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class PageDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PageDecoding, FollowsTheDeclaredCharset)
{
    const DecodeCase& c = GetParam();
    EXPECT_EQ(pagefetch::decodePageText(c.body, c.contentType), c.text);
}

const QByteArray kPadding(1100, ' ');

INSTANTIATE_TEST_SUITE_P(
    HttpPageLoader, PageDecoding,
    ::testing::Values(
        DecodeCase{"latin1_header", "text/html; charset=ISO-8859-1", "a\xe9\xf1",
                   u"a\u00e9\u00f1"_s},
        DecodeCase{"latin1_reads_as_windows_1252", "text/html; charset=iso-8859-1", "\x80",
                   u"\u20ac"_s},
        DecodeCase{"windows_1252_quoted_upper_case", "TEXT/HTML; CHARSET=\"Windows-1252\"",
                   "\x80\x93x\x94", u"\u20ac\u201cx\u201d"_s},
        DecodeCase{"single_quotes_and_spaces", "text/html ;  charset = 'utf-8' ", "caf\xc3\xa9",
                   u"caf\u00e9"_s},
        DecodeCase{"meta_charset", "text/html",
                   "<html><head><META Charset=\"windows-1252\"></head>\xe9",
                   u"<html><head><META Charset=\"windows-1252\"></head>\u00e9"_s},
        DecodeCase{"meta_http_equiv_after_unknown_header", "text/html; charset=no-such-thing",
                   "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
                   "\xe9",
                   u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
                   "\u00e9"_s},
        DecodeCase{"header_wins_over_meta", "text/html; charset=utf-8",
                   "<meta charset=windows-1252>\xc3\xa9", u"<meta charset=windows-1252>\u00e9"_s},
        DecodeCase{"meta_beyond_1024_bytes_is_ignored", "", kPadding + "<meta charset=latin1>\xe9",
                   QString::fromLatin1(kPadding) + u"<meta charset=latin1>\ufffd"_s},
        DecodeCase{"no_charset_is_utf8", "", "caf\xc3\xa9", u"caf\u00e9"_s},
        DecodeCase{"invalid_bytes_are_replaced", "text/html; charset=utf-8", "a\xff\xfe b\xc3",
                   u"a\ufffd\ufffd b\ufffd"_s},
        DecodeCase{"byte_order_mark_wins", "text/html; charset=iso-8859-1", "\xef\xbb\xbfh\xc3\xad",
                   u"h\u00ed"_s},
        DecodeCase{"empty_body", "text/html; charset=iso-8859-1", "", QString()}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(CharsetOfContentType, ReadsTheParameterOnly)
{
    const std::pair<const char*, const char*> cases[] = {
        {"text/html; charset=UTF-8", "UTF-8"},
        {"text/html;charset=\"iso-8859-1\"", "iso-8859-1"},
        {"text/html; format=flowed; Charset=windows-1252", "windows-1252"},
        {"text/html", ""},
        {"charset=utf-8", ""},
        {"text/html; charset=", ""},
        {"text/html; charset=\"utf-8", "utf-8"},
        {"text/html; charset=a<b>c", ""},
        {"text/html; xcharset=utf-8", ""},
    };
    for (const auto& [type, charset] : cases)
        EXPECT_EQ(pagefetch::charsetOfContentType(type), QByteArray(charset)) << type;
}

} // namespace
} // namespace telvar
