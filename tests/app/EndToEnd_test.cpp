// The router from page to data table, without a window: its own HTTP page
// loader polls the station simulator (run on the test's thread) on two
// clocks, and the readings end up in the SPC data tables of the engine
// through the outbox and the writer thread, as the readings grid shows them
// and the SPC program reads them.
#include "acquisition/HttpPageLoader.h"
#include "app/Router.h"
#include "app/RunState.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "database/SqlDialect.h"
#include "demo/QualitraDemo.h"
#include "support/ConfigFixture.h"
#include "support/EngineDatabase.h"
#include "support/ManualClock.h"
#include "support/TestStation.h"

#include <QDir>
#include <QHash>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

namespace telvar {
namespace {

using namespace std::chrono_literals;

using test::Engine;

// The runs are named after the installation's engine entries: Jet and
// PostgreSql.
std::string runName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::Sqlite ? "Jet" : test::engineName(info);
}

std::string describe(const Error& e)
{
    return (QString::number(e.number) + QStringLiteral(" (") + e.source + QStringLiteral(") ") +
            e.description)
        .toStdString();
}

// How long a page or a cycle may take before the test gives up on it.
constexpr int kWaitMs = 20000;

// Three minutes before the morning shift ends at 6:00.
const QDateTime kStart(QDate(2026, 3, 2), QTime(5, 57, 0));

// A port of the installation: its clock, the simulator page it reads (a
// fixed sample, so that every load of it holds the same readings) and where
// its reading goes.
struct StationPort {
    int puert;
    int reloj;
    const char* page;
    const char* ident;
    int longi;
    const char* forma;
    const char* maqui;
    const char* produ;
    const char* carac;
    const char* opera;
};

constexpr StationPort kDiam{
    1, 1, "/estacion1.html?tick=7", "DIAM=", 9, "FRM01", "MAQ01", "PROD-A", "DIAM", "OPER01"};
constexpr StationPort kLargo{
    2, 2, "/estacion1.html?tick=8", "LARGO=", 6, "FRM01", "MAQ01", "PROD-A", "LARGO", "OPER02"};
constexpr StationPort kPeso{
    3, 2, "/estacion2.html?tick=9", "PESO=", 6, "FRM02", "MAQ02", "PROD-B", "PESO", "OPER02"};
constexpr StationPort kTemp{
    4, 2, "/estacion1b.html?tick=9", "TEMP=", 6, "FRM02", "@MAQ:", "PROD-B", "TEMP", "OPER01"};

// DIAM is cut with its unit (the numeric column takes the leading number);
// PESO's limits lie above the page's value; TEMP goes to the machine the page
// names at "@MAQ:" (MAQ01 on that page), into a text column.
constexpr StationPort kPorts[] = {kDiam, kLargo, kPeso, kTemp};

// A data table, by its format, machine and product.
struct Target {
    const char* forma;
    const char* maqui;
    const char* produ;
};

constexpr Target kDimensional{"FRM01", "MAQ01", "PROD-A"};
constexpr Target kPesoTable{"FRM02", "MAQ02", "PROD-B"};
constexpr Target kPageMachine{"FRM02", "MAQ01", "PROD-B"};

// A row expected in a data table: its stamp, shift and operator, and the
// characteristics that hold a value (every other one is Null).
struct ExpectedRow {
    QDateTime at;
    QString turno;
    QString operador;
    QVariantMap values;
};

// The leading number of a reading as cut ("25.012 mm" gives 25.012).
double leadingNumber(const QString& reading)
{
    bool ok = false;
    const double value =
        reading.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toDouble(&ok);
    EXPECT_TRUE(ok) << reading.toStdString();
    return value;
}

// An installation on one engine: the demo's SPC database (its data tables
// per format, machine and product), a configuration database whose ports
// read the simulator's pages on clocks 1 (every minute) and 2 (every two
// minutes), the shifts A, B and C ending at 6:00, 14:00 and 22:00, and the
// station simulator listening on a free port of this thread.
class EndToEndTest : public ::testing::TestWithParam<Engine>, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m.Empresa = QStringLiteral("Planta de prueba");
        m.NumTurnos = 3;
        m.TurnoClave = {QString(), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
        m.TurnoHasta = {0, 600, 1400, 2200};

        ASSERT_TRUE(m_station.started()) << m_station.error().toStdString();
        m_base = m_station.url();

        TELVAR_REQUIRE_ENGINE(GetParam());
        if (GetParam() == Engine::Sqlite)
            ASSERT_NO_FATAL_FAILURE(createJetDatabases());
        else
            ASSERT_NO_FATAL_FAILURE(createServerDatabases());
        // The configuration is protected by the installation's password,
        // which the server engine's entry gives.
        ASSERT_NO_FATAL_FAILURE(createConfiguration());
        ASSERT_NO_FATAL_FAILURE(readPages());
        ASSERT_NO_FATAL_FAILURE(setLimits());
    }

