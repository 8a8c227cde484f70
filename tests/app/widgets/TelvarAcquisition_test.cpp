#include "app/widgets/Telvar.h"
#include "common/OwnTexts.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "dialogs/widgets/GuiInteraccion.h"
#include "dialogs/widgets/MensaBox.h"
#include "support/ConfigFixture.h"
#include "support/ManualClock.h"
#include "support/ScriptedPageLoader.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;
using test::clockButton;

// The main window over a configuration with ports 1 and 2 on clock 1 and
// port 3 without a clock, an SPC database with limits, a scripted page
// loader and a manual clock.
class TelvarAcquisitionTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                            {{1, QStringLiteral("A"), QStringLiteral("E1"), 1},
                             {2, QStringLiteral("B"), QStringLiteral("E1"), 1},
                             {3, QStringLiteral("C"), QStringLiteral("E1"), 0}});
        writeTLVDirec({path});
        ASSERT_TRUE(openDatabase(path)
                        ->exec(QStringLiteral(
                            "update HTMCONFI set WebPg = 'http://st/' || Puert || '.html', "
                            "Ident = 'T=', Inici = 1, Longi = 4, Maqui = '@M=', Carac = 'C1'"))
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

    QString path;
    test::ScriptedPageLoader loader;
    test::ManualClock clock;
};

TEST_F(TelvarAcquisitionTest, StartAndStopSwitchTheButtonsTheGridAndTheClocks)
{
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    auto* cmdAbre = child<QPushButton>(w, "cmdAbre");
    auto* cmdConf = child<QPushButton>(w, "cmdConf");
    auto* grid = child<QTableView>(w, "DBGrid1");
    EXPECT_EQ(cmdAbre->text(), m.Mensajes(76, 2));

    QTest::mouseClick(cmdAbre, Qt::LeftButton);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(cmdAbre->text(), m.Mensajes(76, 3));
    EXPECT_FALSE(cmdConf->isEnabled());
    EXPECT_FALSE(child<QPushButton>(w, "bArchConf")->isEnabled());
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->currentIndex(), 1);
    EXPECT_TRUE(clockButton(w, 1)->isEnabled());
    EXPECT_FALSE(clockButton(w, 2)->isEnabled());
    EXPECT_EQ(grid->model()->rowCount(), 2);
    // Locked: no editor opens on a cell.
    const QModelIndex cell = grid->model()->index(0, 1);
    grid->setCurrentIndex(cell);
    grid->edit(cell);
    EXPECT_EQ(grid->findChild<QLineEdit*>(), nullptr);

    // A clock button polls its ports at once; the window shows what came.
    QTest::mouseClick(clockButton(w, 1), Qt::LeftButton);
    ASSERT_EQ(loader.pending().size(), 2);
    const auto pending = loader.pending();
    loader.complete(
        pending[0].ticket,
        LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=1.25 M=MAQ7"), 200, {}});
    loader.complete(pending[1].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("nothing"), 200, {}});
    EXPECT_EQ(child<QLabel>(w, "lblDato")->text(), QStringLiteral("1.25"));
    EXPECT_EQ(child<QLabel>(w, "lblMaquina")->text(), QStringLiteral("MAQ7"));
    // The status line says which port, when, and what became of it.
    const QString status = child<QLabel>(w, "lblStatus")->text();
    EXPECT_TRUE(status.contains(QStringLiteral(" 2: ")));
    EXPECT_TRUE(
        status.contains(ownText(OwnText::PortIdentNotFound, m.Idioma).arg(QStringLiteral("T="))))
        << status.toStdString();
    EXPECT_EQ(child<QPlainTextEdit>(w, "txtSource")->toPlainText(), QStringLiteral("nothing"));
    // The reading is on top of the readings grid; there is no data directory
    // for it, so once the writer has tried it the log box says it was not
    // recorded and the quarantine lists it.
    ASSERT_EQ(w.readings().rowCount(), 1);
    EXPECT_EQ(w.readings().reading(0).tag, QStringLiteral(" 1/001"));
    EXPECT_EQ(w.readings().reading(0).Maquina, QStringLiteral("MAQ7"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.recordingLog().lines().isEmpty(); }, 20000));
    EXPECT_EQ(child<QTableView>(w, "quarantine")->model()->rowCount(), 1);
    // The button follows the outbox's own count, read again after the batch.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return child<QPushButton>(w, "resendQuarantined")->isEnabled(); }, 20000));
    EXPECT_TRUE(w.recordingLog().lines()[0].contains(QStringLiteral("= 1.25")));

    QTest::mouseClick(cmdAbre, Qt::LeftButton);
    EXPECT_EQ(cmdAbre->text(), m.Mensajes(76, 2));
    // What the status line said belonged to the run that ended.
    EXPECT_EQ(child<QLabel>(w, "lblStatus")->text(), QString());
    EXPECT_TRUE(cmdConf->isEnabled());
    EXPECT_TRUE(child<QPushButton>(w, "bArchConf")->isEnabled());
    EXPECT_FALSE(clockButton(w, 1)->isEnabled());
    EXPECT_EQ(grid->model()->rowCount(), 3);
}

