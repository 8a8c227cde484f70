#include "config/TLVDirec.h"
#include "config/config_fixture.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class TLVDirecTest : public ::testing::Test, protected test::ConfigFixture {};

TEST_F(TLVDirecTest, FirstFieldFollowsTheSequentialInputRule)
{
    const struct {
        const char* contenido;
        const char* primera;
    } casos[] = {
        {"D:\\Datos\\TLVConf.mdb\r\nC:\\Otra.mdb\r\n", "D:\\Datos\\TLVConf.mdb"},
        {"\"C:\\Con espacio\\TLVConf.mdb\",resto\r\n", "C:\\Con espacio\\TLVConf.mdb"},
        {"  /home/planta/TLVConf.mdb  \n", "/home/planta/TLVConf.mdb"},
        {"/a.mdb,/b.mdb\n", "/a.mdb"},
    };
    for (const auto& c : casos) {
        QFile archivo(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
        ASSERT_TRUE(archivo.open(QIODevice::WriteOnly | QIODevice::Truncate));
        archivo.write(c.contenido);
        archivo.close();
        const Result<QString> ruta = leeRutaConf(m);
        ASSERT_TRUE(ruta.ok()) << c.contenido;
        EXPECT_EQ(ruta.value(), QString::fromUtf8(c.primera));
    }
}

TEST_F(TLVDirecTest, FileNameMatchesInAnyCase)
{
    QFile archivo(m.RutaIAU + QStringLiteral("tlvdirec.iau"));
    ASSERT_TRUE(archivo.open(QIODevice::WriteOnly));
    archivo.write("/x/TLVConf.mdb\r\n");
    archivo.close();
    const Result<QString> ruta = leeRutaConf(m);
    ASSERT_TRUE(ruta.ok());
    EXPECT_EQ(ruta.value(), QStringLiteral("/x/TLVConf.mdb"));
    EXPECT_EQ(rutaTLVDirec(m), m.RutaIAU + QStringLiteral("tlvdirec.iau"));

    // Rewriting keeps the file's own spelling instead of adding a second file.
    ASSERT_TRUE(escribeRutasConf(m, {QStringLiteral("/y/TLVConf.mdb")}).ok());
    EXPECT_FALSE(QFileInfo::exists(m.RutaIAU + QStringLiteral("TLVDirec.IAU")));
    EXPECT_EQ(leeRutaConf(m).value(), QStringLiteral("/y/TLVConf.mdb"));
}

TEST_F(TLVDirecTest, MissingFileIsErrorFiftyThree)
{
    const Result<QString> ruta = leeRutaConf(m);
    ASSERT_FALSE(ruta.ok());
    EXPECT_EQ(ruta.error().numero, 53);
    EXPECT_TRUE(ruta.error().descripcion.contains(QStringLiteral("TLVDirec.IAU")));
    EXPECT_EQ(leeRutasConf(m).error().numero, 53);
}

TEST_F(TLVDirecTest, ListHoldsEveryPathInFileOrderWithoutBlankLines)
{
    escribeTLVDirec({QStringLiteral("/a/TLVConf.mdb"), QString(), QStringLiteral("/b/Otra.mdb"),
                     QStringLiteral("/c/Mas.MDB")});
    const Result<QStringList> rutas = leeRutasConf(m);
    ASSERT_TRUE(rutas.ok());
    EXPECT_EQ(rutas.value(),
              (QStringList{QStringLiteral("/a/TLVConf.mdb"), QStringLiteral("/b/Otra.mdb"),
                           QStringLiteral("/c/Mas.MDB")}));
}

TEST_F(TLVDirecTest, WrittenPathsReadBackOnePerLine)
{
    const QStringList rutas = {QStringLiteral("D:\\Datos\\Planta\\TLVConf.mdb"),
                               QStringLiteral("/home/planta/configuración.mdb")};
    ASSERT_TRUE(escribeRutasConf(m, rutas).ok());
    EXPECT_EQ(leeTLVDirec(), QByteArray("D:\\Datos\\Planta\\TLVConf.mdb\r\n") +
                                 QStringLiteral("/home/planta/configuración.mdb").toUtf8() +
                                 "\r\n");
    EXPECT_EQ(leeRutasConf(m).value(), rutas);
}

TEST_F(TLVDirecTest, PathsThatWouldNotReadBackAreRefusedAndTheFileKept)
{
    escribeTLVDirec({QStringLiteral("/a/TLVConf.mdb")});
    const QByteArray antes = leeTLVDirec();
    const char* malas[] = {"/datos/planta 1,2/TLVConf.mdb", "/datos/\"x\".mdb", " /datos/a.mdb",
                           "/datos/a.mdb\n/b.mdb"};
    for (const char* mala : malas) {
        const QString ruta = QString::fromUtf8(mala);
        EXPECT_FALSE(motivoRutaNoAlmacenable(ruta).isEmpty()) << mala;
        const Status escrito = escribeRutasConf(m, {ruta, QStringLiteral("/a/TLVConf.mdb")});
        ASSERT_FALSE(escrito.ok()) << mala;
        EXPECT_TRUE(escrito.error().descripcion.contains(ruta));
        EXPECT_EQ(leeTLVDirec(), antes);
    }
    EXPECT_TRUE(motivoRutaNoAlmacenable(QStringLiteral("D:\\Datos\\TLVConf.mdb")).isEmpty());
}

TEST_F(TLVDirecTest, AFileThatCannotBeWrittenIsErrorSeventyFive)
{
    m.RutaIAU = m.RutaApp + QStringLiteral("NoExiste/");
    const Status escrito = escribeRutasConf(m, {QStringLiteral("/b/TLVConf.mdb")});
    ASSERT_FALSE(escrito.ok());
    EXPECT_EQ(escrito.error().numero, 75);
    EXPECT_TRUE(escrito.error().descripcion.contains(QStringLiteral("NoExiste")));
}

TEST_F(TLVDirecTest, OlderPathsAreWrittenSoThatTheyReadBackWhole)
{
    // Only the path in use (line 1) must be a plain line; the older ones
    // come from the file as the reader gave them and go back in the form
    // that reads back the same.
    const QStringList rutas = {
        QStringLiteral("/a/TLVConf.mdb"),
        QStringLiteral("/datos/planta 1,2/Vieja.mdb"),
        QStringLiteral("  /datos/con blancos.mdb "),
        QStringLiteral("/datos/x\"y\".mdb"),
        QStringLiteral("/datos/dos\r\nlineas.mdb"),
    };
    ASSERT_TRUE(escribeRutasConf(m, rutas).ok());
    EXPECT_EQ(leeTLVDirec(), QByteArray("/a/TLVConf.mdb\r\n"
                                        "\"/datos/planta 1,2/Vieja.mdb\"\r\n"
                                        "\"  /datos/con blancos.mdb \"\r\n"
                                        "/datos/x\"y\".mdb\r\n"
                                        "\"/datos/dos\r\nlineas.mdb\"\r\n"));
    EXPECT_EQ(leeRutasConf(m).value(), rutas);
    EXPECT_EQ(leeRutaConf(m).value(), rutas.first());
}

TEST_F(TLVDirecTest, AnOlderPathNoFormCanHoldIsRefusedAndTheFileKept)
{
    // A path that begins with a double quote and needs quoting cannot be
    // written at all (the reader never gives such a path).
    escribeTLVDirec({QStringLiteral("/a/TLVConf.mdb")});
    const QByteArray antes = leeTLVDirec();
    const QString imposible = QStringLiteral("\"x,y.mdb");
    const Status escrito = escribeRutasConf(m, {QStringLiteral("/b/TLVConf.mdb"), imposible});
    ASSERT_FALSE(escrito.ok());
    EXPECT_TRUE(escrito.error().descripcion.contains(imposible));
    EXPECT_EQ(leeTLVDirec(), antes);
}

} // namespace
} // namespace telvar
