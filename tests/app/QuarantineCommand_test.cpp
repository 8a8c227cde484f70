#include "app/QuarantineCommand.h"
#include "recording/Outbox.h"
#include "recording/OutboxLock.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTime>
#include <gtest/gtest.h>
#include <memory>

using telvar::CodeErr;
using telvar::Error;
using telvar::Outbox;
using telvar::OutboxEntry;
using telvar::OutboxLock;
using telvar::QuarantineCommand;
using telvar::QuarantinedEntry;
using Action = telvar::QuarantineCommand::Action;

namespace {

const QDateTime kReadAt(QDate(2024, 3, 5), QTime(14, 7, 9));

OutboxEntry jetReading(int port, const QString& value)
{
    OutboxEntry e;
    e.reloj = 1;
    e.Puert = port;
    e.engine = QStringLiteral("[JET4]");
    e.base = QStringLiteral("/srv/spc/data/");
    e.Forma = QStringLiteral("F1");
    e.Maqui = QStringLiteral("M1");
    e.Produ = QStringLiteral("P1");
    e.Carac = QStringLiteral("DIAM");
    e.Valor = value;
    e.Opera = QStringLiteral("OP1");
    e.stamp = kReadAt;
    e.Turno = QStringLiteral("1");
    return e;
}

OutboxEntry serverReading(int port, const QString& value)
{
    OutboxEntry e = jetReading(port, value);
    e.engine = QStringLiteral("[POSTGRESQL]");
    e.base = QStringLiteral("PLANTADATA");
    e.Forma = QStringLiteral("F2");
    e.Maqui = QStringLiteral("M2");
    e.Produ = QStringLiteral("P2");
    return e;
}

// The records of a CSV text (RFC 4180: CRLF between records, fields with
// commas, quotes or line breaks quoted, quotes doubled).
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record.append(field);
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                   text[i + 1] == QLatin1Char('\n')) {
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "an unterminated quoted field";
    EXPECT_TRUE(field.isEmpty() && record.isEmpty()) << "the last record has no CRLF";
    return records;
}

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

// Every test runs beside "the router": an object holding the outbox's claim
// and a connection of its own, as the running service does.
class QuarantineCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_installation.isValid());
        m_outboxPath = Outbox::pathForInstallation(m_installation.path());
        auto claim = OutboxLock::claim(m_outboxPath, m_installation.path());
        ASSERT_TRUE(claim) << claim.error().description.toStdString();
        m_claim = std::move(claim.value());
        auto box = Outbox::open(m_outboxPath);
        ASSERT_TRUE(box) << box.error().description.toStdString();
        m_router = std::move(box.value());
    }

    // Appends the readings and moves them to the quarantine with one
    // reason. Gives them with the ids the outbox gave them.
    QList<OutboxEntry> quarantine(QList<OutboxEntry> entries, CodeErr code, const Error& reason)
    {
        const telvar::Status appended = m_router->append(entries);
        EXPECT_TRUE(appended) << appended.error().description.toStdString();
        QList<QuarantinedEntry> refused;
        for (const OutboxEntry& e : std::as_const(entries))
            refused.append(QuarantinedEntry{e, code, reason, QDateTime::currentDateTime()});
        const telvar::Status moved = m_router->quarantine(refused);
        EXPECT_TRUE(moved) << moved.error().description.toStdString();
        return entries;
    }

    // The command as main runs it: on the installation's folder.
    Outcome run(Action action, const QString& csvPath = QString()) const
    {
        Outcome outcome;
        QTextStream out(&outcome.out);
        QTextStream err(&outcome.err);
        const QuarantineCommand command(QuarantineCommand::outboxPathFor(m_installation.path()));
        outcome.status = command.run(action, csvPath, out, err);
        return outcome;
    }

    qint64 quarantined() const { return m_router->quarantinedCount().value(); }

    QTemporaryDir m_installation;
    QString m_outboxPath;
    std::unique_ptr<OutboxLock> m_claim;
    std::unique_ptr<Outbox> m_router;
};