// A cycle with a page of 4 MiB on one line whose reading is markup, a good
// reading, and a reading whose data file another program holds locked: the
// window shows the markup as text and a bounded part of the page, the good
// reading is recorded at once and the locked one as soon as the file is
// free, without a box.
TEST_F(TelvarAcquisitionTest, AHostileCycleShowsTextOnlyAndRecordsEveryGoodReading)
{
    m.RutaDatos = QDir::toNativeSeparators(m.RutaApp + QStringLiteral("datos")) + QDir::separator();
    for (const QString& produ : {QStringLiteral("P1"), QStringLiteral("P2")}) {
        ASSERT_TRUE(QDir().mkpath(m.RutaDatos + QStringLiteral("F1/M1")));
        const QString file =
            m.RutaDatos + QStringLiteral("F1/M1/") + produ + QStringLiteral(".MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(file, m.PassBD).ok());
        ASSERT_TRUE(openDatabase(file)
                        ->exec(QStringLiteral("CREATE TABLE Datos (N INTEGER PRIMARY KEY "
                                              "AUTOINCREMENT, Fecha VARCHAR(20), Turno "
                                              "VARCHAR(10), Operador VARCHAR(8), C1 DOUBLE, T1 "
                                              "VARCHAR(40))"))
                        .ok());
    }
    auto config = openDatabase(path);
    ASSERT_TRUE(config
                    ->exec(QStringLiteral("update HTMCONFI set Reloj = '1', Forma = 'F1', "
                                          "Maqui = 'M1', Produ = 'P1'"))
                    .ok());
    ASSERT_TRUE(config
                    ->exec(QStringLiteral("update HTMCONFI set Longi = 19, Carac = 'T1' "
                                          "where Puert = 1"))
                    .ok());
    ASSERT_TRUE(
        config->exec(QStringLiteral("update HTMCONFI set Produ = 'P2' where Puert = 3")).ok());
    auto locker = openDatabase(m.RutaDatos + QStringLiteral("F1/M1/P2.MDB"));
    ASSERT_TRUE(locker->exec(QStringLiteral("BEGIN IMMEDIATE")).ok());

    Router router(m, ui, loader, clock);
    router.open();
    router.recording().setLockWait(std::chrono::milliseconds(50));
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    QTest::mouseClick(child<QPushButton>(w, "cmdAbre"), Qt::LeftButton);
    ASSERT_TRUE(w.acquisition().isRunning());
    QTest::mouseClick(clockButton(w, 1), Qt::LeftButton);
    const auto pending = loader.pending();
    ASSERT_EQ(pending.size(), 3);
    const QString markup = QStringLiteral("<img src=/dev/zero>");
    loader.complete(pending[0].ticket,
                    LoadedPage{{},
                               PageOutcome::Complete,
                               QStringLiteral("T=") + markup + QString(4 << 20, QLatin1Char('x')),
                               200,
                               {}});
    loader.complete(pending[1].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=12.5"), 200, {}});
    loader.complete(pending[2].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=13.5"), 200, {}});
    ASSERT_EQ(w.readings().rowCount(), 3);
    EXPECT_EQ(w.readings().reading(2).reading, markup);

    // Markup is text in every label; the page box holds a bounded excerpt.
    for (const char* name : {"lblDato", "lblFormato", "lblMaquina", "lblProducto", "lblStatus"})
        EXPECT_EQ(child<QLabel>(w, name)->textFormat(), Qt::PlainText) << name;
    EXPECT_LT(child<QPlainTextEdit>(w, "txtSource")->toPlainText().size(), 70 * 1024);

    const auto cells = [&](const QString& produ, const QString& column) {
        QStringList values;
        auto cn =
            openDatabase(m.RutaDatos + QStringLiteral("F1/M1/") + produ + QStringLiteral(".MDB"));
        auto q =
            cn->exec(QStringLiteral("select ") + column + QStringLiteral(" from Datos where ") +
                     column + QStringLiteral(" is not null order by N"));
        while (q && q.value().next())
            values.append(q.value().value(0).toString());
        return values;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return cells(QStringLiteral("P1"), QStringLiteral("C1")).size() == 1; }, 20000));
    EXPECT_EQ(cells(QStringLiteral("P1"), QStringLiteral("T1")), QStringList{markup});
    EXPECT_EQ(cells(QStringLiteral("P1"), QStringLiteral("C1")),
              QStringList{QStringLiteral("12.5")});
    // The locked file's reading waits in the outbox, said once in the log.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.recordingLog().lines().isEmpty(); }, 20000));
    // The counts are the outbox's, read again after the batches.
    EXPECT_TRUE(QTest::qWaitFor([&] { return router.recording().waiting() == 1; }, 20000));
    ASSERT_TRUE(locker->exec(QStringLiteral("COMMIT")).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return router.recording().waiting() == 0; }, 20000));
    EXPECT_EQ(cells(QStringLiteral("P2"), QStringLiteral("C1")),
              QStringList{QStringLiteral("13.5")});
    EXPECT_EQ(w.recordingLog().lines().size(), 2);
    EXPECT_TRUE(w.recordingLog().lines().last().contains(
        QStringLiteral("1 lecturas grabadas con retraso")));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

