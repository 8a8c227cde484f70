#include "common/ErrorNumbers.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "recording/RecordingWriter.h"
#include "support/EngineDatabase.h"

#include <QDir>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariant>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(7, 4, 9));

QString describe(const Error& e)
{
    return QString::number(e.number) + u" "_s + e.description;
}

// An installation with one data file, F1/M1/P1.MDB, whose table Datos has
// the numeric characteristics C1 and C2 and the text one T1, and an outbox
// beside it.
class RecordingWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        m.TipoBD = u"[JET4]"_s;
        m.RutaDatos = QDir::toNativeSeparators(dir.path()) + QDir::separator();
        m.NumTurnos = 3;
        m.TurnoClave = {QString(), u"A"_s, u"B"_s, u"C"_s};
        m.TurnoHasta = {0, 600, 1400, 2200};
        outboxPath = dir.filePath(u"outbox.sqlite"_s);
        ASSERT_TRUE(QDir().mkpath(m.RutaDatos + u"F1/M1"_s));
        const Status made = EngineLayer::createFileDatabase(dataFile(), QString());
        ASSERT_TRUE(made.ok()) << describe(made.error()).toStdString();
        run(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha VARCHAR(20), "
            "Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE PRECISION, C2 DOUBLE PRECISION, "
            "T1 VARCHAR(20))"_s);
    }

    QString dataFile() const { return m.RutaDatos + u"F1/M1/P1.MDB"_s; }

    void run(const QString& statement) const
    {
        auto cn = EngineLayer::open(jetConnectionString(dataFile(), QString()));
        ASSERT_TRUE(cn.ok()) << describe(cn.error()).toStdString();
        auto done = cn.value()->exec(statement);
        ASSERT_TRUE(done.ok()) << describe(done.error()).toStdString();
    }

    // The table's rows in order, each as "Fecha|Turno|Operador|C1|C2|T1".
    QStringList rows() const
    {
        QStringList result;
        auto cn = EngineLayer::open(jetConnectionString(dataFile(), QString()));
        EXPECT_TRUE(cn.ok());
        if (!cn)
            return result;
        auto q =
            cn.value()->exec(u"SELECT Fecha, Turno, Operador, C1, C2, T1 FROM Datos ORDER BY N"_s);
        EXPECT_TRUE(q.ok());
        while (q && q.value().next()) {
            QStringList cells;
            for (int i = 0; i < 6; ++i)
                cells.append(q.value().value(i).toString());
            result.append(cells.join(u'|'));
        }
        return result;
    }

    OutboxEntry entry(const QString& carac, const QString& valor, int secondsAfterStart = 0,
                      const QString& produ = u"P1"_s) const
    {
        auto e = GrabaQLTR::entryFor(
            m, ReadingToRecord{u"F1"_s, u"M1"_s, produ, carac, u"OPER01"_s, valor},
            kStart.addSecs(secondsAfterStart));
        EXPECT_TRUE(e.ok());
        return e.value();
    }

    void append(QList<OutboxEntry> entries) const
    {
        auto box = Outbox::open(outboxPath);
        ASSERT_TRUE(box.ok()) << describe(box.error()).toStdString();
        const Status appended = box.value()->append(entries);
        ASSERT_TRUE(appended.ok()) << describe(appended.error()).toStdString();
    }

    qint64 pendingCount() const
    {
        auto box = Outbox::open(outboxPath);
        EXPECT_TRUE(box.ok());
        return box ? box.value()->pendingCount().value() : -1;
    }

    // One writer's pass over the outbox, on this thread; the outcomes.
    QList<BatchOutcome> drainOnce(const RecordingWriter::StepHook& hook = {}) const
    {
        RecordingWriter writer(m, outboxPath);
        QList<BatchOutcome> outcomes;
        QObject::connect(&writer, &RecordingWriter::batchDone,
                         [&outcomes](const BatchOutcome& o) { outcomes.append(o); });
        writer.setStepHook(hook);
        writer.setLockWait(std::chrono::milliseconds(100));
        const Status opened = writer.open();
        EXPECT_TRUE(opened.ok()) << describe(opened.error()).toStdString();
        writer.drain();
        return outcomes;
    }

    QTemporaryDir dir;
    Modulo1 m;
    QString outboxPath;
};

