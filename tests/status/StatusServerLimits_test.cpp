#include "status/StatusServer.h"
#include "status/StatusServer_fixture.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace telvar {
namespace {

using namespace std::chrono_literals;
using test::firstAnswer;
using test::StatusPeer;

// Deadlines short enough for a test; the rest as the router has them.
StatusServer::Limits testLimits()
{
    StatusServer::Limits limits;
    limits.idleTimeout = 200ms;
    limits.requestTimeout = 200ms;
    limits.acceptRetry = 50ms;
    return limits;
}

QByteArray request(QByteArray text, quint16 port)
{
    return text.replace("%P", QByteArray::number(port));
}

const QByteArray kGet = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n";

struct RawCase {
    const char* name;
    QByteArray bytes; // %P the server's port
    int status;
    // Closed after the answer; otherwise a second request on the same
    // connection is answered too.
    bool closes;
    bool head = false;
};

void PrintTo(const RawCase& c, std::ostream* os)
{
    *os << c.name;
}

const QByteArray kBigField = "X-Filler: " + QByteArray(20 * 1024, 'a') + "\r\n";

const RawCase kRaw[] = {
    {"Get", kGet, 200, false},
    {"Head", "HEAD /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n", 200, false, true},
    {"LocalhostByNameAnyCase", "GET /status HTTP/1.1\r\nHost: LocalHost:%P\r\n\r\n", 200, false},
    {"AnotherPath", "GET /metricsx HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n", 404, false},
    {"Post", "POST /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nContent-Length: 0\r\n\r\n", 405,
     false},
    {"Put", "PUT /status HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n", 405, false},
    {"Delete", "DELETE /status HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n", 405, false},
    {"Options", "OPTIONS * HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n\r\n", 405, false},
    {"Http10ClosesAfter", "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1:%P\r\n\r\n", 200, true},
    {"ConnectionCloseClosesAfter",
     "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nConnection: close\r\n\r\n", 200, true},
    // A Host is what tells a rebound page's request from one of this
    // machine's own clients: anything but this machine and port is refused.
    {"NoHost", "GET /metrics HTTP/1.1\r\n\r\n", 403, true},
    {"NoHostHttp10", "GET /metrics HTTP/1.0\r\n\r\n", 403, true},
    {"UserinfoBeforeAnotherHost", "GET /metrics HTTP/1.1\r\nHost: localhost:80@evil.com\r\n\r\n",
     403, true},
    {"UserinfoWithThisPort", "GET /metrics HTTP/1.1\r\nHost: localhost:%P@evil.com\r\n\r\n", 403,
     true},
    {"AnotherPort", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n", 403, true},
    {"NoPort", "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n", 403, true},
    {"AnotherHost", "GET /metrics HTTP/1.1\r\nHost: attacker.example:%P\r\n\r\n", 403, true},
    {"AnotherLoopback", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.2:%P\r\n\r\n", 403, true},
    {"TwoHosts", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nHost: evil.com\r\n\r\n", 403,
     true},
    {"EmptyHost", "GET /metrics HTTP/1.1\r\nHost:\r\n\r\n", 403, true},
    // Bodies are not taken, and what follows one cannot be trusted to start
    // a request.
    {"ABody", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nContent-Length: 5\r\n\r\nhello", 413,
     true},
    {"AChunkedBody",
     "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\nTransfer-Encoding: chunked\r\n\r\n"
     "5\r\nhello\r\n",
     413, true},
    {"AHeadOverTheBound", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:%P\r\n" + kBigField + "\r\n",
     431, true},
    {"NotHttp", "\x16\x03\x01\x02\x05hello", 400, true},
};

class StatusServerRaw : public ::testing::TestWithParam<RawCase> {};

TEST_P(StatusServerRaw, AnswersOneRequestAtATime)
{
    const RawCase& c = GetParam();
    int built = 0;
    const QByteArray metrics = "telvar_acquiring 1\n";
    StatusServer server(
        [&] {
            ++built;
            return metrics;
        },
        [&] {
            ++built;
            return QByteArray("{}");
        });
    server.setLimits(testLimits());
    ASSERT_TRUE(server.listen(0).ok());
    StatusPeer peer(server.port());
    ASSERT_TRUE(peer.isConnected());
    ASSERT_TRUE(peer.send(request(c.bytes, server.port())));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            peer.read();
            return firstAnswer(peer.received(), c.head).has_value() || peer.closedByServer();
        },
        5000));
    const auto answer = firstAnswer(peer.received(), c.head);
    ASSERT_TRUE(answer.has_value()) << peer.received().toStdString();
    EXPECT_EQ(answer->status, c.status);
    EXPECT_TRUE(answer->head.contains("\r\nx-content-type-options: nosniff\r\n"));
    EXPECT_TRUE(answer->head.contains("\r\ncache-control: no-store\r\n"));
    EXPECT_EQ(answer->head.contains("\r\nallow: get, head\r\n"), c.status == 405);
    EXPECT_EQ(built, c.status == 200 ? 1 : 0);
    if (c.head) {
        EXPECT_TRUE(answer->head.contains(
            "\r\ncontent-length: " + QByteArray::number(metrics.size()) + "\r\n"));
        EXPECT_EQ(answer->length, peer.received().size()) << "a body after a HEAD's answer";
    }
    if (c.closes) {
        EXPECT_TRUE(answer->head.contains("\r\nconnection: close\r\n"));
        EXPECT_TRUE(peer.waitForClose());
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 0; }, 5000));
        return;
    }
    // Kept open for the next request.
    const qsizetype first = answer->length;
    ASSERT_TRUE(peer.send(request(kGet, server.port())));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            peer.read();
            return firstAnswer(peer.received().mid(first)).has_value() || peer.closedByServer();
        },
        5000));
    const auto second = firstAnswer(peer.received().mid(first));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->status, 200);
    EXPECT_EQ(second->body, metrics);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusServerRaw, ::testing::ValuesIn(kRaw),
                         [](const ::testing::TestParamInfo<RawCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(StatusServerLimits, ConnectionsBeyondTheCapAreClosedWhileAnOpenOneIsAnswered)
{
    StatusServer server([] { return QByteArray("m\n"); }, [] { return QByteArray("{}"); });
    StatusServer::Limits limits = testLimits();
    limits.maxConnections = 3;
    limits.idleTimeout = 10s;
    server.setLimits(limits);
    ASSERT_TRUE(server.listen(0).ok());
    std::vector<std::unique_ptr<StatusPeer>> held;
    for (int i = 0; i < limits.maxConnections; ++i)
        held.push_back(std::make_unique<StatusPeer>(server.port()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 3; }, 5000));
    std::vector<std::unique_ptr<StatusPeer>> beyond;
    for (int i = 0; i < 5; ++i)
        beyond.push_back(std::make_unique<StatusPeer>(server.port()));
    for (const auto& peer : beyond) {
        ASSERT_TRUE(peer->isConnected());
        EXPECT_TRUE(peer->waitForClose());
        EXPECT_TRUE(peer->received().isEmpty());
    }
    EXPECT_EQ(server.connectionCount(), 3);
    // The held ones were not touched by the flood.
    StatusPeer& first = *held.front();
    ASSERT_TRUE(first.send(request(kGet, server.port())));
    ASSERT_TRUE(first.waitForAnswer());
    EXPECT_EQ(firstAnswer(first.received())->status, 200);
    // Once one closes, a new one is taken again.
    held.pop_back();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 2; }, 5000));
    StatusPeer late(server.port());
    ASSERT_TRUE(late.send(request(kGet, server.port())));
    ASSERT_TRUE(late.waitForAnswer());
    EXPECT_EQ(firstAnswer(late.received())->status, 200);
}