    std::unique_ptr<Connection> open(const QString& conexion) const
    {
        auto cn = EngineLayer::open(conexion);
        EXPECT_TRUE(cn.ok()) << describe(cn.error());
        return cn ? std::move(cn.value()) : nullptr;
    }

    static void run(const Connection& cn, const QString& statement, const QVariantList& values = {})
    {
        auto done = cn.exec(statement, values);
        ASSERT_TRUE(done.ok()) << statement.toStdString() << ": " << describe(done.error());
    }

    // The SPC database, named in m as the installation's entry names it.
    void createDatabase(const test::EngineDatabaseOptions& options)
    {
        QString error;
        m_db = test::EngineDatabase::create(GetParam(), &error, options);
        ASSERT_TRUE(m_db) << error.toStdString();
        m_db->describeIn(m);
    }

    void createJetDatabases()
    {
        test::EngineDatabaseOptions options;
        options.sqliteFile = m.RutaApp + QStringLiteral("Qualitra.MDB");
        options.sqlitePassword = m.PassBD;
        ASSERT_NO_FATAL_FAILURE(createDatabase(options));
        m.RutaDatos =
            QDir::toNativeSeparators(m.RutaApp + QStringLiteral("Datos")) + QDir::separator();
        auto spc = open(m.CadConexion);
        ASSERT_TRUE(spc);
        const Status loaded = demo::loadQualitraDemo(*spc);
        ASSERT_TRUE(loaded.ok()) << describe(loaded.error());
        const Status files = demo::createDemoDataFiles(*spc, m.RutaDatos, m.PassBD);
        ASSERT_TRUE(files.ok()) << describe(files.error());
    }

    void createServerDatabases()
    {
        test::EngineDatabaseOptions options;
        options.dataDatabase = true;
        ASSERT_NO_FATAL_FAILURE(createDatabase(options));
        auto spc = open(m.CadConexion);
        auto data = open(ArmaConexion(m, dataDatabase()));
        ASSERT_TRUE(spc && data);
        const Status loaded = demo::loadQualitraDemo(*spc);
        ASSERT_TRUE(loaded.ok()) << describe(loaded.error());
        const Status tables = demo::createDemoDataTables(*spc, *data);
        ASSERT_TRUE(tables.ok()) << describe(tables.error());
    }

    // The data database the recording derives from the SPC database's name.
    QString dataDatabase() const { return m.BaseDatos + QStringLiteral("DATA"); }