TEST_F(RecordingWriterTest, AnOutboxKeepsItsReadingsUnchangedAcrossOpenings)
{
    QList<OutboxEntry> entries{entry(u"C1"_s, u"12,5 mm"_s), entry(u"T1"_s, u"<b>x</b>\n"_s, 3)};
    entries[0].Puert = 4;
    entries[0].reloj = 2;
    // A text never set (an operator left empty) too.
    entries[1].Opera = QString();
    append(entries);
    auto box = Outbox::open(outboxPath);
    ASSERT_TRUE(box.ok());
    const auto keys = box.value()->destinations();
    ASSERT_TRUE(keys.ok());
    ASSERT_EQ(keys.value().size(), 1);
    const auto pending = box.value()->pending(keys.value().first(), 10);
    ASSERT_TRUE(pending.ok());
    ASSERT_EQ(pending.value().size(), 2);
    QList<OutboxEntry> expected = entries;
    expected[0].id = pending.value()[0].id;
    expected[1].id = pending.value()[1].id;
    EXPECT_EQ(pending.value(), expected);
    EXPECT_LT(pending.value()[0].id, pending.value()[1].id);
    EXPECT_EQ(pending.value()[0].Turno, u"B"_s);
}

TEST(OutboxEntry, DestinationsFromPageTextNeverShareAKey)
{
    OutboxEntry a;
    a.engine = u"[JET4]"_s;
    a.Forma = u"F1"_s;
    a.Maqui = u"M1\u001fP1"_s;
    OutboxEntry b = a;
    b.Maqui = u"M1"_s;
    b.Produ = u"\u001fP1"_s;
    EXPECT_NE(a.destinationKey(), b.destinationKey());
}

TEST_F(RecordingWriterTest, OneTransactionWritesTheBatchGatheringByEachReadingsOwnTime)
{
    append({entry(u"C1"_s, u"1"_s), entry(u"C2"_s, u"2"_s, 10), entry(u"C1"_s, u"3"_s, 20),
            entry(u"T1"_s, u"cuatro"_s, 400)});
    const auto outcomes = drainOnce();
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].recorded.size(), 4);
    EXPECT_EQ(rows(), (QStringList{u"2026-03-02 7:04:09|B|OPER01|1|2|"_s,
                                   u"2026-03-02 7:04:29|B|OPER01|3||"_s,
                                   u"2026-03-02 7:10:49|B|OPER01|||cuatro"_s}));
    EXPECT_EQ(pendingCount(), 0);
}

TEST_F(RecordingWriterTest, AReadingRecordedLateJoinsTheRowItsOwnTimeChooses)
{
    // Another program wrote a row after the reading's time; the reading,
    // recorded late, fills the row that was the last one at its time.
    run(u"INSERT INTO Datos (Fecha, Turno, Operador, C1) VALUES ('2026-03-02 7:04:00', 'B', 'X', 5)"_s);
    run(u"INSERT INTO Datos (Fecha, Turno, Operador, C1) VALUES ('2026-03-02 7:30:00', 'B', 'X', 6)"_s);
    append({entry(u"C2"_s, u"7"_s, 60)});
    drainOnce();
    EXPECT_EQ(rows(),
              (QStringList{u"2026-03-02 7:04:00|B|X|5|7|"_s, u"2026-03-02 7:30:00|B|X|6||"_s}));
}

