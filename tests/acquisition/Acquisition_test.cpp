#include "acquisition/Acquisition.h"
#include "acquisition/PollingCycle.h"
#include "acquisition/ReadingCheck.h"
#include "config/ConfigDatabase.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "support/ConfigFixture.h"
#include "support/ManualClock.h"
#include "support/ScriptedPageLoader.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using namespace std::chrono_literals;
using Box = test::RecordingInteraccion::Box;

class RecordingCheck final : public ReadingCheck {
public:
    Status LabelLee(const PortReading& reading) override
    {
        readings.append(reading);
        return {};
    }
    QList<PortReading> readings;
};

// An installation with a configuration database and an SPC database with
// limits, and the acquisition over them on a scripted loader and a manual
// clock.
class AcquisitionTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        // Ports 2, 5 and 9 on clock 1 (interval 1 minute), port 7 on clock 2
        // (interval 0: only its button), port 8 without a clock.
        m_path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                              {{2, QStringLiteral("A"), QStringLiteral("E1"), 1},
                               {5, QStringLiteral("B"), QStringLiteral("E1"), 1},
                               {7, QStringLiteral("C"), QStringLiteral("E1"), 2},
                               {8, QStringLiteral("D"), QStringLiteral("E1"), 0},
                               {9, QStringLiteral("E"), QStringLiteral("E1"), 1}});
        writeTLVDirec({m_path});
        config(QStringLiteral("update HTMRELOJ set INTER = 0 where CLAVE = 2"));
        config(QStringLiteral("update HTMCONFI set WebPg = 'http://st/' || Puert || '.html', "
                              "Ident = 'T=', Inici = 1, Longi = 4, Maqui = 'M1', "
                              "Produ = 'P1', Carac = 'C1'"));
        config(QStringLiteral("update HTMCONFI set Maqui = '@MAQ:', Forma = '@FRM:' "
                              "where Puert = 5"));

        const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(qualitra, m.PassBD).ok());
        m_qualitra = openDatabase(qualitra);
        ASSERT_TRUE(m_qualitra
                        ->exec(QStringLiteral("CREATE TABLE CXP (CXPMAQUI VARCHAR(8), "
                                              "CXPPRODU VARCHAR(20), CXPCARAC VARCHAR(8), "
                                              "CXPLINFC DOUBLE, CXPLSUPC DOUBLE)"))
                        .ok());
        cxp(QStringLiteral("insert into CXP values ('M1', 'P1', 'C1', 10, 20)"));
        cxp(QStringLiteral("insert into CXP values ('***', 'P1', 'C1', 1, 2)"));
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(qualitra, m.PassBD);

        ASSERT_EQ(m_config.Reinicia(), ReiniciaOutcome::Done);
    }

    void config(const QString& sql)
    {
        auto cn = openDatabase(m_path);
        ASSERT_TRUE(cn->exec(sql).ok()) << sql.toStdString();
    }
    void cxp(const QString& sql) { ASSERT_TRUE(m_qualitra->exec(sql).ok()) << sql.toStdString(); }

    QStringList requested() const
    {
        QStringList urls;
        for (const auto& r : m_loader.requests())
            urls.append(r.url);
        return urls;
    }

    // Serves every pending load with a page whose reading is the port's
    // number.
    void servePending()
    {
        for (const auto& r : m_loader.pending()) {
            const QString number = r.url.section(u'/', -1).section(u'.', 0, 0);
            m_loader.complete(r.ticket, LoadedPage{r.url, PageOutcome::Complete,
                                                   QStringLiteral("T=") + number +
                                                       QStringLiteral(".0 MAQ:MX02 FRM:F9"),
                                                   200, std::nullopt});
        }
    }

    void tickMinutes(int minutes)
    {
        for (int i = 0; i < minutes; ++i) {
            m_clock.advance(1min);
            m_acquisition.clocks().processDueTicks();
        }
    }

    // A start on a configuration changed by sql fails with one critical
    // report; a failure after the ports were built leaves the acquisition
    // running, and the next press stops it.
    void expectFailedStart(const char* sql, const char* report, bool running)
    {
        config(QString::fromUtf8(sql));
        ASSERT_EQ(m_config.Reinicia(), ReiniciaOutcome::Done);
        m_acquisition.cmdAbre_Click();
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes[0].type, Box::Type::MensaBox);
        EXPECT_EQ(ui.boxes[0].icono, BoxKind::Critical);
        EXPECT_EQ(ui.boxes[0].duracion, 5);
        EXPECT_EQ(ui.boxes[0].text, QString::fromUtf8(report));
        EXPECT_EQ(m_acquisition.isRunning(), running);
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);
        if (running) {
            EXPECT_TRUE(m_acquisition.clocks().isEnabled(1));
            m_acquisition.cmdAbre_Click();
            EXPECT_FALSE(m_acquisition.isRunning());
        }
        for (int reloj = 1; reloj <= 10; ++reloj)
            EXPECT_FALSE(m_acquisition.clocks().isEnabled(reloj));
    }

    QString m_path;
    std::unique_ptr<Connection> m_qualitra;
    ConfigDatabase m_config{m, ui};
    test::ScriptedPageLoader m_loader;
    test::ManualClock m_clock;
    RecordingCheck m_check;
    Acquisition m_acquisition{m, ui, m_config, m_loader, m_clock, m_check};
};

