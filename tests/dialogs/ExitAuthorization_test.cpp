// Which passwords open the exit: those of active configurators only, in
// any of their stored forms, whatever the order of the users.
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "demo/QualitraDemo.h"
#include "dialogs/ExitAuthorization.h"
#include "support/RecordingInteraccion.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ExitAuthorizationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m.PassBD = QStringLiteral("Telvar26");
        m.TipoBD = QStringLiteral("[JET4]");
        const QString path = m_dir.filePath(QStringLiteral("Qualitra.MDB"));
        ASSERT_TRUE(demo::createQualitraDemoFile(path, m.PassBD).ok());
        m.CadConexion = jetConnectionString(path, m.PassBD);
    }
    void run(const QString& sql)
    {
        auto cn = EngineLayer::open(m.CadConexion);
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()->exec(sql).ok()) << sql.toStdString();
    }
    bool accepts(const QString& typed) { return configuratorPasswordMatches(m, ui, typed); }

    QTemporaryDir m_dir;
    Modulo1 m;
    test::RecordingInteraccion ui;
};

TEST_F(ExitAuthorizationTest, TheDemoConfiguratorsOpenTheExitInAllThreeForms)
{
    for (const demo::DemoUser& user : demo::kConfigurators) {
        SCOPED_TRACE(user.key);
        EXPECT_EQ(accepts(QString::fromLatin1(user.password)), user.activeConfigurator);
    }
    // Operators are not configurators, whatever their password.
    EXPECT_FALSE(accepts(QStringLiteral("oper01")));
    EXPECT_FALSE(accepts(QString())); // OPER02 has an empty password
    EXPECT_FALSE(accepts(QStringLiteral("wrong")));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ExitAuthorizationTest, OnlyActiveConfiguratorsAreConsultedInAnyOrder)
{
    run(QStringLiteral("delete from USU"));
    const QString insert = QStringLiteral(
        "insert into USU (USUCLAVE, USUDESCR, USUSSTAT, USUPODER, USUCONTR) values ");
    // Rights beginning with another digit, a status other than "0", a null
    // and an empty password.
    run(insert + QStringLiteral("('Z1', 'a', '0', '0111', 'clave')"));
    run(insert + QStringLiteral("('Z2', 'b', '1', '1111', 'clave')"));
    run(insert + QStringLiteral("('Z3', 'c', '0', ' 1', 'clave')"));
    EXPECT_FALSE(accepts(QStringLiteral("clave")));
    run(insert + QStringLiteral("('A1', 'd', '0', '1', NULL)"));
    EXPECT_TRUE(accepts(QString()));
    run(QStringLiteral("update USU set USUCONTR = 'otra' where USUCLAVE = 'A1'"));
    EXPECT_FALSE(accepts(QString()));
    // The matching configurator may come first or last.
    run(insert + QStringLiteral("('B1', 'e', '0', '10', 'clave')"));
    EXPECT_TRUE(accepts(QStringLiteral("clave")));
    EXPECT_TRUE(accepts(QStringLiteral("otra")));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ExitAuthorizationTest, WithoutTheDatabaseTheExitStaysClosed)
{
    m.CadConexion = jetConnectionString(m_dir.filePath(QStringLiteral("NoHay.MDB")), m.PassBD);
    EXPECT_FALSE(accepts(QStringLiteral("super")));
    // OpenDBOK reported why.
    EXPECT_EQ(ui.boxes.size(), 1);
}

TEST_F(ExitAuthorizationTest, AUserTableThatCannotBeReadKeepsTheExitClosed)
{
    run(QStringLiteral("alter table USU rename to USUARIOS"));
    EXPECT_FALSE(accepts(QStringLiteral("super")));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("Telvar. Form_QueryUnload.\n\n")));
}

} // namespace
} // namespace telvar