    void createConfiguration()
    {
        QList<test::FixturePort> ports;
        for (const StationPort& p : kPorts)
            ports.append({p.puert, QStringLiteral("Puerto ") + QString::number(p.puert),
                          QStringLiteral("EST01"), p.reloj});
        const QString path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(), ports);
        writeTLVDirec({path});
        auto cn = openDatabase(path);
        ASSERT_TRUE(cn);
        for (const StationPort& p : kPorts)
            ASSERT_NO_FATAL_FAILURE(run(
                *cn,
                QStringLiteral("UPDATE HTMCONFI SET WebPg = ?, Ident = ?, Inici = 1, Longi = ?, "
                               "Forma = ?, Maqui = ?, Produ = ?, Carac = ?, Opera = ? "
                               "WHERE Puert = ?"),
                {m_base + QLatin1String(p.page), QLatin1String(p.ident), p.longi,
                 QLatin1String(p.forma), QLatin1String(p.maqui), QLatin1String(p.produ),
                 QLatin1String(p.carac), QLatin1String(p.opera), p.puert}));
    }

    // Loads every port's page once, as the router will find it.
    void readPages()
    {
        HttpPageLoader loader;
        QHash<PageLoader::Ticket, QString> asked;
        QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                         [&](PageLoader::Ticket ticket, const LoadedPage& page) {
                             EXPECT_EQ(page.outcome, PageOutcome::Complete);
                             m_pages.insert(asked.value(ticket), page.text);
                         });
        for (const StationPort& p : kPorts)
            asked.insert(loader.load(m_base + QLatin1String(p.page)), QLatin1String(p.page));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_pages.size() == asked.size(); }, kWaitMs));
    }

    // What the port's page holds at its identifier: the longi characters
    // right after it.
    QString onPage(const StationPort& p) const
    {
        const QString page = m_pages.value(QLatin1String(p.page));
        const qsizetype at = page.indexOf(QLatin1String(p.ident));
        EXPECT_GE(at, 0) << p.ident << " is not on " << p.page;
        return at < 0 ? QString() : page.mid(at + qstrlen(p.ident), p.longi);
    }

    // The demo's own limits would let the simulator's occasional outliers
    // decide; these put DIAM's value inside and PESO's below its limits.
    void setLimits()
    {
        auto spc = open(m.CadConexion);
        ASSERT_TRUE(spc);
        ASSERT_NO_FATAL_FAILURE(run(*spc, QStringLiteral("DELETE FROM CXP")));
        const double diam = leadingNumber(onPage(kDiam));
        const double peso = leadingNumber(onPage(kPeso));
        const QString insert = QStringLiteral(
            "INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, CXPLSUPC) VALUES (?, ?, ?, "
            "?, ?)");
        ASSERT_NO_FATAL_FAILURE(run(*spc, insert,
                                    {QStringLiteral("MAQ01"), QStringLiteral("PROD-A"),
                                     QStringLiteral("DIAM"), diam - 0.5, diam + 0.5}));
        ASSERT_NO_FATAL_FAILURE(run(*spc, insert,
                                    {QStringLiteral("MAQ02"), QStringLiteral("PROD-B"),
                                     QStringLiteral("PESO"), peso + 0.5, peso + 1.5}));
    }

    // The router over the installation, its acquisition started.
    std::unique_ptr<Router> startedRouter()
    {
        auto w = std::make_unique<Router>(m, ui, m_loader, m_clock);
        w->open();
        EXPECT_EQ(w->configDatabase().Reinicia(), ReiniciaOutcome::Done);
        w->acquisition().cmdAbre_Click();
        EXPECT_TRUE(w->acquisition().isRunning());
        return w;
    }

    // Does what starts cycles, then runs the event loop (the simulator
    // answers, the loader delivers) until none is under way. Gives the clocks
    // whose cycles ended.
    template <typename Trigger> QList<int> cycles(Router& w, Trigger trigger)
    {
        QSignalSpy ended(&w.acquisition(), &Acquisition::cycleEnded);
        trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return w.acquisition().cyclesRunning() == 0; }, kWaitMs));
        // The readings the cycles kept reach their tables through the writer.
        RecordingService& recording = w.recording();
        recording.flush();
        EXPECT_TRUE(QTest::qWaitFor([&] { return recording.waiting() == 0; }, kWaitMs));
        QList<int> clocks;
        for (const QList<QVariant>& signal : ended)
            clocks.append(signal.at(0).toInt());
        return clocks;
    }

    // The clock moves by `before` and the clocks then due start their
    // cycles; it moves by `during` while their pages are on the way (a slow
    // station: a cycle's end starts its clock's next minute).
    QList<int> tick(Router& w, std::chrono::seconds before, std::chrono::seconds during = 0s)
    {
        return cycles(w, [&] {
            m_clock.advance(before);
            w.acquisition().clocks().processDueTicks();
            m_clock.advance(during);
        });
    }

    // The rows of a data table, in order, each column by its lower-case name.
    QList<QVariantMap> rows(const Target& t) const
    {
        QString conexion;
        QString table;
        if (GetParam() == Engine::Sqlite) {
            const QString file = QDir::toNativeSeparators(
                m.RutaDatos + QLatin1String(t.forma) + QLatin1Char('/') + QLatin1String(t.maqui) +
                QLatin1Char('/') + QLatin1String(t.produ) + QStringLiteral(".MDB"));
            conexion = jetConnectionString(file, m.PassBD);
            table = QStringLiteral("Datos");
        } else {
            conexion = ArmaConexion(m, dataDatabase());
            table = QStringLiteral("Datos_") + QLatin1String(t.forma) + QLatin1Char('_') +
                    QLatin1String(t.maqui) + QLatin1Char('_') + QLatin1String(t.produ);
        }
        QList<QVariantMap> result;
        auto cn = open(conexion);
        if (!cn)
            return result;
        auto selected = cn->exec(QStringLiteral("SELECT * FROM ") + bracketName(table) +
                                 QStringLiteral(" ORDER BY N"));
        EXPECT_TRUE(selected.ok()) << describe(selected.error());
        if (!selected)
            return result;
        QSqlQuery& q = selected.value();
        while (q.next()) {
            QVariantMap row;
            const QSqlRecord record = q.record();
            for (int i = 0; i < record.count(); ++i)
                row.insert(record.fieldName(i).toLower(), q.value(i));
            result.append(row);
        }
        return result;
    }

    // The table holds exactly these rows; its characteristics are columns.
    void expectRows(const Target& t, const QStringList& characteristics,
                    const QList<ExpectedRow>& want) const
    {
        SCOPED_TRACE(std::string(t.forma) + "/" + t.maqui + "/" + t.produ);
        const QList<QVariantMap> got = rows(t);
        ASSERT_EQ(got.size(), want.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i + 1));
            const QVariantMap& row = got[i];
            const ExpectedRow& expected = want[i];
            EXPECT_EQ(row.value(QStringLiteral("fecha")).toString(),
                      expected.at.toString(QStringLiteral("yyyy-MM-dd H:mm:ss")));
            EXPECT_EQ(row.value(QStringLiteral("turno")).toString(), expected.turno);
            EXPECT_EQ(row.value(QStringLiteral("operador")).toString(), expected.operador);
            for (const QString& carac : characteristics) {
                const QVariant cell = row.value(carac.toLower());
                if (!expected.values.contains(carac)) {
                    EXPECT_TRUE(cell.isNull())
                        << carac.toStdString() << " holds " << cell.toString().toStdString();
                } else if (expected.values[carac].typeId() == QMetaType::Double) {
                    EXPECT_DOUBLE_EQ(cell.toDouble(), expected.values[carac].toDouble())
                        << carac.toStdString();
                } else {
                    EXPECT_EQ(cell.toString(), expected.values[carac].toString())
                        << carac.toStdString();
                }
            }
        }
    }

    // The newest reading of the characteristic in the readings grid.
    static const ReadingRow* newestReading(Router& w, const char* carac)
    {
        const ReadingsModel& readings = w.readings();
        for (int i = 0; i < readings.rowCount(); ++i)
            if (readings.reading(i).Carac == QLatin1String(carac))
                return &readings.reading(i);
        ADD_FAILURE() << "no reading of " << carac;
        return nullptr;
    }

    // What a good path leaves: no box, and no reading that could not be
    // recorded.
    void expectQuiet(Router& w) const
    {
        for (const auto& box : ui.boxes)
            ADD_FAILURE() << "unexpected box: " << box.text.toStdString();
        EXPECT_TRUE(w.recordingLog().lines().isEmpty())
            << w.recordingLog().lines().join(QLatin1Char('\n')).toStdString();
    }

    test::TestStation m_station;
    QString m_base;
    // The pages by their path and query.
    QHash<QString, QString> m_pages;
    std::unique_ptr<test::EngineDatabase> m_db;
    HttpPageLoader m_loader;
    test::ManualClock m_clock{kStart};
};