TEST_F(AcquisitionTest, StartBuildsThePortsAndLimitsAndArmsTheClocksInUse)
{
    QSignalSpy completed(&m_acquisition, &Acquisition::startCompleted);
    m_acquisition.cmdAbre_Click();

    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_TRUE(m_acquisition.isRunning());
    EXPECT_EQ(completed.size(), 1);
    // Element k is the k-th row by Puert; the row without a clock stays empty.
    const Puertos& puertos = m_acquisition.puertos();
    ASSERT_EQ(puertos.size(), 6);
    EXPECT_EQ(puertos[1].Puert, 2);
    EXPECT_EQ(puertos[1].WebPg, QStringLiteral("http://st/2.html"));
    EXPECT_EQ(puertos[2].Maqui, QStringLiteral("MAQ:"));
    EXPECT_EQ(puertos[2].Forma, QStringLiteral("FRM:"));
    EXPECT_TRUE(puertos[1].Maqui.isEmpty());
    EXPECT_TRUE(puertos[4].WebPg.isEmpty());
    EXPECT_EQ(puertos[5].Puert, 9);
    // M1/P1/C1 has its own row; "@MAQ:" as machine falls back to "***".
    EXPECT_EQ(m_acquisition.limits(1), (Limits{10, 20}));
    EXPECT_EQ(m_acquisition.limits(2), (Limits{1, 2}));

    for (int reloj = 1; reloj <= 10; ++reloj) {
        SCOPED_TRACE(reloj);
        EXPECT_EQ(m_acquisition.isClockButtonEnabled(reloj), reloj <= 2);
        EXPECT_EQ(m_acquisition.clocks().isEnabled(reloj), reloj == 1);
    }
    EXPECT_EQ(m_acquisition.clocks().interval(1), 1);
    // The grid shows the active ports only, and cannot be edited.
    EXPECT_EQ(m_config.RsConf().rowCount(), 4);
    EXPECT_TRUE(m_config.RsConf().isLocked());
    EXPECT_FALSE(m_config.RsConf().flags(m_config.RsConf().index(0, 1)) & Qt::ItemIsEditable);

    m_acquisition.cmdAbre_Click();
    EXPECT_FALSE(m_acquisition.isRunning());
    EXPECT_EQ(m_acquisition.puertos().size(), 1);
    for (int reloj = 1; reloj <= 10; ++reloj) {
        EXPECT_FALSE(m_acquisition.isClockButtonEnabled(reloj));
        EXPECT_FALSE(m_acquisition.clocks().isEnabled(reloj));
    }
    EXPECT_EQ(m_config.RsConf().rowCount(), 5);
    EXPECT_FALSE(m_config.RsConf().isLocked());
    EXPECT_EQ(ui.mousePointer, PointerShape::Default);
}

TEST_F(AcquisitionTest, AStartThatFailsIsReportedAndArmsNothing)
{
    expectFailedStart("update HTMCONFI set WebPg = null where Puert = 5",
                      "Telvar. cmdAbre.\n\n94.- Invalid use of Null", false);
}

TEST_F(AcquisitionTest, AClockBeyondTheTenFailsTheStartAfterTheClocksBeforeIt)
{
    expectFailedStart("update HTMCONFI set Reloj = 11 where Puert = 8",
                      "Telvar. cmdAbre.\n\n340.- Control array element '11' doesn't exist", true);
}

