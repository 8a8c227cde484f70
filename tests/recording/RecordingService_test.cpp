#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "recording/UnrecordedLog.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

const QDateTime kStart(QDate(2026, 3, 5), QTime(7, 4, 9));

// The recording as the window thread uses it, with its writer thread, over
// a data directory holding F1/M1/P1.MDB and an outbox beside it.
class RecordingServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        m.TipoBD = u"[JET4]"_s;
        m.Idioma = 1;
        m.messageTable = MessageTable(80, 30, 2);
        m.RutaDatos = QDir::toNativeSeparators(dir.filePath(u"datos"_s)) + QDir::separator();
        m.messageTable.setText(76, 1, m.Idioma, u"No grabado, puerto"_s);
        m.messageTable.setText(76, 9, m.Idioma, u"no existe el directorio"_s);
        m.messageTable.setText(76, 10, m.Idioma, u"no existe el archivo"_s);
        ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/M1"_s));
        ASSERT_TRUE(EngineLayer::createFileDatabase(dataFile(), QString()).ok());
        auto cn = EngineLayer::open(jetConnectionString(dataFile(), QString()));
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()
                        ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                               "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE "
                               "PRECISION)"_s)
                        .ok());
        log.setCapacity(20);
    }

    QString dataFile() const { return m.RutaDatos + u"F1/M1/P1.MDB"_s; }

    std::unique_ptr<RecordingService> service(UnrecordedLog& file)
    {
        auto s = std::make_unique<RecordingService>(m, ui, clock, log, file,
                                                    dir.filePath(u"outbox.sqlite"_s));
        const Status opened = s->open();
        EXPECT_TRUE(opened.ok()) << opened.error().description.toStdString();
        return s;
    }

    OutboxEntry entry(const QString& forma, const QString& maqui, const QString& valor,
                      int puert = 4) const
    {
        auto e = GrabaQLTR::entryFor(
            m, ReadingToRecord{forma, maqui, u"P1"_s, u"C1"_s, u"OP1"_s, valor}, kStart);
        EXPECT_TRUE(e.ok());
        e.value().Puert = puert;
        return e.value();
    }

    // Waits until the writer has dealt with n readings.
    static bool dealtWith(RecordingService& s, qsizetype n)
    {
        qsizetype dealt = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&s, &RecordingService::batchWritten, [&dealt](const BatchOutcome& o) {
                dealt += o.recorded.size() + o.quarantined.size();
            });
        const bool done = QTest::qWaitFor([&] { return dealt >= n; }, 20000);
        QObject::disconnect(counting);
        return done;
    }

    QString fileText(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    Modulo1 m;
    test::RecordingInteraccion ui;
    test::ManualClock clock{kStart};
    RecordingLog log;
    UnrecordedLog unrecorded{dir.filePath(u"no.log"_s), dir.filePath(u"fallback/no.log"_s)};
};

