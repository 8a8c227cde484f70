#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/PollingCycle.h"
#include "acquisition/Puertos.h"
#include "common/ErrorNumbers.h"
#include "common/Modulo1.h"
#include "config/ConfigDatabase.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "database/SqlDialect.h"
#include "recording/GrabaQLTR.h"
#include "recording/ReadingRecorder.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "support/ConfigFixture.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"
#include "support/ScriptedPageLoader.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <iterator>
#include <latch>
#include <memory>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace telvar {
namespace {

using test::ManualClock;
using test::RecordingInteraccion;
using Box = RecordingInteraccion::Box;

using test::Engine;
using test::engineName;

QString describe(const Error& e)
{
    return QString::number(e.number) + u" ("_s + e.source + u") "_s + e.description;
}

std::string describe(const Result<CodeErr>& r)
{
    if (r.ok())
        return "code " + std::to_string(static_cast<int>(r.value()));
    return describe(r.error()).toStdString();
}

// The moment the tests start at: 7:04:09 in the morning, shift B.
const QDateTime kStart(QDate(2026, 3, 2), QTime(7, 4, 9));

QString stamp(const QDateTime& t)
{
    return t.toString(u"yyyy-MM-dd H:mm:ss"_s);
}

// Shows when a thread of the test's waits for a lock that another connection
// holds on an SQLite file. SQLite shows no waiter from outside, but a
// connection that finds the lock taken runs its busy handler, which sleeps
// through the connection's VFS between attempts. While a watch lives, the
// default VFS is one that hands every call to the usual one and notes the
// sleeps of the watched thread: its first sleep is the wait beginning.
class LockWaitWatch final {
public:
    LockWaitWatch()
    {
        const std::lock_guard lock(s_mutex);
        s_waited = false;
        s_done = false;
        if (!s_base) {
            s_base = sqlite3_vfs_find(nullptr);
            s_vfs = *s_base;
            s_vfs.pNext = nullptr;
            s_vfs.zName = "telvar-test-lock-wait";
            s_vfs.xSleep = &LockWaitWatch::sleep;
        }
        EXPECT_EQ(sqlite3_vfs_register(&s_vfs, 1), SQLITE_OK);
    }
    ~LockWaitWatch() { sqlite3_vfs_unregister(&s_vfs); }
    LockWaitWatch(const LockWaitWatch&) = delete;
    LockWaitWatch& operator=(const LockWaitWatch&) = delete;

    // Called on the thread to watch.
    static void watchThisThread() { t_watched = true; }
    // The watched thread has ended its work.
    void threadDone()
    {
        const std::lock_guard lock(s_mutex);
        s_done = true;
        s_changed.notify_all();
    }
    // Blocks until the watched thread sleeps waiting for a lock or is done;
    // whether it waited.
    bool waitUntilWaitingOrDone()
    {
        std::unique_lock lock(s_mutex);
        s_changed.wait(lock, [] { return s_waited || s_done; });
        return s_waited;
    }

private:
    static int sleep(sqlite3_vfs*, int microseconds)
    {
        if (t_watched) {
            const std::lock_guard lock(s_mutex);
            s_waited = true;
            s_changed.notify_all();
        }
        return s_base->xSleep(s_base, microseconds);
    }

