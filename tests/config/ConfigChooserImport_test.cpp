// The chooser's "Import a Jet file…": the questions it asks through
// Interaccion, the import (the real one through telvar-import beside the
// test program, or one the test stands in for), and the imported file taken
// as choosing it would take it.
#include "common/ErrorNumbers.h"
#include "config/ConfigChooser.h"
#include "config/ConfigImportRun.h"
#include "import/ImportErrors.h"
#include "support/ConfigFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ConfigChooserImportTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        writeTLVDirec({m_one});
        m_before = readTLVDirec();
    }

    static QString sample(const char* name)
    {
        return QStringLiteral(TELVAR_SOURCE_DIR "/tests/data/jet/") + QLatin1String(name);
    }

    // What the window does with the chooser's import, with an import that
    // records the request and writes a configuration database where it was
    // asked to, as a converted TLVConf.mdb would be.
    std::optional<QString> importConfiguration(const QStringList& items)
    {
        const std::optional<ImportRequest> request = m_chooser.askImport();
        if (!request)
            return std::nullopt;
        m_requests.append(*request);
        const QString name = QFileInfo(request->target).fileName();
        QFile::remove(request->target);
        createConfig(name);
        ImportSummary summary;
        summary.source = request->source;
        summary.target = request->target;
        summary.tables = {{QStringLiteral("HTMRELOJ"), 10, 2, 1},
                          {QStringLiteral("HTMCONFI"), 0, 13, 2}};
        if (request->replaceExisting)
            summary.backup = request->target + QStringLiteral(".bak");
        summary.notes = {QStringLiteral("Only tables are converted; left out: 2 queries.")};
        return m_chooser.importEnded(*request, summary, items);
    }

    // The same with the real import, run by telvar-import as the window
    // runs it.
    std::optional<QString> importForReal(const QStringList& items)
    {
        const std::optional<ImportRequest> request = m_chooser.askImport();
        if (!request)
            return std::nullopt;
        m_requests.append(*request);
        ConfigImportRun run;
        if (const Status started = run.start(*request); !started)
            return m_chooser.importEnded(*request, started.error(), items);
        QSignalSpy finished(&run, &ConfigImportRun::finished);
        EXPECT_TRUE(finished.wait(120000));
        if (!run.outcome())
            return std::nullopt;
        return m_chooser.importEnded(*request, *run.outcome(), items);
    }

    // The answers to the next input boxes, in order.
    void typeAnswers(const QList<QString>& answers)
    {
        ui.inputAnswers.clear();
        for (const QString& answer : answers)
            ui.inputAnswers.enqueue(answer);
    }

    QString m_one;
    QByteArray m_before;
    QList<ImportRequest> m_requests;
    ConfigChooser m_chooser{m, ui};
};

