// The router says how it is: the status file beside the outbox after every
// cycle and at start and stop, and /metrics and /status over HTTP on
// 127.0.0.1 when the installation asks for them.
#include "app/Router.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "status/StatusSetting.h"
#include "support/ConfigFixture.h"
#include "support/LocalPorts.h"
#include "support/ManualClock.h"
#include "support/ScriptedPageLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace telvar {
namespace {

// A port's description as a configuration may hold it: quotes, a
// backslash, a line end and markup.
const QString kHostileDescription = QStringLiteral("Horno \"2\" \\ zona\n<b>B</b>");
// A page whose four characters after "T=" are a digit, a quote, a backslash
// and a line end.
const QString kHostilePage = QStringLiteral("T=1\"\\\n rest");
const QString kHostileReading = QStringLiteral("1\"\\\n");

// An installation with ports 1 and 2 on clock 1 (every minute), port 3
// without a clock, an SPC database without limits and no data files (what
// is read goes to the quarantine), a scripted page loader and a manual clock.
class StatusServiceTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m.Idioma = 2;
        const QString path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                                          {{1, kHostileDescription, QStringLiteral("E1"), 1},
                                           {2, QStringLiteral("B"), QStringLiteral("E1"), 1},
                                           {3, QStringLiteral("C"), QStringLiteral("E1"), 0}});
        writeTLVDirec({path});
        ASSERT_TRUE(openDatabase(path)
                        ->exec(QStringLiteral(
                            "update HTMCONFI set WebPg = 'http://st/' || Puert || '.html', "
                            "Ident = 'T=', Inici = 1, Longi = 4, Forma = 'F1', Maqui = 'M1', "
                            "Produ = 'P1', Carac = 'C1'"))
                        .ok());
        const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(qualitra, m.PassBD).ok());
        ASSERT_TRUE(openDatabase(qualitra)
                        ->exec(QStringLiteral("CREATE TABLE CXP (CXPMAQUI VARCHAR(8), "
                                              "CXPPRODU VARCHAR(20), CXPCARAC VARCHAR(8), "
                                              "CXPLINFC DOUBLE, CXPLSUPC DOUBLE)"))
                        .ok());
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(qualitra, m.PassBD);
    }

    void writeSetting(const QByteArray& bytes)
    {
        QFile file(StatusSetting::pathForInstallation(m.RutaApp));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    std::unique_ptr<Router> startedRouter()
    {
        auto router = std::make_unique<Router>(m, ui, loader, clock);
        router->open();
        EXPECT_EQ(router->configDatabase().Reinicia(), ReiniciaOutcome::Done);
        router->acquisition().cmdAbre_Click();
        EXPECT_TRUE(router->acquisition().isRunning());
        return router;
    }

    // Clock 1's cycle, with the pages given by port.
    void cycle(Router& router, const QString& page1, const QString& page2)
    {
        router.acquisition().bReloj_Click(1);
        const auto pending = loader.pending();
        ASSERT_EQ(pending.size(), 2);
        loader.complete(pending[0].ticket, LoadedPage{{}, PageOutcome::Complete, page1, 200, {}});
        loader.complete(pending[1].ticket, LoadedPage{{}, PageOutcome::Complete, page2, 200, {}});
        ASSERT_EQ(router.acquisition().cyclesRunning(), 0);
    }

    // The status file as it is on the disk now.
    QJsonObject statusFile(const Router& router) const
    {
        QFile file(const_cast<Router&>(router).status().filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    // The status file once it says what `holds` checks.
    template <typename Check> QJsonObject statusFileOnce(const Router& router, Check holds)
    {
        QJsonObject status;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                status = statusFile(router);
                return holds(status);
            },
            20000))
            << QJsonDocument(status).toJson().toStdString();
        return status;
    }

    static QJsonObject port(const QJsonObject& status, int puert)
    {
        for (const QJsonValue& p : status.value(QStringLiteral("ports")).toArray())
            if (p.toObject().value(QStringLiteral("port")).toInt() == puert)
                return p.toObject();
        return {};
    }

    struct Answer {
        int status = 0;
        QByteArray body;
    };
    static Answer get(quint16 serverPort, const QString& path)
    {
        QNetworkAccessManager manager;
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort).arg(path)))));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000));
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll()};
    }

    test::ScriptedPageLoader loader;
    test::ManualClock clock;
};