struct SlowCase {
    const char* name;
    QByteArray first; // sent at once
    // Sent a byte at a time while the connection lasts: a head that keeps
    // coming but never ends.
    bool trickle;
};

void PrintTo(const SlowCase& c, std::ostream* os)
{
    *os << c.name;
}

const SlowCase kSlow[] = {
    {"NothingSent", "", false},
    {"HalfAHead", "GET /metrics HTTP/1.1\r\nHost: 127", false},
    {"AHeadThatTrickles", "GET /metrics HTTP/1.1\r\nX: ", true},
    {"IdleAfterAnAnswer", kGet, false},
};

class StatusServerDeadlines : public ::testing::TestWithParam<SlowCase> {};

TEST_P(StatusServerDeadlines, CloseASlowConnection)
{
    const SlowCase& c = GetParam();
    StatusServer server([] { return QByteArray("m\n"); }, [] { return QByteArray("{}"); });
    server.setLimits(testLimits());
    ASSERT_TRUE(server.listen(0).ok());
    StatusPeer peer(server.port());
    ASSERT_TRUE(peer.send(request(c.first, server.port())));
    const bool closed = QTest::qWaitFor(
        [&] {
            if (c.trickle)
                peer.sendSome("a");
            peer.read();
            return peer.closedByServer();
        },
        5000);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 0; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Table, StatusServerDeadlines, ::testing::ValuesIn(kSlow),
                         [](const ::testing::TestParamInfo<SlowCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(StatusServerLimits, AnUnreadPipelineIsNotBufferedAndIsClosed)
{
    // Answers of some size, so that the system's buffers toward the peer
    // fill after a few hundred.
    const QByteArray metrics(4096, 'm');
    StatusServer server([&] { return metrics; }, [] { return QByteArray("{}"); });
    const StatusServer::Limits limits = testLimits();
    server.setLimits(limits);
    ASSERT_TRUE(server.listen(0).ok());
    StatusPeer peer(server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 1; }, 5000));
    const QByteArray one = request(kGet, server.port());
    QByteArray block;
    while (block.size() < 64 * 1024)
        block += one;
    const qint64 total = 10 * 1024 * 1024;
    qint64 sent = 0;
    qint64 mostBuffered = 0;
    // Sent without ever reading an answer, as fast as the socket takes it,
    // until 10 MB went or the server closed the connection.
    const bool ended = QTest::qWaitFor(
        [&] {
            mostBuffered = std::max(mostBuffered, server.bufferedBytes());
            for (int i = 0; i < 16 && sent < total; ++i) {
                const qint64 went = peer.sendSome(block.sliced(sent % block.size()));
                if (went <= 0)
                    break;
                sent += went;
            }
            return sent >= total || server.connectionCount() == 0 || peer.closedByServer();
        },
        10000);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            mostBuffered = std::max(mostBuffered, server.bufferedBytes());
            return server.connectionCount() == 0;
        },
        5000))
        << "the connection is still open after " << sent << " bytes";
    // A head's bound read ahead, one more in Qt's buffer, one answer unsent.
    EXPECT_LE(mostBuffered, 2 * (limits.maxHeadBytes + 1) + metrics.size() + 512);
    EXPECT_GT(mostBuffered, 0);
}

