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
#include "recording/LocalTimeZone_fixture.h"
#include "recording/ReadingRecorder.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "recording/WallTime.h"
#include "support/ConfigFixture.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"
#include "support/ScriptedPageLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>
#include <algorithm>
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

// Stands in for a file system that fails under one data file while it
// lives: the default VFS is then one that hands every call to the usual
// one, except those for that file and its journal, which fail as asked.
// SQLite gives the same codes when the real file system fails so. A
// connection keeps the VFS it was opened with: only connections opened while
// the failure lives see it, and its files work again once it is gone.
class FailingFileSystem final {
public:
    enum class Failure {
        DiskFull,   // writes fail with SQLITE_FULL (ENOSPC)
        IoError,    // writes fail with SQLITE_IOERR_WRITE (EIO)
        ReadOnly,   // the file opens only for reading (EROFS)
        CannotOpen, // the file does not open (SQLITE_CANTOPEN)
    };

    FailingFileSystem(const QString& path, Failure failure)
    {
        const std::lock_guard lock(s_mutex);
        const QFileInfo file(path);
        s_paths = {QFile::encodeName(file.absoluteFilePath()),
                   QFile::encodeName(file.canonicalFilePath())};
        s_failure = failure;
        s_armed = true;
        if (!s_base) {
            s_base = sqlite3_vfs_find(nullptr);
            s_vfs = *s_base;
            s_vfs.pNext = nullptr;
            s_vfs.zName = "telvar-test-failing-file-system";
            s_vfs.szOsFile = static_cast<int>(sizeof(WrappedFile)) + s_base->szOsFile;
            s_vfs.xOpen = &FailingFileSystem::open;
        }
        EXPECT_EQ(sqlite3_vfs_register(&s_vfs, 1), SQLITE_OK);
    }
    ~FailingFileSystem()
    {
        sqlite3_vfs_unregister(&s_vfs);
        const std::lock_guard lock(s_mutex);
        s_armed = false;
    }
    FailingFileSystem(const FailingFileSystem&) = delete;
    FailingFileSystem& operator=(const FailingFileSystem&) = delete;

private:
    // A file of the usual VFS, kept right after this header.
    struct WrappedFile {
        sqlite3_file base;
        sqlite3_file* real;
        bool watched;
    };

