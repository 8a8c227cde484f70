#include "common/Twips.h"
#include "config/GridLayouts.h"
#include "config/config_fixture.h"
#include "config/widgets/Telvar.h"
#include "config/widgets/TelvarConfig.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"

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
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class TelvarTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
        escribeTLVDirec({m_ruta});
    }
    QStringList camposVisibles(const Telvar& w) const
    {
        const QHeaderView* cabecera = w.DBGrid1()->horizontalHeader();
        const ConfigGridModel& modelo = const_cast<Telvar&>(w).configuracion().RsConf();
        QStringList campos;
        for (int visual = 0; visual < cabecera->count(); ++visual) {
            const int logica = cabecera->logicalIndex(visual);
            if (!cabecera->isSectionHidden(logica))
                campos.append(modelo.record().fieldName(logica).toUpper());
        }
        return campos;
    }
    // A small SPC database whose master keys have these widths.
    void creaQualitra(int anchoPRO)
    {
        const QString ruta = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(EngineLayer::createFileDatabase(ruta, m.PassBD).ok());
        auto cn = abre(ruta);
        const struct {
            const char* tabla;
            const char* clave;
            const char* descr;
            int ancho;
        } tablas[] = {{"USU", "USUCLAVE", "USUDESCR", 8}, {"EST", "ESTCLAVE", "ESTDESC1", 8},
                      {"MAQ", "MAQCLAVE", "MAQDESC1", 8}, {"PRO", "PROCLAVE", "PRODESC1", anchoPRO},
                      {"FRM", "FRMCLAVE", "FRMDESC1", 8}, {"CAR", "CARCLAVE", "CARDESC1", 8},
                      {"INS", "INSCLAVE", "INSDESCR", 8}};
        for (const auto& t : tablas)
            ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE %1 (%2 VARCHAR(%3), %4 VARCHAR(40))")
                                     .arg(QLatin1String(t.tabla), QLatin1String(t.clave))
                                     .arg(t.ancho)
                                     .arg(QLatin1String(t.descr)))
                            .ok());
        m.CadConexion = ArmaConexion(m, ruta);
        m.AnchoUSU = m.AnchoEST = m.AnchoMAQ = m.AnchoPRO = m.AnchoFRM = m.AnchoCAR = 0;
    }

    QString m_ruta;
};