TEST_F(StatusServiceTest, TheStatusFileFollowsTheCyclesAndServesTheSameOverHttp)
{
    const quint16 serverPort = test::unusedLocalPort();
    writeSetting("[status]\nport=" + QByteArray::number(serverPort) + "\n");
    const auto router = startedRouter();
    ASSERT_EQ(router->status().serverPort(), serverPort);
    EXPECT_EQ(QFileInfo(router->status().filePath()).dir(),
              QFileInfo(router->recording().outboxPath()).dir());
    EXPECT_EQ(QFileInfo(router->status().filePath()).fileName(),
              QStringLiteral("TelvarStatus.json"));

    // The start: acquiring, two ports polled, none of them yet: both wait
    // for their first poll.
    QJsonObject status = statusFileOnce(*router, [](const QJsonObject& s) {
        return s.value(QStringLiteral("acquiring")).toBool();
    });
    EXPECT_EQ(status.value(QStringLiteral("ports")).toArray().size(), 2);
    EXPECT_EQ(port(status, 1).value(QStringLiteral("state")).toString(), QStringLiteral("waiting"));
    EXPECT_EQ(port(status, 2).value(QStringLiteral("state")).toString(), QStringLiteral("waiting"));
    EXPECT_EQ(status.value(QStringLiteral("portCounts"))
                  .toObject()
                  .value(QStringLiteral("waiting"))
                  .toInt(),
              2);
    const QString atStart = QString::fromUtf8(get(serverPort, QStringLiteral("/metrics")).body);
    EXPECT_TRUE(atStart.contains(QStringLiteral("\ntelvar_ports{state=\"waiting\"} 2\n")))
        << atStart.toStdString();
    EXPECT_TRUE(atStart.contains(QStringLiteral("\ntelvar_ports{state=\"ok\"} 0\n")));
    EXPECT_TRUE(atStart.contains(QStringLiteral(
        "telvar_port_state{port=\"2\",clock=\"1\",description=\"B\",state=\"waiting\"} 1\n")));
    EXPECT_EQ(port(status, 1).value(QStringLiteral("description")).toString(), kHostileDescription);
    EXPECT_TRUE(status.value(QStringLiteral("statusServer"))
                    .toObject()
                    .value(QStringLiteral("listening"))
                    .toBool());

    // A cycle: port 1 reads the page's hostile text, port 2 finds nothing.
    clock.advance(std::chrono::seconds(30));
    ASSERT_NO_FATAL_FAILURE(cycle(*router, kHostilePage, QStringLiteral("nothing")));
    status = statusFileOnce(*router, [](const QJsonObject& s) {
        return port(s, 2).value(QStringLiteral("state")).toString() == QStringLiteral("failing");
    });
    const QJsonObject first = port(status, 1);
    EXPECT_EQ(first.value(QStringLiteral("lastReading")).toString(), kHostileReading);
    EXPECT_EQ(first.value(QStringLiteral("lastReadingAt")).toString(),
              clock.now().toOffsetFromUtc(clock.now().offsetFromUtc()).toString(Qt::ISODate));
    EXPECT_EQ(first.value(QStringLiteral("failuresInARow")).toInt(), 0);
    const QJsonObject second = port(status, 2);
    EXPECT_EQ(second.value(QStringLiteral("failuresInARow")).toInt(), 1);
    EXPECT_EQ(second.value(QStringLiteral("lastError")).toString(),
              QStringLiteral("\"T=\" not found on the page"));

    // Port 1's reading has no data file: its table shows it in the
    // quarantine once the writer has tried it (the file follows the
    // recording within a second).
    status = statusFileOnce(*router, [](const QJsonObject& s) {
        const QJsonArray tables = s.value(QStringLiteral("destinations")).toArray();
        return tables.size() == 1 &&
               tables.at(0).toObject().value(QStringLiteral("quarantined")).toInt() == 1;
    });
    const QJsonObject table =
        status.value(QStringLiteral("destinations")).toArray().at(0).toObject();
    EXPECT_TRUE(table.value(QStringLiteral("place")).toString().endsWith(QStringLiteral("P1.MDB")));
    EXPECT_EQ(table.value(QStringLiteral("waiting")).toInt(), 0);
    EXPECT_EQ(status.value(QStringLiteral("outbox"))
                  .toObject()
                  .value(QStringLiteral("quarantined"))
                  .toInt(),
              1);

    // /status is the same document; /metrics the same facts, its labels
    // escaped.
    const Answer json = get(serverPort, QStringLiteral("/status"));
    ASSERT_EQ(json.status, 200);
    const QJsonObject served = QJsonDocument::fromJson(json.body).object();
    EXPECT_EQ(served.value(QStringLiteral("ports")), status.value(QStringLiteral("ports")));
    EXPECT_EQ(served.value(QStringLiteral("destinations")),
              status.value(QStringLiteral("destinations")));
    const Answer metrics = get(serverPort, QStringLiteral("/metrics"));
    ASSERT_EQ(metrics.status, 200);
    const QString text = QString::fromUtf8(metrics.body);
    EXPECT_TRUE(text.contains(QStringLiteral(
        "telvar_port_state{port=\"1\",clock=\"1\",description=\"Horno \\\"2\\\" \\\\ "
        "zona\\n<b>B</b>\",state=\"ok\"} 1\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(
        "telvar_port_failures_in_a_row{port=\"2\",clock=\"1\",description=\"B\"} 1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\ntelvar_ports{state=\"waiting\"} 0\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\ntelvar_ports{state=\"failing\"} 1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\ntelvar_acquiring 1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\ntelvar_outbox_quarantined 1\n")));

    // The stop: every port stopped, what was known of them kept.
    router->acquisition().cmdAbre_Click();
    status = statusFileOnce(*router, [](const QJsonObject& s) {
        return !s.value(QStringLiteral("acquiring")).toBool(true);
    });
    EXPECT_EQ(port(status, 1).value(QStringLiteral("state")).toString(), QStringLiteral("stopped"));
    EXPECT_EQ(port(status, 2).value(QStringLiteral("failuresInARow")).toInt(), 1);
    EXPECT_TRUE(
        get(serverPort, QStringLiteral("/metrics")).body.contains("\ntelvar_acquiring 0\n"));
}