    static inline std::mutex s_mutex;
    static inline std::condition_variable s_changed;
    static inline bool s_waited = false;
    static inline bool s_done = false;
    // Kept for the whole run: a connection keeps its VFS to its end.
    static inline sqlite3_vfs* s_base = nullptr;
    static inline sqlite3_vfs s_vfs{};
    static inline thread_local bool t_watched = false;
};

// Where a reading goes in the tests.
struct Target {
    QString forma = u"F1"_s;
    QString maqui = u"M1"_s;
    QString produ = u"P1"_s;
};

// A fresh installation per test on one engine: data files under a temporary
// RutaDatos ("[JET4]"), or a data database on the test PostgreSQL cluster
// named as the recording derives it from the SPC database's name.
// Every data table has the columns N, Fecha, Turno, Operador and the
// characteristics C1, C2 (numeric) and T1 (text).
class GrabaQLTRTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        m.Empresa = u"Planta de prueba"_s;
        m.NumTurnos = 3;
        m.TurnoClave = {QString(), u"A"_s, u"B"_s, u"C"_s};
        m.TurnoHasta = {0, 600, 1400, 2200};
        TELVAR_REQUIRE_ENGINE(GetParam());
        // The data files and the data database are the installation's;
        // the SPC database itself is not used here.
        test::EngineDatabaseOptions options;
        options.database = false;
        options.dataDatabase = true;
        // No database password: a protected file costs a bcrypt
        // verification at every opening of the test's own connections.
        options.sqlitePassword.clear();
        QString error;
        db = test::EngineDatabase::create(GetParam(), &error, options);
        ASSERT_TRUE(db) << error.toStdString();
        db->describeIn(m);
        if (GetParam() == Engine::Sqlite)
            m.RutaDatos = QDir::toNativeSeparators(db->dir().path()) + QDir::separator();
        graba = std::make_unique<GrabaQLTR>(m, clock);
    }

    void TearDown() override { graba.reset(); }

    bool sqlite() const { return GetParam() == Engine::Sqlite; }

    QString dataFile(const Target& t = {}) const
    {
        return m.RutaDatos + t.forma + u"/"_s + t.maqui + u"/"_s + t.produ + u".MDB"_s;
    }

    QString table(const Target& t = {}) const
    {
        return sqlite() ? u"Datos"_s : u"Datos_"_s + t.forma + u"_"_s + t.maqui + u"_"_s + t.produ;
    }

    // A connection of the test's own to the data table's database.
    std::unique_ptr<Connection> openData(const Target& t = {}) const
    {
        const QString conexion =
            sqlite() ? jetConnectionString(dataFile(t), m.PassBD)
                     : ArmaConexion(ConnectionTarget{m.TipoBD, m.Servidor, m.UsuarioBD, m.PassBD},
                                    db->dataDatabaseName());
        auto cn = EngineLayer::open(conexion);
        EXPECT_TRUE(cn.ok()) << describe(cn.error()).toStdString();
        return cn ? std::move(cn.value()) : nullptr;
    }

    // The data file (SQLite) and the table, with the standard columns and
    // extra ones ("[X] VARCHAR(5)").
    void createTable(const Target& t = {}, const QString& fechaType = u"VARCHAR(20)"_s,
                     const QString& extraColumns = {}, bool withTable = true)
    {
        if (sqlite()) {
            ASSERT_TRUE(QDir().mkpath(m.RutaDatos + t.forma + u"/"_s + t.maqui));
            const Status made = EngineLayer::createFileDatabase(dataFile(t), m.PassBD);
            ASSERT_TRUE(made.ok()) << describe(made.error()).toStdString();
        }
        if (!withTable)
            return;
        const QString n = sqlite() ? u"N INTEGER PRIMARY KEY AUTOINCREMENT"_s
                                   : u"N INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"_s;
        run(t, u"CREATE TABLE "_s + bracketName(table(t)) + u" ("_s + n + u", Fecha "_s +
                   fechaType +
                   u", Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE PRECISION, "
                   "C2 DOUBLE PRECISION, T1 VARCHAR(20)"_s +
                   extraColumns + u")"_s);
    }

    void run(const Target& t, const QString& statement, const QVariantList& values = {}) const
    {
        auto cn = openData(t);
        ASSERT_TRUE(cn);
        auto done = cn->exec(statement, values);
        ASSERT_TRUE(done.ok()) << statement.toStdString() << ": "
                               << describe(done.error()).toStdString();
    }

    // The table's rows in order, each column by its lower-case name.
    QList<QVariantMap> rows(const Target& t = {}) const
    {
        QList<QVariantMap> result;
        auto cn = openData(t);
        if (!cn)
            return result;
        auto selected = cn->exec(u"SELECT * FROM "_s + bracketName(table(t)) + u" ORDER BY N"_s);
        EXPECT_TRUE(selected.ok()) << describe(selected.error()).toStdString();
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

    Result<CodeErr> record(const QString& carac, const QString& valor, const Target& t = {},
                           const QString& opera = u"OPER01"_s)
    {
        // One reading stamped now, with the standard window.
        return graba->recordOne(ReadingToRecord{t.forma, t.maqui, t.produ, carac, opera, valor});
    }

    void expectRecorded(const Result<CodeErr>& r)
    {
        ASSERT_TRUE(r.ok()) << describe(r);
        EXPECT_EQ(r.value(), CodeErr::Recorded);
    }

    std::unique_ptr<test::EngineDatabase> db;
    Modulo1 m;
    RecordingInteraccion ui;
    ManualClock clock{kStart};
    std::unique_ptr<GrabaQLTR> graba;
};

TEST_P(GrabaQLTRTest, TheFirstReadingOfAnEmptyTableStartsItsFirstRow)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"12.5"_s));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"fecha"_s].toString(), u"2026-03-02 7:04:09"_s);
    EXPECT_EQ(got[0][u"turno"_s].toString(), u"B"_s);
    EXPECT_EQ(got[0][u"operador"_s].toString(), u"OPER01"_s);
    EXPECT_EQ(got[0][u"c1"_s].toDouble(), 12.5);
    EXPECT_TRUE(got[0][u"c2"_s].isNull());
    EXPECT_TRUE(got[0][u"t1"_s].isNull());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

// One reading of a sequence: seconds after the previous one, the
// characteristic and the reading.
struct Paso {
    int segundos;
    const char* carac;
    const char* valor;
};

// A row expected afterwards: its stamp in seconds after the start, and the
// characteristics that hold a value (the others are Null).
struct FilaEsperada {
    int segundos;
    QVariantMap celdas;
};

struct GatheringCase {
    const char* what;
    QList<Paso> pasos;
    QList<FilaEsperada> filas;
};

TEST_P(GrabaQLTRTest, ReadingsCloseTogetherGatherInOneRow)
{
    const GatheringCase cases[] = {
        {"two characteristics within 300 s fill one row",
         {{0, "C1", "1"}, {120, "C2", "2"}},
         {{0, {{u"c1"_s, 1.0}, {u"c2"_s, 2.0}}}}},
        {"the same characteristic twice gives two rows",
         {{0, "C1", "1"}, {10, "C1", "2"}},
         {{0, {{u"c1"_s, 1.0}}}, {10, {{u"c1"_s, 2.0}}}}},
        {"exactly 300 s after the row's stamp still joins it",
         {{0, "C1", "1"}, {300, "C2", "2"}},
         {{0, {{u"c1"_s, 1.0}, {u"c2"_s, 2.0}}}}},
        {"301 s after the row's stamp starts a new row",
         {{0, "C1", "1"}, {301, "C2", "2"}},
         {{0, {{u"c1"_s, 1.0}}}, {301, {{u"c2"_s, 2.0}}}}},
        {"the window runs from the row's stamp, not from its last reading",
         {{0, "C1", "1"}, {200, "C2", "2"}, {200, "T1", "x"}},
         {{0, {{u"c1"_s, 1.0}, {u"c2"_s, 2.0}}}, {400, {{u"t1"_s, u"x"_s}}}}},
        {"only the last row is filled, never an older one",
         {{0, "C1", "1"}, {10, "C1", "2"}, {10, "C2", "3"}},
         {{0, {{u"c1"_s, 1.0}}}, {10, {{u"c1"_s, 2.0}, {u"c2"_s, 3.0}}}}},
    };
    int n = 0;
    for (const GatheringCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Target t{u"F1"_s, u"M1"_s, u"P"_s + QString::number(++n)};
        createTable(t);
        const QDateTime start = clock.now();
        for (const Paso& paso : c.pasos) {
            clock.advance(std::chrono::seconds(paso.segundos));
            expectRecorded(
                record(QString::fromLatin1(paso.carac), QString::fromLatin1(paso.valor), t));
        }
        const auto got = rows(t);
        ASSERT_EQ(got.size(), c.filas.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i));
            const FilaEsperada& want = c.filas[i];
            EXPECT_EQ(got[i][u"fecha"_s].toString(), stamp(start.addSecs(want.segundos)));
            for (const QString& column : {u"c1"_s, u"c2"_s, u"t1"_s}) {
                if (want.celdas.contains(column)) {
                    EXPECT_EQ(got[i][column], want.celdas[column]) << column.toStdString();
                } else {
                    EXPECT_TRUE(got[i][column].isNull()) << column.toStdString();
                }
            }
        }
        clock.advance(1h);
    }
}