TEST_P(EndToEndTest, ReadingsOfTwoClocksFillTheDataTableRowByRow)
{
    const auto w = startedRouter();
    ASSERT_TRUE(w);
    const QString diam = onPage(kDiam);
    const QString largo = onPage(kLargo);
    // The cut reaches into the unit; the numeric column takes the number.
    ASSERT_TRUE(diam.endsWith(QStringLiteral(" mm"))) << diam.toStdString();

    // Minute 1: clock 1 polls DIAM; its station takes 10 s to answer, so
    // clock 1's minutes now start 10 s after clock 2's.
    EXPECT_EQ(tick(*w, 60s, 10s), QList<int>{1});
    const ReadingRow* shown = newestReading(*w, "DIAM");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->tag, QStringLiteral(" 1/001"));
    EXPECT_EQ(shown->dateTime, QStringLiteral("2026/03/02 05:58:10"));
    EXPECT_EQ(shown->Opera, QStringLiteral("OPER01"));
    EXPECT_EQ(shown->Maquina, QStringLiteral("MAQ01"));
    EXPECT_EQ(shown->reading, diam);
    EXPECT_EQ(shown->Marca, QString());

    // Minute 2: clock 2 polls LARGO 50 s later, into the same row.
    EXPECT_EQ(tick(*w, 50s), QList<int>{2});
    // 10 s later clock 1 polls DIAM again: its cell is taken, a new row.
    EXPECT_EQ(tick(*w, 10s), QList<int>{1});

    // The router stops for 400 s; once started again, clock 2's button
    // polls LARGO, whose cell in the last row is empty, but the row is more
    // than 300 s old: a new row, in the next shift.
    w->acquisition().cmdAbre_Click();
    ASSERT_FALSE(w->acquisition().isRunning());
    m_clock.advance(400s);
    w->acquisition().cmdAbre_Click();
    ASSERT_TRUE(w->acquisition().isRunning());
    EXPECT_EQ(cycles(*w, [&] { w->acquisition().bReloj_Click(2); }), QList<int>{2});

    const auto at = [](int h, int n, int s) { return QDateTime(kStart.date(), QTime(h, n, s)); };
    const QVariant diamValue = leadingNumber(diam);
    const QVariant largoValue = leadingNumber(largo);
    expectRows(kDimensional, {QStringLiteral("DIAM"), QStringLiteral("LARGO")},
               {
                   {at(5, 58, 10),
                    QStringLiteral("A"),
                    QStringLiteral("OPER01"),
                    {{QStringLiteral("DIAM"), diamValue}, {QStringLiteral("LARGO"), largoValue}}},
                   {at(5, 59, 10),
                    QStringLiteral("A"),
                    QStringLiteral("OPER01"),
                    {{QStringLiteral("DIAM"), diamValue}}},
                   {at(6, 5, 50),
                    QStringLiteral("B"),
                    QStringLiteral("OPER02"),
                    {{QStringLiteral("LARGO"), largoValue}}},
               });
    // Every reading reached the grid: DIAM twice, clock 2's three ports twice.
    EXPECT_EQ(w->readings().rowCount(), 8);
    expectQuiet(*w);
}