TEST_F(StatusServiceTest, APortInUseIsReportedAndTheAcquisitionGoesOn)
{
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    writeSetting("[status]\nport=" + QByteArray::number(other.serverPort()) + "\n");
    const auto router = startedRouter();
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("The status server cannot listen on "
                                                         "127.0.0.1:") +
                                          QString::number(other.serverPort())))
        << ui.boxes[0].text.toStdString();
    EXPECT_EQ(router->status().serverPort(), 0);
    ASSERT_NO_FATAL_FAILURE(cycle(*router, QStringLiteral("T=2.50"), QStringLiteral("T=3.50")));
    const QJsonObject status = statusFileOnce(*router, [](const QJsonObject& s) {
        return port(s, 1).value(QStringLiteral("lastReading")).toString() == QStringLiteral("2.50");
    });
    const QJsonObject server = status.value(QStringLiteral("statusServer")).toObject();
    EXPECT_EQ(server.value(QStringLiteral("port")).toInt(), other.serverPort());
    EXPECT_FALSE(server.value(QStringLiteral("listening")).toBool(true));
    EXPECT_FALSE(server.value(QStringLiteral("error")).toString().isEmpty());
}

TEST_F(StatusServiceTest, AWrongSettingIsReportedWithItsLineAndTheServerStaysOff)
{
    writeSetting("[status]\n\nport=http\n");
    const auto router = startedRouter();
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.contains(StatusSetting::pathForInstallation(m.RutaApp) +
                                          QStringLiteral(", line 3: the port \"http\"")))
        << ui.boxes[0].text.toStdString();
    EXPECT_TRUE(ui.boxes[0].text.contains(QStringLiteral("The status server stays off.")));
    EXPECT_EQ(router->status().serverPort(), 0);
    EXPECT_TRUE(router->acquisition().isRunning());
}

TEST_F(StatusServiceTest, WithoutASettingThereIsNoServerAndNoBox)
{
    const auto router = startedRouter();
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(router->status().serverPort(), 0);
    const QJsonObject status = statusFileOnce(*router, [](const QJsonObject& s) {
        return s.value(QStringLiteral("acquiring")).toBool();
    });
    EXPECT_EQ(status.value(QStringLiteral("statusServer"))
                  .toObject()
                  .value(QStringLiteral("port"))
                  .toInt(),
              0);
}

} // namespace
} // namespace telvar