TEST_P(GrabaQLTRTest, TheWindowIsTheCallersToChoose)
{
    createTable();
    const auto toRecord = [](const char* carac) {
        return ReadingToRecord{u"F1"_s,     u"M1"_s, u"P1"_s, QString::fromLatin1(carac),
                               u"OPER01"_s, u"1"_s};
    };
    expectRecorded(graba->recordOne(toRecord("C1"), 60));
    clock.advance(60s);
    expectRecorded(graba->recordOne(toRecord("C2"), 60));
    clock.advance(1s);
    expectRecorded(graba->recordOne(toRecord("T1"), 60));
    const auto got = rows();
    ASSERT_EQ(got.size(), 2);
    EXPECT_FALSE(got[0][u"c2"_s].isNull());
    EXPECT_FALSE(got[1][u"t1"_s].isNull());
}

TEST_P(GrabaQLTRTest, ARowKeepsTheStampShiftAndOperatorOfTheReadingThatStartedIt)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s, {}, u"OPER01"_s));
    clock.setNow(QDateTime(kStart.date(), QTime(7, 8, 0)));
    expectRecorded(record(u"C2"_s, u"2"_s, {}, u"OPER02"_s));
    clock.setNow(QDateTime(kStart.date(), QTime(22, 30, 5)));
    expectRecorded(record(u"C2"_s, u"3"_s, {}, u"OPER02"_s));
    const auto got = rows();
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0][u"operador"_s].toString(), u"OPER01"_s);
    EXPECT_EQ(got[0][u"turno"_s].toString(), u"B"_s);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
    EXPECT_EQ(got[1][u"fecha"_s].toString(), u"2026-03-02 22:30:05"_s);
    EXPECT_EQ(got[1][u"turno"_s].toString(), u" "_s); // after every shift's end
    EXPECT_EQ(got[1][u"operador"_s].toString(), u"OPER02"_s);
}

struct ValorCase {
    const char* carac;
    const char* valor;
    QVariant stored;
};

TEST_P(GrabaQLTRTest, ATextColumnTakesTheReadingAsTypedANumericOneItsLeadingNumber)
{
    createTable();
    const ValorCase cases[] = {
        {"T1", "12,5", u"12,5"_s}, {"C1", "12,5", 12.0},    {"T1", " 7 kg", u" 7 kg"_s},
        {"C1", " 7 kg", 7.0},      {"C2", "abc", 0.0},      {"T1", "abc", u"abc"_s},
        {"C1", "-0.25", -0.25},    {"C2", "1.5e3", 1500.0},
    };
    for (const ValorCase& c : cases) {
        SCOPED_TRACE(std::string(c.carac) + " " + c.valor);
        clock.advance(1h);
        expectRecorded(record(QString::fromLatin1(c.carac), QString::fromLatin1(c.valor)));
        const auto got = rows();
        ASSERT_FALSE(got.isEmpty());
        EXPECT_EQ(got.last()[QString::fromLatin1(c.carac).toLower()], c.stored);
    }
}

// A recording that keeps what the reading check hands it.
class KeptReadings final : public ReadingSink {
public:
    void keep(OutboxEntry entry) override { kept.append(std::move(entry)); }
    QList<OutboxEntry> kept;
};

// A port whose format, machine or product is configured as "@" and a marker
// takes that one from the text at the marker in its page; the others stay as
// configured. The reading check hands the recording an entry for the data
// table the three name.
struct MarkerCase {
    const char* what;
    // The port's configured format, machine and product.
    const char* forma;
    const char* maqui;
    const char* produ;
    // Where its reading goes, as the grid shows it and the recording writes it.
    Target expected;
};