// Port 2's address is refused for its scheme at every cycle, as a station
// misconfigured for months: its report comes in one box, shown on screen
// without modality, at the first of five cycles only; while it is shown,
// Stop (pressed the way a person presses it, through the window system,
// where a modal box would block it) stops the acquisition and the cycle
// under way at once.
TEST_F(TelvarAcquisitionTest, APortFailingAlikeEveryCycleGetsOneBoxAndStopWorksWhileItIsShown)
{
    GuiInteraccion gui(m, QStringLiteral("Telvar"));
    Router router(m, gui, loader, clock);
    router.open();
    Telvar w(m, gui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    auto* cmdAbre = child<QPushButton>(w, "cmdAbre");
    const auto press = [&](QPushButton* button) {
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {},
                          button->mapTo(&w, button->rect().center()));
    };
    press(cmdAbre);
    ASSERT_TRUE(w.acquisition().isRunning());

    const Error refused{1, QStringLiteral("libcurl"),
                        QStringLiteral("Unsupported protocol: only http and https pages are "
                                       "loaded, not \"ftp\"")};
    QList<QPointer<MensaBox>> shown;
    for (int cycle = 1; cycle <= 5; ++cycle) {
        SCOPED_TRACE(cycle);
        press(clockButton(w, 1));
        const auto pending = loader.pending();
        ASSERT_EQ(pending.size(), 2);
        loader.complete(pending[0].ticket,
                        LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=1.25"), 200, {}});
        loader.complete(pending[1].ticket,
                        LoadedPage{{}, PageOutcome::Failed, QString(), 0, refused});
        ASSERT_EQ(w.acquisition().cyclesRunning(), 0);
        MensaBox* box = gui.shownNotice();
        ASSERT_NE(box, nullptr);
        if (!shown.contains(box))
            shown.append(box);
        if (cycle == 1) {
            // Paused, so that a slow machine cannot see it close by itself.
            QWidget* strip = child<QWidget>(*box, "PlayPauseStop");
            QTest::mouseClick(strip, Qt::LeftButton, {},
                              QPoint(strip->width() * 5 / 8, strip->height() / 2));
        }
    }
    ASSERT_EQ(shown.size(), 1);
    MensaBox* box = gui.shownNotice();
    EXPECT_EQ(box->Mensaje().count(QStringLiteral("Telvar. bReloj_Click(1) ")), 1);
    EXPECT_TRUE(box->Mensaje().contains(QStringLiteral("http://st/2.html")));
    EXPECT_TRUE(box->Mensaje().endsWith(QStringLiteral("1.- ") + refused.description));
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The grid's status column and the log carry the failure meanwhile.
    EXPECT_EQ(w.readings().rowCount(), 5);

    // A cycle under way, the box shown: Stop.
    press(clockButton(w, 1));
    ASSERT_EQ(w.acquisition().cyclesRunning(), 1);
    QSignalSpy running(&w.acquisition(), &Acquisition::runningChanged);
    press(cmdAbre);
    ASSERT_EQ(running.size(), 1);
    EXPECT_FALSE(running[0][0].toBool());
    EXPECT_FALSE(w.acquisition().isRunning());
    EXPECT_EQ(w.acquisition().cyclesRunning(), 0);
    EXPECT_TRUE(loader.pending().isEmpty());
    EXPECT_EQ(cmdAbre->text(), m.Mensajes(76, 2));
    EXPECT_FALSE(clockButton(w, 1)->isEnabled());
    EXPECT_EQ(gui.shownNotice(), box);

    // Started again, the same failure is boxed again (in the same box,
    // which is still shown).
    press(cmdAbre);
    ASSERT_TRUE(w.acquisition().isRunning());
    press(clockButton(w, 1));
    const auto pending = loader.pending();
    ASSERT_EQ(pending.size(), 2);
    loader.complete(pending[1].ticket, LoadedPage{{}, PageOutcome::Failed, QString(), 0, refused});
    loader.complete(pending[0].ticket,
                    LoadedPage{{}, PageOutcome::Complete, QStringLiteral("T=1.25"), 200, {}});
    EXPECT_EQ(gui.shownNotice(), box);
    EXPECT_EQ(box->Mensaje().count(QStringLiteral("Telvar. bReloj_Click(1) ")), 2);
}

TEST_F(TelvarAcquisitionTest, AnOpenCellEditorHoldsTheButtonsUntilItCloses)
{
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* grid = child<QTableView>(w, "DBGrid1");
    auto* cmdAbre = child<QPushButton>(w, "cmdAbre");
    auto* cmdConf = child<QPushButton>(w, "cmdConf");
    const int descr = w.configDatabase().RsConf().columnOf(QStringLiteral("Descr"));

    // Moving to another cell, of the same row or another, writes the cell
    // and closes its editor: the buttons are free again.
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        const QModelIndex cell = grid->model()->index(0, descr);
        grid->setCurrentIndex(cell);
        grid->edit(cell);
        auto* editor = grid->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        QTest::keyClick(editor, Qt::Key_X);
        EXPECT_FALSE(cmdAbre->isEnabled());
        EXPECT_FALSE(cmdConf->isEnabled());
        grid->setCurrentIndex(grid->model()->index(row, descr + 1));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(cmdAbre->isEnabled());
        EXPECT_TRUE(cmdConf->isEnabled());
    }
}