TEST_P(EndToEndTest, ThePageDecidesWhatIsRecordedAndWhere)
{
    const auto w = startedRouter();
    ASSERT_TRUE(w);
    EXPECT_EQ(tick(*w, 60s), QList<int>{1});
    // Both clocks are due in minute 2: their cycles run side by side.
    QList<int> both = tick(*w, 60s);
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, (QList<int>{1, 2}));

    // PESO lies below its limits: shown with "?", with one beep, and its
    // data table stays empty.
    const ReadingRow* peso = newestReading(*w, "PESO");
    ASSERT_TRUE(peso);
    EXPECT_EQ(peso->tag, QStringLiteral(" 2/003"));
    EXPECT_EQ(peso->reading, onPage(kPeso));
    EXPECT_EQ(peso->Marca, QStringLiteral("?"));
    EXPECT_EQ(ui.beeps, 1);
    expectRows(kPesoTable, {QStringLiteral("PESO"), QStringLiteral("TEMP")}, {});

    // TEMP's machine is the one its page names after "@MAQ:", in the grid
    // and in the table; the text column keeps the reading as cut.
    const QString page = m_pages.value(QLatin1String(kTemp.page));
    const QString named = page.mid(page.indexOf(QStringLiteral("@MAQ:")) + 5, kTemp.longi);
    ASSERT_EQ(named.trimmed(), QLatin1String(kPageMachine.maqui)) << page.toStdString();
    const ReadingRow* temp = newestReading(*w, "TEMP");
    ASSERT_TRUE(temp);
    EXPECT_EQ(temp->Maquina, named);
    EXPECT_EQ(temp->Marca, QString());
    expectRows(kPageMachine, {QStringLiteral("PESO"), QStringLiteral("TEMP")},
               {{QDateTime(kStart.date(), QTime(5, 59, 0)),
                 QStringLiteral("A"),
                 QStringLiteral("OPER01"),
                 {{QStringLiteral("TEMP"), onPage(kTemp)}}}});
    // DIAM twice, LARGO, PESO and TEMP once each.
    EXPECT_EQ(w->readings().rowCount(), 5);
    expectQuiet(*w);
}