TEST_P(GrabaQLTRTest, EachPageMarkerNamesItsOwnPartOfWhereAReadingIsRecorded)
{
    const MarkerCase cases[] = {
        {"no marker", "F1", "M1", "P1", {u"F1"_s, u"M1"_s, u"P1"_s}},
        {"the format alone", "@F:", "M1", "P1", {u"FRM9"_s, u"M1"_s, u"P1"_s}},
        {"the machine alone", "F1", "@M:", "P1", {u"F1"_s, u"MAQ7"_s, u"P1"_s}},
        {"the product alone", "F1", "M1", "@P:", {u"F1"_s, u"M1"_s, u"PRD3"_s}},
        {"all three", "@F:", "@M:", "@P:", {u"FRM9"_s, u"MAQ7"_s, u"PRD3"_s}},
    };
    // Every page names all three, in another order than the port's fields,
    // whichever of them the port reads at a marker; the reading and each
    // marker's value are the four characters after it.
    const QString pageText = u"<p>P:PRD3 T=12.5 M:MAQ7 F:FRM9</p>"_s;

    // The configuration: port k + 1 for case k, on clock 1.
    test::ConfigFixture installation;
    QList<test::FixturePort> ports;
    for (int k = 0; k < static_cast<int>(std::size(cases)); ++k)
        ports.append({k + 1, u"Puerto"_s, u"E1"_s, 1});
    const QString config =
        installation.createConfig(u"TLVConf.mdb"_s, test::ConfigFixture::fixtureKeyWidths(), ports);
    installation.writeTLVDirec({config});
    {
        auto cn = installation.openDatabase(config);
        ASSERT_TRUE(cn);
        ASSERT_TRUE(cn->exec(u"UPDATE HTMCONFI SET WebPg = 'http://st/' || Puert, Ident = 'T=', "
                             "Inici = 1, Longi = 4, Carac = 'C1', Opera = 'OPER01'"_s)
                        .ok());
        for (int k = 0; k < static_cast<int>(std::size(cases)); ++k) {
            const MarkerCase& c = cases[k];
            ASSERT_TRUE(cn->exec(u"UPDATE HTMCONFI SET Forma = ?, Maqui = ?, Produ = ? "
                                 "WHERE Puert = ?"_s,
                                 {QString::fromLatin1(c.forma), QString::fromLatin1(c.maqui),
                                  QString::fromLatin1(c.produ), k + 1})
                            .ok());
        }
    }
    ConfigDatabase configDatabase(installation.m, installation.ui);
    ASSERT_EQ(configDatabase.Reinicia(), ReiniciaOutcome::Done);

    test::ConfigFixture::fillMessages(m);
    ReadingsModel readings(m);
    RecordingLog recordingLog;
    KeptReadings recording;
    ReadingRecorder check(m, ui, configDatabase.RsConfBusca(), readings, recordingLog, recording,
                          nullptr);

    for (int k = 0; k < static_cast<int>(std::size(cases)); ++k) {
        const MarkerCase& c = cases[k];
        SCOPED_TRACE(c.what);
        const int puert = k + 1;
        createTable(c.expected);

        // The port as the acquisition builds it, polled by one cycle whose
        // readings go to the check.
        const std::optional<ConfigRow> row = configDatabase.RsConfBusca().find(puert);
        ASSERT_TRUE(row);
        const Result<TPuerto> port = buildTPuerto(*row);
        ASSERT_TRUE(port.ok());
        test::ScriptedPageLoader loader;
        AcquisitionDisplay display;
        auto cycle = std::make_shared<PollingCycle>(
            1, QList<PollingCycle::Port>{{puert, port.value(), Limits{0, 100}}},
            PollingCycle::Services{m, ui, loader, display, check, clock}, nullptr);
        QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                         [&](PageLoader::Ticket ticket, const LoadedPage& page) {
                             cycle->pageLoaded(ticket, page);
                         });
        cycle->begin();
        ASSERT_EQ(loader.pending().size(), 1);
        loader.complete(loader.pending()[0].ticket,
                        LoadedPage{{}, PageOutcome::Complete, pageText, 200, std::nullopt});
        ASSERT_TRUE(cycle->isFinished());
        EXPECT_TRUE(ui.boxes.isEmpty());

        // The labels show what the page's markers named, and only that.
        const auto named = [&](const char* configured, const QString& value) {
            return configured[0] == '@' ? value : QString();
        };
        EXPECT_EQ(display.text(AcquisitionDisplay::Field::lblFormato),
                  named(c.forma, c.expected.forma));
        EXPECT_EQ(display.text(AcquisitionDisplay::Field::lblMaquina),
                  named(c.maqui, c.expected.maqui));
        EXPECT_EQ(display.text(AcquisitionDisplay::Field::lblProducto),
                  named(c.produ, c.expected.produ));

        ASSERT_EQ(readings.rowCount(), k + 1);
        const ReadingRow& shown = readings.reading(0);
        EXPECT_EQ(shown.tag, ReadingRecorder::displayTag(1, puert));
        EXPECT_EQ(shown.Formato, c.expected.forma);
        EXPECT_EQ(shown.Maquina, c.expected.maqui);
        EXPECT_EQ(shown.Producto, c.expected.produ);
        EXPECT_EQ(shown.reading, u"12.5"_s);
        EXPECT_EQ(shown.Marca, QString());

        ASSERT_EQ(recording.kept.size(), k + 1);
        OutboxEntry entry = recording.kept.last();
        EXPECT_EQ(entry.Puert, puert);
        EXPECT_EQ(entry.Forma, c.expected.forma);
        EXPECT_EQ(entry.Maqui, c.expected.maqui);
        EXPECT_EQ(entry.Produ, c.expected.produ);
        EXPECT_EQ(entry.Valor, u"12.5"_s);

        // And it is written into the data table they name.
        entry.id = puert;
        const BatchResult written = graba->recordBatch({entry});
        EXPECT_EQ(written.recorded, QList<qint64>{puert});
        EXPECT_TRUE(written.refused.isEmpty());
        EXPECT_FALSE(written.retry.has_value());
        const auto got = rows(c.expected);
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0][u"c1"_s].toDouble(), 12.5);
        EXPECT_EQ(got[0][u"operador"_s].toString(), u"OPER01"_s);
    }
    EXPECT_TRUE(recordingLog.lines().isEmpty());
}