TEST_F(QuarantineCommandTest, ListShowsEachReadingOnALineOfItsOwnWithItsTableAndReason)
{
    quarantine({jetReading(7, QStringLiteral("12.5\x1b[31m\nFAKE LINE\r\u202Eevil"))},
               CodeErr::NoDataFile,
               Error{0, QStringLiteral("GrabaQLTR"), QStringLiteral("/srv/spc/data/F1/M1/P1.MDB")});
    OutboxEntry tabbed = serverReading(12, QStringLiteral("3.25"));
    tabbed.Carac = QStringLiteral("LEN\tGTH");
    quarantine({tabbed}, CodeErr::Recorded,
               Error{3163, QStringLiteral("GrabaQLTR"), QStringLiteral("field too small")});

    const Outcome listed = run(Action::List);
    ASSERT_EQ(listed.status, 0) << listed.err.toStdString();
    EXPECT_TRUE(listed.err.isEmpty());
    const QStringList lines = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << listed.out.toStdString();
    for (const QString& heading :
         {QStringLiteral("id"), QStringLiteral("read at"), QStringLiteral("port"),
          QStringLiteral("data table"), QStringLiteral("characteristic"), QStringLiteral("value"),
          QStringLiteral("reason")})
        EXPECT_TRUE(lines[0].contains(heading)) << heading.toStdString();
    const QString readAt = QStringLiteral("2024-03-05 14:07:09");
    for (const QString& part :
         {readAt, QStringLiteral("  7  "), QStringLiteral("/srv/spc/data/F1/M1/P1.MDB"),
          QStringLiteral("DIAM"), QStringLiteral("12.5\uFFFD[31m\uFFFDFAKE LINE\uFFFD\uFFFDevil"),
          QStringLiteral("3.- missing data file /srv/spc/data/F1/M1/P1.MDB")})
        EXPECT_TRUE(lines[1].contains(part))
            << part.toStdString() << " in " << lines[1].toStdString();
    for (const QString& part :
         {readAt, QStringLiteral("Datos_F2_M2_P2 (PLANTADATA)"), QStringLiteral("LEN\uFFFDGTH"),
          QStringLiteral("3.25"), QStringLiteral("3163.- field too small")})
        EXPECT_TRUE(lines[2].contains(part))
            << part.toStdString() << " in " << lines[2].toStdString();
    // The columns line up: each starts where its heading does.
    EXPECT_EQ(lines[1].indexOf(QStringLiteral("DIAM")),
              lines[0].indexOf(QStringLiteral("characteristic")));
    EXPECT_EQ(lines[2].indexOf(QStringLiteral("LEN")),
              lines[0].indexOf(QStringLiteral("characteristic")));
    EXPECT_EQ(lines[3], QStringLiteral("2 readings in the quarantine of ") + m_outboxPath);
    EXPECT_FALSE(listed.out.contains(QChar(0x1b)));
    EXPECT_FALSE(listed.out.contains(QLatin1Char('\r')));
    EXPECT_FALSE(listed.out.contains(QChar(0x202E)));
}

