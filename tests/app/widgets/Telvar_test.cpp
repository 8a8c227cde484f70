#include "app/widgets/GridLayouts.h"
#include "app/widgets/Telvar.h"
#include "common/Twips.h"
#include "common/Version.h"
#include "config/widgets/TelvarConfig.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "support/ConfigFixture.h"
#include "support/widgets/WidgetLookup.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;
using test::child;
using test::clockButton;

class TelvarTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"));
        writeTLVDirec({m_path});
    }
    QStringList visibleFields(const Telvar& w) const
    {
        const QHeaderView* header = child<QTableView>(w, "DBGrid1")->horizontalHeader();
        const ConfigGridModel& grid = const_cast<Telvar&>(w).configDatabase().RsConf();
        QStringList fields;
        for (int visual = 0; visual < header->count(); ++visual) {
            const int logical = header->logicalIndex(visual);
            // The configuration's own fields; the ports' status column after
            // them has its own test (TelvarStatus_test).
            if (!header->isSectionHidden(logical) && logical < grid.columnCount())
                fields.append(grid.record().fieldName(logical).toUpper());
        }
        return fields;
    }
    // A small SPC database whose master keys have these widths.
    void createQualitra(int widthPRO)
    {
        const QString path = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(path, m.PassBD).ok());
        auto cn = openDatabase(path);
        const struct {
            const char* table;
            const char* key;
            const char* description;
            int width;
        } tables[] = {{"USU", "USUCLAVE", "USUDESCR", 8}, {"EST", "ESTCLAVE", "ESTDESC1", 8},
                      {"MAQ", "MAQCLAVE", "MAQDESC1", 8}, {"PRO", "PROCLAVE", "PRODESC1", widthPRO},
                      {"FRM", "FRMCLAVE", "FRMDESC1", 8}, {"CAR", "CARCLAVE", "CARDESC1", 8},
                      {"INS", "INSCLAVE", "INSDESCR", 8}};
        for (const auto& t : tables)
            ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(%3), %4 VARCHAR(40))")
                                     .arg(QLatin1String(t.table), QLatin1String(t.key))
                                     .arg(t.width)
                                     .arg(QLatin1String(t.description)))
                            .ok());
        m.CadConexion = jetConnectionString(path, m.PassBD);
        m.AnchoUSU = m.AnchoEST = m.AnchoMAQ = m.AnchoPRO = m.AnchoFRM = m.AnchoCAR = 0;
    }

    QString m_path;
};

TEST_F(TelvarTest, TheGridShowsTheFourteenColumnsInOrderWithTheirCaptions)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    // Wide enough for every column's own width (a narrower window narrows
    // the long-text columns, down to their captions).
    w.resize(1920, 1080);
    w.show();
    QCoreApplication::processEvents();
    QStringList expected;
    for (const char* field : {"PUERT", "DESCR", "WEBPG", "IDENT", "INICI", "LONGI", "ESTAC",
                              "MAQUI", "PRODU", "FORMA", "CARAC", "OPERA", "RELOJ", "INTER"})
        expected.append(QLatin1String(field));
    EXPECT_EQ(visibleFields(w), expected);
    ConfigGridModel& grid = w.configDatabase().RsConf();
    const QHeaderView* header = child<QTableView>(w, "DBGrid1")->horizontalHeader();
    for (const ConfigGridColumn& c : kConfigGridColumns) {
        const int logical = grid.columnOf(QLatin1String(c.field));
        ASSERT_GE(logical, 0) << c.field;
        EXPECT_EQ(grid.headerData(logical, Qt::Horizontal).toString(), m.Mensajes(c.caption))
            << c.field;
        // At least its width in twips, and never narrower than its caption.
        EXPECT_GE(header->sectionSize(logical), twipsToPixels(c.widthTwips, w.logicalDpiX()))
            << c.field;
        EXPECT_GE(header->sectionSize(logical), header->sectionSizeHint(logical)) << c.field;
    }
    EXPECT_TRUE(header->isSectionHidden(grid.columnOf(QStringLiteral("CLAVE"))));
    EXPECT_EQ(grid.rowCount(), 3);
    EXPECT_EQ(grid.data(grid.index(2, grid.columnOf(QStringLiteral("Puert")))).toInt(), 5);
    EXPECT_EQ(child<QPushButton>(w, "bArchConf")->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->tabText(0), m.Mensajes(76, 5));
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->tabText(1), m.Mensajes(76, 6));
    EXPECT_EQ(child<QPushButton>(w, "cmdAbre")->text(), m.Mensajes(76, 2));
    EXPECT_EQ(child<QPushButton>(w, "cmdConf")->text(), m.Mensajes(76, 4));
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(clockButton(w, i)->toolTip(),
                  m.Mensajes(76, 8) + QLatin1Char(' ') + QString::number(i));
        EXPECT_EQ(clockButton(w, i)->text(), QString::number(i));
        EXPECT_FALSE(clockButton(w, i)->isEnabled());
    }
}