TEST_P(GrabaQLTRTest, AReadingBeyondTheRangeOfANumberIsRefusedForANumericColumn)
{
    createTable();
    const auto r = record(u"C1"_s, u"1e999"_s);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, ErrorNumber::Overflow);
    EXPECT_TRUE(rows().isEmpty());
    expectRecorded(record(u"T1"_s, u"1e999"_s));
}

struct FechaCase {
    const char* what;
    QVariant fecha; // the last row's stamp; now is 7:04:09
    bool joins;
};

TEST_P(GrabaQLTRTest, TheLastRowsStampIsReadInEveryFormItMayHave)
{
    const FechaCase cases[] = {
        {"hour without a leading zero", u"2026-03-02 7:00:00"_s, true},
        {"two-digit hour", u"2026-03-02 07:00:00"_s, true},
        {"ISO form", u"2026-03-02T07:00:00"_s, true},
        {"blanks around it", u" 2026-03-02 7:00:00 "_s, true},
        {"exactly 300 s old", u"2026-03-02 6:59:09"_s, true},
        {"301 s old", u"2026-03-02 6:59:08"_s, false},
        {"yesterday", u"2026-03-01 7:04:09"_s, false},
        // A row later than the reading, within the window (a reading that
        // waited while another writer added a row, or a clock set back).
        {"later than now, within the window", u"2026-03-02 7:09:00"_s, true},
        // More than the window later: the reading starts its own row.
        {"later than now by more than the window", u"2026-03-02 9:00:00"_s, false},
        // Unreadable stamps count as older than the window.
        {"not a date", u"ayer"_s, false},
        {"empty", u""_s, false},
        {"Null", QVariant(), false},
    };
    int n = 0;
    for (const FechaCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Target t{u"F1"_s, u"M1"_s, u"P"_s + QString::number(++n)};
        createTable(t);
        run(t,
            u"INSERT INTO "_s + bracketName(table(t)) +
                u" (Fecha, Turno, Operador, C1) VALUES (?, 'A', 'OPER09', 5)"_s,
            {c.fecha.isNull() ? QVariant(QMetaType::fromType<QString>()) : c.fecha});
        expectRecorded(record(u"C2"_s, u"7"_s, t));
        const auto got = rows(t);
        ASSERT_EQ(got.size(), c.joins ? 1 : 2);
        EXPECT_EQ(got.last()[u"c2"_s].toDouble(), 7.0);
        if (!c.joins) {
            EXPECT_EQ(got.last()[u"fecha"_s].toString(), u"2026-03-02 7:04:09"_s);
        }
    }
}

TEST_P(GrabaQLTRTest, ADateTimeStampColumnIsWrittenAndReadAsADateTime)
{
    // SQLite has no date type: its stamp is always the text.
    const QStringList types = sqlite() ? QStringList{u"DATETIME"_s, u"TEXT"_s}
                                       : QStringList{u"TIMESTAMP"_s, u"TIMESTAMP WITH TIME ZONE"_s};
    int n = 0;
    for (const QString& type : types) {
        SCOPED_TRACE(type.toStdString());
        const Target t{u"F1"_s, u"M1"_s, u"P"_s + QString::number(++n)};
        createTable(t, type);
        const QDateTime start = clock.now();
        expectRecorded(record(u"C1"_s, u"1"_s, t));
        clock.advance(100s);
        expectRecorded(record(u"C2"_s, u"2"_s, t));
        clock.advance(201s);
        expectRecorded(record(u"T1"_s, u"3"_s, t));
        const auto got = rows(t);
        ASSERT_EQ(got.size(), 2);
        const QVariant first = got[0][u"fecha"_s];
        if (sqlite()) {
            EXPECT_EQ(first.toString(), stamp(start));
        } else {
            ASSERT_EQ(first.metaType().id(), QMetaType::QDateTime);
            EXPECT_EQ(first.toDateTime().toLocalTime(), start);
        }
        EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
        EXPECT_EQ(got[1][u"t1"_s].toString(), u"3"_s);
        clock.advance(1h);
    }
}

TEST_P(GrabaQLTRTest, NamesThatNeedQuotingReachTheirOwnTableAndColumn)
{
    const Target odd{u"F]1"_s, u"M'1"_s, u"P\"1"_s};
    createTable(odd, u"VARCHAR(20)"_s, u", [X]]Y] VARCHAR(10)"_s);
    createTable();
    expectRecorded(record(u"X]Y"_s, u"v"_s, odd));
    const auto got = rows(odd);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"x]y"_s].toString(), u"v"_s);
    EXPECT_TRUE(rows().isEmpty());

    // A characteristic that tries to close the brackets names a column
    // that does not exist, and nothing else happens.
    const auto injected = record(u"C1] = 1; DROP TABLE [Datos"_s, u"1"_s);
    ASSERT_FALSE(injected.ok());
    EXPECT_TRUE(rows().isEmpty());
}