TEST_F(QuarantineCommandTest, ExportWritesQuotedCsvThatASpreadsheetNeverRuns)
{
    // The value as the page gave it, and the field the CSV holds.
    const QList<std::pair<QString, QString>> values = {
        {QStringLiteral("1,5 \"mm\"\r\nnext"), QStringLiteral("1,5 \"mm\"\r\nnext")},
        {QStringLiteral("=1+1"), QStringLiteral("'=1+1")},
        {QStringLiteral("+41"), QStringLiteral("'+41")},
        {QStringLiteral("-0.25"), QStringLiteral("'-0.25")},
        {QStringLiteral("@SUM(A1)"), QStringLiteral("'@SUM(A1)")},
        {QStringLiteral("\t=2"), QStringLiteral("'\t=2")},
        {QStringLiteral("\r=3"), QStringLiteral("'\r=3")},
        {QStringLiteral("4=4"), QStringLiteral("4=4")},
        {QStringLiteral("Ñandú 5"), QStringLiteral("Ñandú 5")},
    };
    QList<OutboxEntry> entries;
    for (const auto& [value, field] : values)
        entries.append(jetReading(static_cast<int>(entries.size()) + 1, value));
    entries[1].Carac = QStringLiteral("=HYPERLINK(\"http://x\")");
    entries[2].Maqui = QStringLiteral("-M");
    entries =
        quarantine(entries, CodeErr::Recorded,
                   Error{3265, QStringLiteral("GrabaQLTR"), QStringLiteral("no column, \"DIAM\"")});

    const QString csvPath = m_installation.filePath(QStringLiteral("quarantine.csv"));
    const Outcome exported = run(Action::Export, csvPath);
    ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out, QStringLiteral("exported 9 readings of the quarantine of ") +
                                m_outboxPath + QStringLiteral(" to ") + csvPath +
                                QStringLiteral("\n"));

    QFile file(csvPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "UTF-8 with its byte-order mark";
    const QList<QStringList> records = parseCsv(QString::fromUtf8(bytes.mid(3)));
    ASSERT_EQ(records.size(), values.size() + 1);
    EXPECT_EQ(records[0],
              (QStringList{QStringLiteral("id"), QStringLiteral("read at"), QStringLiteral("port"),
                           QStringLiteral("data table"), QStringLiteral("characteristic"),
                           QStringLiteral("value"), QStringLiteral("reason number"),
                           QStringLiteral("reason"), QStringLiteral("engine"),
                           QStringLiteral("base"), QStringLiteral("format"),
                           QStringLiteral("machine"), QStringLiteral("product")}));
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QStringList& record = records[i + 1];
        ASSERT_EQ(record.size(), 13) << "record " << i;
        EXPECT_EQ(record[0], QString::number(entries[i].id));
        EXPECT_EQ(record[1], QStringLiteral("2024-03-05 14:07:09"));
        EXPECT_EQ(record[2], QString::number(i + 1));
        EXPECT_EQ(record[5], values[i].second) << "record " << i;
        EXPECT_EQ(record[6], QStringLiteral("3265"));
        EXPECT_EQ(record[7], QStringLiteral("no column, \"DIAM\""));
        EXPECT_EQ(record[8], QStringLiteral("[JET4]"));
        EXPECT_EQ(record[9], QStringLiteral("/srv/spc/data/"));
        EXPECT_EQ(record[10], QStringLiteral("F1"));
        EXPECT_EQ(record[12], QStringLiteral("P1"));
    }
    EXPECT_EQ(records[1][3], QStringLiteral("/srv/spc/data/F1/M1/P1.MDB"));
    EXPECT_EQ(records[1][4], QStringLiteral("DIAM"));
    EXPECT_EQ(records[2][4], QStringLiteral("'=HYPERLINK(\"http://x\")"));
    EXPECT_EQ(records[3][3], QStringLiteral("/srv/spc/data/F1/-M/P1.MDB"));
    EXPECT_EQ(records[3][11], QStringLiteral("'-M"));
    // Exporting reads the quarantine and leaves it as it was.
    EXPECT_EQ(quarantined(), values.size());

    // An existing file is never overwritten.
    const Outcome again = run(Action::Export, csvPath);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.out.isEmpty());
    EXPECT_EQ(again.err, QStringLiteral("Telvar: ") + csvPath +
                             QStringLiteral(" already exists; it is not overwritten\n"));
    ASSERT_TRUE(file.seek(0));
    EXPECT_EQ(file.readAll(), bytes);
}

