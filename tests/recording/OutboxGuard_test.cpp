// The outbox's guards: one router per outbox, files of their own for each
// installation, readings held while the outbox cannot take them, a damaged
// outbox set aside, notes that travel with quarantined readings, counts
// from the file itself.
#include "common/ErrorNumbers.h"
#include "common/InstallationFolder.h"
#include "common/Modulo1.h"
#include "database/EngineLayer.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "recording/OutboxAppender.h"
#include "recording/OutboxLock.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "recording/UnrecordedLog.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(7, 4, 9));

OutboxEntry reading(int n, const QString& forma = u"F1"_s)
{
    OutboxEntry e;
    e.engine = u"[JET4]"_s;
    e.base = u"/datos/"_s;
    e.Forma = forma;
    e.Maqui = u"M1"_s;
    e.Produ = u"P1"_s;
    e.Carac = u"C1"_s;
    e.Valor = QString::number(n);
    e.Opera = u"OP1"_s;
    e.Puert = n;
    e.stamp = kStart.addSecs(n);
    return e;
}

QList<OutboxEntry> readings(int count, int from = 1)
{
    QList<OutboxEntry> list;
    for (int n = from; n < from + count; ++n)
        list.append(reading(n));
    return list;
}

// The count of a table of the outbox as SQLite counts it.
qint64 rowsOf(const QString& outboxPath, const QString& table)
{
    const QString name = u"count-"_s + table;
    qint64 rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(outboxPath);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(u"SELECT count(*) FROM "_s + table) && q.next())
                rows = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

class OutboxGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path() const { return dir.filePath(u"TelvarOutbox.sqlite"_s); }

    QTemporaryDir dir;
};

TEST_F(OutboxGuardTest, ASecondRouterIsRefusedNamingTheOneThatHoldsTheOutbox)
{
    auto first = OutboxLock::claim(path(), u"/opt/planta"_s);
    ASSERT_TRUE(first.ok()) << first.error().description.toStdString();

    // In this process and in another one alike.
    auto second = OutboxLock::claim(path(), u"/opt/planta"_s);
    ASSERT_FALSE(second.ok());
    const QString why = second.error().description;
    EXPECT_TRUE(why.contains(path())) << why.toStdString();
    EXPECT_TRUE(why.contains(u"process "_s + QString::number(::getpid()))) << why.toStdString();
    EXPECT_TRUE(why.contains(u"installation /opt/planta"_s)) << why.toStdString();

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(OutboxLock::claim(path(), u"/opt/otra"_s).ok() ? 1 : 42);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 42);

    // A router that ended, even killed, leaves nothing that blocks.
    first.value().reset();
    auto third = OutboxLock::claim(path(), u"/opt/planta"_s);
    EXPECT_TRUE(third.ok());
}

TEST_F(OutboxGuardTest, AKilledRoutersClaimEndsWithItsProcess)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = OutboxLock::claim(path(), u"/opt/planta"_s);
        const char c = held.ok() ? 'y' : 'n';
        (void)::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(OutboxLock::claim(path(), u"/opt/planta"_s).ok());
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(OutboxLock::claim(path(), u"/opt/planta"_s).ok());
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(OutboxGuardTest, TwoServicesOnOneOutboxRecordThroughOneOnly)
{
    Modulo1 m;
    m.TipoBD = u"[JET4]"_s;
    test::RecordingInteraccion ui;
    test::ManualClock clock{kStart};
    RecordingLog log;
    UnrecordedLog unrecorded{dir.filePath(u"no.log"_s), dir.filePath(u"no2.log"_s)};
    RecordingService first(m, ui, clock, log, unrecorded, path());
    RecordingService second(m, ui, clock, log, unrecorded, path());
    ASSERT_TRUE(first.open().ok());
    const Status refused = second.open();
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(second.claimError().contains(u"in use by another Telvar router"_s));
    EXPECT_FALSE(second.isClaimed());
    // Once the first has ended, the second can take over.
    first.shutdown();
    EXPECT_TRUE(second.open().ok());
    EXPECT_TRUE(second.isClaimed());
}