TEST_F(AcquisitionTest, AnUnreachableSpcDatabaseStopsTheStart)
{
    m.CadConexion = jetConnectionString(m.RutaApp + QStringLiteral("NoHay.MDB"), m.PassBD);
    m_acquisition.cmdAbre_Click();
    ASSERT_GE(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes.back().text.startsWith(QStringLiteral("Telvar. cmdAbre.\n\n3709.- ")));
    EXPECT_FALSE(m_acquisition.isRunning());
}

TEST_F(AcquisitionTest, AnEmptyConfigurationStartsWithoutClocks)
{
    config(QStringLiteral("delete from HTMCONFI"));
    ASSERT_EQ(m_config.Reinicia(), ReiniciaOutcome::Done);
    m_acquisition.cmdAbre_Click();
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_TRUE(m_acquisition.isRunning());
    for (int reloj = 1; reloj <= 10; ++reloj)
        EXPECT_FALSE(m_acquisition.isClockButtonEnabled(reloj));
}

TEST_F(AcquisitionTest, AClockPollsItsPortsAfterItsIntervalAndHandsOnTheirReadings)
{
    m_acquisition.cmdAbre_Click();
    tickMinutes(1);
    EXPECT_EQ(requested(),
              (QStringList{QStringLiteral("http://st/2.html"), QStringLiteral("http://st/5.html"),
                           QStringLiteral("http://st/9.html")}));
    // Its own timer is off while its cycle runs.
    EXPECT_FALSE(m_acquisition.clocks().isEnabled(1));
    EXPECT_EQ(ui.mousePointer, PointerShape::Hourglass);
    servePending();
    ASSERT_EQ(m_check.readings.size(), 3);
    EXPECT_EQ(m_check.readings[0].Puert, 2);
    EXPECT_EQ(m_check.readings[0].reading, QStringLiteral("2.0 "));
    EXPECT_EQ(m_check.readings[1].Puert, 5);
    EXPECT_EQ(m_check.readings[1].element, 2);
    EXPECT_EQ(m_check.readings[1].limits, (Limits{1, 2}));
    EXPECT_EQ(m_check.readings[1].markers.machine, QStringLiteral("MX02"));
    EXPECT_EQ(m_check.readings[1].markers.format, QStringLiteral("F9"));
    EXPECT_EQ(m_check.readings[2].Puert, 9);
    EXPECT_EQ(m_acquisition.cyclesRunning(), 0);
    EXPECT_TRUE(m_acquisition.clocks().isEnabled(1));
    EXPECT_EQ(ui.mousePointer, PointerShape::Default);

    // Clock 2 (interval 0) only by its button.
    tickMinutes(5);
    EXPECT_FALSE(requested().contains(QStringLiteral("http://st/7.html")));
    servePending();
    m_acquisition.bReloj_Click(2);
    EXPECT_TRUE(requested().contains(QStringLiteral("http://st/7.html")));
}

TEST_F(AcquisitionTest, AClockNeverRunsTwoCyclesAtOnce)
{
    m_acquisition.cmdAbre_Click();
    m_acquisition.bReloj_Click(1);
    const auto asked = m_loader.requests().size();
    m_acquisition.bReloj_Click(1);
    tickMinutes(3);
    EXPECT_EQ(m_loader.requests().size(), asked);
    EXPECT_EQ(m_acquisition.cyclesRunning(), 1);
}

