#include "config/ConfigDatabase.h"
#include "config/ConfigTexts.h"
#include "database/EngineLayer.h"
#include "support/ConfigFixture.h"
#include "support/DamagedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ReiniciaTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    QList<Box> boxesOf(Box::Type type) const
    {
        QList<Box> r;
        for (const Box& b : ui.boxes) {
            if (b.type == type)
                r.append(b);
        }
        return r;
    }
};

TEST_F(ReiniciaTest, BindsTheGridAndTheLookupInPortOrder)
{
    const QString path = createConfig(QStringLiteral("TLVConf.mdb"));
    writeTLVDirec({path, QStringLiteral("/otra/Vieja.mdb")});
    ConfigDatabase conf(m, ui);

    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(m.RutaConf, path);
    EXPECT_EQ(conf.archConfCaption(), QStringLiteral("TLVConf.mdb"));
    EXPECT_EQ(conf.data1ConnectionString(), configConnectionString(path, m.PassBD));

    const ConfigLookup& find = conf.RsConfBusca();
    ASSERT_EQ(find.count(), 3);
    EXPECT_EQ(find.row(0).Puert, 1);
    EXPECT_EQ(find.row(1).Puert, 2);
    EXPECT_EQ(find.row(2).Puert, 5);
    const std::optional<ConfigRow> five = find.find(5);
    ASSERT_TRUE(five);
    EXPECT_EQ(five->Descr, QStringLiteral("Peso"));
    EXPECT_EQ(five->Reloj, 0);
    EXPECT_FALSE(five->Inter); // no clock 0 in HTMRELOJ
    const std::optional<ConfigRow> two = find.find(2);
    ASSERT_TRUE(two);
    EXPECT_EQ(two->Inter, 2);
    EXPECT_EQ(two->Clave, 2);
    EXPECT_FALSE(find.find(3));
    EXPECT_EQ(conf.RsConf().columnOf(QStringLiteral("INTER")),
              conf.RsConf().columnOf(QStringLiteral("Inter")));
}