TEST_F(OutboxGuardTest, ADamagedOutboxAtStartIsSaidInABoxTheLogAndTheStatus)
{
    {
        auto box = Outbox::open(path());
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> entries = readings(5);
        ASSERT_TRUE(box.value()->append(entries).ok());
    }
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(16, 'x'));
    }
    Modulo1 m;
    m.TipoBD = u"[JET4]"_s;
    m.Idioma = 2;
    test::RecordingInteraccion ui;
    test::ManualClock clock{kStart};
    RecordingLog log;
    UnrecordedLog unrecorded{dir.filePath(u"no.log"_s), dir.filePath(u"no2.log"_s)};
    RecordingService service(m, ui, clock, log, unrecorded, path());
    ASSERT_TRUE(service.open().ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.isOpen(); }, 20000));
    EXPECT_TRUE(service.setAsidePath().startsWith(path() + u".damaged-"_s));
    EXPECT_TRUE(service.outboxError().isEmpty());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.contains(service.setAsidePath()));
    EXPECT_TRUE(ui.boxes[0].text.contains(u"5 readings waiting"_s))
        << ui.boxes[0].text.toStdString();
    // The log box shows the start of the line; the log file has all of it.
    EXPECT_FALSE(log.lines().isEmpty());
    QFile file(unrecorded.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(u"has been set aside as "_s));
}

TEST(InstallationFolder, ReadOnlyInstallationsEachKeepTheirOwnFiles)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString a = root.filePath(u"a"_s);
    const QString b = root.filePath(u"b"_s);
    ASSERT_TRUE(QDir().mkpath(a) && QDir().mkpath(b));
    ASSERT_EQ(::chmod(QFile::encodeName(a).constData(), 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(b).constData(), 0555), 0);
    // root may write anywhere: then both fall back only when asked.
    const QString folderA = installationDataFolder(a);
    const QString folderB = installationDataFolder(b);
    EXPECT_NE(folderA, folderB);
    EXPECT_TRUE(QFileInfo(folderA).isDir());
    EXPECT_TRUE(folderA.endsWith(installationFolderName(a)));
    EXPECT_EQ(installationFolder(root.path()), QDir::cleanPath(root.path()));
    if (::geteuid() != 0) {
        EXPECT_EQ(installationFolder(a), folderA);
        EXPECT_NE(Outbox::pathForInstallation(a), Outbox::pathForInstallation(b));
    }
    ::chmod(QFile::encodeName(a).constData(), 0755);
    ::chmod(QFile::encodeName(b).constData(), 0755);
}

TEST_F(OutboxGuardTest, AQuarantinedReadingKeepsItsNoteWhenSentAgainInSlices)
{
    auto box = Outbox::open(path());
    ASSERT_TRUE(box.ok());
    QList<OutboxEntry> entries = readings(2500);
    ASSERT_TRUE(box.value()->append(entries).ok());
    QList<QuarantinedEntry> refused;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        OutboxEntry e = entries[i];
        e.preparedRow = 100 + i;
        e.preparedNewRow = i % 2 == 0;
        refused.append({e, CodeErr::NoDataFile, Error{0, u"Telvar"_s, u"missing"_s}, kStart});
    }
    ASSERT_TRUE(box.value()->quarantine(refused).ok());
    auto counts = box.value()->counts();
    ASSERT_TRUE(counts.ok());
    EXPECT_EQ(counts.value().pending, 0);
    EXPECT_EQ(counts.value().quarantined, 2500);

    // Slice by slice, each its own commit, in order.
    auto slice = box.value()->requeue(1000);
    ASSERT_TRUE(slice.ok());
    EXPECT_EQ(slice.value(), 1000);
    EXPECT_EQ(box.value()->pendingCount().value(), 1000);
    EXPECT_EQ(box.value()->quarantinedCount().value(), 1500);
    auto rest = box.value()->requeueAll();
    ASSERT_TRUE(rest.ok());
    EXPECT_EQ(rest.value(), 1500);

    auto back = box.value()->pending(entries.first().destinationKey(), 5000);
    ASSERT_TRUE(back.ok());
    ASSERT_EQ(back.value().size(), 2500);
    for (qsizetype i = 0; i < back.value().size(); ++i) {
        const OutboxEntry& e = back.value()[i];
        ASSERT_EQ(e.Valor, entries[i].Valor);
        ASSERT_EQ(e.preparedRow, std::optional<qint64>(100 + i));
        ASSERT_EQ(e.preparedNewRow, i % 2 == 0);
    }
    EXPECT_EQ(box.value()->pendingCount().value(), rowsOf(path(), u"pending"_s));
    EXPECT_EQ(box.value()->quarantinedCount().value(), rowsOf(path(), u"quarantine"_s));
}