TEST_F(RecordingServiceTest, KeptReadingsReachTheirTableThroughTheWriter)
{
    auto s = service(unrecorded);
    s->keep(entry(u"F1"_s, u"M1"_s, u"1"_s));
    s->keep(entry(u"F1"_s, u"M1"_s, u"2"_s));
    s->flush();
    EXPECT_EQ(s->onTheirWay(), 2);
    EXPECT_EQ(s->waiting(), 2);
    EXPECT_EQ(s->handedOver(), 2);
    // Kept once the outbox's thread has committed them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->keptTotal() == 2; }, 20000));
    EXPECT_EQ(s->onTheirWay(), 0);
    ASSERT_TRUE(dealtWith(*s, 2) || s->recordedTotal() == 2);
    // The counts are the outbox's, read again after the batch.
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->waiting() == 0; }, 20000));
    EXPECT_EQ(s->recordedTotal(), 2);
    auto cn = EngineLayer::open(jetConnectionString(dataFile(), QString()));
    ASSERT_TRUE(cn.ok());
    auto q = cn.value()->exec(u"SELECT count(*) FROM Datos"_s);
    ASSERT_TRUE(q.ok() && q.value().next());
    EXPECT_EQ(q.value().value(0).toInt(), 2);
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(RecordingServiceTest, AReadingThatCannotBeRecordedIsLoggedWithItsValueAndListed)
{
    const QString sep = QDir::separator();
    const struct {
        QString forma;
        QString maqui;
        QString cause;
    } cases[] = {
        {u"F9"_s, u"M1"_s, u"no existe el directorio "_s + m.RutaDatos + u"F9"_s},
        {u"F1"_s, u"M9"_s, u"no existe el directorio "_s + m.RutaDatos + u"F1"_s + sep + u"M9"_s},
        // A path longer than the box's line: the value is still in the line.
        {u"F"_s + QString(130, u'x'), u"M1"_s,
         u"no existe el directorio "_s + m.RutaDatos + u"F"_s + QString(130, u'x')},
    };
    auto s = service(unrecorded);
    for (const auto& c : cases)
        s->keep(entry(c.forma, c.maqui, u"12.5"_s));
    s->flush();
    ASSERT_TRUE(dealtWith(*s, 3));
    for (const auto& line : log.lines())
        EXPECT_TRUE(line.contains(u"= 12.5"_s)) << line.toStdString();
    for (const auto& c : cases) {
        const QString expected = u"07:04:09 No grabado, puerto: 4 = 12.5 "_s + c.cause;
        EXPECT_TRUE(
            log.lines().contains(expected.leftJustified(RecordingLog::kLineWidth, u' ', true)))
            << log.lines().join(u"\n"_s).toStdString();
        EXPECT_TRUE(fileText(unrecorded.path()).contains(u"2026-03-05 "_s + expected + u"\n"_s));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->quarantinedCount() == 3; }, 20000));
    EXPECT_EQ(s->quarantine().rowCount(), 3);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(RecordingServiceTest, APasswordTypedAtAPromptReachesTheWriter)
{
    // F1/M2/P1.MDB is protected by a password the installation does not
    // have; the person types it at a prompt of the window's later.
    ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/M2"_s));
    const QString file = m.RutaDatos + u"F1/M2/P1.MDB"_s;
    ASSERT_TRUE(EngineLayer::createFileDatabase(file, u"clave-2026"_s).ok());
    auto cn = EngineLayer::open(jetConnectionString(file, u"clave-2026"_s));
    ASSERT_TRUE(cn.ok());
    ASSERT_TRUE(cn.value()
                    ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                           "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE)"_s)
                    .ok());
    cn.value().reset();

    auto s = service(unrecorded);
    s->keep(entry(u"F1"_s, u"M2"_s, u"1"_s));
    s->flush();
    ASSERT_TRUE(dealtWith(*s, 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->quarantinedCount() == 1; }, 20000));

    m.PassBD = u"clave-2026"_s;
    s->keep(entry(u"F1"_s, u"M2"_s, u"2"_s));
    s->flush();
    ASSERT_TRUE(dealtWith(*s, 1));
    EXPECT_EQ(s->recordedTotal(), 1);
    EXPECT_EQ(s->quarantinedCount(), 1);
}

TEST_F(RecordingServiceTest, AFullOutboxKeepsNothingMoreAndSaysSoOnce)
{
    auto s = service(unrecorded);
    s->setCapacity(1);
    // The writer is not given the time to take the first one.
    for (const QString& v : {u"1"_s, u"2"_s, u"3"_s})
        s->keep(entry(u"F1"_s, u"M1"_s, v));
    s->flush();
    EXPECT_TRUE(s->isFull());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.contains(u"llena"_s)) << ui.boxes[0].text.toStdString();
    const QString file = fileText(unrecorded.path());
    EXPECT_TRUE(file.contains(u"= 2 "_s));
    EXPECT_TRUE(file.contains(u"= 3 "_s));
    EXPECT_FALSE(file.contains(u"= 1 "_s));
}

TEST_F(RecordingServiceTest, ALogLineThatCanBeWrittenNowhereRaisesTheAlarmOnce)
{
    UnrecordedLog nowhere(u"/proc/telvar-no/no.log"_s, u"/proc/telvar-no/fallback.log"_s);
    auto s = service(nowhere);
    s->keep(entry(u"F9"_s, u"M1"_s, u"1"_s));
    s->keep(entry(u"F9"_s, u"M1"_s, u"2"_s));
    s->flush();
    ASSERT_TRUE(dealtWith(*s, 2));
    EXPECT_TRUE(s->logUnwritable());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.contains(u"/proc/telvar-no/no.log"_s));
    // The log box still has every reading.
    EXPECT_EQ(log.lines().size(), 2);
}

