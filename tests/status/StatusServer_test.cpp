#include "status/StatusServer.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace telvar {
namespace {

struct Answer {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

// One request over a real connection to 127.0.0.1, on the test's event loop
// (where the server answers).
Answer ask(quint16 port, const QByteArray& method, const QString& path,
           const QByteArray& host = QByteArray())
{
    QNetworkAccessManager manager;
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port) + path));
    if (!host.isEmpty())
        request.setRawHeader("Host", host);
    // A HEAD's answer has no body whatever its length says; the manager
    // knows that of its own HEAD only.
    std::unique_ptr<QNetworkReply> reply(
        method == "HEAD" ? manager.head(request) : manager.sendCustomRequest(request, method));
    EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000));
    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    answer.body = reply->readAll();
    return answer;
}

struct RequestCase {
    const char* name;
    const char* method;
    const char* path;
    const char* host; // empty: the client's own; %P the server's port
    int status;
    const char* contentType;
    const char* body;
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << c.name;
}

const RequestCase kRequests[] = {
    {"Metrics", "GET", "/metrics", "", 200, "text/plain; version=0.0.4; charset=utf-8",
     "telvar_acquiring 1\n"},
    {"Status", "GET", "/status", "", 200, "application/json", "{\"acquiring\": true}"},
    {"LocalhostByName", "GET", "/status", "localhost:%P", 200, "application/json",
     "{\"acquiring\": true}"},
    {"HeadGivesNoBody", "HEAD", "/metrics", "", 200, "text/plain; version=0.0.4; charset=utf-8",
     ""},
    {"AnotherPath", "GET", "/", "", 404, nullptr, nullptr},
    {"AQueryIsNoOtherPath", "GET", "/metrics?x=1", "", 200, nullptr, "telvar_acquiring 1\n"},
    {"NotAGet", "POST", "/metrics", "", 405, nullptr, nullptr},
    // A page of another site whose name was rebound to 127.0.0.1.
    {"AnotherHost", "GET", "/status", "attacker.example:8080", 403, nullptr, nullptr},
};

class StatusServerRequests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(StatusServerRequests, AnswersOnLoopbackOnly)
{
    const RequestCase& c = GetParam();
    int built = 0;
    StatusServer server(
        [&] {
            ++built;
            return QByteArray("telvar_acquiring 1\n");
        },
        [&] {
            ++built;
            return QByteArray("{\"acquiring\": true}");
        });
    ASSERT_TRUE(server.listen(0).ok());
    ASSERT_TRUE(server.isListening());
    const QByteArray host = QByteArray(c.host).replace("%P", QByteArray::number(server.port()));
    const Answer answer =
        ask(server.port(), QByteArray(c.method), QString::fromLatin1(c.path), host);
    EXPECT_EQ(answer.status, c.status);
    if (c.contentType) {
        EXPECT_EQ(answer.contentType, QByteArray(c.contentType));
    }
    if (c.body) {
        EXPECT_EQ(answer.body, QByteArray(c.body));
    }
    // A document is built only for a request that gets it.
    EXPECT_EQ(built, c.status == 200 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusServerRequests, ::testing::ValuesIn(kRequests),
                         [](const ::testing::TestParamInfo<RequestCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(StatusServer, APortInUseIsAnErrorAndTheServerStaysOff)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    StatusServer server([] { return QByteArray(); }, [] { return QByteArray(); });
    const Status listening = server.listen(other.serverPort());
    ASSERT_FALSE(listening.ok());
    EXPECT_FALSE(listening.error().description.isEmpty());
    EXPECT_FALSE(server.isListening());
    EXPECT_EQ(server.port(), 0);
}

} // namespace
} // namespace telvar