TEST_F(QuarantineCommandTest, ResendMovesALongQuarantineBackInSlicesWithItsNotes)
{
    const qsizetype total = 2 * QuarantineCommand::kSliceSize + 500;
    QList<OutboxEntry> entries;
    for (qsizetype i = 0; i < total; ++i) {
        OutboxEntry e = jetReading(static_cast<int>(i % 40), QString::number(i));
        // Some were on their way to their table when they were refused.
        if (i % 3 == 0) {
            e.preparedRow = 1000 + i;
            e.preparedNewRow = i % 2 == 0;
        }
        entries.append(e);
    }
    entries = quarantine(
        entries, CodeErr::NoDataFile,
        Error{0, QStringLiteral("GrabaQLTR"), QStringLiteral("/srv/spc/data/F1/M1/P1.MDB")});

    // Listed page after page, every reading once, in order.
    const Outcome listed = run(Action::List);
    ASSERT_EQ(listed.status, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), total + 2);
    for (qsizetype i = 0; i < total; ++i)
        ASSERT_EQ(lines[i + 1].section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty),
                  QString::number(entries[i].id))
            << "line " << i + 1;
    EXPECT_EQ(lines.last(), QString::number(total) +
                                QStringLiteral(" readings in the quarantine of ") + m_outboxPath);

    const Outcome resent = run(Action::Resend);
    ASSERT_EQ(resent.status, 0) << resent.err.toStdString();
    EXPECT_EQ(resent.out, QStringLiteral("sent again ") + QString::number(total) +
                              QStringLiteral(" readings of the quarantine of ") + m_outboxPath +
                              QStringLiteral("; the running router records them within a minute "
                                             "(a stopped one, when it starts)\n"));
    EXPECT_EQ(quarantined(), 0);
    EXPECT_EQ(m_router->pendingCount().value(), total);

    // Back in the outbox in their order, each with the note it had.
    qsizetype index = 0;
    qint64 after = 0;
    for (;;) {
        auto page = m_router->pendingAfter(after, 700);
        ASSERT_TRUE(page) << page.error().description.toStdString();
        if (page.value().isEmpty())
            break;
        for (const OutboxEntry& e : std::as_const(page.value())) {
            ASSERT_LT(index, total);
            EXPECT_EQ(e.Valor, entries[index].Valor);
            EXPECT_EQ(e.preparedRow, entries[index].preparedRow) << "reading " << index;
            EXPECT_EQ(e.preparedNewRow, entries[index].preparedNewRow) << "reading " << index;
            ++index;
        }
        after = page.value().constLast().id;
    }
    EXPECT_EQ(index, total);

    const Outcome empty = run(Action::Resend);
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, QStringLiteral("the quarantine of ") + m_outboxPath +
                             QStringLiteral(" is empty: nothing to send again\n"));
    const Outcome emptyList = run(Action::List);
    EXPECT_EQ(emptyList.status, 0);
    EXPECT_EQ(emptyList.out, QStringLiteral("0 readings in the quarantine of ") + m_outboxPath +
                                 QStringLiteral("\n"));
}

TEST_F(QuarantineCommandTest, ALinkPlantedAtASideFileIsRefusedAndItsTargetUntouched)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString journal = m_outboxPath + QStringLiteral("-journal");
    QFile::remove(journal);
    ASSERT_TRUE(QFile::link(victim, journal));
    const Outcome outcome = run(Action::List);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.err.contains(journal)) << outcome.err.toStdString();
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
}

TEST(QuarantineCommand, AMissingOutboxIsAClearErrorAndNothingIsCreated)
{
    QTemporaryDir installation;
    ASSERT_TRUE(installation.isValid());
    const QString outboxPath = QuarantineCommand::outboxPathFor(installation.path());
    const QString csvPath = installation.filePath(QStringLiteral("quarantine.csv"));
    for (const Action action : {Action::List, Action::Export, Action::Resend}) {
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const int status = QuarantineCommand(outboxPath).run(action, csvPath, outStream, errStream);
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("Telvar: the outbox ") + outboxPath +
                                   QStringLiteral(" does not exist")))
            << err.toStdString();
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << "one line";
        EXPECT_TRUE(err.endsWith(QLatin1Char('\n')));
    }
    EXPECT_FALSE(QFileInfo::exists(outboxPath));
    EXPECT_FALSE(QFileInfo::exists(csvPath));
    EXPECT_EQ(
        QDir(installation.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
}

} // namespace