TEST_F(RecordingWriterTest, WritersSharingTheOutboxEachWriteTheirOwnTables)
{
    // Eight data files, two writers: every table is written by one of them,
    // and every reading once.
    QList<OutboxEntry> entries;
    for (int p = 2; p <= 8; ++p) {
        const QString produ = u"P"_s + QString::number(p);
        ASSERT_TRUE(EngineLayer::createFileDatabase(m.RutaDatos + u"F1/M1/"_s + produ + u".MDB"_s,
                                                    QString())
                        .ok());
        auto cn = EngineLayer::open(
            jetConnectionString(m.RutaDatos + u"F1/M1/"_s + produ + u".MDB"_s, QString()));
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()
                        ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                               "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE)"_s)
                        .ok());
    }
    for (int p = 1; p <= 8; ++p)
        entries.append(entry(u"C1"_s, QString::number(p), 0, u"P"_s + QString::number(p)));
    append(entries);

    QHash<QString, int> writerOf;
    qsizetype recorded = 0;
    for (int shard = 0; shard < 2; ++shard) {
        RecordingWriter writer(m, outboxPath);
        writer.setShard(shard, 2);
        QObject::connect(&writer, &RecordingWriter::batchDone, [&](const BatchOutcome& o) {
            EXPECT_FALSE(writerOf.contains(o.place)) << o.place.toStdString();
            writerOf.insert(o.place, shard);
            recorded += o.recorded.size();
        });
        ASSERT_TRUE(writer.open().ok());
        writer.drain();
    }
    EXPECT_EQ(recorded, 8);
    EXPECT_EQ(writerOf.size(), 8);
    EXPECT_EQ(pendingCount(), 0);
    const QList<int> shards = writerOf.values();
    EXPECT_TRUE(shards.contains(0) && shards.contains(1));
}

TEST_F(RecordingWriterTest, ALockedFileKeepsItsReadingsUntilItIsFree)
{
    auto other = EngineLayer::open(jetConnectionString(dataFile(), QString()));
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(other.value()->exec(u"BEGIN IMMEDIATE"_s).ok());
    append({entry(u"C1"_s, u"1"_s)});

    auto outcomes = drainOnce();
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_TRUE(outcomes[0].startedFailing);
    EXPECT_TRUE(outcomes[0].recorded.isEmpty());
    EXPECT_TRUE(outcomes[0].quarantined.isEmpty());
    EXPECT_TRUE(outcomes[0].lastError.retryable) << describe(outcomes[0].lastError).toStdString();
    EXPECT_EQ(pendingCount(), 1);

    ASSERT_TRUE(other.value()->exec(u"COMMIT"_s).ok());
    outcomes = drainOnce();
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].recorded.size(), 1);
    EXPECT_EQ(rows().size(), 1);
    EXPECT_EQ(pendingCount(), 0);
}

TEST_F(RecordingWriterTest, WhatWaitingCannotMendIsQuarantinedAndCanBeSentAgain)
{
    // C9 is no column of the table and P2 has no data file; the other
    // readings of the batch are recorded.
    append({entry(u"C1"_s, u"1"_s), entry(u"C9"_s, u"9"_s, 1), entry(u"C2"_s, u"2"_s, 2),
            entry(u"C1"_s, u"5"_s, 3, u"P2"_s)});
    QList<BatchOutcome> outcomes = drainOnce();
    qsizetype recorded = 0;
    QList<QuarantinedEntry> quarantined;
    for (const BatchOutcome& o : outcomes) {
        recorded += o.recorded.size();
        quarantined += o.quarantined;
    }
    EXPECT_EQ(recorded, 2);
    ASSERT_EQ(quarantined.size(), 2);
    EXPECT_EQ(rows(), QStringList{u"2026-03-02 7:04:09|B|OPER01|1|2|"_s});
    const auto missingColumn =
        std::find_if(quarantined.cbegin(), quarantined.cend(),
                     [](const QuarantinedEntry& q) { return q.entry.Carac == u"C9"_s; });
    ASSERT_NE(missingColumn, quarantined.cend());
    EXPECT_EQ(missingColumn->reason.number, ErrorNumber::ItemNotFound);
    const auto missingFile =
        std::find_if(quarantined.cbegin(), quarantined.cend(),
                     [](const QuarantinedEntry& q) { return q.entry.Produ == u"P2"_s; });
    ASSERT_NE(missingFile, quarantined.cend());
    EXPECT_EQ(missingFile->code, CodeErr::NoDataFile);
    EXPECT_EQ(pendingCount(), 0);

    // The engineer adds the column and sends the quarantine again.
    run(u"ALTER TABLE Datos ADD COLUMN C9 DOUBLE PRECISION"_s);
    RecordingWriter writer(m, outboxPath);
    ASSERT_TRUE(writer.open().ok());
    qsizetype resent = 0;
    QObject::connect(&writer, &RecordingWriter::resent, [&resent](qsizetype n) { resent = n; });
    writer.resend();
    writer.drain();
    EXPECT_EQ(resent, 2);
    auto box = Outbox::open(outboxPath);
    ASSERT_TRUE(box.ok());
    // The column's reading went in; the file's is back in the quarantine.
    EXPECT_EQ(box.value()->quarantinedCount().value(), 1);
    EXPECT_EQ(box.value()->pendingCount().value(), 0);
    bool c9Written = false;
    auto cn = EngineLayer::open(jetConnectionString(dataFile(), QString()));
    ASSERT_TRUE(cn.ok());
    auto q = cn.value()->exec(u"SELECT count(*) FROM Datos WHERE C9 = 9"_s);
    ASSERT_TRUE(q.ok());
    c9Written = q.value().next() && q.value().value(0).toInt() == 1;
    EXPECT_TRUE(c9Written);
}

