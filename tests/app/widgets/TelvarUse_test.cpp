// The main window as a person works it: the keys that edit the configuration
// grid and those that must not, undo, the layout at small and large sizes
// and between runs, the readings grid that keeps an older reading in view,
// the HTML fetch that never blocks, the status line.
#include "acquisition/PortOutcome.h"
#include "app/widgets/ReadingChart.h"
#include "app/widgets/Telvar.h"
#include "common/OwnTexts.h"
#include "database/Connection.h"
#include "support/ConfigFixture.h"
#include "support/ManualClock.h"
#include "support/ScriptedPageLoader.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;

class TelvarUseTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"));
        writeTLVDirec({m_path});
    }

    // Every value of the configuration's ports, in order.
    QStringList configuration() const
    {
        auto cn = openDatabase(m_path);
        auto rows = cn->exec(QStringLiteral("SELECT * FROM HTMCONFI ORDER BY Puert"));
        EXPECT_TRUE(rows.ok());
        QStringList values;
        while (rows.ok() && rows.value().next()) {
            const QSqlRecord record = rows.value().record();
            for (int c = 0; c < record.count(); ++c)
                values.append(record.value(c).toString());
        }
        return values;
    }

    QString identOf(int puert) const
    {
        auto cn = openDatabase(m_path);
        auto row =
            cn->exec(QStringLiteral("SELECT Ident FROM HTMCONFI WHERE Puert = %1").arg(puert));
        if (!row.ok() || !row.value().next())
            return QStringLiteral("(no row)");
        return row.value().value(0).toString();
    }

    // The window on the fixture's configuration, shown and active, the grid
    // on port 1's identifier.
    void open(Telvar& w)
    {
        ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTableView* grid = child<QTableView>(w, "DBGrid1");
        grid->setFocus();
        const ConfigGridModel& rows = w.configDatabase().RsConf();
        grid->setCurrentIndex(grid->model()->index(0, rows.columnOf(QStringLiteral("Ident"))));
    }

    static void clickRow(QTableView* grid, int row)
    {
        const QModelIndex cell = grid->model()->index(row, grid->currentIndex().column());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
        QCoreApplication::processEvents();
    }

    static ReadingRow reading(int puert, const QString& value)
    {
        ReadingRow row;
        row.tag = QStringLiteral(" 1/%1").arg(puert, 3, 10, QLatin1Char('0'));
        row.dateTime = QStringLiteral("2026/12/11 10:00:00");
        row.Carac = QStringLiteral("DIAM");
        row.reading = value;
        row.value = value.toDouble();
        row.LimInf = 0;
        row.LimSup = 100;
        row.arrivedAt = QDateTime::currentDateTime();
        return row;
    }

    QString m_path;
};

TEST_F(TelvarUseTest, StrayKeysAndClicksLeaveTheConfigurationAsItWas)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    open(w);
    const QStringList before = configuration();
    QTableView* grid = child<QTableView>(w, "DBGrid1");

    // Letters, a whole address typed blind, and clicks on other rows.
    QTest::keyClicks(grid, QStringLiteral("z"));
    clickRow(grid, 1);
    QTest::keyClicks(grid, QStringLiteral("DIAM="));
    clickRow(grid, 2);
    QTest::keyClick(grid, Qt::Key_Delete);
    QTest::keyClick(grid, Qt::Key_Backspace);
    clickRow(grid, 0);
    // Enter opens the cell's editor on its stored value; leaving it
    // unchanged writes nothing.
    QTest::keyClick(grid, Qt::Key_Return);
    ASSERT_NE(grid->findChild<QLineEdit*>(), nullptr);
    clickRow(grid, 1);

    EXPECT_EQ(configuration(), before);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarUseTest, EditsOpenOnPurposeEscapeCancelsAndUndoTakesTheChangeBack)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    open(w);
    QTableView* grid = child<QTableView>(w, "DBGrid1");
    QPushButton* start = child<QPushButton>(w, "cmdAbre");
    QPushButton* undo = child<QPushButton>(w, "cmdUndo");
    const QString identBefore = identOf(1);
    EXPECT_FALSE(undo->isEnabled());

    struct Case {
        const char* name;
        Qt::Key opener;
        bool typeAndWrite; // else: type, then Escape
    };
    const Case cases[] = {
        {"F2 then Escape", Qt::Key_F2, false},
        {"Enter then Escape", Qt::Key_Return, false},
        {"F2, type, Enter", Qt::Key_F2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        grid->setFocus();
        QTest::keyClick(grid, c.opener);
        auto* editor = grid->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        // While a cell is open, Start says why it cannot be pressed.
        EXPECT_FALSE(start->isEnabled());
        EXPECT_FALSE(start->toolTip().isEmpty());
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("NEW="));
        QTest::keyClick(editor, c.typeAndWrite ? Qt::Key_Return : Qt::Key_Escape);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(start->isEnabled());
        EXPECT_TRUE(start->toolTip().isEmpty());
        EXPECT_EQ(identOf(1), c.typeAndWrite ? QStringLiteral("NEW=") : identBefore);
    }

    // Ctrl+Z on the grid (or the button) puts the field back.
    ASSERT_TRUE(undo->isEnabled());
    EXPECT_TRUE(undo->toolTip().contains(identBefore));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(identOf(1), identBefore);
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarUseTest, AWindowClosedWithACellOpenTakesItsEditorAlong)
{
    Router router(m, ui);
    const QStringList before = configuration();
    {
        Telvar w(m, ui, router);
        open(w);
        QTableView* grid = child<QTableView>(w, "DBGrid1");
        QTest::keyClick(grid, Qt::Key_F2);
        auto* editor = grid->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        QTest::keyClicks(editor, QStringLiteral("half"));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(configuration(), before);
}

TEST_F(TelvarUseTest, TabLeavesTheGridWhenNotEditing)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    open(w);
    QTableView* grid = child<QTableView>(w, "DBGrid1");
    ASSERT_TRUE(grid->hasFocus());
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_FALSE(grid->hasFocus());
    EXPECT_NE(QApplication::focusWidget(), nullptr);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Backtab);
    EXPECT_FALSE(grid->hasFocus());
}