// Lowers this process's descriptor limit so that the next descriptor made
// fails with EMFILE, and puts it back when it goes.
class DescriptorsExhausted final {
public:
    DescriptorsExhausted()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        // The lowest free descriptor is the next one made: a limit there
        // leaves every descriptor already open working.
        const int next = ::dup(0);
        ::close(next);
        rlimit lowered = m_saved;
        lowered.rlim_cur = static_cast<rlim_t>(next);
        m_lowered = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorsExhausted() { restore(); }
    DescriptorsExhausted(const DescriptorsExhausted&) = delete;
    DescriptorsExhausted& operator=(const DescriptorsExhausted&) = delete;

    bool lowered() const { return m_lowered; }
    void restore()
    {
        if (m_lowered)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_lowered = false;
    }

private:
    rlimit m_saved{};
    bool m_lowered = false;
};

TEST(StatusServerLimits, AcceptingPausesWithoutDescriptorsAndResumes)
{
    StatusServer server([] { return QByteArray("m\n"); }, [] { return QByteArray("{}"); });
    StatusServer::Limits limits = testLimits();
    limits.idleTimeout = 10s;
    limits.requestTimeout = 10s;
    server.setLimits(limits);
    ASSERT_TRUE(server.listen(0).ok());
    // The peer's own socket is made before the limit comes down; the
    // server's side of it waits in the system's queue.
    StatusPeer peer(server.port());
    ASSERT_TRUE(peer.isConnected());
    ASSERT_TRUE(peer.send(request(kGet, server.port())));
    {
        DescriptorsExhausted exhausted;
        ASSERT_TRUE(exhausted.lowered());
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.isAcceptPaused(); }, 5000));
        // Tried again after its pause, and paused again while it cannot.
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.acceptPauses() >= 3; }, 5000));
        exhausted.restore();
        EXPECT_EQ(server.connectionCount(), 0);
    }
    ASSERT_TRUE(peer.waitForAnswer());
    EXPECT_EQ(firstAnswer(peer.received())->status, 200);
    EXPECT_FALSE(server.isAcceptPaused());
}

} // namespace
} // namespace telvar