TEST_F(RecordingWriterTest, AMissingDataFileThatAppearsIsSentAgainByItself)
{
    // P2 and P3 have no data file: both readings go to the quarantine.
    append({entry(u"C1"_s, u"1"_s, 0, u"P2"_s), entry(u"C1"_s, u"2"_s, 1, u"P3"_s)});
    drainOnce();
    {
        auto box = Outbox::open(outboxPath);
        ASSERT_TRUE(box.ok());
        ASSERT_EQ(box.value()->quarantinedCount().value(), 2);
    }
    // The engineer puts P2's file in place; P3's stays missing.
    const QString p2 = m.RutaDatos + u"F1/M1/P2.MDB"_s;
    ASSERT_TRUE(EngineLayer::createFileDatabase(p2, QString()).ok());
    {
        auto cn = EngineLayer::open(jetConnectionString(p2, QString()));
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()
                        ->exec(u"CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, Fecha "
                               "VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE)"_s)
                        .ok());
    }
    RecordingWriter writer(m, outboxPath);
    QList<BatchOutcome> outcomes;
    QObject::connect(&writer, &RecordingWriter::batchDone,
                     [&outcomes](const BatchOutcome& o) { outcomes.append(o); });
    ASSERT_TRUE(writer.open().ok());
    writer.retryMended();
    writer.drain();
    // Only P2's reading was tried again, and recorded; P3's never left the
    // quarantine, so it was not logged a second time.
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes.first().recorded.size(), 1);
    EXPECT_TRUE(outcomes.first().quarantined.isEmpty());
    auto box = Outbox::open(outboxPath);
    ASSERT_TRUE(box.ok());
    const auto left = box.value()->quarantined(10);
    ASSERT_TRUE(left.ok());
    ASSERT_EQ(left.value().size(), 1);
    EXPECT_EQ(left.value().first().entry.Produ, u"P3"_s);
}

using test::Engine;

