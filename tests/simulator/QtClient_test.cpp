#include "support/TestStation.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

namespace telvar::simulator {
namespace {

// Qt's own HTTP client reads the simulator's pages as a browser-free
// acquisition would: following redirects, stopping redirect loops, keeping
// connections alive.
class QtClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_station.started());
        m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }

    std::unique_ptr<QNetworkReply> fetch(const QByteArray& path)
    {
        const QUrl url(QStringLiteral("http://127.0.0.1:%1").arg(m_station.port()) +
                       QString::fromLatin1(path));
        QNetworkRequest request(url);
        request.setMaximumRedirectsAllowed(5);
        std::unique_ptr<QNetworkReply> reply(m_manager.get(request));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) << path.data();
        return reply;
    }

    telvar::test::TestStation m_station;
    QNetworkAccessManager m_manager;
};

TEST_F(QtClientTest, PagesRedirectsAndFaultsAsQtSeesThem)
{
    struct Case {
        const char* path;
        QNetworkReply::NetworkError error;
        int status;
        const char* bodyHolds;
    };
    const Case cases[] = {
        {"/estacion1.html", QNetworkReply::NoError, 200, "DIAM="},
        {"/estacion1.html", QNetworkReply::NoError, 200, "LARGO="},
        {"/redirect?to=/estacion2.html", QNetworkReply::NoError, 200, "PESO="},
        {"/chain/3.html", QNetworkReply::NoError, 200, "DIAM="},
        {"/loop/a.html", QNetworkReply::TooManyRedirectsError, 0, ""},
        {"/chain/9.html", QNetworkReply::TooManyRedirectsError, 0, ""},
        {"/status/500", QNetworkReply::InternalServerError, 500, "500"},
        {"/status/404", QNetworkReply::ContentNotFoundError, 404, "404"},
        {"/close", QNetworkReply::RemoteHostClosedError, 0, ""},
        {"/large/1000000", QNetworkReply::NoError, 200, "filler"},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<QNetworkReply> reply = fetch(c.path);
        EXPECT_EQ(reply->error(), c.error) << c.path;
        if (c.status != 0) {
            EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), c.status)
                << c.path;
        }
        EXPECT_TRUE(reply->readAll().contains(c.bodyHolds)) << c.path;
    }
}

} // namespace
} // namespace telvar::simulator