TEST_F(TelvarUseTest, TheFirstPortIsChosenAtStartAndConfigureWithoutAPortEndsSilently)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    bool formShown = false;
    w.setPortFormRunner([&formShown](HtmlCanal&) { formShown = true; });
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    QTableView* grid = child<QTableView>(w, "DBGrid1");
    ASSERT_TRUE(grid->currentIndex().isValid());
    EXPECT_EQ(w.configDatabase().RsConf().row(grid->currentIndex().row()).Puert, 1);
    // Until a reading is picked, the chart shows that port.
    EXPECT_EQ(w.readingChart().port(), QStringLiteral(" 1/001"));

    grid->setCurrentIndex(QModelIndex());
    w.cmdConf_Click();
    w.cmdHtml_Click();
    EXPECT_FALSE(formShown);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_FALSE(w.fetchingPage());
}

// The key columns of the readings grid lie inside its viewport.
void expectKeyColumnsInView(Telvar& w)
{
    QTableView* readings = child<QTableView>(w, "DatoFlexGrid");
    const QRect viewport = readings->viewport()->rect();
    struct Column {
        const char* name;
        int column;
    };
    for (const Column& c : {Column{"port", 0}, Column{"date", 1}, Column{"characteristic", 6},
                            Column{"reading", 7}, Column{"D", 8}}) {
        SCOPED_TRACE(c.name);
        const QRect cell = readings->visualRect(readings->model()->index(0, c.column));
        EXPECT_TRUE(viewport.contains(cell))
            << "cell " << cell.x() << "+" << cell.width() << " viewport " << viewport.width();
        // Wide enough for its caption.
        EXPECT_GE(cell.width(), readings->horizontalHeader()->sectionSizeHint(c.column) - 8);
    }
}

TEST_F(TelvarUseTest, KeyReadingColumnsFitAt1024And1920Stretches)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    // Made on a large screen, then narrowed to a small one.
    w.resize(1920, 1080);
    w.show();
    QCoreApplication::processEvents();
    w.resize(1024, 768);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    child<QTabWidget>(w, "SSTab1")->setCurrentIndex(1);
    w.readings().addReading(reading(1, QStringLiteral("24.99")));
    QCoreApplication::processEvents();
    expectKeyColumnsInView(w);
    // The log gets a few lines, not the most of the tab.
    const auto* log = child<QPlainTextEdit>(w, "txtGraba");
    EXPECT_LT(log->height(), child<QTableView>(w, "DatoFlexGrid")->height());

    w.resize(1920, 1080);
    QCoreApplication::processEvents();
    expectKeyColumnsInView(w);
    // Wide, the columns use the width they are given.
    for (const char* name : {"DatoFlexGrid", "DBGrid1"}) {
        SCOPED_TRACE(name);
        QTableView* grid = child<QTableView>(w, name);
        child<QTabWidget>(w, "SSTab1")->setCurrentIndex(qstrcmp(name, "DBGrid1") == 0 ? 0 : 1);
        QCoreApplication::processEvents();
        EXPECT_GE(grid->horizontalHeader()->length(), grid->viewport()->width() - 8);
    }
}

TEST_F(TelvarUseTest, SplittersAndColumnWidthsAreKeptBetweenRuns)
{
    QFile::remove(Telvar::layoutFile());
    QList<int> splits;
    {
        Router router(m, ui);
        Telvar w(m, ui, router);
        ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
        w.resize(1200, 800);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        auto* splitter = child<QSplitter>(w, "readingsSplitter");
        QList<int> sizes = splitter->sizes();
        sizes[1] += 60;
        sizes[0] -= 60;
        splitter->setSizes(sizes);
        splits = splitter->sizes();
        // The person drags the characteristic column wider.
        child<QTableView>(w, "DatoFlexGrid")->horizontalHeader()->resizeSection(6, 211);
        w.close();
    }
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(child<QSplitter>(w, "readingsSplitter")->sizes(), splits);
    EXPECT_EQ(child<QTableView>(w, "DatoFlexGrid")->columnWidth(6), 211);
}

