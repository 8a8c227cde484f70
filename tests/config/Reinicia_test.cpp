#include "config/ConfigDatabase.h"
#include "config/ConfigTexts.h"
#include "config/config_fixture.h"
#include "database/EngineLayer.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ReiniciaTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    QList<Box> cajas(Box::Type tipo) const
    {
        QList<Box> r;
        for (const Box& b : ui.boxes) {
            if (b.type == tipo)
                r.append(b);
        }
        return r;
    }
};

TEST_F(ReiniciaTest, BindsTheGridAndTheLookupInPortOrder)
{
    const QString ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
    escribeTLVDirec({ruta, QStringLiteral("/otra/Vieja.mdb")});
    ConfigDatabase conf(m, ui);

    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(m.RutaConf, ruta);
    EXPECT_EQ(conf.archConfCaption(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(conf.data1ConnectionString(), conexionConf(ruta, m.PassBD));

    const ConfigBusca& busca = conf.RsConfBusca();
    ASSERT_EQ(busca.count(), 3);
    EXPECT_EQ(busca.fila(0).Puert, 1);
    EXPECT_EQ(busca.fila(1).Puert, 2);
    EXPECT_EQ(busca.fila(2).Puert, 5);
    const std::optional<ConfigRow> cinco = busca.busca(5);
    ASSERT_TRUE(cinco);
    EXPECT_EQ(cinco->Descr, QStringLiteral("Peso"));
    EXPECT_EQ(cinco->Reloj, 0);
    EXPECT_FALSE(cinco->Inter); // no clock 0 in HTMRELOJ
    const std::optional<ConfigRow> dos = busca.busca(2);
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->Inter, 2);
    EXPECT_EQ(dos->Clave, 2);
    EXPECT_FALSE(busca.busca(3));
    EXPECT_EQ(conf.RsConf().columnOf(QStringLiteral("INTER")),
              conf.RsConf().columnOf(QStringLiteral("Inter")));
}

TEST_F(ReiniciaTest, MissingTLVDirecWarnsAndLeavesTheGridUnbound)
{
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& caja = ui.boxes.first();
    EXPECT_EQ(caja.type, Box::Type::MessageBox);
    EXPECT_EQ(caja.icono, BoxKind::Exclamation);
    EXPECT_TRUE(
        caja.text.startsWith(QStringLiteral("Telvar. Reinicia.\n\nTelvar\n53.- File not found")))
        << caja.text.toStdString();
    EXPECT_TRUE(caja.text.endsWith(QStringLiteral("\n\n\n\n"))); // Data1 had no connection yet
    EXPECT_FALSE(conf.RsConf().isBound());
    EXPECT_EQ(conf.RsConf().rowCount(), 0);
    EXPECT_TRUE(conf.archConfCaption().isEmpty());
}

TEST_F(ReiniciaTest, WidensTheStationColumnBeforeTheCheck)
{
    // A configuration made by an older version: Estac TEXT(6), with rows.
    const QString ruta = creaBaseVacia(QStringLiteral("Antigua.mdb"));
    {
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        for (const char* sql :
             {"CREATE TABLE HTMRELOJ (CLAVE INTEGER PRIMARY KEY, INTER INTEGER)",
              "CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY, Descr TEXT(50), WebPg TEXT(255), "
              "Ident TEXT(50), Inici INTEGER, Longi INTEGER, Estac TEXT(6), Maqui TEXT(8), "
              "Produ TEXT(20), Forma TEXT(8), Carac TEXT(8), Opera TEXT(8), Reloj INTEGER)",
              "CREATE INDEX PorReloj ON HTMCONFI (Reloj)",
              "INSERT INTO HTMCONFI (Puert, Descr, Estac, Reloj) VALUES (4, 'Cuatro', 'EST004', 1)",
              "INSERT INTO HTMCONFI (Puert, Descr, Estac, Reloj) VALUES (3, 'Tres', 'EST003', 2)"})
            ASSERT_TRUE(cn->exec(QString::fromLatin1(sql)).ok()) << sql;
    }
    escribeTLVDirec({ruta});
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    auto cn = abre(ruta);
    EXPECT_EQ(cn->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac")).value(), 8);
    ASSERT_EQ(conf.RsConfBusca().count(), 2);
    EXPECT_EQ(conf.RsConfBusca().fila(0).Estac, QStringLiteral("EST003"));
    EXPECT_EQ(conf.RsConfBusca().busca(4)->Descr, QStringLiteral("Cuatro"));
    auto indice =
        cn->exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'PorReloj'"));
    ASSERT_TRUE(indice.ok() && indice.value().next());
    EXPECT_EQ(indice.value().value(0).toInt(), 1);
}

TEST_F(ReiniciaTest, WidthMismatchesStopTheProgramWithTheirReport)
{
    struct Caso {
        AnchosClave anchos;
        const char* reporte;
    };
    const Caso casos[] = {
        // A wider station column is never narrowed, so it fails the check.
        {{8, 10, 8, 20, 8, 8}, "HTMCONFI.Estac Defined Size <> 8\n"},
        {{6, 8, 8, 12, 8, 8},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Produ Defined Size <> 20\n"},
    };
    int n = 0;
    for (const Caso& c : casos) {
        ui.boxes.clear();
        const QString ruta = creaConfig(QStringLiteral("Mal%1.mdb").arg(++n), c.anchos,
                                        {{1, QStringLiteral("x"), QStringLiteral("E"), 1}});
        escribeTLVDirec({ruta});
        ConfigDatabase conf(m, ui);
        EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::EndProgram);
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes.first().icono, BoxKind::Critical);
        EXPECT_EQ(ui.boxes.first().text, QStringLiteral("Telvar. Reinicia.\n") + ruta +
                                             QStringLiteral("\n\n") + QString::fromUtf8(c.reporte));
        EXPECT_FALSE(conf.RsConf().isBound());
    }
}

TEST_F(ReiniciaTest, WrongPasswordIsAskedForAndTheAnswerKept)
{
    const QString ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
    escribeTLVDirec({ruta});
    const QString correcta = m.PassBD;
    m.PassBD = QStringLiteral("Equivocada");
    ui.inputAnswers.enqueue(correcta);
    ConfigDatabase conf(m, ui);

    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    ASSERT_EQ(cajas(Box::Type::InputBox).size(), 1);
    EXPECT_TRUE(
        cajas(Box::Type::InputBox).first().text.endsWith(QStringLiteral("\n") + m.Mensajes(0, 81)));
    EXPECT_FALSE(cajas(Box::Type::InputBox).first().text.contains(QStringLiteral("Equivocada")));
    EXPECT_EQ(m.PassBD, correcta);
    EXPECT_EQ(conf.data1ConnectionString(), conexionConf(ruta, correcta));
    EXPECT_EQ(conf.RsConfBusca().count(), 3);
}

TEST_F(ReiniciaTest, WrongPasswordLeftUnansweredLeavesQuietly)
{
    const QString ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
    escribeTLVDirec({ruta});
    m.PassBD = QStringLiteral("Equivocada");
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().type, Box::Type::InputBox);
    EXPECT_FALSE(conf.RsConf().isBound());
}

