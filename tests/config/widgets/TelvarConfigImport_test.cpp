// The chooser's import as a person meets it: telvar-import runs beside the
// window, which keeps answering and shows how far it has come; Cancel stops
// it leaving nothing; closing asks first; the end is offered or reported.
#include "common/ErrorNumbers.h"
#include "config/widgets/TelvarConfig.h"
#include "import/ImportErrors.h"
#include "support/ConfigFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class TelvarConfigImportTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        writeTLVDirec({m_one});
        m_before = readTLVDirec();
    }

    // The Jet files kept with the tests (tests/data/jet), found from this
    // file's own path (the build names sources by their absolute paths).
    static QString sample(const char* name)
    {
        QDir tests = QFileInfo(QString::fromUtf8(__FILE__)).absoluteDir();
        tests.cd(QStringLiteral("../../.."));
        return tests.filePath(QStringLiteral("tests/data/jet/")) + QLatin1String(name);
    }

    void typeAnswers(const QList<QString>& answers)
    {
        for (const QString& answer : answers)
            ui.inputAnswers.enqueue(answer);
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

    // A program standing in for telvar-import: a shell script of body,
    // which finds the file to write in "$2".
    QString program(const QByteArray& body)
    {
        const QString path = m_programs.filePath(QStringLiteral("telvar-import"));
        writeFile(path, "#!/bin/sh\ncat > /dev/null\n" + body);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    // Every entry of the program directory, hidden ones included.
    QStringList entries() const
    {
        return QDir(m.RutaApp).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot);
    }

    // A Jet file on which libmdb reads its catalog without end, allocating
    // as it goes (for seconds, until its bound of memory stops it).
    QString endlessJetFile()
    {
        const QString path = m_programs.filePath(QStringLiteral("cortado.mdb"));
        const QByteArray nwind = readFile(sample("nwind.mdb"));
        EXPECT_GT(nwind.size(), 744 * 2048);
        writeFile(path, nwind.left(744 * 2048));
        return path;
    }

    // Waits until the import runs and has written beside the target (the
    // folder of its own that a cancel must take away).
    bool importUnderWay(const TelvarConfig& d, const QStringList& before)
    {
        return QTest::qWaitFor(
            [&] {
                if (!d.importRunning())
                    return false;
                for (const QString& entry : entries()) {
                    if (!before.contains(entry) &&
                        !QDir(m.RutaApp + entry)
                             .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                             .isEmpty())
                        return true;
                }
                return false;
            },
            30000);
    }

    // Counts the ticks of a timer of the window's thread while an import
    // runs: the window's event loop goes on.
    struct Ticks {
        explicit Ticks(const TelvarConfig& d)
        {
            timer.setInterval(1);
            QObject::connect(&timer, &QTimer::timeout, [this, &d] {
                if (d.importRunning())
                    ++whileImporting;
            });
            timer.start();
        }
        QTimer timer;
        int whileImporting = 0;
    };

    template <typename T> static T* child(const TelvarConfig& d, const char* name)
    {
        return d.findChild<T*>(QString::fromLatin1(name));
    }

    QString m_one;
    QByteArray m_before;
    QTemporaryDir m_programs;
};

TEST_F(TelvarConfigImportTest, TheImportEntryTakesTheImportedFileAndCloses)
{
    const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
    const QString converted = createConfig(QStringLiteral("Convertida.mdb"));
    TelvarConfig d(m, ui);
    QPushButton* importar = child<QPushButton>(d, "cmdImportar");
    ASSERT_TRUE(importar);
    EXPECT_EQ(importar->text(), ConfigChooser::importCaption(m.Idioma));
    d.setImportProgram(program("echo 'Format: Jet 4 (Access 2000)'\n"
                               "echo '  HTMRELOJ: 10 rows, 2 columns, 1 indexes'\n"
                               "echo '  HTMCONFI: 3 rows, 13 columns, 2 indexes'\n"
                               "cp '" +
                               converted.toUtf8() + "' \"$2\"\n"));
    typeAnswers({QStringLiteral("/viejo/TLVConf.mdb"), target});
    ui.questionAnswers = {true};
    importar->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.importRunning(); }, 60000));
    ASSERT_GE(ui.boxes.size(), 3);
    EXPECT_TRUE(ui.boxes[2].text.startsWith(
        QStringLiteral("Se importaron 2 tablas (13 filas) de /viejo/TLVConf.mdb a ") + target))
        << ui.boxes[2].text.toStdString();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.acceptedPath(), target);
    EXPECT_EQ(child<QComboBox>(d, "cboDBConf")->currentText(), target);
    EXPECT_EQ(readTLVDirec(),
              (target + QStringLiteral("\r\n") + m_one + QStringLiteral("\r\n")).toUtf8());
}