TEST_F(TelvarTest, TheGridShowsTheFourteenColumnsInOrderWithTheirCaptions)
{
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    QStringList esperados;
    for (const char* campo : {"PUERT", "DESCR", "WEBPG", "IDENT", "INICI", "LONGI", "ESTAC",
                              "MAQUI", "PRODU", "FORMA", "CARAC", "OPERA", "RELOJ", "INTER"})
        esperados.append(QLatin1String(campo));
    EXPECT_EQ(camposVisibles(w), esperados);
    ConfigGridModel& modelo = w.configuracion().RsConf();
    const QHeaderView* cabecera = w.DBGrid1()->horizontalHeader();
    for (const ColumnaConfig& c : kColumnasDBGrid1) {
        const int logica = modelo.columnOf(QLatin1String(c.campo));
        ASSERT_GE(logica, 0) << c.campo;
        EXPECT_EQ(modelo.headerData(logica, Qt::Horizontal).toString(), m.Mensajes(76, c.mensaje))
            << c.campo;
        // At least its width in twips, and never narrower than its caption.
        EXPECT_GE(cabecera->sectionSize(logica), twipsToPixels(c.anchoTwips, w.logicalDpiX()))
            << c.campo;
        EXPECT_GE(cabecera->sectionSize(logica), cabecera->sectionSizeHint(logica)) << c.campo;
    }
    EXPECT_TRUE(cabecera->isSectionHidden(modelo.columnOf(QStringLiteral("CLAVE"))));
    EXPECT_EQ(modelo.rowCount(), 3);
    EXPECT_EQ(modelo.data(modelo.index(2, modelo.columnOf(QStringLiteral("Puert")))).toInt(), 5);
    EXPECT_EQ(w.bArchConf()->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(w.SSTab1()->tabText(0), m.Mensajes(76, 5));
    EXPECT_EQ(w.SSTab1()->tabText(1), m.Mensajes(76, 6));
    EXPECT_EQ(w.cmdAbre()->text(), m.Mensajes(76, 2));
    EXPECT_EQ(w.cmdConf()->text(), m.Mensajes(76, 4));
    for (int i = 1; i <= 10; ++i) {
        EXPECT_EQ(w.bReloj(i)->toolTip(),
                  m.Mensajes(76, 8) + QLatin1Char(' ') + QString::number(i));
        EXPECT_EQ(w.bReloj(i)->text(), QString::number(i));
        EXPECT_FALSE(w.bReloj(i)->isEnabled());
    }
}

TEST_F(TelvarTest, APortNumberCannotBeTypedOver)
{
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    w.show();
    ConfigGridModel& modelo = w.configuracion().RsConf();
    const QModelIndex puerto = modelo.index(0, modelo.columnOf(QStringLiteral("Puert")));
    w.DBGrid1()->setCurrentIndex(puerto);
    w.DBGrid1()->edit(puerto);
    EXPECT_EQ(w.DBGrid1()->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(w.DBGrid1()->indexWidget(puerto), nullptr);
}

TEST_F(TelvarTest, ACellTypedInTheGridReachesTheDatabaseAndTheGridKeepsItsPlace)
{
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ConfigGridModel& modelo = w.configuracion().RsConf();
    const int estac = modelo.columnOf(QStringLiteral("Estac"));
    const QModelIndex celda = modelo.index(1, estac); // port 2
    w.DBGrid1()->setCurrentIndex(celda);
    w.DBGrid1()->edit(celda);
    auto* editor = w.DBGrid1()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("EST77"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();

    auto cn = abre(m_ruta);
    auto fila = cn->exec(QStringLiteral("SELECT Estac FROM HTMCONFI WHERE Puert = 2"));
    ASSERT_TRUE(fila.ok() && fila.value().next());
    EXPECT_EQ(fila.value().value(0).toString(), QStringLiteral("EST77"));
    EXPECT_TRUE(ui.boxes.isEmpty());
    // The rows were read again: the layout and the current port survive it.
    EXPECT_EQ(camposVisibles(w).size(), 14);
    EXPECT_EQ(camposVisibles(w).first(), QStringLiteral("PUERT"));
    EXPECT_EQ(modelo.row(w.DBGrid1()->currentIndex().row()).Puert, 2);
    EXPECT_EQ(w.DBGrid1()->currentIndex().column(), estac);
}

TEST_F(TelvarTest, ReopeningTheConfigurationKeepsTheCurrentPort)
{
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    ConfigGridModel& modelo = w.configuracion().RsConf();
    const int descr = modelo.columnOf(QStringLiteral("Descr"));
    w.DBGrid1()->setCurrentIndex(modelo.index(*modelo.rowOfPuert(5), descr));
    // Another program adds a port before it: port 5 moves down a row.
    abre(m_ruta)->exec(QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr) VALUES (3, 'Nuevo')"));
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    ASSERT_TRUE(w.DBGrid1()->currentIndex().isValid());
    EXPECT_EQ(modelo.row(w.DBGrid1()->currentIndex().row()).Puert, 5);
    EXPECT_EQ(w.DBGrid1()->currentIndex().column(), descr);
}

TEST_F(TelvarTest, WithoutTLVDirecTheWindowStaysOpenAndUnbound)
{
    QFile::remove(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    Telvar w(m, ui);
    EXPECT_EQ(w.Reinicia(), ResultadoReinicia::Abandonado);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("53.- ")));
    EXPECT_EQ(w.DBGrid1()->model()->rowCount(), 0);
    EXPECT_FALSE(w.configuracion().RsConf().isBound());
    // Buttons and tabs still carry their captions, so the person can choose
    // a configuration database.
    EXPECT_EQ(w.cmdAbre()->text(), m.Mensajes(76, 2));
    EXPECT_EQ(w.SSTab1()->tabText(0), m.Mensajes(76, 5));
    EXPECT_FALSE(w.bArchConf()->text().isEmpty());
    EXPECT_TRUE(w.bArchConf()->isEnabled());
}

TEST_F(TelvarTest, TheReadingsGridHasItsNineHeadersWidthsAndAlignments)
{
    Telvar w(m, ui);
    QTableWidget* grid = w.DatoFlexGrid();
    ASSERT_EQ(grid->columnCount(), 9);
    for (int c = 0; c < 9; ++c) {
        const ColumnaLecturas& col = kColumnasDatoFlexGrid[std::size_t(c)];
        const QString esperado =
            col.textoFijo ? QLatin1String(col.textoFijo) : m.Mensajes(col.seccion, col.numero);
        EXPECT_EQ(grid->horizontalHeaderItem(c)->text(), esperado) << c;
        EXPECT_GE(grid->columnWidth(c), twipsToPixels(col.anchoTwips, w.logicalDpiX())) << c;
        EXPECT_EQ(bool(grid->horizontalHeaderItem(c)->textAlignment() & Qt::AlignHCenter),
                  col.centrada)
            << c;
    }
    EXPECT_EQ(grid->horizontalHeaderItem(8)->text(), QStringLiteral("D"));
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), m.Mensajes(76, 7));
    // Centred columns draw their cells centred (a delegate of their own).
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(grid->itemDelegateForColumn(c) != nullptr,
                  kColumnasDatoFlexGrid[std::size_t(c)].centrada)
            << c;
    EXPECT_TRUE(w.txtGraba()->isReadOnly());
    // The log lines up in columns: every character is as wide as any other.
    const QFontMetrics medidas(w.txtGraba()->font());
    EXPECT_EQ(medidas.horizontalAdvance(QLatin1Char('i')),
              medidas.horizontalAdvance(QLatin1Char('W')));
}