// A path in TLVDirec.IAU that leads nowhere: one critical box, Reinicia's,
// telling which file to correct, and the program ends.
TEST_F(ReiniciaTest, AWrongPathNamesTheFileToCorrect)
{
    for (const char* missing : {"NoExiste/TLVConf.mdb", "TLVConf.mdb"}) {
        SCOPED_TRACE(missing);
        ui.boxes.clear();
        const QString ruta = m.RutaApp + QString::fromLatin1(missing);
        escribeTLVDirec({ruta});
        ConfigDatabase conf(m, ui);
        EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::EndProgram);
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MessageBox);
        EXPECT_EQ(box.icono, BoxKind::Critical);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Telvar. Reinicia.")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QStringLiteral("-2147467259.- ")));
        EXPECT_TRUE(box.text.endsWith(
            QStringLiteral("Si la ruta de acceso está equivocada por favor corrijala en el "
                           "archivo ") +
            m.RutaIAU + QStringLiteral("TLVDirec.IAU\n")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(ruta));
        EXPECT_FALSE(box.text.contains(m.PassBD));
        EXPECT_FALSE(conf.RsConf().isBound());
        EXPECT_FALSE(QFileInfo::exists(ruta));
    }
}

// Failures of the data control's own opening go through Reinicia's handler.
class ReiniciaData1Test : public ReiniciaTest {
protected:
    void SetUp() override
    {
        m_ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
        escribeTLVDirec({m_ruta});
    }
    void fallaPrimero(const QList<RuntimeError>& errores)
    {
        m_errores = errores;
        m_conf.setData1Opener(
            [this](const QString& conexion) -> Result<std::unique_ptr<Connection>> {
                m_pedidas.append(conexion);
                if (!m_errores.isEmpty())
                    return m_errores.takeFirst();
                return EngineLayer::open(conexion);
            });
    }