TEST_F(ConfigChooserImportTest, TheImportedFileIsOfferedAndTakenAsChoosingItWould)
{
    m.Idioma = 2;
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        ui.boxes.clear();
        ui.pointerChanges.clear();
        m_requests.clear();
        writeTLVDirec({m_one});
        const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
        if (existing) {
            ASSERT_TRUE(QFileInfo::exists(target));
        }
        typeAnswers({QStringLiteral(" /viejo/TLVConf.mdb "), target});
        ui.questionAnswers = existing ? QList<bool>{true, true} : QList<bool>{true};

        const std::optional<QString> path = importConfiguration({m_one});
        ASSERT_TRUE(path);
        EXPECT_EQ(*path, target);
        EXPECT_EQ(readTLVDirec(),
                  (target + QStringLiteral("\r\n") + m_one + QStringLiteral("\r\n")).toUtf8());

        ASSERT_EQ(m_requests.size(), 1);
        EXPECT_EQ(m_requests[0].source, QStringLiteral("/viejo/TLVConf.mdb"));
        EXPECT_EQ(m_requests[0].target, target);
        // Protected as the program's own configuration database is.
        EXPECT_EQ(m_requests[0].password, m.PassBD);
        EXPECT_EQ(m_requests[0].replaceExisting, existing);
        // The pointer is left as it was (accepting opens the file with an
        // hourglass of its own).
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);

        QList<Box::Type> asked;
        for (const Box& box : ui.boxes)
            asked.append(box.type);
        QList<Box::Type> expected{Box::Type::InputBox, Box::Type::InputBox};
        if (existing)
            expected.append(Box::Type::QuestionBox);
        expected.append(Box::Type::QuestionBox);
        ASSERT_EQ(asked, expected);
        if (existing) {
            EXPECT_TRUE(ui.boxes[2].text.startsWith(target + QStringLiteral(" already exists.")));
        }
        const QString offer = ui.boxes.last().text;
        EXPECT_TRUE(offer.startsWith(
            QStringLiteral("Imported 2 tables (10 rows) from /viejo/TLVConf.mdb into ") + target))
            << offer.toStdString();
        EXPECT_EQ(offer.contains(QStringLiteral("kept as ") + target + QStringLiteral(".bak")),
                  existing);
        EXPECT_TRUE(offer.contains(QStringLiteral("Not converted:\n- Only tables are converted")));
        EXPECT_TRUE(offer.endsWith(QStringLiteral("Use it as the configuration database?")));
    }
}

TEST_F(ConfigChooserImportTest, CancelsAndRefusalsChangeNothing)
{
    const QString existing = createConfig(QStringLiteral("Existente.mdb"));
    const QByteArray existingBytes = [&] {
        QFile f(existing);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    struct Case {
        const char* name;
        QList<std::optional<QString>> inputs;
        QList<bool> questions;
        int imports;
        const char* reported; // "": no box beyond the questions
    };
    const QString fresh = m.RutaApp + QStringLiteral("Nueva.mdb");
    const Case cases[] = {
        {"cancelled at the Jet file", {}, {}, 0, ""},
        {"no Jet file typed", {QStringLiteral("  ")}, {}, 0, ""},
        {"cancelled at the file to write", {QStringLiteral("/viejo/a.mdb")}, {}, 0, ""},
        {"a file to write not ending in .mdb",
         {QStringLiteral("/viejo/a.mdb"), m.RutaApp + QStringLiteral("Nueva.sqlite")},
         {},
         0,
         "debe terminar en .mdb"},
        {"a path TLVDirec.IAU cannot keep",
         {QStringLiteral("/viejo/a.mdb"), m.RutaApp + QStringLiteral("Planta 1,2.mdb")},
         {},
         0,
         "contiene una coma"},
        {"an existing file not to be replaced",
         {QStringLiteral("/viejo/a.mdb"), existing},
         {false},
         0,
         ""},
        {"the imported file not taken", {QStringLiteral("/viejo/a.mdb"), fresh}, {false}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        m_requests.clear();
        ui.inputAnswers.clear();
        for (const auto& answer : c.inputs)
            ui.inputAnswers.enqueue(answer);
        ui.questionAnswers = c.questions;
        EXPECT_FALSE(importConfiguration({m_one}));
        EXPECT_EQ(m_requests.size(), c.imports);
        EXPECT_EQ(readTLVDirec(), m_before);
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), existingBytes);
        const QString reported = QString::fromUtf8(c.reported);
        const bool boxShown = !ui.boxes.isEmpty() && ui.boxes.last().type == Box::Type::MessageBox;
        EXPECT_EQ(boxShown, !reported.isEmpty());
        if (boxShown) {
            EXPECT_EQ(ui.boxes.last().icono, BoxKind::Exclamation);
            EXPECT_TRUE(ui.boxes.last().text.contains(reported))
                << ui.boxes.last().text.toStdString();
        }
    }
    // The file imported but not taken stays, for the person to choose later.
    EXPECT_TRUE(QFileInfo::exists(fresh));
}