TEST_F(TelvarTest, APortNumberCannotBeTypedOver)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    ConfigGridModel& grid = w.configDatabase().RsConf();
    const QModelIndex port = grid.index(0, grid.columnOf(QStringLiteral("Puert")));
    child<QTableView>(w, "DBGrid1")->setCurrentIndex(port);
    child<QTableView>(w, "DBGrid1")->edit(port);
    EXPECT_EQ(child<QTableView>(w, "DBGrid1")->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(child<QTableView>(w, "DBGrid1")->indexWidget(port), nullptr);
}

TEST_F(TelvarTest, ACellTypedInTheGridReachesTheDatabaseAndTheGridKeepsItsPlace)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ConfigGridModel& grid = w.configDatabase().RsConf();
    const int estacColumn = grid.columnOf(QStringLiteral("Estac"));
    // The grid shows the configuration's columns under their own numbers.
    const QModelIndex cell =
        child<QTableView>(w, "DBGrid1")->model()->index(1, estacColumn); // port 2
    child<QTableView>(w, "DBGrid1")->setCurrentIndex(cell);
    child<QTableView>(w, "DBGrid1")->edit(cell);
    auto* editor = child<QTableView>(w, "DBGrid1")->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("EST77"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();

    auto cn = openDatabase(m_path);
    auto row = cn->exec(QStringLiteral("SELECT Estac FROM HTMCONFI WHERE Puert = 2"));
    ASSERT_TRUE(row.ok() && row.value().next());
    EXPECT_EQ(row.value().value(0).toString(), QStringLiteral("EST77"));
    EXPECT_TRUE(ui.boxes.isEmpty());
    // The rows were read again: the layout and the current port survive it.
    EXPECT_EQ(visibleFields(w).size(), 14);
    EXPECT_EQ(visibleFields(w).first(), QStringLiteral("PUERT"));
    EXPECT_EQ(grid.row(child<QTableView>(w, "DBGrid1")->currentIndex().row()).Puert, 2);
    EXPECT_EQ(child<QTableView>(w, "DBGrid1")->currentIndex().column(), estacColumn);
}

TEST_F(TelvarTest, ReopeningTheConfigurationKeepsTheCurrentPort)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    ConfigGridModel& grid = w.configDatabase().RsConf();
    const int description = grid.columnOf(QStringLiteral("Descr"));
    child<QTableView>(w, "DBGrid1")->setCurrentIndex(grid.index(*grid.rowOfPuert(5), description));
    // Another program adds a port before it: port 5 moves down a row.
    openDatabase(m_path)->exec(
        QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr) VALUES (3, 'Nuevo')"));
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    ASSERT_TRUE(child<QTableView>(w, "DBGrid1")->currentIndex().isValid());
    EXPECT_EQ(grid.row(child<QTableView>(w, "DBGrid1")->currentIndex().row()).Puert, 5);
    EXPECT_EQ(child<QTableView>(w, "DBGrid1")->currentIndex().column(), description);
}

TEST_F(TelvarTest, WithoutTLVDirecTheWindowStaysOpenAndUnbound)
{
    QFile::remove(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    Router router(m, ui);
    Telvar w(m, ui, router);
    EXPECT_EQ(w.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("53.- ")));
    EXPECT_EQ(child<QTableView>(w, "DBGrid1")->model()->rowCount(), 0);
    EXPECT_FALSE(w.configDatabase().RsConf().isBound());
    // Buttons and tabs still carry their captions, so the person can choose
    // a configuration database.
    EXPECT_EQ(child<QPushButton>(w, "cmdAbre")->text(), m.Mensajes(76, 2));
    EXPECT_EQ(child<QTabWidget>(w, "SSTab1")->tabText(0), m.Mensajes(76, 5));
    EXPECT_FALSE(child<QPushButton>(w, "bArchConf")->text().isEmpty());
    EXPECT_TRUE(child<QPushButton>(w, "bArchConf")->isEnabled());
}