TEST_P(GrabaQLTRTest, AMissingColumnOrTableIsAnErrorAndNothingIsWritten)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    const auto before = rows();

    const auto missingColumn = record(u"C9"_s, u"2"_s);
    ASSERT_FALSE(missingColumn.ok());
    EXPECT_EQ(missingColumn.error().number, ErrorNumber::ItemNotFound);
    EXPECT_TRUE(missingColumn.error().description.contains(u"C9"_s))
        << describe(missingColumn.error()).toStdString();
    EXPECT_TRUE(missingColumn.error().description.contains(table()))
        << describe(missingColumn.error()).toStdString();
    EXPECT_FALSE(missingColumn.error().retryable);
    EXPECT_EQ(rows(), before);

    const Target withoutTable{u"F1"_s, u"M1"_s, u"P2"_s};
    createTable(withoutTable, {}, {}, false);
    const auto missingTable = record(u"C1"_s, u"3"_s, withoutTable);
    ASSERT_FALSE(missingTable.ok());
    const QString where = sqlite() ? dataFile(withoutTable) : table(withoutTable);
    EXPECT_TRUE(missingTable.error().description.contains(where))
        << describe(missingTable.error()).toStdString();
    EXPECT_FALSE(missingTable.error().retryable);
    EXPECT_EQ(rows(), before);
    // A connection that failed is closed.
    EXPECT_EQ(graba->openConnections(), 0u);

    expectRecorded(record(u"C2"_s, u"4"_s));
    EXPECT_EQ(rows().size(), 1);
}

TEST_P(GrabaQLTRTest, AReadingWaitsForAnotherWritersTransactionAndFailsCleanlyWhenItLasts)
{
    createTable();
    graba->setLockWait(50ms);
    auto other = openData();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->exec(sqlite() ? u"BEGIN IMMEDIATE"_s : u"BEGIN"_s).ok());
    ASSERT_TRUE(other
                    ->exec(u"INSERT INTO "_s + bracketName(table()) +
                               u" (Fecha, Turno, Operador, C1) VALUES (?, 'B', 'OPER09', 5)"_s,
                           {stamp(clock.now())})
                    .ok());

    const auto waited = record(u"C2"_s, u"7"_s);
    ASSERT_FALSE(waited.ok());
    // Another writer's lock clears by itself: the reading is to wait.
    EXPECT_TRUE(waited.error().retryable) << describe(waited.error()).toStdString();
    EXPECT_EQ(graba->openConnections(), 0u);

    ASSERT_TRUE(other->exec(u"COMMIT"_s).ok());
    expectRecorded(record(u"C2"_s, u"7"_s));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"operador"_s].toString(), u"OPER09"_s);
    EXPECT_EQ(got[0][u"c1"_s].toDouble(), 5.0);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 7.0);
}

// The other router's reading is committed while this one waits for it:
// this one must then see the other's row and fill it, not add its own
// beside it.
TEST_P(GrabaQLTRTest, AReadingThatWaitedSeesTheRowTheOtherWriterCommitted)
{
    createTable();
    auto other = openData();
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->exec(sqlite() ? u"BEGIN IMMEDIATE"_s : u"BEGIN"_s).ok());
    ASSERT_TRUE(other
                    ->exec(u"INSERT INTO "_s + bracketName(table()) +
                               u" (Fecha, Turno, Operador, C1) VALUES (?, 'B', 'OPER09', 5)"_s,
                           {stamp(clock.now())})
                    .ok());

    std::optional<LockWaitWatch> watch;
    if (sqlite())
        watch.emplace();
    Result<CodeErr> result = Error{};
    std::thread router([&] {
        if (watch)
            LockWaitWatch::watchThisThread();
        {
            GrabaQLTR second(m, clock);
            second.setLockWait(60s);
            result = second.recordOne(
                ReadingToRecord{u"F1"_s, u"M1"_s, u"P1"_s, u"C2"_s, u"OPER01"_s, u"7"_s});
        }
        if (watch)
            watch->threadDone();
    });
    if (sqlite()) {
        // The lock is held until the second writer has found it taken and
        // begun to wait (or has ended without ever waiting, which fails).
        EXPECT_TRUE(watch->waitUntilWaitingOrDone())
            << "the second writer never waited for the lock";
    } else {
        auto watcher = openData();
        bool waiting = false;
        for (int i = 0; i < 3000 && !waiting; ++i) {
            auto q = watcher->exec(u"SELECT count(*) FROM pg_stat_activity WHERE "
                                   "wait_event_type = 'Lock' AND datname = current_database()"_s);
            waiting = q && q.value().next() && q.value().value(0).toInt() > 0;
            if (!waiting)
                QThread::msleep(10);
        }
        EXPECT_TRUE(waiting) << "the second writer never waited for the lock";
    }
    ASSERT_TRUE(other->exec(u"COMMIT"_s).ok());
    router.join();
    ASSERT_TRUE(result.ok()) << describe(result);
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"c1"_s].toDouble(), 5.0);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 7.0);
}

TEST_P(GrabaQLTRTest, TwoRoutersRecordingIntoOneTableNeverLoseAReading)
{
    createTable();
    constexpr int kReadings = 30;
    std::latch start(2);
    QStringList failures[2];
    const auto router = [&](int which) {
        GrabaQLTR g(m, clock);
        g.setLockWait(30s);
        start.arrive_and_wait();
        for (int i = 0; i < kReadings; ++i) {
            const QString carac = i % 2 == 0 ? u"C1"_s : u"C2"_s;
            const QString valor = QString::number((which + 1) * 1000 + i);
            const auto r =
                g.recordOne(ReadingToRecord{u"F1"_s, u"M1"_s, u"P1"_s, carac, u"OPER01"_s, valor});
            if (!r.ok() || r.value() != CodeErr::Recorded)
                failures[which].append(valor + u": "_s + QString::fromStdString(describe(r)));
        }
    };
    std::thread a(router, 0);
    std::thread b(router, 1);
    a.join();
    b.join();
    EXPECT_TRUE(failures[0].isEmpty()) << failures[0].join(u"\n"_s).toStdString();
    EXPECT_TRUE(failures[1].isEmpty()) << failures[1].join(u"\n"_s).toStdString();

    QList<int> stored;
    for (const QVariantMap& row : rows()) {
        for (const QString& column : {u"c1"_s, u"c2"_s})
            if (!row[column].isNull())
                stored.append(row[column].toInt());
    }
    QList<int> expected;
    for (int which = 0; which < 2; ++which)
        for (int i = 0; i < kReadings; ++i)
            expected.append((which + 1) * 1000 + i);
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, expected);
}