TEST_F(ConfigChooserImportTest, AJetFileThatIsNoConfigurationIsImportedButRefusedAsOne)
{
    // The real import (no Jet file of a configuration database is at hand:
    // mdbtools cannot write one): nwind converts, and accepting it fails as
    // choosing any file without HTMRELOJ fails.
    const QString target = m.RutaApp + QStringLiteral("Northwind.mdb");
    typeAnswers({sample("nwind.mdb"), target});
    ui.questionAnswers = {true};
    EXPECT_FALSE(importForReal({m_one}));
    EXPECT_EQ(readTLVDirec(), m_before);
    ASSERT_EQ(ui.boxes.size(), 4);
    EXPECT_TRUE(ui.boxes[2].text.startsWith(QStringLiteral("Se importaron 9 tablas (4032 filas)")))
        << ui.boxes[2].text.toStdString();
    EXPECT_EQ(ui.boxes[3].type, Box::Type::MensaBox);
    EXPECT_TRUE(ui.boxes[3].text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.")));
    EXPECT_TRUE(ui.boxes[3].text.contains(QStringLiteral("HTMRELOJ")));
    // The converted file opens with the program's database password.
    std::unique_ptr<Connection> cn = openDatabase(target);
    ASSERT_TRUE(cn);
    EXPECT_EQ(cn->definedSize(QStringLiteral("Customers"), QStringLiteral("CustomerID")).value(),
              5);
}

TEST_F(ConfigChooserImportTest, AFailedImportIsReportedAndLeavesNothing)
{
    const QString damaged = m.RutaApp + QStringLiteral("Informe.mdb");
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Informe de calidad\r\n").repeated(300));
    }
    const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
    typeAnswers({damaged, target});
    EXPECT_FALSE(importForReal({m_one}));
    ASSERT_EQ(ui.boxes.size(), 3);
    const Box& box = ui.boxes.last();
    EXPECT_EQ(box.type, Box::Type::MessageBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("TelvarConfig. cmdImportar_Click.\n\n3343.- ") +
                                    damaged))
        << box.text.toStdString();
    EXPECT_EQ(QDir(m.RutaApp)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .filter(QStringLiteral("Importada")),
              QStringList{});
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(readTLVDirec(), m_before);
    EXPECT_EQ(ui.mousePointer, PointerShape::Default);
}