// The writer ended at each moment of a batch, on each engine: a data file
// with its rollback journal, or a table of a PostgreSQL data database.
class WriterCrashTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        TELVAR_REQUIRE_ENGINE(GetParam());
        test::EngineDatabaseOptions options;
        options.sqliteFile = u"F1/M1/P1.MDB"_s;
        options.sqlitePassword.clear();
        QString error;
        db = test::EngineDatabase::create(GetParam(), &error, options);
        ASSERT_TRUE(db) << error.toStdString();
        outboxPath = db->dir().filePath(u"outbox.sqlite"_s);
        m.NumTurnos = 1;
        m.TurnoClave = {QString(), u"A"_s};
        m.TurnoHasta = {0, 2400};
        db->describeIn(m);
        conexion = db->connectionString();
        if (GetParam() == Engine::Sqlite) {
            m.RutaDatos = QDir::toNativeSeparators(db->dir().path()) + QDir::separator();
            table = u"Datos"_s;
        } else {
            table = u"Datos_F1_M1_P1"_s;
        }
        const QString n = GetParam() == Engine::Sqlite
                              ? u"N INTEGER PRIMARY KEY AUTOINCREMENT"_s
                              : u"N INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"_s;
        run(u"CREATE TABLE "_s + table + u" ("_s + n +
            u", Fecha VARCHAR(20), Turno VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE PRECISION, "
            "C2 DOUBLE PRECISION)"_s);
    }

    void run(const QString& statement) const
    {
        auto cn = EngineLayer::open(conexion);
        ASSERT_TRUE(cn.ok()) << describe(cn.error()).toStdString();
        auto done = cn.value()->exec(statement);
        ASSERT_TRUE(done.ok()) << describe(done.error()).toStdString();
    }

    QStringList rows() const
    {
        QStringList result;
        auto cn = EngineLayer::open(conexion);
        EXPECT_TRUE(cn.ok());
        if (!cn)
            return result;
        auto q = cn.value()->exec(u"SELECT Fecha, C1, C2 FROM "_s + table + u" ORDER BY N"_s);
        EXPECT_TRUE(q.ok());
        const auto cell = [&q](int i) {
            const QVariant v = q.value().value(i);
            return v.isNull() ? QString() : v.toString();
        };
        while (q && q.value().next())
            result.append(cell(0) + u'|' + cell(1) + u'|' + cell(2));
        return result;
    }

    OutboxEntry entry(const QString& carac, const QString& valor, int secondsAfterStart) const
    {
        OutboxEntry e;
        e.engine = m.TipoBD;
        e.base = GetParam() == Engine::Sqlite ? m.RutaDatos : db->location();
        e.Forma = u"F1"_s;
        e.Maqui = u"M1"_s;
        e.Produ = u"P1"_s;
        e.Carac = carac;
        e.Valor = valor;
        e.Opera = u"OPER01"_s;
        e.stamp = kStart.addSecs(secondsAfterStart);
        e.Turno = u"A"_s;
        return e;
    }

    void drainOnce(const RecordingWriter::StepHook& hook = {}) const
    {
        RecordingWriter writer(m, outboxPath);
        writer.setStepHook(hook);
        const Status opened = writer.open();
        EXPECT_TRUE(opened.ok()) << describe(opened.error()).toStdString();
        writer.drain();
    }

    std::unique_ptr<test::EngineDatabase> db;
    Modulo1 m;
    QString outboxPath;
    QString conexion;
    QString table;
};

// A crash at each moment of a batch, then a new start: every reading is in
// its table exactly once and the outbox is empty.
TEST_P(WriterCrashTest, ACrashAtAnyMomentNeitherLosesNorRepeatsAReading)
{
    const RecordingWriter::Step steps[] = {
        RecordingWriter::Step::BeforeMark, RecordingWriter::Step::AfterMark,
        RecordingWriter::Step::AfterCommit, RecordingWriter::Step::AfterRemove};
    const QStringList expected{u"2026-03-02 7:04:09|1|2"_s, u"2026-03-02 7:04:19|3|"_s};
    for (const RecordingWriter::Step step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        run(u"DELETE FROM "_s + table);
        {
            auto box = Outbox::open(outboxPath);
            ASSERT_TRUE(box.ok());
            QList<OutboxEntry> entries{entry(u"C1"_s, u"1"_s, 0), entry(u"C2"_s, u"2"_s, 5),
                                       entry(u"C1"_s, u"3"_s, 10)};
            ASSERT_TRUE(box.value()->append(entries).ok());
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The program ends at the chosen moment, as a kill would end it.
            drainOnce([step](RecordingWriter::Step reached) -> Status {
                if (reached == step)
                    ::_exit(42);
                return {};
            });
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 42) << "the crash point was not reached";

        drainOnce();
        EXPECT_EQ(rows(), expected);
        auto box = Outbox::open(outboxPath);
        ASSERT_TRUE(box.ok());
        EXPECT_EQ(box.value()->pendingCount().value(), 0);
    }
}

TELVAR_INSTANTIATE_ENGINES(WriterCrashTest);

} // namespace
} // namespace telvar