TEST_F(TelvarTest, FormLoadSetsTheCaptionChecksTheWidthsAndBinds)
{
    creaQualitra(20);
    Telvar w(m, ui);
    ASSERT_TRUE(w.Form_Load());
    EXPECT_EQ(w.windowTitle(), m.Mensajes(76, 0) + QStringLiteral(" v.") +
                                   QString::number(TELVAR_VERSION_MAJOR) + QLatin1Char('.') +
                                   QString::number(TELVAR_VERSION_REVISION));
    EXPECT_EQ(m.AnchoPRO, 20);
    EXPECT_EQ(w.configuracion().RsConf().rowCount(), 3);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarTest, FormLoadEndsTheProgramWhenTheConfigurationDoesNotFit)
{
    creaQualitra(12);
    Telvar w(m, ui);
    EXPECT_FALSE(w.Form_Load());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Critical);
    EXPECT_TRUE(
        ui.boxes.first().text.endsWith(QStringLiteral("HTMCONFI.Produ Defined Size <> 12\n")));
}

TEST_F(TelvarTest, FormLoadEndsTheProgramWhenTheMasterDataCannotBeRead)
{
    m.CadConexion = ArmaConexion(m, m.RutaApp + QStringLiteral("NoHay.MDB"));
    Telvar w(m, ui);
    EXPECT_FALSE(w.Form_Load());
    EXPECT_FALSE(w.configuracion().RsConf().isBound());
}

// Drives the chooser as a person would: types a path and accepts.
Telvar::MuestraSelector eligiendo(const QString& ruta)
{
    return [ruta](TelvarConfig& selector) {
        auto* combo = selector.findChild<QComboBox*>(QStringLiteral("cboDBConf"));
        ASSERT_NE(combo, nullptr);
        combo->setEditText(ruta);
        selector.findChild<QPushButton*>(QStringLiteral("bAceptar"))->click();
    };
}

TEST_F(TelvarTest, ChoosingAnotherDatabaseReopensTheGridOnIt)
{
    const QString otra = creaConfig(QStringLiteral("Segunda.mdb"), anchosFixture(),
                                    {{10, QStringLiteral("Diez"), QStringLiteral("E10"), 1}});
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    QSignalSpy fin(&w, &Telvar::terminarPrograma);
    w.setMuestraSelector(eligiendo(otra));
    w.bArchConf_Click();
    EXPECT_EQ(fin.count(), 0);
    EXPECT_EQ(w.bArchConf()->text(), QStringLiteral("Segunda.mdb"));
    EXPECT_EQ(w.configuracion().RsConf().rowCount(), 1);
    EXPECT_EQ(w.configuracion().RsConfBusca().busca(10)->Descr, QStringLiteral("Diez"));
    EXPECT_EQ(camposVisibles(w).size(), 14);
    EXPECT_EQ(leeTLVDirec(),
              (otra + QStringLiteral("\r\n") + m_ruta + QStringLiteral("\r\n")).toUtf8());
}

TEST_F(TelvarTest, ClosingTheChooserWithoutChoosingReopensTheSameDatabase)
{
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    w.setMuestraSelector([](TelvarConfig&) {});
    w.bArchConf_Click();
    EXPECT_EQ(w.bArchConf()->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(w.configuracion().RsConf().rowCount(), 3);
}

TEST_F(TelvarTest, ADatabaseThatDoesNotFitIsRefusedAndTheWindowKeepsItsOwn)
{
    // Accepting it would end the program now and at every later start.
    AnchosClave anchas = anchosFixture();
    anchas.Carac = 12;
    const QString mala = creaConfig(QStringLiteral("Ancha.mdb"), anchas, {});
    Telvar w(m, ui);
    ASSERT_EQ(w.Reinicia(), ResultadoReinicia::Hecho);
    const QByteArray antes = leeTLVDirec();
    QSignalSpy fin(&w, &Telvar::terminarPrograma);
    w.setMuestraSelector(eligiendo(mala));
    w.bArchConf_Click();
    EXPECT_EQ(fin.count(), 0);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().type, Box::Type::MensaBox);
    EXPECT_EQ(ui.boxes.first().text, QStringLiteral("TelvarConfig. bAceptar_Click.\n") + mala +
                                         QStringLiteral("\n\nHTMCONFI.Carac Defined Size <> 8\n"));
    EXPECT_EQ(leeTLVDirec(), antes);
    EXPECT_EQ(w.bArchConf()->text(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(w.configuracion().RsConf().rowCount(), 3);
    // The next start opens the same database.
    Telvar despues(m, ui);
    EXPECT_EQ(despues.Reinicia(), ResultadoReinicia::Hecho);
}

} // namespace
} // namespace telvar