TEST_F(TelvarAcquisitionTest, TheHtmlButtonFetchesWithoutBlockingAndTheCyclesStillSpeak)
{
    Router router(m, ui, loader, clock);
    router.open();
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    auto* grid = child<QTableView>(w, "DBGrid1");
    auto* status = child<QLabel>(w, "lblStatus");
    grid->setCurrentIndex(grid->model()->index(0, 1));
    QTest::mouseClick(child<QPushButton>(w, "cmdHtml"), Qt::LeftButton);
    ASSERT_EQ(loader.pending().size(), 1);
    EXPECT_EQ(loader.pending().first().url, QStringLiteral("http://st/1.html"));
    loader.complete(
        loader.pending().first().ticket,
        LoadedPage{{}, PageOutcome::Complete, QStringLiteral("<html>T=1</html>"), 200, {}});
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(child<QPlainTextEdit>(w, "txtSource")->toPlainText(),
              QStringLiteral("<html>T=1</html>"));
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->currentIndex(), 1);

    // A station that does not answer: said on the status line, no box.
    grid->setCurrentIndex(grid->model()->index(1, 1));
    QTest::mouseClick(child<QPushButton>(w, "cmdHtml"), Qt::LeftButton);
    loader.complete(loader.pending().first().ticket,
                    LoadedPage{{}, PageOutcome::Unreachable, QString(), 0, {}});
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_TRUE(status->text().contains(QStringLiteral(" 2: ")));
    EXPECT_TRUE(status->text().contains(ownText(OwnText::PreviewUnreachable, m.Idioma)));

    // A cycle that misses its identifier says so after the button's text.
    QTest::mouseClick(child<QPushButton>(w, "cmdAbre"), Qt::LeftButton);
    QTest::mouseClick(clockButton(w, 1), Qt::LeftButton);
    for (const auto& request : loader.pending())
        loader.complete(request.ticket,
                        LoadedPage{{}, PageOutcome::Complete, QStringLiteral("nothing"), 200, {}});
    EXPECT_TRUE(status->text().contains(
        ownText(OwnText::PortIdentNotFound, m.Idioma).arg(QStringLiteral("T="))))
        << status->text().toStdString();
}

} // namespace
} // namespace telvar