TEST_F(TelvarTest, TheReadingsGridHasItsNineHeadersWidthsAndAlignments)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    // Wide enough for every column's own width (a narrower window narrows
    // the operator, format, machine and product first).
    w.resize(1920, 1080);
    w.show();
    child<QTabWidget>(w, "SSTab1")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    QTableView* grid = child<QTableView>(w, "DatoFlexGrid");
    ASSERT_EQ(grid->model()->columnCount(), 9);
    for (int c = 0; c < 9; ++c) {
        const ReadingsColumn& column = kReadingsColumns[std::size_t(c)];
        const QString expected =
            column.fixedHeader ? QLatin1String(column.fixedHeader) : m.Mensajes(column.header);
        EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), expected) << c;
        EXPECT_GE(grid->columnWidth(c),
                  twipsToPixels(kReadingsColumnWidths[std::size_t(c)].widthTwips, w.logicalDpiX()))
            << c;
        const auto alignment = grid->model()
                                   ->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole)
                                   .value<Qt::Alignment>();
        EXPECT_EQ(bool(alignment & Qt::AlignHCenter), column.centred) << c;
    }
    EXPECT_EQ(grid->model()->headerData(8, Qt::Horizontal).toString(), QStringLiteral("D"));
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), m.Mensajes(76, 7));
    // The date column fits a whole date and time.
    EXPECT_GE(grid->columnWidth(1),
              grid->fontMetrics().horizontalAdvance(QStringLiteral("2000-12-31 23:59:59")));
    EXPECT_TRUE(child<QPlainTextEdit>(w, "txtGraba")->isReadOnly());
    // The log lines up in columns: every character is as wide as any other.
    const QFontMetrics metrics(child<QPlainTextEdit>(w, "txtGraba")->font());
    EXPECT_EQ(metrics.horizontalAdvance(QLatin1Char('i')),
              metrics.horizontalAdvance(QLatin1Char('W')));
}

TEST_F(TelvarTest, ReadingsAndLogLinesShowAsTheCoreAddsThem)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    w.resize(900, 700);
    w.show();
    QTableView* grid = child<QTableView>(w, "DatoFlexGrid");
    QPlainTextEdit* log = child<QPlainTextEdit>(w, "txtGraba");
    // Before the readings are first shown, the box's preferred height gives
    // the log its capacity.
    EXPECT_EQ(w.recordingLog().capacity(), RecordingLog::capacityForHeight(pixelsToTwips(
                                               log->sizeHint().height(), w.logicalDpiY())));
    EXPECT_GT(w.recordingLog().capacity(), 1);
    // Once shown, the log keeps as many lines as its box shows, at whatever size.
    child<QTabWidget>(w, "SSTab1")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.recordingLog().capacity(),
              RecordingLog::capacityForHeight(pixelsToTwips(log->height(), w.logicalDpiY())));
    w.resize(900, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.recordingLog().capacity(),
              RecordingLog::capacityForHeight(pixelsToTwips(log->height(), w.logicalDpiY())));

    ReadingRow first;
    first.tag = QStringLiteral(" 1/001");
    first.reading = QStringLiteral("12.5");
    ReadingRow second = first;
    second.tag = QStringLiteral(" 2/003");
    second.Marca = QStringLiteral("?");
    w.readings().addReading(first);
    w.readings().addReading(second);
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), QStringLiteral(" 2/003"));
    EXPECT_EQ(grid->model()->index(0, 8).data().toString(), QStringLiteral("?"));
    EXPECT_EQ(grid->currentIndex().row(), 0);

    w.recordingLog().append(QStringLiteral("12:00:00 Puerto: 3 no existe el archivo"));
    const QString shown = log->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("12:00:00 Puerto: 3 no existe el archivo")));
    EXPECT_EQ(shown.size(), RecordingLog::kLineWidth);
}

