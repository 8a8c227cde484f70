// The main window's port configuration button: the form opens on the grid's
// port, and the grid is read again and returns to that port afterwards.
#include "app/widgets/Telvar.h"
#include "portform/widgets/HtmlCanal.h"
#include "support/ConfigFixture.h"
#include "support/widgets/WidgetLookup.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;

class TelvarPortFormTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"));
        writeTLVDirec({m_path});
    }
    QString m_path;
};

TEST_F(TelvarPortFormTest, TheFormEditsTheCurrentPortAndTheGridReturnsToIt)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    ConfigGridModel& grid = w.configDatabase().RsConf();
    auto* view = child<QTableView>(w, "DBGrid1");
    const int descr = grid.columnOf(QStringLiteral("Descr"));
    view->setCurrentIndex(grid.index(*grid.rowOfPuert(5), descr));
    child<QTabWidget>(w, "SSTab1")->setCurrentIndex(1);

    int opened = 0;
    w.setPortFormRunner([&](HtmlCanal& form) {
        ++opened;
        EXPECT_EQ(form.PuertoConf, 5);
        EXPECT_EQ(form.windowTitle(), m.Mensajes(43, 26) + QStringLiteral(" 5"));
        child<QLineEdit>(form, "txtDescr")->setText(QStringLiteral("Editado en el formulario"));
        child<QPushButton>(form, "cmdAceptar")->click();
    });
    child<QPushButton>(w, "cmdConf")->click();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->currentIndex(), 0);
    ASSERT_TRUE(view->currentIndex().isValid());
    EXPECT_EQ(grid.row(view->currentIndex().row()).Puert, 5);
    EXPECT_EQ(view->currentIndex().column(), descr);
    EXPECT_EQ(grid.row(*grid.rowOfPuert(5)).Descr, QStringLiteral("Editado en el formulario"));
    EXPECT_TRUE(ui.boxes.isEmpty());

    // Cancelled: nothing changes, the grid is still on the port.
    w.setPortFormRunner([&](HtmlCanal& form) {
        ++opened;
        child<QLineEdit>(form, "txtDescr")->setText(QStringLiteral("Descartado"));
        child<QPushButton>(form, "cmdCancelar")->click();
    });
    w.cmdConf_Click();
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(grid.row(*grid.rowOfPuert(5)).Descr, QStringLiteral("Editado en el formulario"));
    EXPECT_EQ(grid.row(view->currentIndex().row()).Puert, 5);
}

TEST_F(TelvarPortFormTest, WithoutACurrentPortTheFormDoesNotOpenAndNothingIsSaid)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    child<QTableView>(w, "DBGrid1")->setCurrentIndex(QModelIndex());
    bool opened = false;
    w.setPortFormRunner([&](HtmlCanal&) { opened = true; });
    w.cmdConf_Click();
    EXPECT_FALSE(opened);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

} // namespace
} // namespace telvar