// A real import goes on beside the window: its timers fire, the progress
// line follows the tables, and only Cancel answers among the buttons.
TEST_F(TelvarConfigImportTest, TheWindowAnswersAndShowsProgressWhileImporting)
{
    m.Idioma = 2;
    const QString source = sample("nwind.mdb");
    const QString target = m.RutaApp + QStringLiteral("Northwind.mdb");
    TelvarConfig d(m, ui);
    d.show();
    QLabel* status = child<QLabel>(d, "importStatus");
    QPushButton* cancel = child<QPushButton>(d, "cancelImport");
    QPushButton* importar = child<QPushButton>(d, "cmdImportar");
    QPushButton* aceptar = child<QPushButton>(d, "bAceptar");
    ASSERT_TRUE(status && cancel && importar && aceptar);
    EXPECT_TRUE(cancel->isHidden());
    EXPECT_TRUE(status->isHidden());
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));

    QStringList shown;
    QObject::connect(&d.importRun(), &ConfigImportRun::progressed,
                     [&] { shown.append(status->text()); });
    Ticks ticks(d);
    typeAnswers({source, target});
    ui.questionAnswers = {false}; // nwind is no configuration: not taken
    importar->click();
    ASSERT_TRUE(d.importRunning());
    EXPECT_FALSE(cancel->isHidden());
    EXPECT_FALSE(status->isHidden());
    EXPECT_FALSE(importar->isEnabled());
    EXPECT_FALSE(aceptar->isEnabled());
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Importing ") + source))
        << status->text().toStdString();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.importRunning(); }, 60000));
    EXPECT_GT(ticks.whileImporting, 0);
    ASSERT_FALSE(shown.isEmpty()) << (ui.boxes.isEmpty() ? std::string()
                                                         : ui.boxes.last().text.toStdString());
    EXPECT_TRUE(shown.last().contains(QStringLiteral("9 tables (4032 rows) imported, the last")))
        << shown.last().toStdString();
    EXPECT_TRUE(cancel->isHidden());
    EXPECT_TRUE(importar->isEnabled());
    EXPECT_TRUE(aceptar->isEnabled());
    ASSERT_EQ(ui.boxes.size(), 3);
    EXPECT_TRUE(ui.boxes[2].text.startsWith(QStringLiteral("Imported 9 tables (4032 rows)")));
    // Not taken: the file stays and the chooser stays open.
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(readTLVDirec(), m_before);
}

// Cancel during an import that would run for long: the import ends at once
// with nothing written beside the target, an existing file and the chosen
// configuration as they were; the chooser says so, and a new import may
// start.
TEST_F(TelvarConfigImportTest, CancelEndsTheImportLeavingNothingAndTheConfigurationAsItWas)
{
    const QString source = endlessJetFile();
    const QString target = m.RutaApp + QStringLiteral("TLVConf.mdb");
    writeFile(target, "la de antes");
    const QStringList before = entries();
    TelvarConfig d(m, ui);
    d.show();
    QPushButton* cancel = child<QPushButton>(d, "cancelImport");
    QPushButton* importar = child<QPushButton>(d, "cmdImportar");
    QLabel* status = child<QLabel>(d, "importStatus");
    ASSERT_TRUE(cancel && importar && status);
    Ticks ticks(d);
    typeAnswers({source, target});
    ui.questionAnswers = {true}; // replace the existing file
    importar->click();
    ASSERT_TRUE(importUnderWay(d, before));
    EXPECT_GT(ticks.whileImporting, 0);
    const qint64 group = d.importRun().processGroup();
    ASSERT_GT(group, 0);

    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(d.importRunning());
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readFile(target), QByteArray("la de antes"));
    EXPECT_EQ(readTLVDirec(), m_before);
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.acceptedPath().isEmpty());
    EXPECT_FALSE(status->isHidden());
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Importación cancelada")))
        << status->text().toStdString();
    EXPECT_TRUE(cancel->isHidden());
    EXPECT_TRUE(importar->isEnabled());
    // Nothing more is said of it, later either.
    const qsizetype boxes = ui.boxes.size();
    QTest::qWait(100);
    EXPECT_EQ(ui.boxes.size(), boxes);
    EXPECT_EQ(ui.boxes.last().type, Box::Type::QuestionBox);

    // A new import starts, and is cancelled the same way.
    typeAnswers({source, target});
    ui.questionAnswers = {true};
    importar->click();
    ASSERT_TRUE(importUnderWay(d, before));
    cancel->click();
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readFile(target), QByteArray("la de antes"));
}