TEST_F(OutboxGuardTest, AnOutboxOfTheEarlierVersionIsBroughtUpToDateWithItsCounts)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"old"_s);
        db.setDatabaseName(path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        const QString columns =
            u"reloj INTEGER NOT NULL, puert INTEGER NOT NULL, engine TEXT, base TEXT, forma "
            "TEXT, maqui TEXT, produ TEXT, carac TEXT, valor TEXT, opera TEXT, stamp_ms INTEGER "
            "NOT NULL, turno TEXT"_s;
        ASSERT_TRUE(q.exec(u"CREATE TABLE pending (id INTEGER PRIMARY KEY AUTOINCREMENT, "_s +
                           columns +
                           u", destination TEXT, prepared_row INTEGER, prepared_new INTEGER NOT "
                           "NULL DEFAULT 0)"_s));
        ASSERT_TRUE(q.exec(u"CREATE TABLE quarantine (id INTEGER PRIMARY KEY, "_s + columns +
                           u", code INTEGER NOT NULL, reason_number INTEGER NOT NULL, "
                           "reason_source TEXT, reason TEXT, since_ms INTEGER NOT NULL)"_s));
        const OutboxEntry e = reading(1);
        ASSERT_TRUE(q.exec(u"INSERT INTO pending (reloj, puert, engine, base, forma, maqui, "
                           "produ, carac, valor, opera, stamp_ms, turno, destination) VALUES "
                           "(1, 1, '[JET4]', '/datos/', 'F1', 'M1', 'P1', 'C1', '1', 'OP1', 0, "
                           "'A', '"_s +
                           e.destinationKey() + u"')"_s));
        ASSERT_TRUE(
            q.exec(u"INSERT INTO quarantine VALUES (7, 1, 2, '[JET4]', '/datos/', 'F2', "
                   "'M1', 'P1', 'C1', '2', 'OP1', 0, 'A', 3, 0, 'Telvar', 'missing', 0)"_s));
    }
    QSqlDatabase::removeDatabase(u"old"_s);

    auto box = Outbox::open(path());
    ASSERT_TRUE(box.ok()) << box.error().description.toStdString();
    auto counts = box.value()->counts();
    ASSERT_TRUE(counts.ok());
    EXPECT_EQ(counts.value().pending, 1);
    EXPECT_EQ(counts.value().quarantined, 1);
    ASSERT_EQ(counts.value().quarantinedByTable.size(), 1);
    EXPECT_EQ(counts.value().quarantinedByTable.first().table.Forma, u"F2"_s);
    EXPECT_EQ(box.value()->requeueAll().value(), 1);
    EXPECT_EQ(box.value()->pendingCount().value(), 2);
    EXPECT_EQ(box.value()->destinations().value().size(), 2);
}

// An appender driven on this thread: what it says, as it says it.
struct AppenderWatch {
    explicit AppenderWatch(OutboxAppender& appender)
    {
        QObject::connect(&appender, &OutboxAppender::opened, [this](const OutboxOpened& what) {
            ++opened;
            salvage = what.salvage;
            counts = what.counts;
        });
        QObject::connect(&appender, &OutboxAppender::appended,
                         [this](qsizetype count) { kept += count; });
        QObject::connect(&appender, &OutboxAppender::counted,
                         [this](const Outbox::Counts& c) { counts = c; });
        QObject::connect(
            &appender, &OutboxAppender::dropped,
            [this](const QList<OutboxEntry>& entries, const Error&) { dropped += entries.size(); });
        QObject::connect(&appender, &OutboxAppender::failing, [this](const Error& e) {
            ++failings;
            lastFailure = e;
        });
        QObject::connect(&appender, &OutboxAppender::recovered, [this] { ++recoveries; });
    }
    int opened = 0;
    qsizetype kept = 0;
    qsizetype dropped = 0;
    int failings = 0;
    int recoveries = 0;
    Error lastFailure;
    std::optional<OutboxSalvage> salvage;
    Outbox::Counts counts;
};

Error sqliteError(int code, const QString& text)
{
    return Error{code == 11 ? ErrorNumber::DamagedFile : ErrorNumber::UnspecifiedFailure,
                 u"Telvar outbox"_s, text, code != 11};
}