TEST_P(EndToEndTest, APageThatNamesItsMachineIsCheckedAgainstThatMachinesLimits)
{
    // TEMP's page names MAQ01; the SPC database gives TEMP on MAQ01 limits
    // above the page's value, so the reading is shown with "?" and not
    // recorded, whatever the port's own (marker) keys would have found.
    auto spc = open(m.CadConexion);
    ASSERT_TRUE(spc);
    const double temp = leadingNumber(onPage(kTemp));
    ASSERT_NO_FATAL_FAILURE(run(*spc,
                                QStringLiteral("INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, "
                                               "CXPLINFC, CXPLSUPC) VALUES (?, ?, ?, ?, ?)"),
                                {QStringLiteral("***"), QStringLiteral("PROD-B"),
                                 QStringLiteral("TEMP"), temp + 1, temp + 2}));
    const auto w = startedRouter();
    ASSERT_TRUE(w);
    EXPECT_EQ(cycles(*w, [&] { w->acquisition().bReloj_Click(2); }), QList<int>{2});
    const ReadingRow* shown = newestReading(*w, "TEMP");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->Marca, QStringLiteral("?"));
    expectRows(kPageMachine, {QStringLiteral("PESO"), QStringLiteral("TEMP")}, {});
}

TEST_P(EndToEndTest, ARouterLeftAcquiringAcquiresAgainAtItsNextStartAndOneAPersonStoppedDoesNot)
{
    // The router behind each start of the program: a new one over the same
    // installation, the one before gone as after a crash or a reboot.
    const auto started = [&] {
        auto w = std::make_unique<Router>(m, ui, m_loader, m_clock);
        w->open();
        EXPECT_EQ(w->configDatabase().Reinicia(), ReiniciaOutcome::Done);
        return w;
    };
    {
        const auto w = started();
        w->resumeAcquisition(); // nothing kept yet: stays stopped
        EXPECT_FALSE(w->acquisition().isRunning());
        // Kept before the acquisition says it runs: a crash right after
        // that brings it back.
        std::optional<bool> keptWhenRunning;
        QObject::connect(&w->acquisition(), &Acquisition::runningChanged, w.get(),
                         [&](bool running) {
                             if (running)
                                 keptWhenRunning = w->runState().wasAcquiring().value();
                         });
        w->pressStartStop();
        ASSERT_TRUE(w->acquisition().isRunning());
        EXPECT_EQ(keptWhenRunning, std::optional<bool>(true));
    }
    {
        const auto w = started();
        QSignalSpy resumed(w.get(), &Router::acquisitionResumed);
        w->resumeAcquisition();
        EXPECT_TRUE(w->acquisition().isRunning());
        EXPECT_EQ(resumed.size(), 1);
        // Its readings are recorded as a person's start would have them.
        EXPECT_EQ(tick(*w, 60s), QList<int>{1});
        EXPECT_TRUE(newestReading(*w, "DIAM"));
        w->pressStartStop();
        EXPECT_FALSE(w->acquisition().isRunning());
    }
    {
        const auto w = started();
        w->resumeAcquisition();
        EXPECT_FALSE(w->acquisition().isRunning());
        EXPECT_FALSE(w->resumptionPending());
    }
}

