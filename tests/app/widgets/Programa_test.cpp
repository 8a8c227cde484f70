// The hand-over from the cover to the main window, on the demo installation.
#include "app/Programa.h"
#include "app/widgets/Telvar.h"
#include "common/Modulo1.h"
#include "database/EngineLayer.h"
#include "demo/DemoInstallation.h"
#include "demo/covers/DemoCovers.h"
#include "startup/QtTranslations.h"
#include "startup/widgets/TelvarCarat.h"
#include "support/RecordingInteraccion.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class ProgramaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        demo::DemoInstallationOptions options;
        options.programDir = m_dir.path();
        ASSERT_TRUE(demo::buildDemoInstallation(options, demo::drawDemoCover).ok());
    }
    void TearDown() override { QApplication::setQuitOnLastWindowClosed(true); }

    QTemporaryDir m_dir;
    Modulo1 m;
    test::RecordingInteraccion ui;
};

TEST_F(ProgramaTest, ClosingTheCoverShowsTheLoadedMainWindow)
{
    Programa programa(m, ui, m_dir.path());
    ASSERT_TRUE(programa.start());
    ASSERT_NE(programa.cover(), nullptr);
    EXPECT_TRUE(programa.cover()->isVisible());
    EXPECT_EQ(programa.mainWindow(), nullptr);
    // The cover's closing must not count as the last window closing.
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

    QTest::keyClick(programa.cover(), Qt::Key_Space);

    ASSERT_NE(programa.mainWindow(), nullptr);
    EXPECT_TRUE(programa.mainWindow()->isVisible());
    EXPECT_FALSE(programa.cover()->isVisible());
    EXPECT_EQ(test::child<QTableView>(*programa.mainWindow(), "DBGrid1")->model()->rowCount(), 12);
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    EXPECT_FALSE(programa.failed());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ProgramaTest, AMainWindowThatCannotLoadEndsTheRunAsAFailure)
{
    // Without the INS table the master-data check must stop the program.
    const QString qualitra = QDir(m_dir.path()).filePath(QStringLiteral("DemoData/Qualitra.MDB"));
    {
        auto cn =
            EngineLayer::open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                              qualitra + QStringLiteral(";Jet OLEDB:Database Password=Telvar26;"));
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()->exec(QStringLiteral("Drop table INS")).ok());
    }

    Programa programa(m, ui, m_dir.path());
    ASSERT_TRUE(programa.start());
    QTest::mouseClick(programa.cover(), Qt::LeftButton);

    EXPECT_TRUE(programa.failed());
    ASSERT_NE(programa.mainWindow(), nullptr);
    EXPECT_FALSE(programa.mainWindow()->isVisible());
    ASSERT_FALSE(ui.boxes.isEmpty());
    EXPECT_TRUE(ui.boxes.last().text.contains(QStringLiteral("INS")));
}

TEST_F(ProgramaTest, AFailedStartUpShowsNoCover)
{
    QFile::remove(QDir(m_dir.path()).filePath(QStringLiteral("IAu/QLTurn.IAU")));
    Programa programa(m, ui, m_dir.path());
    EXPECT_FALSE(programa.start());
    EXPECT_TRUE(programa.failed());
    EXPECT_EQ(programa.cover(), nullptr);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("QLTurn.IAU")));
}

// The texts of Qt's standard buttons as a box made now shows them, without
// their accelerator marks: Yes, No, OK, Cancel.
QStringList standardButtonTexts()
{
    QMessageBox box(QMessageBox::Question, QString(), QString(),
                    QMessageBox::Yes | QMessageBox::No);
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QStringList texts;
    for (QAbstractButton* button :
         {box.button(QMessageBox::Yes), box.button(QMessageBox::No),
          static_cast<QAbstractButton*>(buttons.button(QDialogButtonBox::Ok)),
          static_cast<QAbstractButton*>(buttons.button(QDialogButtonBox::Cancel))})
        texts.append(button->text().remove(QLatin1Char('&')));
    return texts;
}

// The language file of the demo installation with another Idioma (its
// first line).
void setIdioma(const QString& programDir, int idioma)
{
    QFile file(QDir(programDir).filePath(QStringLiteral("IAu/QLLang.IAU")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    ASSERT_TRUE(bytes.startsWith("\xff\xfe"));
    QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()) + 1,
                                      bytes.size() / 2 - 1);
    qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    ASSERT_GT(lineEnd, 0);
    if (text.at(lineEnd - 1) == QLatin1Char('\r'))
        --lineEnd;
    text = QString::number(idioma) + text.mid(lineEnd);
    QByteArray written("\xff\xfe", 2);
    written.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(written), written.size());
}

TEST_F(ProgramaTest, StandardButtonsSpeakTheInstallationsLanguageForTheRun)
{
    const QStringList english{QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("OK"),
                              QStringLiteral("Cancel")};
    ASSERT_EQ(standardButtonTexts(), english);
    const QString catalogue = QtTranslations::catalogueFor(1, QtTranslations::systemDirectory());
    if (!QFileInfo(catalogue).isFile())
        GTEST_SKIP() << "Qt's Spanish catalogue is not installed: " << catalogue.toStdString();

    struct Row {
        int idioma;
        QStringList texts;
    };
    const Row rows[] = {
        {1,
         {QStringLiteral("Sí"), QStringLiteral("No"), QStringLiteral("Aceptar"),
          QStringLiteral("Cancelar")}},
        {2, english},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.idioma);
        setIdioma(m_dir.path(), row.idioma);
        {
            Modulo1 run;
            test::RecordingInteraccion boxes;
            Programa programa(run, boxes, m_dir.path());
            ASSERT_TRUE(programa.start());
            EXPECT_EQ(run.Idioma, row.idioma);
            // Already behind the cover, before the main window.
            EXPECT_EQ(standardButtonTexts(), row.texts);
            QTest::keyClick(programa.cover(), Qt::Key_Space);
            ASSERT_NE(programa.mainWindow(), nullptr);
            EXPECT_EQ(standardButtonTexts(), row.texts);
        }
        // The run's translation ends with it.
        EXPECT_EQ(standardButtonTexts(), english);
    }
}

TEST(QtTranslationsTest, AMissingCatalogueLeavesEnglishAndSaysSoInOneLine)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    QtTranslations translations;
    const std::optional<QString> note = translations.load(1, empty.path());
    ASSERT_TRUE(note.has_value());
    EXPECT_TRUE(note->contains(empty.path() + QStringLiteral("/qtbase_es.qm")))
        << note->toStdString();
    EXPECT_FALSE(note->contains(QLatin1Char('\n')));
    EXPECT_FALSE(translations.installed());
    // English needs no catalogue at all.
    EXPECT_EQ(translations.load(2, empty.path()), std::nullopt);
    EXPECT_FALSE(translations.installed());
}

} // namespace
} // namespace telvar
