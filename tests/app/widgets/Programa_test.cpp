// The hand-over from the cover to the main window, on the demo installation.
#include "app/Programa.h"
#include "app/widgets/Telvar.h"
#include "common/Modulo1.h"
#include "database/EngineLayer.h"
#include "demo/DemoInstallation.h"
#include "demo/covers/DemoCovers.h"
#include "startup/widgets/TelvarCarat.h"
#include "support/RecordingInteraccion.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QDir>
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

} // namespace
} // namespace telvar