    static sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<WrappedFile*>(f)->real; }

    static bool isWatched(const char* name)
    {
        if (!name || !s_armed)
            return false;
        const QByteArray path(name);
        return std::any_of(s_paths.begin(), s_paths.end(), [&](const QByteArray& watched) {
            return !watched.isEmpty() && path.startsWith(watched);
        });
    }

    static int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                    int* outFlags)
    {
        auto* wrapped = reinterpret_cast<WrappedFile*>(file);
        wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
        wrapped->real->pMethods = nullptr;
        file->pMethods = nullptr;
        bool watched = false;
        Failure failure = Failure::DiskFull;
        {
            const std::lock_guard lock(s_mutex);
            watched = isWatched(name);
            failure = s_failure;
        }
        const bool mainFile = (flags & SQLITE_OPEN_MAIN_DB) != 0;
        if (watched && mainFile && failure == Failure::CannotOpen)
            return SQLITE_CANTOPEN;
        if (watched && mainFile && failure == Failure::ReadOnly)
            flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
        const int opened = s_base->xOpen(s_base, name, wrapped->real, flags, outFlags);
        if (opened != SQLITE_OK) {
            if (wrapped->real->pMethods)
                wrapped->real->pMethods->xClose(wrapped->real);
            return opened;
        }
        wrapped->watched = watched;
        file->pMethods = &kMethods;
        return SQLITE_OK;
    }

    static int write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset)
    {
        if (reinterpret_cast<WrappedFile*>(f)->watched) {
            const std::lock_guard lock(s_mutex);
            if (s_armed && s_failure == Failure::DiskFull)
                return SQLITE_FULL;
            if (s_armed && s_failure == Failure::IoError)
                return SQLITE_IOERR_WRITE;
        }
        return real(f)->pMethods->xWrite(real(f), data, amount, offset);
    }

    static inline const sqlite3_io_methods kMethods = {
        3,
        [](sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); },
        [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
            return real(f)->pMethods->xRead(real(f), data, amount, offset);
        },
        &FailingFileSystem::write,
        [](sqlite3_file* f, sqlite3_int64 size) {
            return real(f)->pMethods->xTruncate(real(f), size);
        },
        [](sqlite3_file* f, int flags) { return real(f)->pMethods->xSync(real(f), flags); },
        [](sqlite3_file* f, sqlite3_int64* size) {
            return real(f)->pMethods->xFileSize(real(f), size);
        },
        [](sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); },
        [](sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); },
        [](sqlite3_file* f, int* reserved) {
            return real(f)->pMethods->xCheckReservedLock(real(f), reserved);
        },
        [](sqlite3_file* f, int op, void* arg) {
            return real(f)->pMethods->xFileControl(real(f), op, arg);
        },
        [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); },
        [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
        [](sqlite3_file* f, int region, int size, int extend, void volatile** memory) {
            return real(f)->pMethods->xShmMap(real(f), region, size, extend, memory);
        },
        [](sqlite3_file* f, int offset, int n, int flags) {
            return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
        },
        [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); },
        [](sqlite3_file* f, int deleteFlag) {
            return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
        },
        [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** page) {
            return real(f)->pMethods->xFetch(real(f), offset, amount, page);
        },
        [](sqlite3_file* f, sqlite3_int64 offset, void* page) {
            return real(f)->pMethods->xUnfetch(real(f), offset, page);
        },
    };

    static inline std::mutex s_mutex;
    static inline QList<QByteArray> s_paths;
    static inline Failure s_failure = Failure::DiskFull;
    static inline bool s_armed = false;
    // Kept for the whole run: a connection keeps its VFS to its end.
    static inline sqlite3_vfs* s_base = nullptr;
    static inline sqlite3_vfs s_vfs{};
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
                     const QString& extraColumns = {}, bool withTable = true,
                     const QString& operadorType = u"VARCHAR(8)"_s)
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
                   fechaType + u", Turno VARCHAR(10), Operador "_s + operadorType +
                   u", C1 DOUBLE PRECISION, C2 DOUBLE PRECISION, T1 VARCHAR(20)"_s + extraColumns +
                   u")"_s);
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

    // The outbox entry of a reading stamped at, numbered id.
    OutboxEntry entryAt(const QDateTime& at, const QString& carac, const QString& valor, qint64 id,
                        const Target& t = {}, const QString& opera = u"OPER01"_s) const
    {
        auto entry = GrabaQLTR::entryFor(
            m, ReadingToRecord{t.forma, t.maqui, t.produ, carac, opera, valor}, at);
        EXPECT_TRUE(entry.ok());
        OutboxEntry e = entry ? entry.value() : OutboxEntry{};
        e.id = id;
        return e;
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
        // A row later than the reading (a reading that waited while another
        // writer added a row, or a clock set back) is outside its window,
        // however close: the reading starts its own row.
        {"a second later than now", u"2026-03-02 7:04:10"_s, false},
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

TEST_P(GrabaQLTRTest, LateReadingsGatherIntoTheRowsTheirOwnTimesChoose)
{
    const QDateTime base(kStart.date(), QTime(10, 0));
    // Rows every four minutes; the station of C1 was down from the second
    // on, and someone typed C1 into the third by hand.
    struct Fila {
        int segundos;
        QVariant c1;
        QVariant c2;
    };
    const QVariant none(QMetaType::fromType<double>());
    const Fila existing[] = {{0, 1.0, 1.0},    {240, none, 2.0}, {480, 99.0, 3.0},
                             {720, none, 4.0}, {960, none, 5.0}, {1200, none, 6.0}};
    // The readings recorded late, each stamped this many seconds after the
    // first row.
    const Paso late[] = {
        {270, "C1", "11"},  // row 2
        {510, "C1", "12"},  // row 3's C1 is taken: a new row 7 stamped +510
        {540, "T1", "x"},   // row 7, found by its stamp
        {750, "C1", "13"},  // row 4
        {600, "C2", "22"},  // row 7 again: the latest stamp not later than +600
        {990, "C1", "14"},  // row 5
        {1230, "C1", "15"}, // row 6
        {230, "T1", "y"},   // row 1, not row 2, which is later than the reading
        {1560, "T1", "z"},  // later than every row, 360 s after row 6: a new row
    };
    const QList<FilaEsperada> expected = {
        {0, {{u"c1"_s, 1.0}, {u"c2"_s, 1.0}, {u"t1"_s, u"y"_s}}},
        {240, {{u"c1"_s, 11.0}, {u"c2"_s, 2.0}}},
        {480, {{u"c1"_s, 99.0}, {u"c2"_s, 3.0}}},
        {720, {{u"c1"_s, 13.0}, {u"c2"_s, 4.0}}},
        {960, {{u"c1"_s, 14.0}, {u"c2"_s, 5.0}}},
        {1200, {{u"c1"_s, 15.0}, {u"c2"_s, 6.0}}},
        {510, {{u"c1"_s, 12.0}, {u"c2"_s, 22.0}, {u"t1"_s, u"x"_s}}},
        {1560, {{u"t1"_s, u"z"_s}}},
    };
    for (const bool oneBatch : {true, false}) {
        SCOPED_TRACE(oneBatch ? "in one batch" : "each in a batch of its own");
        const Target t{u"F1"_s, u"M1"_s, oneBatch ? u"L1"_s : u"L2"_s};
        createTable(t);
        for (const Fila& fila : existing)
            run(t,
                u"INSERT INTO "_s + bracketName(table(t)) +
                    u" (Fecha, Turno, Operador, C1, C2) VALUES (?, 'B', 'OPER09', ?, ?)"_s,
                {stamp(base.addSecs(fila.segundos)), fila.c1, fila.c2});
        clock.setNow(base.addSecs(3600));
        QList<OutboxEntry> entries;
        for (const Paso& paso : late)
            entries.append(entryAt(base.addSecs(paso.segundos), QString::fromLatin1(paso.carac),
                                   QString::fromLatin1(paso.valor), entries.size() + 1, t));
        if (oneBatch) {
            const BatchResult done = graba->recordBatch(entries);
            EXPECT_EQ(done.recorded.size(), entries.size());
            EXPECT_FALSE(done.retry.has_value());
        } else {
            for (const OutboxEntry& e : std::as_const(entries))
                EXPECT_EQ(graba->recordBatch({e}).recorded, QList<qint64>{e.id});
        }
        const auto got = rows(t);
        ASSERT_EQ(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("row " + std::to_string(i + 1));
            EXPECT_EQ(got[i][u"fecha"_s].toString(), stamp(base.addSecs(expected[i].segundos)));
            for (const QString& column : {u"c1"_s, u"c2"_s, u"t1"_s}) {
                if (expected[i].celdas.contains(column)) {
                    EXPECT_EQ(got[i][column], expected[i].celdas[column]) << column.toStdString();
                } else {
                    EXPECT_TRUE(got[i][column].isNull()) << column.toStdString();
                }
            }
        }
    }
}

// A reading written before a crash, tried again with the row the outbox
// noted for it.
struct RecoveryCase {
    const char* what;
    const char* columnType; // of the characteristic X
    const char* operadorType;
    const char* valor;
    // The reading fills a row that is there already, rather than make one.
    bool fillsARow;
    // The attempt committed before the crash.
    bool committed;
    // When it did not: what another writer then put in the noted row's
    // cell X; for a row the reading would have made, that writer made the
    // row in its place, with this operator and stamped this many seconds
    // after the reading.
    QVariant other;
    const char* otherOperador;
    int otherSeconds;
    // The reading is written again (a row of its own, as its cell in the
    // noted row is taken).
    bool writtenAgain;
};

TEST_P(GrabaQLTRTest, AReadingNotedBeforeACrashIsWrittenAgainOnlyWhenItsOwnValueIsNotThere)
{
    const RecoveryCase cases[] = {
        {"a number, committed",
         "DOUBLE PRECISION",
         "VARCHAR(8)",
         "12.5",
         false,
         true,
         {},
         "",
         0,
         false},
        {"a number filling a row, committed",
         "DOUBLE PRECISION",
         "VARCHAR(8)",
         "12.5",
         true,
         true,
         {},
         "",
         0,
         false},
        {"not committed, and another writer's number put in its cell since", "DOUBLE PRECISION",
         "VARCHAR(8)", "12.5", true, false, 13.0, "", 0, true},
        {"not committed, and another writer's row with another number in its place",
         "DOUBLE PRECISION", "VARCHAR(8)", "12.5", false, false, 13.0, "OPER01", 0, true},
        {"NUMERIC(8,2) rounded it, committed",
         "NUMERIC(8,2)",
         "VARCHAR(8)",
         "12.345",
         false,
         true,
         {},
         "",
         0,
         false},
        {"NUMERIC(8,2), not committed, another number there", "NUMERIC(8,2)", "VARCHAR(8)",
         "12.345", true, false, 12.36, "", 0, true},
        {"REAL rounded it, committed",
         "REAL",
         "VARCHAR(8)",
         "12.3456789",
         false,
         true,
         {},
         "",
         0,
         false},
        {"REAL, not committed, another number there", "REAL", "VARCHAR(8)", "12.3456789", true,
         false, 12.3457, "", 0, true},
        {"CHAR(10) padded it, committed",
         "CHAR(10)",
         "VARCHAR(8)",
         "abc",
         false,
         true,
         {},
         "",
         0,
         false},
        {"CHAR(10), not committed, other text there", "CHAR(10)", "VARCHAR(8)", "abc", true, false,
         u"abd"_s, "", 0, true},
        {"an Operador CHAR(10) padded the row's operator, committed",
         "DOUBLE PRECISION",
         "CHAR(10)",
         "12.5",
         false,
         true,
         {},
         "",
         0,
         false},
        {"not committed, the same number in another operator's row", "DOUBLE PRECISION",
         "VARCHAR(8)", "12.5", false, false, 12.5, "OPER02", 0, true},
        {"not committed, the same number and operator a second later", "DOUBLE PRECISION",
         "VARCHAR(8)", "12.5", false, false, 12.5, "OPER01", 1, true},
        // What cannot be told apart: the very same value, operator and
        // stamp, written by another writer into the noted row.
        {"not committed, the same number, operator and stamp", "DOUBLE PRECISION", "VARCHAR(8)",
         "12.5", false, false, 12.5, "OPER01", 0, false},
    };
    int k = 0;
    for (const RecoveryCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Target t{u"F1"_s, u"M1"_s, u"R"_s + QString::number(++k)};
        createTable(t, u"VARCHAR(20)"_s, u", X "_s + QString::fromLatin1(c.columnType), true,
                    QString::fromLatin1(c.operadorType));
        const QDateTime at = clock.now();
        if (c.fillsARow)
            run(t,
                u"INSERT INTO "_s + bracketName(table(t)) +
                    u" (Fecha, Turno, Operador, C1) VALUES (?, 'B', 'OPER09', 5)"_s,
                {stamp(at)});
        const QString valor = QString::fromLatin1(c.valor);
        QList<OutboxEntry> noted;
        const BatchResult first = graba->recordBatch(
            {entryAt(at, u"X"_s, valor, 7, t)}, [&](const QList<OutboxEntry>& prepared) -> Status {
                noted = prepared;
                if (c.committed)
                    return {};
                Error stopped{0, u"test"_s, u"the router stopped before the commit"_s};
                stopped.retryable = true;
                return stopped;
            });
        ASSERT_EQ(noted.size(), 1);
        ASSERT_TRUE(noted[0].preparedRow.has_value());
        EXPECT_EQ(noted[0].preparedNewRow, !c.fillsARow);
        EXPECT_EQ(first.recorded, c.committed ? QList<qint64>{7} : QList<qint64>{});
        const qint64 n = *noted[0].preparedRow;
        if (!c.committed && c.fillsARow) {
            run(t, u"UPDATE "_s + bracketName(table(t)) + u" SET X = ? WHERE N = ?"_s,
                {c.other, n});
        } else if (!c.committed) {
            run(t,
                u"INSERT INTO "_s + bracketName(table(t)) +
                    u" (N, Fecha, Turno, Operador, X) VALUES (?, ?, 'B', ?, ?)"_s,
                {n, stamp(at.addSecs(c.otherSeconds)), QString::fromLatin1(c.otherOperador),
                 c.other});
        }
        const auto before = rows(t);

        const BatchResult again = graba->recordBatch(noted);
        EXPECT_EQ(again.recorded, QList<qint64>{7});
        EXPECT_TRUE(again.refused.isEmpty());
        EXPECT_FALSE(again.retry.has_value());
        const auto after = rows(t);
        ASSERT_EQ(after.size(), before.size() + (c.writtenAgain ? 1 : 0));
        if (c.writtenAgain) {
            const QVariant written = after.last()[u"x"_s];
            if (QString::fromLatin1(c.columnType).startsWith(u"CHAR"_s))
                EXPECT_EQ(written.toString().trimmed(), valor);
            else
                EXPECT_NEAR(written.toDouble(), valor.toDouble(), 0.01);
            EXPECT_EQ(after.last()[u"operador"_s].toString().trimmed(), u"OPER01"_s);
        }
        clock.advance(1h);
    }
}

// The wall time of each row's stamp, in order, as "yyyy-mm-dd h:nn:ss".
QStringList wallStamps(Connection& cn, const QString& tableName)
{
    const QString fecha =
        cn.dialect() == SqlDialect::PostgreSql ? u"CAST(Fecha AS TEXT)"_s : u"Fecha"_s;
    QStringList stamps;
    auto selected =
        cn.exec(u"SELECT "_s + fecha + u" FROM "_s + bracketName(tableName) + u" ORDER BY N"_s);
    EXPECT_TRUE(selected.ok());
    if (!selected)
        return stamps;
    while (selected.value().next()) {
        const auto wall = WallTime::fromValue(selected.value().value(0));
        stamps.append(wall ? wall->toText() : u"?"_s);
    }
    return stamps;
}

TEST_P(GrabaQLTRTest, StampsAreWallTimesAcrossTheClockChanges)
{
    test::LocalTimeZone zone("Europe/Madrid");
    ASSERT_TRUE(test::LocalTimeZone::isMadrid());
    const QDate autumn(2026, 10, 25);
    const QDate spring(2026, 3, 29);
    // The two passes of the hour that occurs twice, at summer time (+2)
    // and then at winter time (+1); spring's change leaves summer time from
    // 3:00.
    const auto firstPass = [&](int h, int mi) {
        return test::LocalTimeZone::wallAtOffset(autumn, QTime(h, mi), 2);
    };
    const auto secondPass = [&](int h, int mi) {
        return test::LocalTimeZone::wallAtOffset(autumn, QTime(h, mi), 1);
    };
    const auto springAt = [&](int h, int mi) {
        return test::LocalTimeZone::wallAtOffset(spring, QTime(h, mi), h < 2 ? 1 : 2);
    };
    ASSERT_EQ(firstPass(2, 30).offsetFromUtc(), 7200);
    ASSERT_EQ(secondPass(2, 30).offsetFromUtc(), 3600);
    ASSERT_EQ(firstPass(2, 30).time(), QTime(2, 30));
    ASSERT_EQ(secondPass(2, 30).time(), QTime(2, 30));
    ASSERT_EQ(firstPass(2, 30).secsTo(secondPass(2, 30)), 3600);
    ASSERT_EQ(springAt(1, 58).secsTo(springAt(3, 1)), 180);

    // A reading's entry keeps its instant, to the whole second.
    const auto entry = GrabaQLTR::entryFor(
        m, ReadingToRecord{u"F1"_s, u"M1"_s, u"P1"_s, u"C1"_s, u"OPER01"_s, u"1"_s},
        QDateTime::fromMSecsSinceEpoch(secondPass(2, 30).toMSecsSinceEpoch() + 700));
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(entry.value().stamp.toMSecsSinceEpoch(), secondPass(2, 30).toMSecsSinceEpoch());
    EXPECT_EQ(entry.value().Turno, u"A"_s);

    const auto recordAt = [&](const Target& t, const QDateTime& at, const char* carac) {
        clock.setNow(at);
        expectRecorded(record(QString::fromLatin1(carac), u"1"_s, t));
    };
    const QStringList fechaTypes =
        sqlite() ? QStringList{u"VARCHAR(20)"_s}
                 : QStringList{u"VARCHAR(20)"_s, u"TIMESTAMP"_s, u"TIMESTAMP WITH TIME ZONE"_s};
    int k = 0;
    for (const QString& fechaType : fechaTypes) {
        SCOPED_TRACE(fechaType.toStdString());
        {
            SCOPED_TRACE("two readings a minute apart in the second pass share a row");
            const Target t{u"F1"_s, u"M1"_s, u"D"_s + QString::number(++k)};
            createTable(t, fechaType);
            recordAt(t, secondPass(2, 30), "C1");
            recordAt(t, secondPass(2, 31), "C2");
            auto cn = openData(t);
            ASSERT_TRUE(cn);
            EXPECT_EQ(wallStamps(*cn, table(t)), QStringList{u"2026-10-25 2:30:00"_s});
            EXPECT_EQ(rows(t)[0][u"c2"_s].toDouble(), 1.0);
            if (!sqlite() && fechaType.contains(u"ZONE"_s)) {
                // A timestamp with time zone keeps the second pass's instant.
                auto q = cn->exec(u"SELECT count(*) FROM "_s + bracketName(table(t)) +
                                  u" WHERE Fecha = '2026-10-25 01:30:00+00'"_s);
                ASSERT_TRUE(q.ok() && q.value().next());
                EXPECT_EQ(q.value().value(0).toInt(), 1);
            }
        }
        {
            SCOPED_TRACE("a reading of the second pass committed before a crash is found");
            const Target t{u"F1"_s, u"M1"_s, u"D"_s + QString::number(++k)};
            createTable(t, fechaType);
            QList<OutboxEntry> noted;
            const BatchResult first =
                graba->recordBatch({entryAt(secondPass(2, 30), u"C1"_s, u"4.5"_s, 1, t)},
                                   [&](const QList<OutboxEntry>& prepared) {
                                       noted = prepared;
                                       return Status();
                                   });
            ASSERT_EQ(first.recorded, QList<qint64>{1});
            ASSERT_EQ(noted.size(), 1);
            EXPECT_EQ(graba->recordBatch(noted).recorded, QList<qint64>{1});
            EXPECT_EQ(rows(t).size(), 1);
        }
        {
            SCOPED_TRACE("the second pass after a row of the first pass's end");
            const Target t{u"F1"_s, u"M1"_s, u"D"_s + QString::number(++k)};
            createTable(t, fechaType);
            recordAt(t, firstPass(2, 50), "C1");
            // Earlier on the wall than the last row: a row of its own, which
            // the next reading of the second pass finds by its stamp.
            recordAt(t, secondPass(2, 10), "C1");
            recordAt(t, secondPass(2, 11), "C2");
            // Two minutes after the first pass's 2:50 on the wall: its
            // empty cell is filled.
            recordAt(t, secondPass(2, 52), "C2");
            auto cn = openData(t);
            ASSERT_TRUE(cn);
            EXPECT_EQ(wallStamps(*cn, table(t)),
                      (QStringList{u"2026-10-25 2:50:00"_s, u"2026-10-25 2:10:00"_s}));
            const auto got = rows(t);
            ASSERT_EQ(got.size(), 2);
            EXPECT_FALSE(got[0][u"c2"_s].isNull());
            EXPECT_FALSE(got[1][u"c2"_s].isNull());
        }
        {
            SCOPED_TRACE("in spring, three minutes across the skipped hour are 63 on the wall");
            const Target t{u"F1"_s, u"M1"_s, u"D"_s + QString::number(++k)};
            createTable(t, fechaType);
            recordAt(t, springAt(1, 58), "C1");
            recordAt(t, springAt(3, 1), "C2");
            auto cn = openData(t);
            ASSERT_TRUE(cn);
            EXPECT_EQ(wallStamps(*cn, table(t)),
                      (QStringList{u"2026-03-29 1:58:00"_s, u"2026-03-29 3:01:00"_s}));
        }
    }
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

TEST_P(GrabaQLTRFilesTest, AReadOnlyDataFileIsWaitedForAndNotWrittenEvenThroughAnOpenConnection)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    ASSERT_TRUE(QFile::setPermissions(dataFile(), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const OutboxEntry reading = entryAt(clock.now(), u"C2"_s, u"2"_s, 1);
    const BatchResult waiting = graba->recordBatch({reading});
    ASSERT_TRUE(waiting.retry.has_value());
    EXPECT_EQ(waiting.retry->number, ErrorNumber::CannotUpdate);
    EXPECT_TRUE(waiting.retry->description.contains(dataFile()))
        << describe(*waiting.retry).toStdString();
    EXPECT_TRUE(waiting.retry->retryable);
    EXPECT_TRUE(waiting.recorded.isEmpty());
    EXPECT_TRUE(waiting.refused.isEmpty());

    ASSERT_TRUE(
        QFile::setPermissions(dataFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_TRUE(got[0][u"c2"_s].isNull());
    EXPECT_EQ(graba->recordBatch({reading}).recorded, QList<qint64>{1});
    EXPECT_EQ(rows()[0][u"c2"_s].toDouble(), 2.0);
}

struct FileSystemCase {
    const char* what;
    FailingFileSystem::Failure failure;
    const char* text; // SQLite's words for it
};

TEST_P(GrabaQLTRFilesTest, AFileSystemThatFailsIsWaitedForNotRefused)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    const auto before = rows();
    const QList<OutboxEntry> readings = {entryAt(clock.now(), u"C2"_s, u"2"_s, 1),
                                         entryAt(clock.now(), u"T1"_s, u"t"_s, 2)};
    const FileSystemCase cases[] = {
        {"the disk is full", FailingFileSystem::Failure::DiskFull, "full"},
        {"an I/O error", FailingFileSystem::Failure::IoError, "I/O error"},
        {"a read-only file system", FailingFileSystem::Failure::ReadOnly, "readonly"},
        {"the data file cannot be opened", FailingFileSystem::Failure::CannotOpen,
         "unable to open"},
    };
    for (const FileSystemCase& c : cases) {
        SCOPED_TRACE(c.what);
        // The failure shows to a connection opened from now on.
        graba->closeConnections();
        BatchResult result;
        {
            FailingFileSystem failing(dataFile(), c.failure);
            result = graba->recordBatch(readings);
        }
        ASSERT_TRUE(result.retry.has_value());
        EXPECT_TRUE(result.retry->retryable) << describe(*result.retry).toStdString();
        EXPECT_TRUE(result.retry->description.contains(QString::fromLatin1(c.text)))
            << describe(*result.retry).toStdString();
        EXPECT_TRUE(result.recorded.isEmpty());
        EXPECT_TRUE(result.refused.isEmpty());
        EXPECT_EQ(graba->openConnections(), 0u);
        EXPECT_EQ(rows(), before);
    }
    EXPECT_EQ(graba->recordBatch(readings).recorded, (QList<qint64>{1, 2}));
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
    EXPECT_EQ(got[0][u"t1"_s].toString(), u"t"_s);
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

// After a failover the router may reach a server that takes no writes yet:
// its readings wait for it.
TEST_P(GrabaQLTRServerTest, AServerThatTakesNoWritesIsWaitedForNotRefused)
{
    createTable();
    expectRecorded(record(u"C1"_s, u"1"_s));
    auto admin = openData();
    ASSERT_TRUE(admin);
    const QString database = u"\""_s + db->dataDatabaseName() + u"\""_s;
    ASSERT_TRUE(
        admin->exec(u"ALTER DATABASE "_s + database + u" SET default_transaction_read_only = on"_s)
            .ok());
    graba->closeConnections();
    const BatchResult waiting = graba->recordBatch({entryAt(clock.now(), u"C2"_s, u"2"_s, 1)});
    ASSERT_TRUE(
        admin->exec(u"ALTER DATABASE "_s + database + u" RESET default_transaction_read_only"_s)
            .ok());
    ASSERT_TRUE(waiting.retry.has_value());
    EXPECT_TRUE(waiting.retry->retryable);
    EXPECT_TRUE(waiting.retry->description.contains(u"read-only transaction"_s))
        << describe(*waiting.retry).toStdString();
    EXPECT_TRUE(waiting.recorded.isEmpty());
    EXPECT_TRUE(waiting.refused.isEmpty());

    EXPECT_EQ(graba->recordBatch({entryAt(clock.now(), u"C2"_s, u"2"_s, 1)}).recorded,
              QList<qint64>{1});
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
}

// Waiting does not make a text fit its column: that reading alone is
// refused, and the batch's others are written.
TEST_P(GrabaQLTRServerTest, AValueThatDoesNotFitIsRefusedAloneAndTheOthersAreWritten)
{
    createTable();
    const QList<OutboxEntry> readings = {
        entryAt(clock.now(), u"C1"_s, u"1"_s, 1),
        entryAt(clock.now(), u"T1"_s, u"a reading far too long for its column"_s, 2),
        entryAt(clock.now(), u"C2"_s, u"2"_s, 3)};
    const BatchResult done = graba->recordBatch(readings);
    EXPECT_EQ(done.recorded, (QList<qint64>{1, 3}));
    EXPECT_FALSE(done.retry.has_value());
    ASSERT_EQ(done.refused.size(), 1);
    EXPECT_EQ(done.refused[0].entry.id, 2);
    EXPECT_FALSE(done.refused[0].reason.retryable);
    const auto got = rows();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0][u"c2"_s].toDouble(), 2.0);
    EXPECT_TRUE(got[0][u"t1"_s].isNull());
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
