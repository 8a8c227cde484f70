// The port grid's status column: each port's state on its colour, with its
// details as the tooltip.
#include "app/widgets/Telvar.h"
#include "common/OwnTexts.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "status/widgets/PortStatusColumn.h"
#include "support/ConfigFixture.h"
#include "support/ManualClock.h"
#include "support/ScriptedPageLoader.h"
#include "support/widgets/WidgetLookup.h"

#include <QBrush>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>

namespace telvar {
namespace {

using namespace std::chrono_literals;
using test::child;
using test::clockButton;

// Ports 1 and 2 on clock 1 (every minute), port 3 without a clock.
class TelvarStatusTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m.Idioma = 2;
        const QString path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                                          {{1, QStringLiteral("<i>A</i>"), QStringLiteral("E1"), 1},
                                           {2, QStringLiteral("B"), QStringLiteral("E1"), 1},
                                           {3, QStringLiteral("C"), QStringLiteral("E1"), 0}});
        writeTLVDirec({path});
        ASSERT_TRUE(openDatabase(path)
                        ->exec(QStringLiteral(
                            "update HTMCONFI set WebPg = 'http://st/' || Puert || '.html', "
                            "Ident = 'T=', Inici = 1, Longi = 4, Carac = 'C1'"))
                        .ok());
        const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(qualitra, m.PassBD).ok());
        ASSERT_TRUE(openDatabase(qualitra)
                        ->exec(QStringLiteral("CREATE TABLE CXP (CXPMAQUI VARCHAR(8), "
                                              "CXPPRODU VARCHAR(20), CXPCARAC VARCHAR(8), "
                                              "CXPLINFC DOUBLE, CXPLSUPC DOUBLE)"))
                        .ok());
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(qualitra, m.PassBD);
    }

    struct Cell {
        PortState state = PortState::Stopped;
        QString text;
        QColor colour;
        QString tip;
    };
    // The status cell of the grid's row of port puert, as the view's model gives it.
    static std::optional<Cell> statusOf(Telvar& w, int puert)
    {
        const auto* view = child<QTableView>(w, "DBGrid1");
        const auto* model = qobject_cast<const PortStatusColumn*>(view->model());
        if (!model)
            return std::nullopt;
        const std::optional<int> row = w.configDatabase().RsConf().rowOfPuert(puert);
        if (!row)
            return std::nullopt;
        const QModelIndex cell = model->index(*row, model->statusColumn());
        return Cell{static_cast<PortState>(cell.data(PortStatusColumn::StateRole).toInt()),
                    cell.data(Qt::DisplayRole).toString(),
                    cell.data(Qt::BackgroundRole).value<QBrush>().color(),
                    cell.data(Qt::ToolTipRole).toString()};
    }

    test::ScriptedPageLoader loader;
    test::ManualClock clock;
};