TEST_P(EndToEndTest, AResumptionThatCannotStartTriesAgainUntilAPersonDecides)
{
    ASSERT_TRUE(RunState(RunState::pathForInstallation(m.RutaApp)).save(true).ok());
    const auto w = std::make_unique<Router>(m, ui, m_loader, m_clock);
    w->open();
    ASSERT_EQ(w->configDatabase().Reinicia(), ReiniciaOutcome::Done);

    // The SPC database is not there yet (its server still booting): the
    // start fails, is reported, and waits to be tried again.
    const QString reachable = m.CadConexion;
    m.CadConexion = GetParam() == Engine::Sqlite
                        ? jetConnectionString(m.RutaApp + QStringLiteral("Absent.MDB"), m.PassBD)
                        : QString(reachable).replace(m.BaseDatos, QStringLiteral("absent_db"));
    const qsizetype boxesBefore = ui.boxes.size();
    w->resumeAcquisition();
    EXPECT_FALSE(w->acquisition().isRunning());
    EXPECT_GT(ui.boxes.size(), boxesBefore);
    EXPECT_TRUE(w->resumptionPending());
    EXPECT_TRUE(RunState(RunState::pathForInstallation(m.RutaApp)).wasAcquiring().value());

    // Once it is there, the next try starts the acquisition.
    m.CadConexion = reachable;
    w->resumeAcquisition();
    EXPECT_TRUE(w->acquisition().isRunning());

    // A person's Stop ends any waiting, and is kept.
    w->pressStartStop();
    EXPECT_FALSE(w->acquisition().isRunning());
    EXPECT_FALSE(w->resumptionPending());
    EXPECT_FALSE(RunState(RunState::pathForInstallation(m.RutaApp)).wasAcquiring().value());
}

TEST_P(EndToEndTest, TheStatusCountsWhatEachPortAndTableRecordedToday)
{
    const auto w = startedRouter();
    ASSERT_TRUE(w);
    EXPECT_EQ(tick(*w, 60s), QList<int>{1});
    QList<int> both = tick(*w, 60s);
    std::sort(both.begin(), both.end());
    ASSERT_EQ(both, (QList<int>{1, 2}));

    const StatusSnapshot status = w->status().snapshot();
    EXPECT_TRUE(status.acquiring);
    QHash<int, PortStatus> ports;
    for (const PortStatus& p : status.ports)
        ports.insert(p.Puert, p);
    ASSERT_EQ(ports.size(), 4);
    // DIAM twice, LARGO and TEMP once; PESO lies outside its limits: read,
    // not recorded.
    const struct {
        StationPort port;
        qint64 recorded;
    } expected[] = {{kDiam, 2}, {kLargo, 1}, {kPeso, 0}, {kTemp, 1}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.port.carac);
        const PortStatus& p = ports[e.port.puert];
        EXPECT_EQ(p.state, PortState::Ok);
        EXPECT_EQ(p.failuresInARow, 0);
        EXPECT_EQ(p.lastReading, onPage(e.port));
        EXPECT_EQ(p.lastSuccessAt, m_clock.now());
        EXPECT_EQ(p.recordedToday, e.recorded);
    }
    // Every table written was reachable; nothing waits.
    const auto table = [&](const Target& t) {
        for (const DestinationStatus& d : status.destinations)
            if (d.place.contains(QLatin1String(t.forma)) &&
                d.place.contains(QLatin1String(t.maqui)) &&
                d.place.contains(QLatin1String(t.produ)))
                return d;
        ADD_FAILURE() << "no table " << t.forma << "/" << t.maqui << "/" << t.produ;
        return DestinationStatus{};
    };
    for (const auto& [target, recorded] :
         {std::pair{kDimensional, 3}, std::pair{kPageMachine, 1}}) {
        const DestinationStatus d = table(target);
        EXPECT_TRUE(d.tried);
        EXPECT_FALSE(d.failingSince.isValid());
        EXPECT_EQ(d.waiting, 0);
        EXPECT_EQ(d.quarantined, 0);
        EXPECT_EQ(d.recordedToday, recorded);
    }
    EXPECT_EQ(status.outbox.recorded, 4);
    EXPECT_EQ(status.outbox.waiting, 0);
    expectQuiet(*w);
}

INSTANTIATE_TEST_SUITE_P(Engines, EndToEndTest,
                         ::testing::Values(Engine::Sqlite, Engine::PostgreSql), runName);

} // namespace
} // namespace telvar