    QString m_ruta;
    QList<RuntimeError> m_errores;
    QStringList m_pedidas;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ReiniciaData1Test, PasswordRejectedThenAnsweredIsRetriedWithTheNewPassword)
{
    fallaPrimero({{3031, QStringLiteral("SQLite"), QStringLiteral("Not a valid password.")}});
    ui.inputAnswers.enqueue(QStringLiteral("Nueva"));
    // The retry opens with the typed password, which this file does not
    // have: the opener itself then fails with 3031 again, asked once more.
    ui.inputAnswers.enqueue(QStringLiteral("Clave26"));
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    ASSERT_EQ(cajas(Box::Type::InputBox).size(), 2);
    for (const Box& b : cajas(Box::Type::InputBox))
        EXPECT_EQ(b.text, QStringLiteral("\n") + m.Mensajes(0, 81));
    ASSERT_EQ(m_pedidas.size(), 3);
    EXPECT_EQ(m_pedidas[1], conexionConf(m_ruta, QStringLiteral("Nueva")));
    EXPECT_EQ(m_pedidas[2], conexionConf(m_ruta, QStringLiteral("Clave26")));
    EXPECT_EQ(m.PassBD, QStringLiteral("Clave26"));
    EXPECT_TRUE(m_conf.RsConf().isBound());
}

TEST_F(ReiniciaData1Test, ReportsByErrorNumber)
{
    struct Caso {
        long long numero;
        BoxKind caja;
        ReiniciaOutcome resultado;
        const char* cola;
    };
    const Caso casos[] = {
        {-2147220999, BoxKind::Exclamation, ReiniciaOutcome::Abandoned,
         "Revise la instalación de los componentes de acceso a datos.\n\n"},
        {-2147467259, BoxKind::Critical, ReiniciaOutcome::EndProgram, nullptr},
        {3706, BoxKind::Exclamation, ReiniciaOutcome::Abandoned, ""},
    };
    for (const Caso& c : casos) {
        ui.boxes.clear();
        fallaPrimero({{c.numero, QStringLiteral("Fuente"), QStringLiteral("Descripción")}});
        EXPECT_EQ(m_conf.Reinicia(), c.resultado) << c.numero;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& caja = ui.boxes.first();
        EXPECT_EQ(caja.type, Box::Type::MessageBox);
        EXPECT_EQ(caja.icono, c.caja);
        const QString reporte = QStringLiteral("Telvar. Reinicia.\n\nFuente\n") +
                                QString::number(c.numero) + QStringLiteral(".- Descripción\n\n") +
                                QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                m_ruta + QStringLiteral(";Jet OLEDB:Database Password=***;\n\n");
        const QString cola =
            c.cola
                ? QString::fromUtf8(c.cola)
                : QStringLiteral("Si la ruta de acceso está equivocada por favor corrijala en el "
                                 "archivo ") +
                      m.RutaIAU + QStringLiteral("TLVDirec.IAU\n");
        EXPECT_EQ(caja.text, reporte + cola);
        EXPECT_FALSE(m_conf.RsConf().isBound());
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);
    }
}

TEST_F(ReiniciaData1Test, AFailedRebindKeepsTheWindowOpenAndAFixedOneRebinds)
{
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    fallaPrimero({{13, QStringLiteral("Fuente"), QStringLiteral("Type mismatch")}});
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Abandoned);
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_EQ(m_conf.RsConfBusca().count(), 3);
}

TEST_F(ReiniciaTest, AFileWithoutTheTablesIsReportedAndLeft)
{
    const QString ruta = creaBaseVacia(QStringLiteral("Vacia.mdb"));
    escribeTLVDirec({ruta});
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("HTMCONFI")));
}