TEST_F(AcquisitionTest, AStopDuringACycleEndsItQuietlyAndLeavesItsClockOff)
{
    m_acquisition.cmdAbre_Click();
    tickMinutes(1);
    ASSERT_EQ(m_loader.pending().size(), 3);
    m_acquisition.cmdAbre_Click();
    EXPECT_EQ(m_acquisition.cyclesRunning(), 0);
    EXPECT_TRUE(m_loader.pending().isEmpty());
    EXPECT_EQ(m_loader.cancelled().size(), 3);
    tickMinutes(3);
    EXPECT_FALSE(m_acquisition.clocks().isEnabled(1));
    EXPECT_TRUE(m_check.readings.isEmpty());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(AcquisitionTest, APortFailingTheSameWayIsBoxedOnceUntilItsFailureChanges)
{
    // Port 5's page, cycle after cycle: refused for its scheme, refused
    // otherwise, read, refused again; then a stop and a start.
    enum class Page { Scheme, Malformed, Good };
    struct Step {
        const char* name;
        Page page;
        bool restartFirst;
        bool boxed;
    };
    const Step steps[] = {
        {"starts failing", Page::Scheme, false, true},
        {"second cycle alike", Page::Scheme, false, false},
        {"third cycle alike", Page::Scheme, false, false},
        {"fourth cycle alike", Page::Scheme, false, false},
        {"fifth cycle alike", Page::Scheme, false, false},
        {"fails otherwise", Page::Malformed, false, true},
        {"alike again", Page::Malformed, false, false},
        {"recovers", Page::Good, false, false},
        {"fails again", Page::Scheme, false, true},
        {"alike after a new start", Page::Scheme, true, true},
    };
    const QString port5 = QStringLiteral("http://st/5.html");
    m_acquisition.cmdAbre_Click();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.restartFirst) {
            m_acquisition.cmdAbre_Click();
            m_acquisition.cmdAbre_Click();
            ASSERT_TRUE(m_acquisition.isRunning());
        }
        ui.boxes.clear();
        m_acquisition.bReloj_Click(1);
        for (const auto& r : m_loader.pending()) {
            if (r.url != port5 || step.page == Page::Good)
                continue;
            LoadedPage failed{r.url, PageOutcome::Failed, QString(), 0, std::nullopt};
            failed.error =
                step.page == Page::Scheme
                    ? Error{1, QStringLiteral("libcurl"), QStringLiteral("Unsupported protocol")}
                    : Error{3, QStringLiteral("libcurl"),
                            QStringLiteral("URL using bad/illegal "
                                           "format or missing URL")};
            m_loader.complete(r.ticket, failed);
        }
        servePending();
        ASSERT_EQ(m_acquisition.cyclesRunning(), 0);
        ASSERT_EQ(ui.boxes.size(), step.boxed ? 1 : 0);
        if (step.boxed) {
            EXPECT_EQ(ui.boxes[0].type, Box::Type::Notice);
            EXPECT_EQ(ui.boxes[0].icono, BoxKind::Exclamation);
            EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("Telvar. bReloj_Click(1) ")))
                << ui.boxes[0].text.toStdString();
            EXPECT_TRUE(ui.boxes[0].text.contains(port5));
        }
    }
}

TEST_F(AcquisitionTest, AFailedPageIsAskedForAgainWithinItsClocksIntervalAndTheRetriesAreCounted)
{
    const auto serve = [&](const QString& url, const LoadedPage& page) {
        for (const auto& r : m_loader.pending()) {
            if (r.url == url) {
                m_loader.complete(r.ticket, page);
                return;
            }
        }
        ADD_FAILURE() << "no pending load of " << url.toStdString();
    };
    const QString port5 = QStringLiteral("http://st/5.html");
    m_acquisition.cmdAbre_Click();
    EXPECT_EQ(m_acquisition.retriedPages(), 0);

    // Port 5's station answers an error status: the reading of port 9
    // waits for port 5's second try, which the cycle's own timer makes
    // half a second later.
    tickMinutes(1);
    serve(port5, LoadedPage{port5, PageOutcome::Complete, QStringLiteral("<h1>500</h1>"), 500,
                            std::nullopt});
    servePending();
    ASSERT_EQ(m_check.readings.size(), 1);
    EXPECT_EQ(m_check.readings[0].Puert, 2);
    m_clock.advance(500ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_loader.pending().isEmpty(); }, 10000));
    EXPECT_EQ(m_loader.pending()[0].url, port5);
    EXPECT_EQ(m_acquisition.retriedPages(), 1);
    servePending();
    ASSERT_EQ(m_check.readings.size(), 3);
    EXPECT_EQ(m_check.readings[1].Puert, 5);
    EXPECT_EQ(m_check.readings[2].Puert, 9);
    EXPECT_EQ(m_acquisition.cyclesRunning(), 0);

    // Next cycle: port 5's page times out 53 s into the clock's minute; a
    // second try could end after the minute, so none is made and the cycle
    // ends at once.
    tickMinutes(1);
    serve(QStringLiteral("http://st/2.html"),
          LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=2.0"), 200, std::nullopt});
    serve(QStringLiteral("http://st/9.html"),
          LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=9.0"), 200, std::nullopt});
    m_clock.advance(53s);
    serve(port5, LoadedPage{port5, PageOutcome::TimedOut, QString(), 0, std::nullopt});
    EXPECT_EQ(m_acquisition.cyclesRunning(), 0);
    EXPECT_TRUE(m_loader.pending().isEmpty());
    EXPECT_EQ(m_check.readings.size(), 5);
    EXPECT_EQ(m_acquisition.retriedPages(), 1);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

} // namespace
} // namespace telvar