TEST_F(TelvarTest, FormLoadSetsTheCaptionChecksTheWidthsAndBinds)
{
    createQualitra(20);
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_TRUE(w.Form_Load());
    EXPECT_EQ(w.windowTitle(), m.Mensajes(76, 0) + QStringLiteral(" v.") +
                                   QString::number(version::kMajor) + QLatin1Char('.') +
                                   QString::number(version::kRevision));
    EXPECT_EQ(m.AnchoPRO, 20);
    EXPECT_EQ(w.configDatabase().RsConf().rowCount(), 3);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarTest, FormLoadEndsTheProgramWhenTheConfigurationDoesNotFit)
{
    createQualitra(12);
    Router router(m, ui);
    Telvar w(m, ui, router);
    EXPECT_FALSE(w.Form_Load());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Critical);
    EXPECT_TRUE(
        ui.boxes.first().text.endsWith(QStringLiteral("HTMCONFI.Produ Defined Size <> 12\n")));
}

TEST_F(TelvarTest, FormLoadEndsTheProgramWhenTheMasterDataCannotBeRead)
{
    m.CadConexion = jetConnectionString(m.RutaApp + QStringLiteral("NoHay.MDB"), m.PassBD);
    Router router(m, ui);
    Telvar w(m, ui, router);
    EXPECT_FALSE(w.Form_Load());
    EXPECT_FALSE(w.configDatabase().RsConf().isBound());
}

// Drives the chooser as a person would: types a path and accepts.
Telvar::ChooserRunner choosing(const QString& path)
{
    return [path](TelvarConfig& chooser) {
        auto* combo = chooser.findChild<QComboBox*>(QStringLiteral("cboDBConf"));
        ASSERT_NE(combo, nullptr);
        combo->setEditText(path);
        chooser.findChild<QPushButton*>(QStringLiteral("bAceptar"))->click();
    };
}

TEST_F(TelvarTest, ChoosingAnotherDatabaseReopensTheGridOnIt)
{
    const QString other = createConfig(QStringLiteral("Segunda.mdb"), fixtureKeyWidths(),
                                       {{10, QStringLiteral("Diez"), QStringLiteral("E10"), 1}});
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    QSignalSpy ended(&w, &Telvar::programMustEnd);
    w.setChooserRunner(choosing(other));
    w.bArchConf_Click();
    EXPECT_EQ(ended.count(), 0);
    EXPECT_EQ(child<QPushButton>(w, "bArchConf")->text(), QStringLiteral("Segunda.mdb"));
    EXPECT_EQ(w.configDatabase().RsConf().rowCount(), 1);
    EXPECT_EQ(w.configDatabase().RsConfBusca().find(10)->Descr, QStringLiteral("Diez"));
    EXPECT_EQ(visibleFields(w).size(), 14);
    EXPECT_EQ(readTLVDirec(),
              (other + QStringLiteral("\r\n") + m_path + QStringLiteral("\r\n")).toUtf8());
}

TEST_F(TelvarTest, ClosingTheChooserWithoutChoosingReopensTheSameDatabase)
{
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    w.setChooserRunner([](TelvarConfig&) {});
    w.bArchConf_Click();
    EXPECT_EQ(child<QPushButton>(w, "bArchConf")->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(w.configDatabase().RsConf().rowCount(), 3);
}

TEST_F(TelvarTest, ADatabaseThatDoesNotFitIsRefusedAndTheWindowKeepsItsOwn)
{
    // Accepting it would end the program now and at every later start.
    KeyWidths anchas = fixtureKeyWidths();
    anchas.Carac = 12;
    const QString misfit = createConfig(QStringLiteral("Ancha.mdb"), anchas, {});
    Router router(m, ui);
    Telvar w(m, ui, router);
    ASSERT_EQ(w.Reinicia(), ReiniciaOutcome::Done);
    const QByteArray antes = readTLVDirec();
    QSignalSpy ended(&w, &Telvar::programMustEnd);
    w.setChooserRunner(choosing(misfit));
    w.bArchConf_Click();
    EXPECT_EQ(ended.count(), 0);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().type, Box::Type::MensaBox);
    EXPECT_EQ(ui.boxes.first().text, QStringLiteral("TelvarConfig. bAceptar_Click.\n") + misfit +
                                         QStringLiteral("\n\nHTMCONFI.Carac Defined Size <> 8\n"));
    EXPECT_EQ(readTLVDirec(), antes);
    EXPECT_EQ(child<QPushButton>(w, "bArchConf")->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(w.configDatabase().RsConf().rowCount(), 3);
    // The next start opens the same database.
    Router otherRun(m, ui);
    Telvar despues(m, ui, otherRun);
    EXPECT_EQ(despues.Reinicia(), ReiniciaOutcome::Done);
}

} // namespace
} // namespace telvar