// One import at a time, and closing the chooser while one runs asks first:
// staying lets it go on, closing stops it as Cancel would.
TEST_F(TelvarConfigImportTest, ASecondImportWaitsAndClosingAsksFirst)
{
    const QString source = endlessJetFile();
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed" : "kept open");
        ui.boxes.clear();
        const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
        const QStringList before = entries();
        TelvarConfig d(m, ui);
        d.show();
        typeAnswers({source, target});
        child<QPushButton>(d, "cmdImportar")->click();
        ASSERT_TRUE(importUnderWay(d, before));

        // A second import asks nothing and starts nothing.
        const qsizetype asked = ui.boxes.size();
        EXPECT_FALSE(child<QPushButton>(d, "cmdImportar")->isEnabled());
        d.cmdImportar_Click();
        EXPECT_EQ(ui.boxes.size(), asked);
        EXPECT_TRUE(d.importRunning());

        ui.questionAnswers = {close};
        EXPECT_EQ(d.close(), close);
        ASSERT_EQ(ui.boxes.size(), asked + 1);
        EXPECT_EQ(ui.boxes.last().type, Box::Type::QuestionBox);
        EXPECT_EQ(ui.boxes.last().text,
                  QStringLiteral("Hay una importación en curso. ¿Detenerla y cerrar?"));
        EXPECT_EQ(d.isVisible(), !close);
        EXPECT_EQ(d.importRunning(), !close);
        if (!close)
            child<QPushButton>(d, "cancelImport")->click();
        EXPECT_FALSE(d.importRunning());
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(readTLVDirec(), m_before);
    }
}

// An import that fails is reported once it ends, the window answering
// meanwhile; the chooser stays open with nothing written.
TEST_F(TelvarConfigImportTest, AFailedImportIsReportedAndKeepsTheDialogOpen)
{
    const QString damaged = m_programs.filePath(QStringLiteral("Informe.mdb"));
    writeFile(damaged, QByteArray("Informe de calidad\r\n").repeated(300));
    const struct {
        const char* name;
        QString source;
        QByteArray program; // "": telvar-import itself
        const char* reported;
    } cases[] = {
        {"a file that is not a Jet file", damaged, {}, "3343.- "},
        {"telvar-import's error", QStringLiteral("/viejo/TLVConf.mdb"),
         "sleep 0.2\n"
         "echo 'telvar-import: error 3049 (Jet import): /viejo/TLVConf.mdb, table HTMCONFI: "
         "its definition cannot be read: the file is damaged.' >&2\n"
         "exit 1\n",
         "/viejo/TLVConf.mdb, table HTMCONFI"},
        {"telvar-import killed", QStringLiteral("/viejo/TLVConf.mdb"), "sleep 0.2\nkill -9 $$\n",
         "stopped abnormally"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
        const QStringList before = entries();
        TelvarConfig d(m, ui);
        d.show();
        if (!c.program.isEmpty())
            d.setImportProgram(program(c.program));
        Ticks ticks(d);
        typeAnswers({c.source, target});
        child<QPushButton>(d, "cmdImportar")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.importRunning(); }, 60000));
        EXPECT_GT(ticks.whileImporting, 0);
        EXPECT_NE(d.result(), QDialog::Accepted);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(d.acceptedPath().isEmpty());
        ASSERT_EQ(ui.boxes.size(), 3);
        EXPECT_EQ(ui.boxes.last().type, Box::Type::MessageBox);
        EXPECT_EQ(ui.boxes.last().icono, BoxKind::Exclamation);
        EXPECT_TRUE(
            ui.boxes.last().text.startsWith(QStringLiteral("TelvarConfig. cmdImportar_Click.")));
        EXPECT_TRUE(ui.boxes.last().text.contains(QString::fromUtf8(c.reported)))
            << ui.boxes.last().text.toStdString();
        EXPECT_TRUE(child<QPushButton>(d, "cmdImportar")->isEnabled());
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(readTLVDirec(), m_before);
    }
}

} // namespace
} // namespace telvar
