#include "simulator/StationPages.h"
#include "simulator/StationServer.h"
#include "support/SimulatorClient.h"
#include "support/TestStation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

namespace telvar::simulator {
namespace {

using test::Client;
using test::get;
using test::Response;

class StationServerTest : public ::testing::Test {
protected:
    void SetUp() override { startServer(); }

    void startServer(const ServerOptions& options = {})
    {
        m_station = std::make_unique<telvar::test::TestStation>(options);
        ASSERT_TRUE(m_station->started()) << m_station->error().toStdString();
        m_port = m_station->port();
    }

    std::unique_ptr<telvar::test::TestStation> m_station;
    quint16 m_port = 0;
};

QByteArray cut(const QByteArray& page, QByteArrayView identifier)
{
    const qsizetype pos = page.indexOf(identifier);
    return pos < 0 ? QByteArray() : page.mid(pos + identifier.size(), kValueWidth);
}

// The demo's ports, read from the demo configuration's source so that a port
// added there is checked here too: page, identifier and the rest of the entry
// (where the marker fields are).
struct DemoPort {
    QByteArray page;
    QByteArray identifier;
    QByteArray rest;
};

std::vector<DemoPort> demoPortsFromSource()
{
    QFile file(QStringLiteral(TELVAR_SOURCE_DIR "/tools/demo/ConfigDemo.cpp"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression entry(
        QStringLiteral(R"re(\{\s*\d+,\s*"[^"]*",\s*"(/[^"]+)",\s*"([^"]+)",([^}]*)\})re"));
    std::vector<DemoPort> ports;
    for (const QRegularExpressionMatch& match : entry.globalMatch(text))
        ports.push_back({match.captured(1).toLatin1(), match.captured(2).toLatin1(),
                         match.captured(3).toLatin1()});
    return ports;
}

TEST_F(StationServerTest, ServesEveryPageIdentifierAndMarkerOfTheDemo)
{
    const std::vector<DemoPort> ports = demoPortsFromSource();
    ASSERT_GE(ports.size(), 12u) << "the demo configuration's ports were not found";
    int withMarkers = 0;
    for (const DemoPort& port : ports) {
        const std::optional<Response> response = get(m_port, port.page);
        ASSERT_TRUE(response) << port.page.constData();
        EXPECT_EQ(response->status, 200) << port.page.constData();
        EXPECT_TRUE(response->header("content-type").startsWith("text/html"));
        const QByteArray value = cut(response->body, port.identifier);
        bool ok = false;
        value.toDouble(&ok);
        EXPECT_TRUE(ok && value.trimmed() == value)
            << port.page.constData() << ' ' << port.identifier.constData() << " gives '"
            << value.constData() << "'";
        if (!port.rest.contains("\"@MAQ:\""))
            continue;
        ++withMarkers;
        EXPECT_EQ(cut(response->body, "@MAQ:").trimmed(), "MAQ01") << port.page.constData();
        EXPECT_EQ(cut(response->body, "@PROD:").trimmed(), "PROD-A") << port.page.constData();
        EXPECT_EQ(cut(response->body, "@FRM:").trimmed(), "FRM01") << port.page.constData();
    }
    EXPECT_GE(withMarkers, 1) << "the port that reads its keys from the page";
}

TEST_F(StationServerTest, StationNamesFollowThePatternAndGenericStationsAreNumbered)
{
    struct Case {
        const char* target;
        int status;
    };
    const Case cases[] = {
        {"/estacion77.html", 200},   {"/estacion9z.html", 200}, {"/station/0.html", 200},
        {"/station/4321.html", 200}, {"/estacionX.html", 404},  {"/station/x.html", 404},
        {"/station/.html", 404},     {"/nothing", 404},         {"/", 200},
    };
    for (const Case& c : cases) {
        const std::optional<Response> response = get(m_port, c.target);
        ASSERT_TRUE(response) << c.target;
        EXPECT_EQ(response->status, c.status) << c.target;
        EXPECT_FALSE(response->body.isEmpty()) << c.target;
    }
    EXPECT_FALSE(cut(get(m_port, "/station/4321.html")->body, "TEMP=").isEmpty());
}

TEST_F(StationServerTest, ReadingsMoveWithRequestsAndRepeatForTheSameSeed)
{
    ServerOptions options;
    options.port = 0;
    options.seed = 99;
    auto fetchSequence = [](quint16 port) {
        std::vector<QByteArray> values;
        for (int i = 0; i < 8; ++i)
            values.push_back(cut(get(port, "/estacion2.html")->body, "TEMP="));
        return values;
    };
    StationServer first(options);
    StationServer second(options);
    options.seed = 100;
    StationServer other(options);
    for (StationServer* server : {&first, &second, &other})
        ASSERT_TRUE(server->start());
    ASSERT_EQ(first.ports().size(), 1);
    ASSERT_EQ(second.ports().size(), 1);
    ASSERT_EQ(other.ports().size(), 1);
    const std::vector<QByteArray> a = fetchSequence(first.ports().front());
    EXPECT_EQ(a, fetchSequence(second.ports().front()));
    EXPECT_NE(a, fetchSequence(other.ports().front()));
    EXPECT_GT(std::set<QByteArray>(a.begin(), a.end()).size(), 3u) << "readings move";

    // A fixed sample gives the same page, whatever came before.
    EXPECT_EQ(get(first.ports().front(), "/estacion2.html?tick=5")->body,
              get(second.ports().front(), "/estacion2.html?tick=5")->body);
}

TEST_F(StationServerTest, ReadingsFollowTheClockWhenAskedTo)
{
    ServerOptions options;
    options.tickPeriodMs = 1000000000; // one sample for the whole test
    startServer(options);
    EXPECT_EQ(get(m_port, "/estacion1.html")->body, get(m_port, "/estacion1.html")->body);
}

TEST_F(StationServerTest, SlowPageArrivesNotBeforeItsDelayAndBlocksNoOne)
{
    struct Case {
        const char* target;
        qint64 delayMs;
    };
    for (const Case& c : {Case{"/slow/300.html", 300}, Case{"/estacion1.html?delay=250", 250},
                          Case{"/nagle/slow/100.html?delay=100", 200}}) {
        Client slow(m_port);
        ASSERT_TRUE(slow.waitConnected());
        QElapsedTimer clock;
        clock.start();
        slow.send(QByteArray("GET ") + c.target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        const std::optional<Response> response = slow.response();
        ASSERT_TRUE(response) << c.target;
        EXPECT_GE(clock.elapsed(), c.delayMs) << c.target;
        EXPECT_EQ(response->status, 200);
        EXPECT_FALSE(cut(response->body, "DIAM=").isEmpty());
    }

    // While a long delay runs, other connections are answered.
    Client slow(m_port);
    ASSERT_TRUE(slow.waitConnected());
    slow.send("GET /slow/600000.html HTTP/1.1\r\n\r\n");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(get(m_port, "/estacion1.html")->status, 200);
    EXPECT_TRUE(slow.received().isEmpty());
    EXPECT_TRUE(slow.isConnected());
}

TEST_F(StationServerTest, NaglePagesComeLateOnKeptAliveConnections)
{
    Client client(m_port);
    ASSERT_TRUE(client.waitConnected());
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer clock;
        clock.start();
        client.send("GET /nagle/estacion1.html HTTP/1.1\r\n\r\n");
        const std::optional<Response> response = client.response();
        ASSERT_TRUE(response);
        EXPECT_GE(clock.elapsed(), kNagleDelayMs);
        EXPECT_FALSE(cut(response->body, "DIAM=").isEmpty());
    }
    EXPECT_TRUE(client.isConnected());
}

TEST_F(StationServerTest, ServerWideNagleDelaysEveryKeptAliveAnswer)
{
    ServerOptions options;
    options.nagleDelayMs = 120;
    startServer(options);
    Client client(m_port);
    ASSERT_TRUE(client.waitConnected());
    QElapsedTimer clock;
    clock.start();
    client.send("GET /estacion3.html HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(client.response());
    EXPECT_GE(clock.elapsed(), 120);
}

TEST_F(StationServerTest, SilentPageSendsNothingAndKeepsTheConnection)
{
    Client silent(m_port);
    ASSERT_TRUE(silent.waitConnected());
    silent.send("GET /silent HTTP/1.1\r\n\r\n");
    ASSERT_EQ(get(m_port, "/estacion1.html")->status, 200) << "the server goes on";
    QTest::qWait(300);
    silent.send("GET /estacion1.html HTTP/1.1\r\n\r\n");
    QTest::qWait(200);
    EXPECT_TRUE(silent.received().isEmpty());
    EXPECT_TRUE(silent.isConnected());
}

TEST_F(StationServerTest, CloseAndGarbagePages)
{
    Client closing(m_port);
    ASSERT_TRUE(closing.waitConnected());
    closing.send("GET /close HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(closing.waitClosed());
    EXPECT_TRUE(closing.received().isEmpty());

    Client garbage(m_port);
    ASSERT_TRUE(garbage.waitConnected());
    garbage.send("GET /garbage HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(garbage.waitClosed());
    EXPECT_EQ(garbage.received(), garbageBytes());
    EXPECT_FALSE(garbage.received().startsWith("HTTP/"));
}

TEST_F(StationServerTest, LargePageHasItsSize)
{
    constexpr qint64 kSize = 10 * 1024 * 1024;
    const std::optional<Response> response = get(m_port, "/large/10485760");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->header("content-length"), "10485760");
    EXPECT_EQ(response->body.size(), kSize);
    EXPECT_EQ(response->body.right(1000), fillerBytes(kSize - 1000, 1000));

    Client head(m_port);
    ASSERT_TRUE(head.waitConnected());
    head.send("HEAD /large/123.html HTTP/1.1\r\n\r\n");
    const std::optional<Response> headResponse = head.response(10000, true);
    ASSERT_TRUE(headResponse);
    EXPECT_EQ(headResponse->header("content-length"), "123");
    head.send("GET /large/0 HTTP/1.1\r\n\r\n");
    const std::optional<Response> empty = head.response();
    ASSERT_TRUE(empty) << "HEAD sent no body, so the next answer follows at once";
    EXPECT_TRUE(empty->body.isEmpty());
    struct SizeCase {
        const char* target;
        int status;
        const char* length;
    };
    const SizeCase sizes[] = {
        {"/large/1K", 200, "1024"},  {"/large/3K.html", 200, "3072"},
        {"/large/7.html", 200, "7"}, {"/large/2000000000", 400, nullptr},
        {"/large/2G", 400, nullptr}, {"/large/99999999999M", 400, nullptr},
        {"/large/", 404, nullptr},   {"/large/12Q", 404, nullptr},
    };
    for (const SizeCase& c : sizes) {
        Client client(m_port);
        ASSERT_TRUE(client.waitConnected());
        client.send(QByteArray("HEAD ") + c.target + " HTTP/1.1\r\n\r\n");
        const std::optional<Response> sized = client.response(10000, true);
        ASSERT_TRUE(sized) << c.target;
        EXPECT_EQ(sized->status, c.status) << c.target;
        if (c.length) {
            EXPECT_EQ(sized->header("content-length"), c.length) << c.target;
        }
    }
}

TEST_F(StationServerTest, RedirectsGiveTheirStatusAndLocation)
{
    struct Case {
        const char* target;
        int status;
        const char* location;
    };
    const Case cases[] = {
        {"/redirect", 302, "/estacion1.html"},
        {"/redirect?to=/estacion2.html&code=301", 301, "/estacion2.html"},
        {"/redirect?to=/station/5.html&code=307", 307, "/station/5.html"},
        {"/loop/a.html", 302, "/loop/b.html"},
        {"/loop/b.html", 302, "/loop/a.html"},
        {"/loop", 302, "/loop"},
        {"/chain/3.html", 302, "/chain/2.html"},
        {"/redirect?to=http://elsewhere/", 400, ""},
        {"/redirect?to=//elsewhere/x", 400, ""},
        {"/redirect?code=200", 400, ""},
        {"/chain/5000.html", 400, ""},
    };
    for (const Case& c : cases) {
        const std::optional<Response> response = get(m_port, c.target);
        ASSERT_TRUE(response) << c.target;
        EXPECT_EQ(response->status, c.status) << c.target;
        EXPECT_EQ(response->header("location"), c.location) << c.target;
    }
    EXPECT_FALSE(cut(get(m_port, "/chain/0.html")->body, "DIAM=").isEmpty());
}

TEST_F(StationServerTest, ErrorStatusesCarryABody)
{
    struct Case {
        const char* target;
        int status;
        bool body;
    };
    const Case cases[] = {
        {"/status/404", 404, true},  {"/status/500.html", 500, true}, {"/status/503", 503, true},
        {"/status/204", 204, false}, {"/status/200", 200, true},      {"/status/99", 400, true},
        {"/status/600", 400, true},
    };
    for (const Case& c : cases) {
        const std::optional<Response> response = get(m_port, c.target);
        ASSERT_TRUE(response) << c.target;
        EXPECT_EQ(response->status, c.status) << c.target;
        EXPECT_EQ(!response->body.isEmpty(), c.body) << c.target;
    }
}

TEST_F(StationServerTest, CharsetPagesDeclareTheirEncoding)
{
    const std::optional<Response> latin1 = get(m_port, "/charset/latin1.html");
    ASSERT_TRUE(latin1);
    EXPECT_EQ(latin1->header("content-type"), "text/html; charset=ISO-8859-1");
    EXPECT_TRUE(latin1->body.contains("Estaci\xf3n"));
    EXPECT_FALSE(latin1->body.contains("\xc3\xb3"));

    const std::optional<Response> utf8 = get(m_port, "/charset/utf8.html");
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8->header("content-type"), "text/html; charset=UTF-8");
    EXPECT_TRUE(utf8->body.contains("Estaci\xc3\xb3n"));
}

TEST_F(StationServerTest, KeepAliveServesSeveralRequestsOnOneConnection)
{
    Client client(m_port);
    ASSERT_TRUE(client.waitConnected());
    client.send("GET /estacion1.html HTTP/1.1\r\n\r\n");
    const std::optional<Response> first = client.response();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->header("connection"), "keep-alive");
    client.send("GET /estacion2.html HTTP/1.1\r\n\r\n");
    const std::optional<Response> second = client.response();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->body.contains("<title>Estacion 2</title>"));

    // Pipelined requests are answered in order, after a slow one too.
    client.send("GET /estacion1.html?delay=100 HTTP/1.1\r\n\r\nGET /estacion3.html HTTP/1.1\r\n\r\n"
                "GET /status/404 HTTP/1.1\r\n\r\n");
    const std::optional<Response> a = client.response();
    const std::optional<Response> b = client.response();
    const std::optional<Response> c = client.response();
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(a->body.contains("<title>Estacion 1</title>"));
    EXPECT_TRUE(b->body.contains("<title>Estacion 3</title>"));
    EXPECT_EQ(c->status, 404);
    EXPECT_TRUE(client.isConnected());
}

TEST_F(StationServerTest, ConnectionsCloseWhenAsked)
{
    for (const QByteArray& request :
         {QByteArray("GET /estacion1.html HTTP/1.1\r\nConnection: close\r\n\r\n"),
          QByteArray("GET /estacion1.html HTTP/1.0\r\n\r\n")}) {
        Client client(m_port);
        ASSERT_TRUE(client.waitConnected());
        client.send(request);
        const std::optional<Response> response = client.response();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->header("connection"), "close");
        EXPECT_TRUE(client.waitClosed());
    }
}

TEST_F(StationServerTest, BadRequestsAreRefused)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        int status;
        bool closes;
    };
    const Case cases[] = {
        {"oversized head", "GET / HTTP/1.1\r\nX-Big: " + QByteArray(10000, 'b') + "\r\n\r\n", 431,
         true},
        {"oversized, unfinished", "GET / HTTP/1.1\r\nX-Big: " + QByteArray(10000, 'b'), 431, true},
        {"malformed", "HELLO\r\n\r\n", 400, true},
        {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501, true},
        {"big body", "POST / HTTP/1.1\r\nContent-Length: 10000000\r\n\r\n", 413, true},
        {"method", "POST /estacion1.html HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, false},
        {"bad delay", "GET /estacion1.html?delay=99999999 HTTP/1.1\r\n\r\n", 400, false},
    };
    for (const Case& c : cases) {
        Client client(m_port);
        ASSERT_TRUE(client.waitConnected()) << c.name;
        client.send(c.bytes);
        const std::optional<Response> response = client.response();
        ASSERT_TRUE(response) << c.name;
        EXPECT_EQ(response->status, c.status) << c.name;
        if (c.closes) {
            EXPECT_TRUE(client.waitClosed()) << c.name;
        } else {
            client.send("GET /estacion1.html HTTP/1.1\r\n\r\n");
            const std::optional<Response> next = client.response();
            ASSERT_TRUE(next) << c.name;
            EXPECT_EQ(next->status, 200) << c.name;
        }
    }
}

TEST_F(StationServerTest, IdleAndExcessConnectionsAreClosed)
{
    ServerOptions options;
    options.idleTimeoutMs = 200;
    options.maxConnections = 2;
    startServer(options);
    Client idle(m_port);
    Client partial(m_port);
    ASSERT_TRUE(idle.waitConnected());
    ASSERT_TRUE(partial.waitConnected());
    partial.send("GET /estacion1.html HTTP/1.1\r\nHost:");
    Client excess(m_port);
    EXPECT_TRUE(excess.waitClosed()) << "over the connection limit";
    EXPECT_TRUE(idle.waitClosed());
    EXPECT_TRUE(partial.waitClosed()) << "a head that never ends";
    EXPECT_TRUE(
        QTest::qWaitFor([this] { return m_station->server().connectionCount() == 0; }, 5000));
    EXPECT_EQ(get(m_port, "/estacion1.html")->status, 200);
}

TEST_F(StationServerTest, HundredsOfConnectionsAtOnce)
{
    constexpr int kSilent = 100;
    constexpr int kBusy = 300;
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < kSilent; ++i) {
        silent.push_back(std::make_unique<Client>(m_port));
        silent.back()->send("GET /silent HTTP/1.1\r\n\r\n");
    }
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kBusy; ++i) {
        clients.push_back(std::make_unique<Client>(m_port));
        clients.back()->send("GET /station/" + QByteArray::number(i) +
                             ".html?delay=" + QByteArray::number(i % 50) + " HTTP/1.1\r\n\r\n");
    }
    for (int i = 0; i < kBusy; ++i) {
        const std::optional<Response> response = clients[std::size_t(i)]->response(30000);
        ASSERT_TRUE(response) << i;
        EXPECT_EQ(response->status, 200);
    }
    EXPECT_EQ(m_station->server().connectionCount(), kSilent + kBusy);
    for (const auto& client : silent)
        EXPECT_TRUE(client->received().isEmpty());
}