TEST_F(OutboxGuardTest, NothingHandedOverIsDroppedWhileTheOutboxCannotTakeIt)
{
    // A full disk, an I/O error, a read-only file: each clears by itself,
    // and the readings wait in memory meanwhile, retried with backoff.
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    int refusals = 5;
    appender.setStepHook([&refusals](OutboxAppender::Step step) -> Status {
        if (step != OutboxAppender::Step::BeforeAppend || refusals == 0)
            return {};
        --refusals;
        const int codes[] = {13, 10, 8, 5, 6};
        return sqliteError(codes[refusals], u"database or disk is full"_s);
    });
    appender.start();
    ASSERT_EQ(watch.opened, 1);
    appender.append(readings(10));
    appender.append(readings(5, 11));
    EXPECT_EQ(appender.held(), 15);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.kept == 15; }, 20000));
    EXPECT_EQ(watch.dropped, 0);
    EXPECT_EQ(watch.failings, 1); // said once for the whole stretch
    EXPECT_EQ(watch.recoveries, 1);
    EXPECT_EQ(watch.counts.pending, 15);
    EXPECT_EQ(rowsOf(path(), u"pending"_s), 15);
}

TEST_F(OutboxGuardTest, AnOutboxLockedByAnotherProcessAtStartIsOpenedOnceItIsFree)
{
    ASSERT_TRUE(Outbox::open(path()).ok());
    QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"holder"_s);
    other.setDatabaseName(path());
    ASSERT_TRUE(other.open());
    {
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(u"PRAGMA locking_mode = EXCLUSIVE"_s));
        ASSERT_TRUE(hold.exec(u"BEGIN EXCLUSIVE"_s)) << hold.lastError().text().toStdString();
    }
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.start();
    appender.append(readings(3));
    EXPECT_EQ(watch.opened, 0);
    EXPECT_EQ(watch.failings, 1);
    {
        QSqlQuery release(other);
        ASSERT_TRUE(release.exec(u"COMMIT"_s));
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(u"holder"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.kept == 3; }, 30000));
    EXPECT_EQ(watch.opened, 1);
    EXPECT_EQ(watch.dropped, 0);
}

TEST_F(OutboxGuardTest, BeyondTheBoundInMemoryReadingsAreHandedBackLoudly)
{
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.setMostHeld(4);
    appender.setStepHook([](OutboxAppender::Step step) -> Status {
        if (step == OutboxAppender::Step::BeforeAppend)
            return sqliteError(13, u"database or disk is full"_s);
        return {};
    });
    appender.start();
    appender.append(readings(3));
    appender.append(readings(3, 4));
    EXPECT_EQ(appender.held(), 4);
    EXPECT_EQ(watch.dropped, 2);
    // What is left when the program ends is handed back, never lost quietly.
    const QList<OutboxEntry> left = appender.closeAndHandBack();
    EXPECT_EQ(left.size(), 4);
}

TEST_F(OutboxGuardTest, ADamagedOutboxIsSetAsideAndItsReadingsSalvaged)
{
    {
        auto box = Outbox::open(path());
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> entries = readings(40);
        ASSERT_TRUE(box.value()->append(entries).ok());
    }
    // A damaged header: the file is no database any more.
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(16, 'x'));
    }
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.start();
    ASSERT_EQ(watch.opened, 1) << watch.lastFailure.description.toStdString();
    ASSERT_TRUE(watch.salvage.has_value());
    EXPECT_TRUE(QFileInfo::exists(watch.salvage->asidePath));
    EXPECT_TRUE(watch.salvage->asidePath.startsWith(path() + u".damaged-"_s));
    // Only SQLite's header string was overwritten: every reading comes back.
    EXPECT_EQ(watch.salvage->pending, 40);
    // The new outbox takes readings.
    appender.append(readings(2, 100));
    EXPECT_EQ(watch.kept, 2);
    EXPECT_EQ(rowsOf(path(), u"pending"_s), watch.salvage->pending + 2);
}

TEST_F(OutboxGuardTest, ADamagedFileWhoseLogHoldsItsReadingsLosesNone)
{
    // The image a crash leaves: the readings' commits only in the log, the
    // file's first bytes overwritten.
    const QString crashed = dir.filePath(u"crashed.sqlite"_s);
    {
        auto box = Outbox::open(path(), /*checkpoints=*/false);
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> entries = readings(30);
        ASSERT_TRUE(box.value()->append(entries).ok());
        ASSERT_TRUE(QFileInfo::exists(path() + u"-wal"_s));
        ASSERT_TRUE(QFile::copy(path(), crashed));
        ASSERT_TRUE(QFile::copy(path() + u"-wal"_s, crashed + u"-wal"_s));
    }
    {
        QFile file(crashed);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(16, 'x'));
    }
    OutboxAppender appender(crashed, {});
    AppenderWatch watch(appender);
    appender.start();
    ASSERT_EQ(watch.opened, 1);
    // Read through its log, or salvaged: every reading is there.
    EXPECT_EQ(watch.counts.pending, 30);
    EXPECT_EQ(rowsOf(crashed, u"pending"_s), 30);
}

