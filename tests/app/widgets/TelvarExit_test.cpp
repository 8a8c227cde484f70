// Closing the main window: a close by the person needs a configurator's
// password; the program's own closes are not guarded.
#include "app/widgets/Telvar.h"
#include "database/ArmaConexion.h"
#include "demo/QualitraDemo.h"
#include "dialogs/widgets/Salir.h"
#include "support/ConfigFixture.h"
#include "support/widgets/WidgetLookup.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;
using UnloadMode = Telvar::UnloadMode;

class TelvarExitTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        writeTLVDirec({createConfig(QStringLiteral("TLVConf.mdb"))});
        const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(demo::createQualitraDemoFile(qualitra, m.PassBD).ok());
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(qualitra, m.PassBD);
        m.messageTable.setText(43, 28, m.Idioma, QStringLiteral("Contraseña de configurador:"));
        ASSERT_EQ(m_window.Reinicia(), ReiniciaOutcome::Done);
    }
    // The person types password and presses OK (or Cancel when empty).
    void answerWith(const std::optional<QString>& password)
    {
        m_window.setExitDialogRunner([this, password](Salir& dialog) {
            ++m_dialogs;
            m_prompt = child<QLabel>(dialog, "Label1")->text();
            if (!password) {
                child<QPushButton>(dialog, "CancelButton")->click();
                return;
            }
            child<QLineEdit>(dialog, "Text1")->setText(*password);
            child<QPushButton>(dialog, "OKButton")->click();
        });
    }
    bool gridOpen() { return m_window.configDatabase().RsConf().isBound(); }

    Router m_router{m, ui};
    Telvar m_window{m, ui, m_router};
    int m_dialogs = 0;
    QString m_prompt;
};

TEST_F(TelvarExitTest, AConfiguratorsPasswordClosesTheWindow)
{
    for (const char* password : {"admin2026", "jefe", "super"}) {
        SCOPED_TRACE(password);
        if (!gridOpen()) {
            ASSERT_EQ(m_window.Reinicia(), ReiniciaOutcome::Done);
        }
        answerWith(QString::fromLatin1(password));
        EXPECT_FALSE(m_window.Form_QueryUnload(UnloadMode::FormControlMenu));
        // The configuration's rows were closed before the window goes.
        EXPECT_FALSE(gridOpen());
    }
    EXPECT_EQ(m_dialogs, 3);
    EXPECT_EQ(m_prompt, QStringLiteral("Contraseña de configurador:"));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarExitTest, AWrongPasswordOrCancelKeepsTheWindowWithoutAWord)
{
    for (const std::optional<QString>& answer :
         {std::optional<QString>(QStringLiteral("baja")),
          std::optional<QString>(QStringLiteral("Super")), std::optional<QString>(QString()),
          std::optional<QString>()}) {
        answerWith(answer);
        EXPECT_TRUE(m_window.Form_QueryUnload(UnloadMode::FormControlMenu));
        EXPECT_TRUE(gridOpen());
    }
    EXPECT_EQ(m_dialogs, 4);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarExitTest, TheProgramsOwnClosesAreNotGuarded)
{
    answerWith(QStringLiteral("wrong"));
    EXPECT_FALSE(m_window.Form_QueryUnload(UnloadMode::AppWindows));
    ASSERT_EQ(m_window.Reinicia(), ReiniciaOutcome::Done);
    // close() from code is not the person's close.
    m_window.show();
    EXPECT_TRUE(m_window.close());
    EXPECT_FALSE(m_window.isVisible());
    EXPECT_FALSE(gridOpen());
    EXPECT_EQ(m_dialogs, 0);
}

TEST_F(TelvarExitTest, ASecondCloseWhileThePasswordIsCheckedIsRefused)
{
    bool secondRefused = false;
    m_window.setExitDialogRunner([&](Salir& dialog) {
        ++m_dialogs;
        secondRefused = m_window.Form_QueryUnload(UnloadMode::FormControlMenu);
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("super"));
        child<QPushButton>(dialog, "OKButton")->click();
    });
    EXPECT_FALSE(m_window.Form_QueryUnload(UnloadMode::FormControlMenu));
    EXPECT_TRUE(secondRefused);
    EXPECT_EQ(m_dialogs, 1);
}

TEST_F(TelvarExitTest, WithoutTheSpcDatabaseTheWindowStays)
{
    m.CadConexion = jetConnectionString(m.RutaApp + QStringLiteral("NoHay.MDB"), m.PassBD);
    answerWith(QStringLiteral("super"));
    EXPECT_TRUE(m_window.Form_QueryUnload(UnloadMode::FormControlMenu));
    EXPECT_TRUE(gridOpen());
    // The opening failure is the one report.
    EXPECT_EQ(ui.boxes.size(), 1);
}

} // namespace
} // namespace telvar
