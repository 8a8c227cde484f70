// The exit dialog: masked entry, its text selected on focus, OK and Cancel.
#include "dialogs/widgets/Salir.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;

TEST(SalirTest, TheEntryIsMaskedAndSelectedWhenItTakesTheFocus)
{
    Salir dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Exit"));
    EXPECT_EQ(child<QLabel>(dialog, "Label1")->text(),
              QStringLiteral("To Exit, please enter a Configurator's Password"));
    dialog.Leyenda = QStringLiteral("Para salir escriba la contraseña de un configurador");
    dialog.Form_Load();
    EXPECT_EQ(child<QLabel>(dialog, "Label1")->text(), dialog.Leyenda);
    auto* entry = child<QLineEdit>(dialog, "Text1");
    EXPECT_EQ(entry->echoMode(), QLineEdit::Password);
    EXPECT_EQ(entry->text(), QStringLiteral("Password"));
    EXPECT_TRUE(child<QPushButton>(dialog, "OKButton")->isDefault());
    EXPECT_EQ(child<QPushButton>(dialog, "CancelButton")->text(), QStringLiteral("Cancel"));

    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    entry->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(QTest::qWaitFor([&] { return entry->selectedText() == entry->text(); }, 1000));
    QTest::keyClicks(entry, QStringLiteral("super"));
    EXPECT_EQ(entry->text(), QStringLiteral("super"));
}

TEST(SalirTest, OkHandsBackTheTextAndCancelOrTheCloseBoxGivesUp)
{
    {
        Salir dialog;
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("jefe"));
        child<QPushButton>(dialog, "OKButton")->click();
        EXPECT_FALSE(dialog.Cancelar);
        EXPECT_EQ(dialog.TryPass, QStringLiteral("jefe"));
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        Salir dialog;
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("jefe"));
        child<QPushButton>(dialog, "CancelButton")->click();
        EXPECT_TRUE(dialog.Cancelar);
        EXPECT_EQ(dialog.TryPass, QString());
    }
    {
        Salir dialog;
        dialog.show();
        dialog.close();
        EXPECT_TRUE(dialog.Cancelar);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
}

} // namespace
} // namespace telvar
