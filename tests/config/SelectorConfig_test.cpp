#include "config/ConfigDatabase.h"
#include "config/SelectorConfig.h"
#include "config/config_fixture.h"

#include <QFile>
#include <gtest/gtest.h>
#include <vector>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

TEST(SelectorConfigRuta, TextNotEndingInMdbMeansTheDefaultFile)
{
    const struct {
        const char* texto;
        const char* ruta;
    } casos[] = {
        {"/d/Planta.mdb", "/d/Planta.mdb"},
        {"D:\\Datos\\PLANTA.MDB", "D:\\Datos\\PLANTA.MDB"},
        {"/d/Planta.Mdb", "/d/Planta.Mdb"},
        {"/d/Planta", "/app/TLVConf.mdb"},
        {"/d/Planta.mdb ", "/app/TLVConf.mdb"},
        {"", "/app/TLVConf.mdb"},
        {"mdb", "/app/TLVConf.mdb"},
    };
    for (const auto& c : casos)
        EXPECT_EQ(SelectorConfig::rutaElegida(QString::fromUtf8(c.texto), QStringLiteral("/app/")),
                  QString::fromUtf8(c.ruta))
            << c.texto;
}

TEST(SelectorConfigOrden, ChosenPathFirstThenTheOthersOnceIgnoringCase)
{
    const QStringList items = {QStringLiteral("/a/Uno.mdb"), QStringLiteral("/b/Dos.mdb"),
                               QStringLiteral("/c/Tres.mdb")};
    const struct {
        const char* ruta;
        std::vector<const char*> esperado;
    } casos[] = {
        {"/b/Dos.mdb", {"/b/Dos.mdb", "/a/Uno.mdb", "/c/Tres.mdb"}},
        {"/B/DOS.MDB", {"/B/DOS.MDB", "/a/Uno.mdb", "/c/Tres.mdb"}},
        {"/a/Uno.mdb", {"/a/Uno.mdb", "/b/Dos.mdb", "/c/Tres.mdb"}},
        {"/n/Nueva.mdb", {"/n/Nueva.mdb", "/a/Uno.mdb", "/b/Dos.mdb", "/c/Tres.mdb"}},
    };
    for (const auto& c : casos) {
        QStringList esperado;
        for (const char* e : c.esperado)
            esperado.append(QString::fromUtf8(e));
        EXPECT_EQ(SelectorConfig::nuevoOrden(QString::fromUtf8(c.ruta), items), esperado) << c.ruta;
    }
    // A list that already repeats a path keeps it once.
    EXPECT_EQ(SelectorConfig::nuevoOrden(QStringLiteral("/n.mdb"),
                                         {QStringLiteral("/a.mdb"), QStringLiteral("/A.MDB")}),
              (QStringList{QStringLiteral("/n.mdb"), QStringLiteral("/a.mdb")}));
}

class SelectorConfigTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_uno = creaConfig(QStringLiteral("Uno.mdb"));
        m_dos = creaConfig(QStringLiteral("Dos.mdb"));
        escribeTLVDirec({m_uno, m_dos});
    }
    QStringList lineas() const
    {
        return QString::fromUtf8(leeTLVDirec()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QString m_uno;
    QString m_dos;
    SelectorConfig m_selector{m, ui};
};

TEST_F(SelectorConfigTest, ListsThePathsOfTLVDirec)
{
    EXPECT_EQ(m_selector.cargaLista(), (QStringList{m_uno, m_dos}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(SelectorConfigTest, AMissingTLVDirecIsReportedAndGivesAnEmptyList)
{
    QFile::remove(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    EXPECT_TRUE(m_selector.cargaLista().isEmpty());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig (Form_Load)\n\n53.- ")));
}

TEST_F(SelectorConfigTest, TheSecondPathMovesFirst)
{
    const std::optional<QString> ruta = m_selector.acepta(m_dos, {m_uno, m_dos});
    ASSERT_TRUE(ruta);
    EXPECT_EQ(*ruta, m_dos);
    EXPECT_EQ(lineas(), (QStringList{m_dos, m_uno}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(SelectorConfigTest, ANewBrowsedPathComesFirstBeforeAllOthers)
{
    const QString nueva = creaConfig(QStringLiteral("Nueva.MDB"));
    ASSERT_TRUE(m_selector.acepta(nueva, {m_uno, m_dos}));
    EXPECT_EQ(lineas(), (QStringList{nueva, m_uno, m_dos}));
}

TEST_F(SelectorConfigTest, TextNotEndingInMdbOpensTheProgramsDefaultFile)
{
    const QString porDefecto = creaConfig(QStringLiteral("TLVConf.mdb"));
    ASSERT_TRUE(m_selector.acepta(QStringLiteral("algo escrito"), {m_uno, m_dos}));
    EXPECT_EQ(lineas(), (QStringList{porDefecto, m_uno, m_dos}));
}

TEST_F(SelectorConfigTest, RefusalsLeaveTLVDirecUntouched)
{
    const QString vacia = creaBaseVacia(QStringLiteral("NoEsConfig.mdb"));
    const QString conComa = creaConfig(QStringLiteral("Planta 1,2.mdb"));
    const QByteArray antes = leeTLVDirec();
    struct Caso {
        QString texto;
        Box::Type caja;
        const char* menciona;
    };
    const Caso casos[] = {
        {vacia, Box::Type::MensaBox, "HTMRELOJ"},
        {conComa, Box::Type::MensaBox, "comma"},
        {m.RutaApp + QStringLiteral("NoExiste.mdb"), Box::Type::MensaBox, "OpenDBOK"},
    };
    for (const Caso& c : casos) {
        ui.boxes.clear();
        EXPECT_FALSE(m_selector.acepta(c.texto, {m_uno, m_dos}));
        ASSERT_EQ(ui.boxes.size(), 1) << c.texto.toStdString();
        EXPECT_EQ(ui.boxes.first().type, c.caja);
        EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
        EXPECT_TRUE(ui.boxes.first().text.contains(QLatin1String(c.menciona)))
            << ui.boxes.first().text.toStdString();
        EXPECT_EQ(leeTLVDirec(), antes);
    }
    // The chooser's own reports follow the convention.
    ui.boxes.clear();
    m_selector.acepta(vacia, {});
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.\n\n")));
    ui.boxes.clear();
    m_selector.acepta(conComa, {});
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.\n\n5.- ")));
}

TEST_F(SelectorConfigTest, AWrongPasswordIsAskedForThenAccepted)
{
    const QString correcta = m.PassBD;
    m.PassBD = QStringLiteral("Otra");
    ui.inputAnswers.enqueue(correcta);
    ASSERT_TRUE(m_selector.acepta(m_dos, {m_uno, m_dos}));
    EXPECT_EQ(m.PassBD, correcta);
    EXPECT_EQ(lineas(), (QStringList{m_dos, m_uno}));
}

TEST_F(SelectorConfigTest, AFileThatFailsTheWidthCheckIsRefusedWithItsReport)
{
    // The same check Reinicia makes: accepting such a file would end the
    // program at the next start, and at every start after it.
    struct Caso {
        AnchosClave anchos;
        const char* reporte;
    };
    const Caso casos[] = {
        {{8, 8, 8, 20, 8, 12}, "HTMCONFI.Carac Defined Size <> 8\n"},
        // A wider station column is never narrowed.
        {{8, 10, 8, 20, 8, 8}, "HTMCONFI.Estac Defined Size <> 8\n"},
        {{6, 8, 8, 12, 8, 8},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Produ Defined Size <> 20\n"},
    };
    const QByteArray antes = leeTLVDirec();
    int n = 0;
    for (const Caso& c : casos) {
        ui.boxes.clear();
        const QString ruta = creaConfig(QStringLiteral("Ancha%1.mdb").arg(++n), c.anchos, {});
        EXPECT_FALSE(m_selector.acepta(ruta, {m_uno, m_dos})) << c.reporte;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& caja = ui.boxes.first();
        EXPECT_EQ(caja.type, Box::Type::MensaBox);
        EXPECT_EQ(caja.icono, BoxKind::Exclamation);
        EXPECT_EQ(caja.text, QStringLiteral("TelvarConfig. bAceptar_Click.\n") + ruta +
                                 QStringLiteral("\n\n") + QString::fromUtf8(c.reporte));
        EXPECT_EQ(leeTLVDirec(), antes);
    }
}

TEST_F(SelectorConfigTest, ANarrowStationColumnIsAcceptedForReiniciaToWiden)
{
    AnchosClave estrecha = anchosFixture();
    estrecha.Estac = 6;
    const QString ruta = creaConfig(QStringLiteral("Antigua.mdb"), estrecha,
                                    {{4, QStringLiteral("Cuatro"), QStringLiteral("EST004"), 1}});
    ASSERT_TRUE(m_selector.acepta(ruta, {m_uno, m_dos}));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(lineas(), (QStringList{ruta, m_uno, m_dos}));
    // Only checked here: the widening is Reinicia's.
    EXPECT_EQ(abre(ruta)->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac")).value(),
              6);
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(conf.RsConfBusca().busca(4)->Estac, QStringLiteral("EST004"));
}

TEST_F(SelectorConfigTest, AnOldPathWithACommaDoesNotBlockAChoice)
{
    // Another program (or a person) wrote a quoted path with a comma.
    const QString conComa = m.RutaApp + QStringLiteral("Planta 1,2.mdb");
    escribeTLVDirec({m_uno, QLatin1Char('"') + conComa + QLatin1Char('"'), m_dos});
    const QStringList items = m_selector.cargaLista();
    ASSERT_EQ(items, (QStringList{m_uno, conComa, m_dos}));

    ASSERT_TRUE(m_selector.acepta(m_dos, items));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(lineas(), (QStringList{m_dos, m_uno, QLatin1Char('"') + conComa + QLatin1Char('"')}));
    EXPECT_EQ(m_selector.cargaLista(), (QStringList{m_dos, m_uno, conComa}));
}

} // namespace
} // namespace telvar