TEST_P(GrabaQLTRTest, ConnectionsStayOpenBetweenReadingsUntilClosed)
{
    createTable();
    const Target other{u"F1"_s, u"M1"_s, u"P2"_s};
    createTable(other);
    expectRecorded(record(u"C1"_s, u"1"_s));
    expectRecorded(record(u"C2"_s, u"2"_s));
    EXPECT_EQ(graba->openConnections(), 1u);
    expectRecorded(record(u"C1"_s, u"3"_s, other));
    // One data file each; on a server one database holds every table.
    EXPECT_EQ(graba->openConnections(), sqlite() ? 2u : 1u);
    graba->closeConnections();
    EXPECT_EQ(graba->openConnections(), 0u);
    expectRecorded(record(u"T1"_s, u"4"_s));
    ASSERT_EQ(rows().size(), 1);
    EXPECT_EQ(rows()[0][u"t1"_s].toString(), u"4"_s);
}

TEST_P(GrabaQLTRTest, AFailedOpeningIsAValueWithoutABoxAndIsNotCached)
{
    if (sqlite()) {
        // The data file is protected by another password than the
        // installation's: waiting cannot mend that.
        m.PassBD = u"datos-2026"_s;
        createTable();
        m.PassBD = u"otra"_s;
    } else {
        // A server that does not answer may come back.
        createTable();
        m.Servidor = u"127.0.0.1:"_s + QString::number(test::unusedLocalPort());
    }
    graba = std::make_unique<GrabaQLTR>(m, clock);
    const auto r = record(u"C1"_s, u"1"_s);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number,
              sqlite() ? ErrorNumber::WrongPassword : ErrorNumber::UnspecifiedFailure);
    EXPECT_EQ(r.error().retryable, !sqlite());
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(graba->openConnections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, GrabaQLTRTest,
                         ::testing::Values(Engine::Sqlite, Engine::PostgreSql), engineName);

// The file database's own checks: these run on "[JET4]" only.
class GrabaQLTRFilesTest : public GrabaQLTRTest {};

struct PathCase {
    const char* what;
    Target target;
    CodeErr code;
    const char* missing; // under RutaDatos; "" when recorded
};

TEST_P(GrabaQLTRFilesTest, MissingDirectoriesAndFilesGiveTheirCodesAndWriteNothing)
{
    createTable();
    ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/M1/P3.MDB"_s)); // a directory, not a file
    QFile plainFile(m.RutaDatos + u"F2"_s);                      // a file, not a directory
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();

    const PathCase cases[] = {
        {"no format directory", {u"F9"_s, u"M1"_s, u"P1"_s}, CodeErr::NoFormatDirectory, "F9"},
        {"the format is a file", {u"F2"_s, u"M1"_s, u"P1"_s}, CodeErr::NoFormatDirectory, "F2"},
        {"no format", {u""_s, u"M1"_s, u"P1"_s}, CodeErr::NoFormatDirectory, ""},
        {"no machine directory", {u"F1"_s, u"M9"_s, u"P1"_s}, CodeErr::NoMachineDirectory, "F1/M9"},
        {"no data file", {u"F1"_s, u"M1"_s, u"P9"_s}, CodeErr::NoDataFile, "F1/M1/P9.MDB"},
        {"the data file is a directory",
         {u"F1"_s, u"M1"_s, u"P3"_s},
         CodeErr::NoDataFile,
         "F1/M1/P3.MDB"},
        {"a format that climbs out", {u".."_s, u"M1"_s, u"P1"_s}, CodeErr::NoFormatDirectory, ".."},
        {"a format holding a path",
         {u"F1/M1"_s, u"M1"_s, u"P1"_s},
         CodeErr::NoFormatDirectory,
         "F1/M1"},
        {"a machine holding a path",
         {u"F1"_s, u"../F1/M1"_s, u"P1"_s},
         CodeErr::NoMachineDirectory,
         "F1/../F1/M1"},
        {"a product holding a path",
         {u"F1"_s, u"M1"_s, u"../M1/P1"_s},
         CodeErr::NoDataFile,
         "F1/M1/../M1/P1.MDB"},
        {"names in another case and with blanks",
         {u" f1 "_s, u"m1  "_s, u" p1"_s},
         CodeErr::Recorded,
         ""},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = rows();
        const auto r = graba->recordOne(ReadingToRecord{
            c.target.forma, c.target.maqui, c.target.produ, u"C1"_s, u"OPER01"_s, u"1"_s});
        ASSERT_TRUE(r.ok()) << describe(r);
        EXPECT_EQ(r.value(), c.code);
        if (c.code == CodeErr::Recorded) {
            EXPECT_EQ(rows().size(), before.size() + 1);
        } else {
            EXPECT_EQ(rows(), before);
            EXPECT_EQ(GrabaQLTR::missingPath(m.RutaDatos, c.code, c.target.forma, c.target.maqui,
                                             c.target.produ),
                      m.RutaDatos + QString::fromLatin1(c.missing));
        }
        clock.advance(1h);
    }
    EXPECT_FALSE(QFileInfo::exists(m.RutaDatos + u"F1/M1/P9.MDB"_s));
    EXPECT_EQ(GrabaQLTR::dataFilePath(m.RutaDatos, u" F1"_s, u"M1 "_s, u"P1"_s),
              m.RutaDatos + u"F1/M1/P1.MDB"_s);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_P(GrabaQLTRFilesTest, AReadOnlyDataFileIsNotWrittenEvenThroughAnOpenConnection)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    ASSERT_TRUE(QFile::setPermissions(dataFile(), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const auto refused = record(u"C2"_s, u"2"_s);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().number, ErrorNumber::CannotUpdate);
    EXPECT_TRUE(refused.error().description.contains(dataFile()))
        << describe(refused.error()).toStdString();
    EXPECT_FALSE(refused.error().retryable);

    ASSERT_TRUE(
        QFile::setPermissions(dataFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0][u"c2"_s].isNull());
    expectRecorded(record(u"C2"_s, u"2"_s));
    EXPECT_EQ(rows()[0][u"c2"_s].toDouble(), 2.0);
}

TEST_P(GrabaQLTRFilesTest, AReplacedOrRemovedDataFileIsNeverWrittenThroughAStaleConnection)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    ASSERT_EQ(graba->openConnections(), 1u);

    // The file is replaced by a new one (as a compaction does): the reading
    // goes into the new file.
    const Target replacement{u"F1"_s, u"M1"_s, u"NEW"_s};
    createTable(replacement);
    ASSERT_TRUE(QFile::remove(dataFile()));
    ASSERT_TRUE(QFile::rename(dataFile(replacement), dataFile()));
    expectRecorded(record(u"C2"_s, u"2"_s));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0][u"c1"_s].isNull());
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);

    ASSERT_TRUE(QFile::remove(dataFile()));
    const auto removed = record(u"C1"_s, u"3"_s);
    ASSERT_TRUE(removed.ok()) << describe(removed);
    EXPECT_EQ(removed.value(), CodeErr::NoDataFile);
}