TEST_F(TelvarStatusTest, TheStatusColumnColoursEachPortAndTellsItsDetails)
{
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    auto* view = child<QTableView>(w, "DBGrid1");
    const auto* model = qobject_cast<const PortStatusColumn*>(view->model());
    ASSERT_NE(model, nullptr);
    // Right after the port's number, under its caption.
    const QHeaderView* header = view->horizontalHeader();
    EXPECT_EQ(header->visualIndex(model->statusColumn()), 1);
    EXPECT_FALSE(header->isSectionHidden(model->statusColumn()));
    EXPECT_EQ(model->headerData(model->statusColumn(), Qt::Horizontal).toString(),
              QStringLiteral("Status"));

    // Stopped: every port grey, the tooltip says why.
    for (int puert : {1, 2, 3}) {
        const auto cell = statusOf(w, puert);
        ASSERT_TRUE(cell) << puert;
        EXPECT_EQ(cell->state, PortState::Stopped) << puert;
        EXPECT_EQ(cell->text, QStringLiteral("Stopped"));
        EXPECT_EQ(cell->colour, PortStatusColumn::colour(PortState::Stopped));
    }
    EXPECT_TRUE(statusOf(w, 1)->tip.contains(
        QStringLiteral("Status: Stopped: the acquisition is stopped")));
    EXPECT_TRUE(statusOf(w, 3)->tip.contains(QStringLiteral("Port 3, no clock")));

    // A cycle: port 1 reads markup from its page, port 2 finds nothing.
    QTest::mouseClick(child<QPushButton>(w, "cmdAbre"), Qt::LeftButton);
    ASSERT_TRUE(router.acquisition().isRunning());
    // Started, no poll finished yet: the ports with a clock wait.
    for (int puert : {1, 2}) {
        const auto waiting = statusOf(w, puert);
        ASSERT_TRUE(waiting) << puert;
        EXPECT_EQ(waiting->state, PortState::Waiting) << puert;
        EXPECT_EQ(waiting->text, QStringLiteral("Waiting"));
        EXPECT_EQ(waiting->colour, PortStatusColumn::colour(PortState::Waiting));
        EXPECT_TRUE(waiting->tip.contains(
            QStringLiteral("Status: Waiting: its first poll has not finished yet")))
            << waiting->tip.toStdString();
        EXPECT_TRUE(waiting->tip.contains(QStringLiteral("No reading yet")));
    }
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QTest::mouseClick(clockButton(w, 1), Qt::LeftButton);
    const auto pending = loader.pending();
    ASSERT_EQ(pending.size(), 2);
    loader.complete(pending[0].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=<b>1"), 200, {}});
    loader.complete(pending[1].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("nothing"), 200, {}});
    EXPECT_GE(changed.count(), 1);

    const auto ok = statusOf(w, 1);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->state, PortState::Ok);
    EXPECT_EQ(ok->text, QStringLiteral("OK"));
    EXPECT_EQ(ok->colour, PortStatusColumn::colour(PortState::Ok));
    // The page's text is shown as text, never read as markup.
    EXPECT_TRUE(ok->tip.startsWith(QStringLiteral("<qt>")));
    EXPECT_TRUE(ok->tip.contains(QStringLiteral("Last reading: &lt;b&gt;1 (2026-03-02 08:00:00)")))
        << ok->tip.toStdString();
    EXPECT_FALSE(ok->tip.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(ok->tip.contains(QStringLiteral("Port 1, clock 1 (every 1 min)")));

    const auto failing = statusOf(w, 2);
    ASSERT_TRUE(failing);
    EXPECT_EQ(failing->state, PortState::Failing);
    EXPECT_EQ(failing->colour, PortStatusColumn::colour(PortState::Failing));
    EXPECT_TRUE(failing->tip.contains(QStringLiteral("Failures in a row: 1")));
    EXPECT_EQ(failing->text, QStringLiteral("Failing"));
    // The tooltip is rich text: the quotes come escaped.
    EXPECT_TRUE(failing->tip.contains(
        QStringLiteral("Last failure: 2026-03-02 08:00:00: &quot;T=&quot; not found on the page")))
        << failing->tip.toStdString();

    // Port 1 hears nothing for more than two of its minutes: late.
    clock.advance(2min + 1s);
    router.status().ports().review();
    const auto late = statusOf(w, 1);
    EXPECT_EQ(late->state, PortState::Late);
    EXPECT_EQ(late->colour, PortStatusColumn::colour(PortState::Late));
    EXPECT_TRUE(late->tip.contains(QStringLiteral("Status: Late: no reading for more than 2 min")));

    // Stopped again: the grid shows every row, all of them grey.
    QTest::mouseClick(child<QPushButton>(w, "cmdAbre"), Qt::LeftButton);
    ASSERT_FALSE(router.acquisition().isRunning());
    for (int puert : {1, 2, 3})
        EXPECT_EQ(statusOf(w, puert)->colour, PortStatusColumn::colour(PortState::Stopped));
    // What was known of port 2 is still told.
    EXPECT_TRUE(statusOf(w, 2)->tip.contains(QStringLiteral("Failures in a row: 1")));
}

TEST_F(TelvarStatusTest, TheStatusColumnCannotBeEditedAndTheOthersStillCan)
{
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    auto* view = child<QTableView>(w, "DBGrid1");
    const auto* model = qobject_cast<const PortStatusColumn*>(view->model());
    ASSERT_NE(model, nullptr);
    const QModelIndex status = model->index(0, model->statusColumn());
    EXPECT_FALSE(status.flags() & Qt::ItemIsEditable);
    const int descr = w.configDatabase().RsConf().columnOf(QStringLiteral("Descr"));
    const QModelIndex description = model->index(0, descr);
    EXPECT_TRUE(description.flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(view->model()->setData(description, QStringLiteral("Nueva")));
    EXPECT_EQ(w.configDatabase().RsConf().row(*w.configDatabase().RsConf().rowOfPuert(1)).Descr,
              QStringLiteral("Nueva"));
}

TEST_F(TelvarStatusTest, InASpanishInstallationTheTooltipSpeaksSpanishOnly)
{
    m.Idioma = 1;
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    QTest::mouseClick(child<QPushButton>(w, "cmdAbre"), Qt::LeftButton);
    ASSERT_TRUE(router.acquisition().isRunning());
    EXPECT_EQ(statusOf(w, 1)->text, QStringLiteral("Esperando"));
    EXPECT_TRUE(statusOf(w, 1)->tip.contains(
        QStringLiteral("Estado: Esperando: su primer sondeo no ha terminado todavía")));

    // Port 1's station does not answer; port 2's page lacks its identifier.
    QTest::mouseClick(clockButton(w, 1), Qt::LeftButton);
    const auto pending = loader.pending();
    ASSERT_EQ(pending.size(), 2);
    loader.complete(pending[0].ticket, LoadedPage{{}, PageOutcome::Unreachable, {}, 0, {}});
    loader.complete(pending[1].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("nada"), 200, {}});
    const struct {
        int puert;
        QString cause;
    } cases[] = {{1, QStringLiteral("la estación no responde")},
                 {2, QStringLiteral("no se encontró «T=» en la página")}};
    for (const auto& c : cases) {
        const auto cell = statusOf(w, c.puert);
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->state, PortState::Failing);
        EXPECT_EQ(cell->text, QStringLiteral("Fallando"));
        EXPECT_TRUE(cell->tip.contains(QStringLiteral("Último fallo: 2026-03-02 08:00:00: ") +
                                       c.cause.toHtmlEscaped() + QStringLiteral("<br/>")))
            << cell->tip.toStdString();
        EXPECT_FALSE(cell->tip.contains(QStringLiteral("not found"))) << cell->tip.toStdString();
    }
}

} // namespace
} // namespace telvar