TEST_F(ReiniciaTest, MissingTLVDirecWarnsAndLeavesTheGridUnbound)
{
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& box = ui.boxes.first();
    EXPECT_EQ(box.type, Box::Type::MessageBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_TRUE(
        box.text.startsWith(QStringLiteral("Telvar. Reinicia.\n\nTelvar\n53.- File not found")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(QStringLiteral("\n\n\n\n"))); // Data1 had no connection yet
    EXPECT_FALSE(conf.RsConf().isBound());
    EXPECT_EQ(conf.RsConf().rowCount(), 0);
    EXPECT_TRUE(conf.archConfCaption().isEmpty());
}

TEST_F(ReiniciaTest, WidensTheStationColumnBeforeTheCheck)
{
    // A configuration made by an older version: Estac TEXT(6), with rows.
    const QString path = createEmptyDatabase(QStringLiteral("Antigua.mdb"));
    {
        auto cn = openDatabase(path);
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
    writeTLVDirec({path});
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    auto cn = openDatabase(path);
    EXPECT_EQ(cn->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac")).value(), 8);
    ASSERT_EQ(conf.RsConfBusca().count(), 2);
    EXPECT_EQ(conf.RsConfBusca().row(0).Estac, QStringLiteral("EST003"));
    EXPECT_EQ(conf.RsConfBusca().find(4)->Descr, QStringLiteral("Cuatro"));
    auto indexes =
        cn->exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'PorReloj'"));
    ASSERT_TRUE(indexes.ok() && indexes.value().next());
    EXPECT_EQ(indexes.value().value(0).toInt(), 1);
}

TEST_F(ReiniciaTest, WidthMismatchesStopTheProgramWithTheirReport)
{
    struct Case {
        KeyWidths widths;
        const char* report;
    };
    const Case cases[] = {
        // A wider station column is never narrowed, so it fails the check.
        {{8, 10, 8, 20, 8, 8}, "HTMCONFI.Estac Defined Size <> 8\n"},
        {{6, 8, 8, 12, 8, 8},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Produ Defined Size <> 20\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        ui.boxes.clear();
        const QString path = createConfig(QStringLiteral("Mal%1.mdb").arg(++n), c.widths,
                                          {{1, QStringLiteral("x"), QStringLiteral("E"), 1}});
        writeTLVDirec({path});
        ConfigDatabase conf(m, ui);
        EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::EndProgram);
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes.first().icono, BoxKind::Critical);
        EXPECT_EQ(ui.boxes.first().text, QStringLiteral("Telvar. Reinicia.\n") + path +
                                             QStringLiteral("\n\n") + QString::fromUtf8(c.report));
        EXPECT_FALSE(conf.RsConf().isBound());
    }
}

TEST_F(ReiniciaTest, WrongPasswordIsAskedForAndTheAnswerKept)
{
    const QString path = createConfig(QStringLiteral("TLVConf.mdb"));
    writeTLVDirec({path});
    const QString rightPassword = m.PassBD;
    m.PassBD = QStringLiteral("Equivocada");
    ui.inputAnswers.enqueue(rightPassword);
    ConfigDatabase conf(m, ui);

    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    ASSERT_EQ(boxesOf(Box::Type::InputBox).size(), 1);
    EXPECT_TRUE(boxesOf(Box::Type::InputBox)
                    .first()
                    .text.endsWith(QStringLiteral("\n") + m.Mensajes(0, 81)));
    EXPECT_FALSE(boxesOf(Box::Type::InputBox).first().text.contains(QStringLiteral("Equivocada")));
    EXPECT_EQ(m.PassBD, rightPassword);
    EXPECT_EQ(conf.data1ConnectionString(), configConnectionString(path, rightPassword));
    EXPECT_EQ(conf.RsConfBusca().count(), 3);
}

TEST_F(ReiniciaTest, WrongPasswordLeftUnansweredLeavesQuietly)
{
    const QString path = createConfig(QStringLiteral("TLVConf.mdb"));
    writeTLVDirec({path});
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
        const QString path = m.RutaApp + QString::fromLatin1(missing);
        writeTLVDirec({path});
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
        EXPECT_TRUE(box.text.contains(path));
        EXPECT_FALSE(box.text.contains(m.PassBD));
        EXPECT_FALSE(conf.RsConf().isBound());
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

// Failures of the data control's own opening go through Reinicia's handler.
class ReiniciaData1Test : public ReiniciaTest {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"));
        writeTLVDirec({m_path});
    }
    void failFirst(const QList<Error>& errors)
    {
        m_errors = errors;
        m_conf.setData1Opener(
            [this](const QString& connectionString) -> Result<std::unique_ptr<Connection>> {
                m_requested.append(connectionString);
                if (!m_errors.isEmpty())
                    return m_errors.takeFirst();
                return EngineLayer::open(connectionString);
            });
    }

    QString m_path;
    QList<Error> m_errors;
    QStringList m_requested;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ReiniciaData1Test, PasswordRejectedThenAnsweredIsRetriedWithTheNewPassword)
{
    failFirst({{3031, QStringLiteral("SQLite"), QStringLiteral("Not a valid password.")}});
    ui.inputAnswers.enqueue(QStringLiteral("Nueva"));
    // The retry opens with the typed password, which this file does not
    // have: the opener itself then fails with 3031 again, asked once more.
    ui.inputAnswers.enqueue(QStringLiteral("Clave26"));
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    ASSERT_EQ(boxesOf(Box::Type::InputBox).size(), 2);
    for (const Box& b : boxesOf(Box::Type::InputBox))
        EXPECT_EQ(b.text, QStringLiteral("\n") + m.Mensajes(0, 81));
    ASSERT_EQ(m_requested.size(), 3);
    EXPECT_EQ(m_requested[1], configConnectionString(m_path, QStringLiteral("Nueva")));
    EXPECT_EQ(m_requested[2], configConnectionString(m_path, QStringLiteral("Clave26")));
    EXPECT_EQ(m.PassBD, QStringLiteral("Clave26"));
    EXPECT_TRUE(m_conf.RsConf().isBound());
}

TEST_F(ReiniciaData1Test, ReportsByErrorNumber)
{
    struct Case {
        long long number;
        BoxKind box;
        ReiniciaOutcome outcome;
        const char* tail;
        // What the report says is wrong with the configuration file (%1).
        const char* cause;
    };
    const Case cases[] = {
        {-2147220999, BoxKind::Exclamation, ReiniciaOutcome::Abandoned,
         "Revise la instalación de los componentes de acceso a datos.\n\n", "Descripción"},
        {-2147467259, BoxKind::Critical, ReiniciaOutcome::EndProgram, nullptr,
         "No se puede abrir el archivo %1: Descripción"},
        {3706, BoxKind::Exclamation, ReiniciaOutcome::Abandoned, "",
         "No está instalado el controlador de SQLite: Descripción"},
    };
    for (const Case& c : cases) {
        ui.boxes.clear();
        failFirst({{c.number, QStringLiteral("Fuente"), QStringLiteral("Descripción")}});
        EXPECT_EQ(m_conf.Reinicia(), c.outcome) << c.number;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MessageBox);
        EXPECT_EQ(box.icono, c.box);
        const QString report = QStringLiteral("Telvar. Reinicia.\n\nFuente\n") +
                               QString::number(c.number) + QStringLiteral(".- ") +
                               QString::fromUtf8(c.cause).replace(QStringLiteral("%1"), m_path) +
                               QStringLiteral("\n\n") +
                               QStringLiteral("Archivo de base de datos: ") + m_path +
                               QStringLiteral("\n\n");
        const QString tail =
            c.tail
                ? QString::fromUtf8(c.tail)
                : QStringLiteral("Si la ruta de acceso está equivocada por favor corrijala en el "
                                 "archivo ") +
                      m.RutaIAU + QStringLiteral("TLVDirec.IAU\n");
        EXPECT_EQ(box.text, report + tail);
        EXPECT_FALSE(m_conf.RsConf().isBound());
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);
    }
}

TEST_F(ReiniciaData1Test, AFailedRebindKeepsTheWindowOpenAndAFixedOneRebinds)
{
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    failFirst({{13, QStringLiteral("Fuente"), QStringLiteral("Type mismatch")}});
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Abandoned);
    EXPECT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_EQ(m_conf.RsConfBusca().count(), 3);
}