TEST_P(GrabaQLTRFilesTest, AtMostSixteenConnectionsStayOpen)
{
    for (int i = 0; i < 20; ++i) {
        const Target t{u"F1"_s, u"M1"_s, u"P"_s + QString::number(i)};
        createTable(t);
        expectRecorded(record(u"C1"_s, QString::number(i), t));
    }
    EXPECT_EQ(graba->openConnections(), GrabaQLTR::kMaxConnections);
    for (int i = 0; i < 20; ++i) {
        const Target t{u"F1"_s, u"M1"_s, u"P"_s + QString::number(i)};
        expectRecorded(record(u"C2"_s, QString::number(i), t));
        const auto got = rows(t);
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0][u"c2"_s].toInt(), i);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, GrabaQLTRFilesTest, ::testing::Values(Engine::Sqlite), engineName);

// What only a server engine has.
class GrabaQLTRServerTest : public GrabaQLTRTest {};

TEST_P(GrabaQLTRServerTest, AConnectionTheServerDroppedIsReplacedForTheNextReading)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    auto admin = openData();
    ASSERT_TRUE(admin);
    auto killed = admin->exec(u"SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                              "WHERE datname = current_database() AND pid <> pg_backend_pid()"_s);
    ASSERT_TRUE(killed.ok()) << describe(killed.error()).toStdString();
    ASSERT_TRUE(killed.value().next());
    ASSERT_GE(killed.value().value(0).toInt(), 1);

    expectRecorded(record(u"C2"_s, u"2"_s));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Server, GrabaQLTRServerTest, ::testing::Values(Engine::PostgreSql),
                         engineName);

TEST(GrabaQLTR, InformixHasNoDataTablesAndEveryReadingSaysSo)
{
    Modulo1 m;
    m.TipoBD = u"[INFORMIX10]"_s;
    m.Servidor = u"ifx"_s;
    m.BaseDatos = u"qualitra"_s;
    ManualClock clock{kStart};
    GrabaQLTR graba(m, clock);
    for (int i = 0; i < 2; ++i) {
        const auto r = graba.recordOne(
            ReadingToRecord{u"F1"_s, u"M1"_s, u"P1"_s, u"C1"_s, u"OPER01"_s, u"1"_s});
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().number, ErrorNumber::NotSupported);
        EXPECT_TRUE(r.error().description.contains(u"Informix"_s));
        EXPECT_FALSE(r.error().retryable);
    }
    EXPECT_EQ(graba.openConnections(), 0u);
}

TEST(GrabaQLTR, ADataDatabaseNameThatCannotBeGivesNoEntry)
{
    Modulo1 m;
    m.TipoBD = u"[POSTGRESQL]"_s;
    m.Servidor = u"127.0.0.1:1"_s;
    m.Empresa = u"KORVEXIA"_s;
    m.BaseDatos = u"PLANT1X"_s;
    const ReadingToRecord toRecord{u"F1"_s, u"M1"_s, u"P1"_s, u"C1"_s, u"OPER01"_s, u"1"_s};
    const auto entry = GrabaQLTR::entryFor(m, toRecord, kStart);
    ASSERT_FALSE(entry.ok());
    EXPECT_EQ(entry.error().description, u"El sexto caracter de PLANT1X no puede ser 1"_s);
    m.BaseDatos = u"PLANTA"_s;
    const auto named = GrabaQLTR::entryFor(m, toRecord, kStart);
    ASSERT_TRUE(named.ok());
    EXPECT_EQ(named.value().base, u"PLANT1"_s);
}

TEST(GrabaQLTR, AnUnknownEngineHasNoDataTables)
{
    Modulo1 m;
    ManualClock clock{kStart};
    GrabaQLTR graba(m, clock);
    const auto r =
        graba.recordOne(ReadingToRecord{u"F1"_s, u"M1"_s, u"P1"_s, u"C1"_s, u"OPER01"_s, u"1"_s});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, ErrorNumber::NotSupported);
}

} // namespace
} // namespace telvar