TEST_F(TelvarUseTest, TheReadingsGridKeepsAPickedReadingWhileNewOnesArrive)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    w.resize(1024, 400);
    w.show();
    child<QTabWidget>(w, "SSTab1")->setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTableView* grid = child<QTableView>(w, "DatoFlexGrid");
    QPushButton* mark = child<QPushButton>(w, "newReadings");
    for (int i = 0; i < 40; ++i)
        w.readings().addReading(reading(1 + i % 5, QString::number(i)));
    // At the top, the newest reading is the current row.
    EXPECT_EQ(grid->currentIndex().row(), 0);
    EXPECT_FALSE(mark->isVisible());

    // The person scrolls down and picks an older reading.
    grid->scrollTo(grid->model()->index(30, 0));
    QCoreApplication::processEvents();
    grid->setCurrentIndex(grid->model()->index(30, 7));
    const int scroll = grid->verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);
    for (int i = 0; i < 3; ++i)
        w.readings().addReading(reading(2, QStringLiteral("new")));
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->currentIndex().row(), 33);
    EXPECT_EQ(grid->currentIndex().data().toString(), QStringLiteral("9"));
    EXPECT_EQ(grid->verticalScrollBar()->value(), scroll + 3);
    EXPECT_TRUE(mark->isVisible());
    EXPECT_TRUE(mark->text().contains(QLatin1Char('3')));

    // The mark takes the person back to the newest, which is followed again.
    QTest::mouseClick(mark, Qt::LeftButton);
    EXPECT_EQ(grid->currentIndex().row(), 0);
    EXPECT_FALSE(mark->isVisible());
    w.readings().addReading(reading(3, QStringLiteral("newest")));
    EXPECT_EQ(grid->currentIndex().row(), 0);
    EXPECT_EQ(grid->verticalScrollBar()->value(), 0);
}

TEST_F(TelvarUseTest, TheHtmlFetchRunsOnTheLoaderAndItsPageStays)
{
    test::ScriptedPageLoader loader;
    test::ManualClock clock;
    ASSERT_TRUE(openDatabase(m_path)
                    ->exec(QStringLiteral("UPDATE HTMCONFI SET WebPg = "
                                          "'http://op:secret@st/1.html' WHERE Puert = 1"))
                    .ok());
    Router router(m, ui, loader, clock);
    Telvar w(m, ui, router);
    open(w);
    w.cmdHtml_Click();
    // The press returns at once; a second press while it runs does nothing.
    ASSERT_EQ(loader.pending().size(), 1);
    EXPECT_TRUE(w.fetchingPage());
    EXPECT_FALSE(child<QPushButton>(w, "cmdHtml")->isEnabled());
    w.cmdHtml_Click();
    EXPECT_EQ(loader.requests().size(), 1);
    EXPECT_TRUE(child<QLabel>(w, "lblStatus")->text().contains(QLatin1Char('1')));
    // The address is shown without its password.
    EXPECT_FALSE(child<QLabel>(w, "lblStatus")->text().contains(QStringLiteral("secret")));

    LoadedPage page;
    page.outcome = PageOutcome::Complete;
    page.httpStatus = 200;
    page.text = QStringLiteral("<html>DIAM=24.99</html>");
    ASSERT_TRUE(loader.complete(loader.pending().first().ticket, page));
    EXPECT_FALSE(w.fetchingPage());
    EXPECT_EQ(child<QPlainTextEdit>(w, "txtSource")->toPlainText(), page.text);
    const QString pageOf = child<QLabel>(w, "pageOf")->text();
    EXPECT_TRUE(pageOf.contains(QStringLiteral("HTML"))) << pageOf.toStdString();
    EXPECT_TRUE(pageOf.contains(QLatin1Char('1')));
    EXPECT_TRUE(ui.boxes.isEmpty());

    // A cycle's page does not replace it until the box follows the cycles.
    w.acquisition().display().setText(AcquisitionDisplay::Field::txtSource,
                                      QStringLiteral("cycle page"));
    EXPECT_EQ(child<QPlainTextEdit>(w, "txtSource")->toPlainText(), page.text);
    ASSERT_TRUE(child<QPushButton>(w, "pageFollow")->isVisible());
    QTest::mouseClick(child<QPushButton>(w, "pageFollow"), Qt::LeftButton);
    w.acquisition().display().setText(AcquisitionDisplay::Field::txtSource,
                                      QStringLiteral("cycle page"));
    EXPECT_EQ(child<QPlainTextEdit>(w, "txtSource")->toPlainText(), QStringLiteral("cycle page"));

    // A station that does not answer: said on the status line, no box.
    w.cmdHtml_Click();
    LoadedPage silent;
    silent.outcome = PageOutcome::TimedOut;
    ASSERT_TRUE(loader.complete(loader.pending().first().ticket, silent));
    EXPECT_TRUE(child<QLabel>(w, "lblStatus")
                    ->text()
                    .contains(ownText(OwnText::PreviewTimedOut, m.Idioma)));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

} // namespace
} // namespace telvar