TEST_F(OutboxGuardTest, ASalvageThatCannotFinishIsFinishedAtTheNextTry)
{
    {
        auto box = Outbox::open(path());
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> entries = readings(12);
        ASSERT_TRUE(box.value()->append(entries).ok());
    }
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(16, 'x'));
    }
    // The new outbox cannot be made where it is made first.
    const QString blocker = path() + u".new"_s;
    ASSERT_TRUE(QDir().mkpath(blocker + u"/inside"_s));
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.start();
    appender.append(readings(2, 100));
    EXPECT_EQ(watch.opened, 0);
    EXPECT_EQ(watch.failings, 1);
    EXPECT_FALSE(QFileInfo::exists(path()));

    // Once it can be, the file set aside is read: nothing is lost.
    ASSERT_TRUE(QDir(blocker).removeRecursively());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.opened == 1; }, 20000));
    ASSERT_TRUE(watch.salvage.has_value());
    EXPECT_EQ(watch.salvage->pending, 12);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.kept == 2; }, 20000));
    EXPECT_EQ(rowsOf(path(), u"pending"_s), 14);
}

TEST_F(OutboxGuardTest, AFileCutShortGivesBackTheReadingsThatCanBeRead)
{
    {
        auto box = Outbox::open(path());
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> entries = readings(3000);
        ASSERT_TRUE(box.value()->append(entries).ok());
    }
    // The last connection's close folded the log into the file.
    const qint64 size = QFileInfo(path()).size();
    ASSERT_TRUE(QFile::resize(path(), size * 2 / 3));
    QFile::remove(path() + u"-wal"_s);

    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.start();
    ASSERT_EQ(watch.opened, 1);
    ASSERT_TRUE(watch.salvage.has_value());
    EXPECT_GT(watch.salvage->pending, 0) << watch.salvage->incomplete.toStdString();
    EXPECT_LT(watch.salvage->pending, 3000);
    EXPECT_EQ(watch.counts.pending, watch.salvage->pending);
}

} // namespace
} // namespace telvar

namespace telvar {
namespace {

// The outbox on a small file system of its own that fills up: runs only
// where the test may mount one (root), and says why it skipped otherwise.
class FullFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        mountPoint = dir.filePath(u"small"_s);
        ASSERT_TRUE(QDir().mkpath(mountPoint));
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small file system needs root";
        const QByteArray point = QFile::encodeName(mountPoint);
        const QByteArray command = "mount -t tmpfs -o size=1m tmpfs '" + point + "' 2>/dev/null";
        if (std::system(command.constData()) != 0)
            GTEST_SKIP() << "a tmpfs cannot be mounted here";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted) {
            const QByteArray command = "umount '" + QFile::encodeName(mountPoint) + "' 2>/dev/null";
            (void)std::system(command.constData());
        }
    }
    QString path() const { return mountPoint + u"/TelvarOutbox.sqlite"_s; }
    // Fills what is left of the file system; gives the filler's path.
    QString fill() const
    {
        const QString filler = mountPoint + u"/filler"_s;
        QFile file(filler);
        if (file.open(QIODevice::WriteOnly)) {
            const QByteArray block(4096, 'x');
            while (file.write(block) == block.size() && file.flush()) {
            }
        }
        return filler;
    }

    QTemporaryDir dir;
    QString mountPoint;
    bool mounted = false;
};

TEST_F(FullFileSystemTest, AFullDiskHoldsTheReadingsUntilThereIsRoomAgain)
{
    OutboxAppender appender(path(), {});
    AppenderWatch watch(appender);
    appender.start();
    ASSERT_EQ(watch.opened, 1);
    appender.append(readings(200));
    ASSERT_EQ(watch.kept, 200);

    const QString filler = fill();
    int next = 201;
    for (int round = 0; round < 20 && watch.failings == 0; ++round) {
        appender.append(readings(500, next));
        next += 500;
    }
    ASSERT_EQ(watch.failings, 1) << "the file system never filled up";
    EXPECT_EQ(watch.dropped, 0);
    EXPECT_FALSE(Outbox::isDamage(watch.lastFailure))
        << watch.lastFailure.description.toStdString();

    ASSERT_TRUE(QFile::remove(filler));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.kept == next - 1; }, 30000))
        << watch.kept << " of " << next - 1 << "; " << watch.lastFailure.description.toStdString();
    EXPECT_EQ(watch.recoveries, 1);
    EXPECT_EQ(rowsOf(path(), u"pending"_s), next - 1);
}