TEST_F(RecordingServiceTest, EachTableTellsItsReadingsWaitingQuarantinedAndRecordedToday)
{
    const QString good = GrabaQLTR::place(entry(u"F1"_s, u"M1"_s, u"0"_s));
    const QString missing = GrabaQLTR::place(entry(u"F9"_s, u"M1"_s, u"0"_s));
    const auto table = [](const RecordingService& s, const QString& place) {
        for (const DestinationStatus& d : s.destinations())
            if (d.place == place)
                return d;
        ADD_FAILURE() << "no table " << place.toStdString();
        return DestinationStatus{};
    };
    {
        auto s = service(unrecorded);
        QList<int> recordedPuert;
        QObject::connect(s.get(), &RecordingService::batchWritten, s.get(),
                         [&](const BatchOutcome& o) { recordedPuert += o.recordedPuert; });
        s->keep(entry(u"F1"_s, u"M1"_s, u"1"_s, 4));
        s->keep(entry(u"F1"_s, u"M1"_s, u"2"_s, 5));
        s->keep(entry(u"F9"_s, u"M1"_s, u"3"_s, 6));
        clock.advance(std::chrono::seconds(5));
        s->flush();
        ASSERT_TRUE(dealtWith(*s, 3));
        ASSERT_TRUE(QTest::qWaitFor([&] { return s->waiting() == 0; }, 20000));
        const DestinationStatus written = table(*s, good);
        EXPECT_TRUE(written.tried);
        EXPECT_FALSE(written.failingSince.isValid());
        EXPECT_EQ(written.since, kStart.addSecs(5));
        EXPECT_EQ(written.waiting, 0);
        EXPECT_EQ(written.recordedToday, 2);
        const DestinationStatus refused = table(*s, missing);
        EXPECT_EQ(refused.waiting, 0);
        EXPECT_EQ(refused.quarantined, 1);
        EXPECT_EQ(refused.quarantinedToday, 1);
        // Each recorded reading with its port.
        std::sort(recordedPuert.begin(), recordedPuert.end());
        EXPECT_EQ(recordedPuert, (QList<int>{4, 5}));

        // After midnight, with nothing written since, today's counts are 0.
        clock.advance(std::chrono::hours(17));
        EXPECT_EQ(table(*s, good).recordedToday, 0);
        EXPECT_EQ(table(*s, missing).quarantinedToday, 0);
        EXPECT_EQ(table(*s, missing).quarantined, 1);
    }

    // What an earlier run left is counted per table at the next opening.
    {
        auto box = Outbox::open(dir.filePath(u"outbox.sqlite"_s));
        ASSERT_TRUE(box.ok());
        QList<OutboxEntry> left{entry(u"F1"_s, u"M1"_s, u"7"_s), entry(u"F1"_s, u"M1"_s, u"8"_s)};
        ASSERT_TRUE(box.value()->append(left).ok());
    }
    auto s = service(unrecorded);
    // The counts come with the outbox's opening; the writers start after.
    bool seen = false;
    QObject::connect(s.get(), &RecordingService::outboxOpened, s.get(), [&] {
        seen = true;
        EXPECT_EQ(table(*s, good).waiting, 2);
        EXPECT_EQ(table(*s, missing).quarantined, 1);
        EXPECT_EQ(table(*s, missing).waiting, 0);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen; }, 20000));
    ASSERT_TRUE(dealtWith(*s, 2));
    // Sent again, the quarantined reading is tried once more and goes back
    // to the quarantine; the two left are recorded.
    s->resendQuarantined();
    ASSERT_TRUE(dealtWith(*s, 1));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return table(*s, missing).quarantined == 1 && table(*s, good).waiting == 0; },
        20000));
    EXPECT_EQ(table(*s, missing).waiting, 0);
    EXPECT_EQ(table(*s, good).recordedToday, 2);
}