TEST(StationServerPorts, SilentPortsNeverAnswer)
{
    ServerOptions options;
    options.port = 0;
    options.portCount = 3;
    options.silentPortCount = 1;
    StationServer server(options);
    ASSERT_TRUE(server.start());
    const QList<quint16> ports = server.ports();
    EXPECT_EQ(get(ports[1], "/estacion1.html")->status, 200);
    Client hung(ports[2]);
    ASSERT_TRUE(hung.waitConnected());
    hung.send("GET /estacion1.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(get(ports[0], "/estacion1.html")->status, 200);
    QTest::qWait(200);
    EXPECT_TRUE(hung.received().isEmpty());
    EXPECT_TRUE(hung.isConnected());

    options.silentPortCount = 4;
    EXPECT_FALSE(StationServer(options).start());
}

TEST(StationServerPorts, ListensOnSeveralPorts)
{
    ServerOptions options;
    options.port = 0;
    options.portCount = 3;
    StationServer server(options);
    ASSERT_TRUE(server.start());
    const QList<quint16> ports = server.ports();
    ASSERT_EQ(ports.size(), 3);
    for (quint16 port : ports)
        EXPECT_EQ(get(port, "/estacion1.html")->status, 200) << port;

    // A port already taken makes the whole start fail, listening on none.
    ServerOptions taken;
    taken.port = ports[1];
    StationServer clash(taken);
    QString error;
    EXPECT_FALSE(clash.start(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(clash.ports().isEmpty());

    ServerOptions badPattern;
    badPattern.port = 0;
    badPattern.stationPattern = QStringLiteral("(");
    EXPECT_FALSE(StationServer(badPattern).start());
}

} // namespace
} // namespace telvar::simulator