// telvar-import's output as the run reads it: what it prints today, and the
// table being read when it names it.
TEST(ImportOutputTest, TablesRowsAndNotesAreReadFromTheOutput)
{
    const struct {
        const char* name;
        QStringList lines;
        int tables;
        qint64 rows;
        const char* lastTable;
        const char* table;
        qint64 tableRows;
        QStringList notes;
    } cases[] = {
        {"nothing yet", {}, 0, 0, "", "", 0, {}},
        {"the format only", {QStringLiteral("Format: Jet 4 (Access 2000)")}, 0, 0, "", "", 0, {}},
        {"tables as they are converted",
         {QStringLiteral("Format: Jet 4 (Access 2000)"),
          QStringLiteral("  Categories: 8 rows, 4 columns, 2 indexes"),
          QStringLiteral("  Umsätze: 830 rows, 14 columns, 6 indexes")},
         2,
         838,
         "Umsätze",
         "",
         0,
         {}},
        {"a name with a colon and blanks",
         {QStringLiteral("  Order Details: 2: 2155 rows, 5 columns, 3 indexes")},
         1,
         2155,
         "Order Details: 2",
         "",
         0,
         {}},
        {"the table being read, with its rows so far",
         {QStringLiteral("  Categories: 8 rows, 4 columns, 2 indexes"),
          QStringLiteral("Reading table Orders"), QStringLiteral("  Orders: 500 rows so far")},
         1,
         8,
         "Categories",
         "Orders",
         500,
         {}},
        {"a table read then converted",
         {QStringLiteral("Reading table Orders"), QStringLiteral("  Orders: 500 rows so far"),
          QStringLiteral("  Orders: 830 rows, 14 columns, 6 indexes")},
         1,
         830,
         "Orders",
         "",
         0,
         {}},
        {"the summary and its notes",
         {QStringLiteral("  Categories: 8 rows, 4 columns, 2 indexes"),
          QStringLiteral("Imported 1 tables, 8 rows from a.mdb into b.mdb in 0.30 s."),
          QStringLiteral("Not converted:"),
          QStringLiteral("  - Only tables are converted; left out: 22 queries."),
          QStringLiteral("  - Orders: 4 indexes of its relationships left out."),
          QStringLiteral("  Shippers: 3 rows, 3 columns, 1 indexes")},
         2,
         11,
         "Shippers",
         "",
         0,
         {QStringLiteral("Only tables are converted; left out: 22 queries."),
          QStringLiteral("Orders: 4 indexes of its relationships left out.")}},
        {"lines of no meaning",
         {QStringLiteral(""), QStringLiteral("  - a dash outside the notes"),
          QStringLiteral("  Orders: many rows, 14 columns, 6 indexes"),
          QStringLiteral("Orders: 8 rows, 4 columns, 2 indexes")},
         0,
         0,
         "",
         "",
         0,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImportOutput output;
        for (const QString& line : c.lines)
            output.read(line);
        EXPECT_EQ(output.progress().tables, c.tables);
        EXPECT_EQ(output.progress().rows, c.rows);
        EXPECT_EQ(output.progress().lastTable, QString::fromUtf8(c.lastTable));
        EXPECT_EQ(output.progress().table, QString::fromUtf8(c.table));
        EXPECT_EQ(output.progress().tableRows, c.tableRows);
        EXPECT_EQ(output.summary().tables.size(), c.tables);
        EXPECT_EQ(output.summary().rows(), c.rows);
        EXPECT_EQ(output.summary().notes, c.notes);
    }
}

TEST(ImportOutputTest, AFailureIsTheErrorTelvarImportPrintedOrHowItEnded)
{
    const QString source = QStringLiteral("/viejo/TLVConf.mdb");
    const struct {
        const char* name;
        QByteArray standardError;
        int exitCode;
        bool crashed;
        long long number;
        const char* description; // what it starts with
        const char* mentions;
    } cases[] = {
        {"its error",
         "telvar-import: error 3049 (Jet import): /viejo/TLVConf.mdb, table HTMCONFI: its "
         "definition cannot be read.\n",
         1, false, ErrorNumber::DamagedFile, "/viejo/TLVConf.mdb, table HTMCONFI: its definition",
         "cannot be read."},
        {"its error after other lines",
         "QSqlDatabase: a warning\ntelvar-import: error 53 (Jet import): /viejo/TLVConf.mdb: "
         "there is no such file.\n",
         1, false, ErrorNumber::FileNotFound, "/viejo/TLVConf.mdb: there is no such file.", ""},
        {"a usage", "telvar-import: give the Jet file and the file to write.\n\nUsage: ...\n", 2,
         false, ErrorNumber::DamagedFile, "/viejo/TLVConf.mdb", "exit code 2 (telvar-import: give"},
        {"a crash", "", 0, true, ErrorNumber::DamagedFile, "/viejo/TLVConf.mdb",
         "stopped abnormally"},
        {"silence and a failure", "", 1, false, ErrorNumber::DamagedFile, "/viejo/TLVConf.mdb",
         "exit code 1."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Error error = importProcessError(source, c.standardError, c.exitCode, c.crashed);
        EXPECT_EQ(error.number, c.number);
        EXPECT_TRUE(error.description.startsWith(QString::fromUtf8(c.description)))
            << error.description.toStdString();
        EXPECT_TRUE(error.description.contains(QString::fromUtf8(c.mentions)))
            << error.description.toStdString();
        EXPECT_FALSE(error.source.isEmpty());
    }
}

// The run of telvar-import the window follows.
class ConfigImportRunTest : public ::testing::Test {
protected:
    static QString sample(const char* name)
    {
        return QStringLiteral(TELVAR_SOURCE_DIR "/tests/data/jet/") + QLatin1String(name);
    }

    // Every entry of the folder, hidden ones included.
    QStringList entries() const
    {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The processes of the group that are alive (not yet ended zombies).
    static QList<qint64> livingInGroup(qint64 group)
    {
        QList<qint64> pids;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool numeric = false;
            const qint64 pid = entry.toLongLong(&numeric);
            if (!numeric)
                continue;
            const QByteArray stat =
                readFile(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
            const qsizetype close = stat.lastIndexOf(')');
            if (close < 0)
                continue;
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z")
                pids.append(pid);
        }
        return pids;
    }

    ImportRequest request(const QString& source, const QString& target) const
    {
        ImportRequest r;
        r.source = source;
        r.target = target;
        r.password = QStringLiteral("clave");
        return r;
    }

    QTemporaryDir m_dir;
};

TEST_F(ConfigImportRunTest, TheFileTakesTheTargetsPlaceWithItsProgressAndItsBackup)
{
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        const QString target = m_dir.filePath(QStringLiteral("Northwind.mdb"));
        QFile::remove(target);
        for (const QString& backup : QDir(m_dir.path()).entryList({QStringLiteral("*.bak")}))
            QFile::remove(m_dir.filePath(backup));
        if (existing)
            writeFile(target, "la de antes");
        ImportRequest r = request(sample("nwind.mdb"), target);
        r.replaceExisting = existing;

        ConfigImportRun run;
        QSignalSpy progressed(&run, &ConfigImportRun::progressed);
        QSignalSpy finished(&run, &ConfigImportRun::finished);
        ASSERT_TRUE(run.start(r));
        EXPECT_TRUE(run.isRunning());
        EXPECT_GT(run.processGroup(), 0);
        // The program answers while it runs.
        EXPECT_EQ(finished.count(), 0);
        ASSERT_TRUE(finished.wait(120000));
        EXPECT_FALSE(run.isRunning());
        EXPECT_GT(progressed.count(), 0);
        EXPECT_EQ(run.progress().tables, 9);
        EXPECT_EQ(run.progress().rows, 4032);
        EXPECT_FALSE(run.progress().format.isEmpty());

        ASSERT_TRUE(run.outcome());
        ASSERT_TRUE(*run.outcome()) << run.outcome()->error().description.toStdString();
        const ImportSummary& summary = run.outcome()->value();
        EXPECT_EQ(summary.target, target);
        EXPECT_EQ(summary.tables.size(), 9);
        EXPECT_EQ(summary.rows(), 4032);
        EXPECT_FALSE(summary.notes.isEmpty());
        EXPECT_EQ(summary.backup.isEmpty(), !existing);
        if (existing) {
            EXPECT_EQ(readFile(summary.backup), QByteArray("la de antes"));
        }
        // The converted file, and only it (and the backup), beside the target.
        QStringList expected{QStringLiteral("Northwind.mdb")};
        if (existing)
            expected.prepend(QFileInfo(summary.backup).fileName());
        QStringList found = entries();
        found.sort();
        expected.sort();
        EXPECT_EQ(found, expected);
        EXPECT_TRUE(readFile(target).startsWith("SQLite format 3"));
    }
}

TEST_F(ConfigImportRunTest, AnImportThatCannotBeginIsRefusedAtOnceLeavingNothing)
{
    const QString nwind = sample("nwind.mdb");
    const QString existing = m_dir.filePath(QStringLiteral("Existente.mdb"));
    writeFile(existing, "la de antes");
    QDir(m_dir.path()).mkdir(QStringLiteral("carpeta"));
    const QString copy = m_dir.filePath(QStringLiteral("copia.mdb"));
    ASSERT_TRUE(QFile::copy(nwind, copy));
    const struct {
        const char* name;
        ImportRequest request;
        QString program;
        long long number;
    } cases[] = {
        {"an existing file not to be replaced",
         request(nwind, existing),
         {},
         ErrorNumber::DatabaseExists},
        {"no folder for the file",
         request(nwind, m_dir.filePath(QStringLiteral("no/hay/a.mdb"))),
         {},
         ErrorNumber::PathFileAccess},
        {"the file is a folder",
         [&] {
             ImportRequest r = request(nwind, m_dir.filePath(QStringLiteral("carpeta")));
             r.replaceExisting = true;
             return r;
         }(),
         {},
         ErrorNumber::PathFileAccess},
        {"into itself",
         [&] {
             ImportRequest r = request(copy, copy);
             r.replaceExisting = true;
             return r;
         }(),
         {},
         ErrorNumber::InvalidProcedureCall},
        {"no telvar-import", request(nwind, m_dir.filePath(QStringLiteral("a.mdb"))),
         m_dir.filePath(QStringLiteral("telvar-import")), ErrorNumber::ProviderNotFound},
    };
    const QStringList before = entries();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigImportRun run;
        run.setProgram(c.program);
        QSignalSpy finished(&run, &ConfigImportRun::finished);
        const Status started = run.start(c.request);
        ASSERT_FALSE(started);
        EXPECT_EQ(started.error().number, c.number) << started.error().description.toStdString();
        EXPECT_TRUE(started.error().description.startsWith(c.request.source));
        EXPECT_FALSE(run.isRunning());
        QTest::qWait(20);
        EXPECT_EQ(finished.count(), 0);
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(readFile(existing), QByteArray("la de antes"));
    }
}

// A cut Jet file on which libmdb reads its catalog without end, allocating
// as it goes, until its bound of memory stops it: a cancel ends it at once,
// telvar-import and its reader both, and removes what they wrote.
TEST_F(ConfigImportRunTest, ACancelEndsTheImportAndLeavesNothingBeside)
{
    QTemporaryDir sources;
    const QString cut = sources.filePath(QStringLiteral("cortado.mdb"));
    writeFile(cut, readFile(sample("nwind.mdb")).left(744 * 2048));
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        const QString target = m_dir.filePath(QStringLiteral("TLVConf.mdb"));
        QFile::remove(target);
        if (existing)
            writeFile(target, "la de antes");
        const QStringList before = entries();
        ImportRequest r = request(cut, target);
        r.replaceExisting = existing;

        ConfigImportRun run;
        QSignalSpy finished(&run, &ConfigImportRun::finished);
        ASSERT_TRUE(run.start(r));
        const qint64 group = run.processGroup();
        // Under way: telvar-import and its reader run, and telvar-import has
        // made its own folder inside the run's, beside the target.
        const auto workFolder = [&] {
            for (const QString& entry : entries()) {
                if (!before.contains(entry))
                    return m_dir.filePath(entry);
            }
            return QString();
        };
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return livingInGroup(group).size() >= 2 && !workFolder().isEmpty() &&
                       !QDir(workFolder())
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                            .isEmpty();
            },
            30000));
        ASSERT_TRUE(run.isRunning());

        run.cancel();
        EXPECT_FALSE(run.isRunning());
        EXPECT_EQ(run.processGroup(), 0);
        EXPECT_TRUE(livingInGroup(group).isEmpty());
        EXPECT_EQ(entries(), before);
        if (existing) {
            EXPECT_EQ(readFile(target), QByteArray("la de antes"));
        }
        EXPECT_FALSE(run.outcome());
        QTest::qWait(50);
        EXPECT_EQ(finished.count(), 0);
    }
}

} // namespace
} // namespace telvar