TEST_F(RecordingServiceTest, SendAgainEndsWithALineOfWhatWasRecordedAndWhatIsStillInQuarantine)
{
    // Each round quarantines two readings of a machine whose directory is
    // missing and keeps one of a format that stays missing; the machine's
    // data file is made, and the quarantine sent again.
    const struct {
        qint16 idioma;
        QString maqui;
        QString followUp;
    } rounds[] = {
        {1, u"M8"_s, u"07:04:09 Enviar otra vez: 2 lecturas grabadas, 1 siguen en cuarentena"_s},
        {2, u"M9"_s, u"07:04:09 Send again: 2 readings recorded, 1 still in quarantine"_s},
    };
    auto s = service(unrecorded);
    qint64 recorded = 0;
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.idioma);
        m.Idioma = round.idioma;
        s->keep(entry(u"F1"_s, round.maqui, u"1"_s));
        s->keep(entry(u"F1"_s, round.maqui, u"2"_s));
        if (round.idioma == 1)
            s->keep(entry(u"F9"_s, u"M1"_s, u"3"_s));
        s->flush();
        ASSERT_TRUE(QTest::qWaitFor([&] { return s->quarantinedCount() == 3; }, 20000));

        ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/"_s + round.maqui));
        const QString file = m.RutaDatos + u"F1/"_s + round.maqui + u"/P1.MDB"_s;
        ASSERT_TRUE(EngineLayer::createFileDatabase(file, QString()).ok());
        auto cn = EngineLayer::open(jetConnectionString(file, QString()));
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()
                        ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                               "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE "
                               "PRECISION)"_s)
                        .ok());
        cn.value().reset();

        const qsizetype before = log.lines().size();
        s->resendQuarantined();
        const QString line = round.followUp.leftJustified(RecordingLog::kLineWidth, u' ', true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().contains(line); }, 20000))
            << log.lines().join(u"\n"_s).toStdString();
        recorded += 2;
        EXPECT_EQ(s->recordedTotal(), recorded);
        // The reading quarantined again has its line, and the follow-up
        // comes once, after it: the last line of the resend.
        const QStringList since = log.lines().mid(before);
        ASSERT_EQ(since.size(), 2) << since.join(u"\n"_s).toStdString();
        EXPECT_TRUE(since[0].contains(u"= 3 "_s)) << since[0].toStdString();
        EXPECT_EQ(since[1], line);
        EXPECT_TRUE(fileText(unrecorded.path()).contains(u"2026-03-05 "_s + round.followUp));
        EXPECT_TRUE(QTest::qWaitFor([&] { return s->quarantinedCount() == 1; }, 20000));
    }
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(RecordingServiceTest, SendAgainToATableThatCannotBeWrittenNowSaysItsReadingsWait)
{
    auto s = service(unrecorded);
    s->setLockWait(std::chrono::milliseconds(50));
    s->keep(entry(u"F1"_s, u"M7"_s, u"1"_s));
    s->keep(entry(u"F1"_s, u"M7"_s, u"2"_s));
    s->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s->quarantinedCount() == 2; }, 20000));

    // The machine's data file is made, and held by another program.
    ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/M7"_s));
    const QString file = m.RutaDatos + u"F1/M7/P1.MDB"_s;
    ASSERT_TRUE(EngineLayer::createFileDatabase(file, QString()).ok());
    auto cn = EngineLayer::open(jetConnectionString(file, QString()));
    ASSERT_TRUE(cn.ok());
    ASSERT_TRUE(cn.value()
                    ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                           "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE "
                           "PRECISION)"_s)
                    .ok());
    ASSERT_TRUE(cn.value()->exec(u"BEGIN EXCLUSIVE"_s).ok());

    s->resendQuarantined();
    const QString line =
        u"07:04:09 Enviar otra vez: 0 lecturas grabadas, 0 siguen en cuarentena, 2 esperan a su "
        "tabla"_s.leftJustified(RecordingLog::kLineWidth, u' ', true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().contains(line); }, 20000))
        << log.lines().join(u"\n"_s).toStdString();
    EXPECT_EQ(log.lines().count(line), 1);

    // Let go, the table takes them at its next try.
    ASSERT_TRUE(cn.value()->exec(u"ROLLBACK"_s).ok());
    EXPECT_TRUE(QTest::qWaitFor([&] { return s->recordedTotal() == 2; }, 20000));
    EXPECT_EQ(log.lines().count(line), 1);
}

} // namespace
} // namespace telvar