// A link or another account's file at one of the router's files in the
// installation: the outbox's lock, the outbox and SQLite's files beside it,
// the log of unrecorded readings.
struct PlantedAt {
    const char* name;
    const char* file;
    bool link;
};

const PlantedAt kPlantedAt[] = {
    {"LinkAtTheLock", "TelvarOutbox.sqlite.lock", true},
    {"LinkAtTheOutbox", "TelvarOutbox.sqlite", true},
    {"LinkAtTheJournal", "TelvarOutbox.sqlite-journal", true},
    {"LinkAtTheWal", "TelvarOutbox.sqlite-wal", true},
    {"LinkAtTheShm", "TelvarOutbox.sqlite-shm", true},
    {"LinkAtTheUnrecordedLog", "TelvarNoGrabadas.log", true},
    {"OtherAccountsLock", "TelvarOutbox.sqlite.lock", false},
    {"OtherAccountsWal", "TelvarOutbox.sqlite-wal", false},
    {"OtherAccountsUnrecordedLog", "TelvarNoGrabadas.log", false},
};

class RouterFilePlanted : public ::testing::TestWithParam<PlantedAt> {};

TEST_P(RouterFilePlanted, IsRefusedSayingWhyAndWhatItPointsToIsLeftAsItWas)
{
    const PlantedAt& planted = GetParam();
    if (!planted.link && ::geteuid() != 0)
        GTEST_SKIP() << "a file of another account takes root to make";
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString shadow = elsewhere.filePath(u"shadow"_s);
    {
        QFile file(shadow);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("secret\n");
    }
    const QString at = dir.filePath(QString::fromLatin1(planted.file));
    if (planted.link) {
        ASSERT_TRUE(QFile::link(shadow, at));
    } else {
        ASSERT_TRUE(QFile::copy(shadow, at));
        // In a folder others may write too (as /tmp): what root alone can
        // write, root put there.
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(at).constData(), 65534, 65534), 0);
    }
    const QString said = planted.link ? u"symbolic link"_s : u"belongs to the account"_s;
    if (QString::fromLatin1(planted.file).startsWith(u"TelvarOutbox"_s)) {
        auto claimed = OutboxLock::claim(dir.filePath(u"TelvarOutbox.sqlite"_s), u"/opt/planta"_s);
        ASSERT_FALSE(claimed.ok());
        const QString why = claimed.error().description;
        EXPECT_TRUE(why.contains(at)) << why.toStdString();
        EXPECT_TRUE(why.contains(said)) << why.toStdString();
    } else {
        const QString fallback = elsewhere.filePath(u"fallback/TelvarNoGrabadas.log"_s);
        UnrecordedLog log(at, fallback);
        // The line goes to the fallback, and the log says why not to the file.
        EXPECT_TRUE(log.append(u"M1 P1 C1 12.5"_s));
        EXPECT_TRUE(log.lastError().contains(at)) << log.lastError().toStdString();
        EXPECT_TRUE(log.lastError().contains(said)) << log.lastError().toStdString();
        QFile file(fallback);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains("12.5"));
    }
    QFile file(shadow);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "secret\n");
}

INSTANTIATE_TEST_SUITE_P(Files, RouterFilePlanted, ::testing::ValuesIn(kPlantedAt),
                         [](const auto& planted) { return std::string(planted.param.name); });

TEST(RouterFiles, TheLockAndTheUnrecordedLogAreNotReadableByOthersWhateverTheUmask)
{
    const mode_t oldMask = ::umask(0);
    QTemporaryDir dir;
    const QString outbox = dir.filePath(u"TelvarOutbox.sqlite"_s);
    auto claimed = OutboxLock::claim(outbox, u"/opt/planta"_s);
    UnrecordedLog log(dir.filePath(u"TelvarNoGrabadas.log"_s), QString());
    const bool appended = log.append(u"M1 P1 C1 12.5"_s);
    ::umask(oldMask);
    ASSERT_TRUE(claimed.ok()) << claimed.error().description.toStdString();
    ASSERT_TRUE(appended) << log.lastError().toStdString();
    struct Made {
        QString path;
        mode_t mode;
    };
    for (const Made& made : {Made{OutboxLock::lockPathFor(outbox), 0600}, Made{log.path(), 0640}}) {
        SCOPED_TRACE(made.path.toStdString());
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(made.path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, made.mode);
    }
}

} // namespace
} // namespace telvar
