// The demo installation as a whole: what telvar_demo_install lays out must
// carry the program through start-up, the master-data check and the loading
// of the configuration, without a single box.
#include "app/widgets/Telvar.h"
#include "common/Modulo1.h"
#include "database/EngineLayer.h"
#include "demo/DemoInstallation.h"
#include "demo/DemoTexts.h"
#include "demo/covers/DemoCovers.h"
#include "startup/StartupSequence.h"
#include "support/RecordingInteraccion.h"
#include "support/widgets/WidgetLookup.h"

#include <QDir>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class DemoInstallationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        demo::DemoInstallationOptions options;
        options.programDir = m_dir.path();
        const Status built = demo::buildDemoInstallation(options, demo::drawDemoCover);
        ASSERT_TRUE(built.ok()) << built.error().description.toStdString();
    }

    QString iau(const char* name) const
    {
        return QDir(m_dir.path()).filePath(QStringLiteral("IAu/") + QLatin1String(name));
    }

    QTemporaryDir m_dir;
};

TEST_F(DemoInstallationTest, UnicodeFilesStartWithTheirMark)
{
    for (const char* name : {"QLCompa.iau", "QLLang.IAU"}) {
        QFile file(iau(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(file.read(2), QByteArray("\xFF\xFE", 2)) << name;
    }
}

TEST_F(DemoInstallationTest, StartsLoadsTheGridAndShowsNoBox)
{
    Modulo1 m;
    test::RecordingInteraccion ui;
    StartupSequence startup(m, ui, m_dir.path());
    ASSERT_TRUE(startup.run());
    EXPECT_EQ(m.PassBD, QStringLiteral("Telvar26"));
    EXPECT_EQ(m.TipoBD, QStringLiteral("[JET4]"));
    EXPECT_EQ(m.NumTurnos, 4);

    // Every message the program uses has a text in both languages.
    for (const demo::DemoMessage& message : demo::demoMessages())
        for (int language = 1; language <= 2; ++language)
            EXPECT_FALSE(m.messageTable.text(message.section, message.number, language).isEmpty())
                << message.section << "," << message.number << " language " << language;
    // The product is Qualitra, so the "RV" replacement is skipped.
    EXPECT_EQ(m.Mensajes(76, 0), QStringLiteral("Ruteador Html -> Qualitra"));

    Router router(m, ui);

    Telvar window(m, ui, router);
    ASSERT_TRUE(window.Form_Load());
    EXPECT_EQ(m.AnchoPRO, 20);
    EXPECT_EQ(test::child<QTableView>(window, "DBGrid1")->model()->rowCount(), 12);
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("Ruteador Html -> Qualitra v.")));
    for (const auto& box : ui.boxes)
        ADD_FAILURE() << "unexpected box: " << box.text.toStdString();
    startup.takeInstanceLock();
}

TEST_F(DemoInstallationTest, RebuildingKeepsTheDatabasesUnlessAsked)
{
    const QString config = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                           QDir(m_dir.path()).filePath(QStringLiteral("TLVConf.mdb")) +
                           QStringLiteral(";Jet OLEDB:Database Password=Telvar26;");
    const auto description = [&]() -> QString {
        auto cn = EngineLayer::open(config);
        if (!cn)
            return QStringLiteral("open failed: ") + cn.error().description;
        auto q = cn.value()->exec(QStringLiteral("Select Descr from HTMCONFI where Puert = 1"));
        if (!q || !q.value().next())
            return QStringLiteral("no port 1");
        return q.value().value(0).toString();
    };
    {
        auto cn = EngineLayer::open(config);
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()
                        ->exec(QStringLiteral("Update HTMCONFI set Descr = ? where Puert = 1"),
                               {QStringLiteral("edited by hand")})
                        .ok());
    }

    demo::DemoInstallationOptions options;
    options.programDir = m_dir.path();
    ASSERT_TRUE(demo::buildDemoInstallation(options, demo::drawDemoCover).ok());
    EXPECT_EQ(description(), QStringLiteral("edited by hand"));

    options.recreateDatabases = true;
    ASSERT_TRUE(demo::buildDemoInstallation(options, demo::drawDemoCover).ok());
    EXPECT_NE(description(), QStringLiteral("edited by hand"));
    EXPECT_FALSE(description().startsWith(QStringLiteral("open failed")));
}

} // namespace
} // namespace telvar