TEST_F(ReiniciaTest, ADamagedFileIsRepairedAsAFileDatabaseWhateverTheSpcEngine)
{
    // The configuration database is a file database even when the SPC
    // database lives on a server: a damaged file that can be mended is
    // repaired in place, its rows intact and the damaged file kept beside it.
    struct Caso {
        const char* nombre;
        std::function<QString()> crea;
    };
    const Caso casos[] = {
        // SQLite refuses to open it: the opener repairs it.
        {"free pages lost",
         [this] {
             const QString ruta = creaConfig(QStringLiteral("Libre.mdb"));
             pierdeEspacioLibre(ruta);
             return ruta;
         }},
        // It opens, and the grid's rows, read in port order through the
        // damaged index, fail: Reinicia's own handler repairs it.
        {"port index damaged",
         [this] {
             const QString ruta =
                 creaConfigSinClave(QStringLiteral("Indice.mdb"), {{1, QStringLiteral("Diámetro")},
                                                                   {2, QStringLiteral("Largo")},
                                                                   {5, QStringLiteral("Peso")}});
             EXPECT_TRUE(
                 abre(ruta)
                     ->exec(QStringLiteral("CREATE UNIQUE INDEX PrimaryKey ON HTMCONFI (Puert)"))
                     .ok());
             danaIndice(ruta, QStringLiteral("PrimaryKey"));
             return ruta;
         }},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        ui.boxes.clear();
        const QString ruta = c.crea();
        QFile archivo(ruta);
        ASSERT_TRUE(archivo.open(QIODevice::ReadOnly));
        const QByteArray danado = archivo.readAll();
        archivo.close();
        escribeTLVDirec({ruta});

        ConfigDatabase conf(m, ui);
        EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
        EXPECT_TRUE(ui.boxes.isEmpty()) << ui.boxes.value(0).text.toStdString();
        ASSERT_EQ(conf.RsConfBusca().count(), 3);
        EXPECT_EQ(conf.RsConfBusca().fila(0).Descr, QStringLiteral("Diámetro"));
        EXPECT_EQ(conf.RsConfBusca().busca(5)->Descr, QStringLiteral("Peso"));

        // The damaged file is kept as it was; the repaired one is whole.
        QFile copia(ruta + QStringLiteral(".bak"));
        ASSERT_TRUE(copia.open(QIODevice::ReadOnly));
        EXPECT_EQ(copia.readAll(), danado);
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        auto integridad = cn->exec(QStringLiteral("PRAGMA integrity_check"));
        ASSERT_TRUE(integridad.ok() && integridad.value().next());
        EXPECT_EQ(integridad.value().value(0).toString(), QStringLiteral("ok"));
        auto cuenta = cn->exec(QStringLiteral("SELECT count(*) FROM HTMCONFI"));
        ASSERT_TRUE(cuenta.ok() && cuenta.value().next());
        EXPECT_EQ(cuenta.value().value(0).toInt(), 3);
    }
}

TEST_F(ReiniciaTest, AFileThatCannotBeRepairedIsReportedAndLeft)
{
    // A file that is not a database at all cannot be repaired: the repair is
    // tried (even with a server SPC database), its failure reported, and
    // the file left in place.
    const QString ruta = m.RutaApp + QStringLiteral("Danada.mdb");
    QFile archivo(ruta);
    ASSERT_TRUE(archivo.open(QIODevice::WriteOnly));
    archivo.write(QByteArray(8192, 'x'));
    archivo.close();
    escribeTLVDirec({ruta});
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    const QString texto = ui.boxes.first().text;
    EXPECT_TRUE(texto.contains(QStringLiteral("3343.- ")) ||
                texto.contains(QStringLiteral("3049.- ")))
        << texto.toStdString();
    // The opener ran the compact-and-repair (its failure is part of the report).
    EXPECT_TRUE(texto.contains(QStringLiteral("Compact and repair of '") + ruta))
        << texto.toStdString();
    EXPECT_TRUE(QFile::exists(ruta));
    EXPECT_FALSE(QFile::exists(ruta + QStringLiteral(".bak")));
}

} // namespace
} // namespace telvar