TEST_F(ReiniciaTest, AFileWithoutTheTablesIsReportedAndLeft)
{
    const QString path = createEmptyDatabase(QStringLiteral("Vacia.mdb"));
    writeTLVDirec({path});
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
    struct Case {
        const char* name;
        std::function<QString()> make;
    };
    const Case cases[] = {
        // SQLite refuses to open it: the opener repairs it.
        {"free pages lost",
         [this] {
             const QString path = createConfig(QStringLiteral("Libre.mdb"));
             loseFreeSpace(path);
             return path;
         }},
        // It opens, and the grid's rows, read in port order through the
        // damaged index, fail: Reinicia's own handler repairs it.
        {"port index damaged",
         [this] {
             const QString path = createConfigWithoutKeys(QStringLiteral("Indice.mdb"),
                                                          {{1, QStringLiteral("Diámetro")},
                                                           {2, QStringLiteral("Largo")},
                                                           {5, QStringLiteral("Peso")}});
             EXPECT_TRUE(
                 openDatabase(path)
                     ->exec(QStringLiteral("CREATE UNIQUE INDEX PrimaryKey ON HTMCONFI (Puert)"))
                     .ok());
             damageIndex(path, QStringLiteral("PrimaryKey"));
             return path;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        const QString path = c.make();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray damaged = file.readAll();
        file.close();
        writeTLVDirec({path});

        ConfigDatabase conf(m, ui);
        EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
        EXPECT_TRUE(ui.boxes.isEmpty()) << ui.boxes.value(0).text.toStdString();
        ASSERT_EQ(conf.RsConfBusca().count(), 3);
        EXPECT_EQ(conf.RsConfBusca().row(0).Descr, QStringLiteral("Diámetro"));
        EXPECT_EQ(conf.RsConfBusca().find(5)->Descr, QStringLiteral("Peso"));

        // The damaged file is kept as it was; the repaired one is whole.
        QFile backup(path + QStringLiteral(".bak"));
        ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
        EXPECT_EQ(backup.readAll(), damaged);
        auto cn = openDatabase(path);
        ASSERT_TRUE(cn);
        auto integrity = cn->exec(QStringLiteral("PRAGMA integrity_check"));
        ASSERT_TRUE(integrity.ok() && integrity.value().next());
        EXPECT_EQ(integrity.value().value(0).toString(), QStringLiteral("ok"));
        auto counted = cn->exec(QStringLiteral("SELECT count(*) FROM HTMCONFI"));
        ASSERT_TRUE(counted.ok() && counted.value().next());
        EXPECT_EQ(counted.value().value(0).toInt(), 3);
    }
}

TEST_F(ReiniciaTest, AFileThatCannotBeRepairedIsReportedAndLeft)
{
    // A file that is not a database at all cannot be repaired: the repair is
    // tried (even with a server SPC database), its failure reported, and
    // the file left in place.
    const QString path = m.RutaApp + QStringLiteral("Danada.mdb");
    test::DamagedFiles::makeTextFile(path);
    writeTLVDirec({path});
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Abandoned);
    ASSERT_EQ(ui.boxes.size(), 1);
    const QString text = ui.boxes.first().text;
    EXPECT_TRUE(text.contains(QStringLiteral("3343.- ")) ||
                text.contains(QStringLiteral("3049.- ")))
        << text.toStdString();
    // The opener ran the compact-and-repair (its failure is part of the report).
    EXPECT_TRUE(text.contains(QStringLiteral("Compact and repair of '") + path))
        << text.toStdString();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".bak")));
}

} // namespace
} // namespace telvar
