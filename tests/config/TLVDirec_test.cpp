#include "config/TLVDirec.h"
#include "support/ConfigFixture.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class TLVDirecTest : public ::testing::Test, protected test::ConfigFixture {};

TEST_F(TLVDirecTest, FirstFieldFollowsTheSequentialInputRule)
{
    const struct {
        const char* contents;
        const char* firstPath;
    } cases[] = {
        {"D:\\Datos\\TLVConf.mdb\r\nC:\\Otra.mdb\r\n", "D:\\Datos\\TLVConf.mdb"},
        {"\"C:\\Con espacio\\TLVConf.mdb\",resto\r\n", "C:\\Con espacio\\TLVConf.mdb"},
        {"  /home/planta/TLVConf.mdb  \n", "/home/planta/TLVConf.mdb"},
        {"/a.mdb,/b.mdb\n", "/a.mdb"},
    };
    for (const auto& c : cases) {
        QFile file(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.contents);
        file.close();
        const Result<QString> path = readConfigPath(m);
        ASSERT_TRUE(path.ok()) << c.contents;
        EXPECT_EQ(path.value(), QString::fromUtf8(c.firstPath));
    }
}

TEST_F(TLVDirecTest, FileNameMatchesInAnyCase)
{
    QFile file(m.RutaIAU + QStringLiteral("tlvdirec.iau"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("/x/TLVConf.mdb\r\n");
    file.close();
    const Result<QString> path = readConfigPath(m);
    ASSERT_TRUE(path.ok());
    EXPECT_EQ(path.value(), QStringLiteral("/x/TLVConf.mdb"));
    EXPECT_EQ(tlvDirecPath(m), m.RutaIAU + QStringLiteral("tlvdirec.iau"));

    // Rewriting keeps the file's own spelling instead of adding a second file.
    ASSERT_TRUE(writeConfigPaths(m, {QStringLiteral("/y/TLVConf.mdb")}).ok());
    EXPECT_FALSE(QFileInfo::exists(m.RutaIAU + QStringLiteral("TLVDirec.IAU")));
    EXPECT_EQ(readConfigPath(m).value(), QStringLiteral("/y/TLVConf.mdb"));
}

TEST_F(TLVDirecTest, MissingFileIsErrorFiftyThree)
{
    const Result<QString> path = readConfigPath(m);
    ASSERT_FALSE(path.ok());
    EXPECT_EQ(path.error().number, 53);
    EXPECT_TRUE(path.error().description.contains(QStringLiteral("TLVDirec.IAU")));
    EXPECT_EQ(readConfigPaths(m).error().number, 53);
}

TEST_F(TLVDirecTest, ListHoldsEveryPathInFileOrderWithoutBlankLines)
{
    writeTLVDirec({QStringLiteral("/a/TLVConf.mdb"), QString(), QStringLiteral("/b/Otra.mdb"),
                   QStringLiteral("/c/Mas.MDB")});
    const Result<QStringList> paths = readConfigPaths(m);
    ASSERT_TRUE(paths.ok());
    EXPECT_EQ(paths.value(),
              (QStringList{QStringLiteral("/a/TLVConf.mdb"), QStringLiteral("/b/Otra.mdb"),
                           QStringLiteral("/c/Mas.MDB")}));
}

TEST_F(TLVDirecTest, WrittenPathsReadBackOnePerLine)
{
    const QStringList paths = {QStringLiteral("D:\\Datos\\Planta\\TLVConf.mdb"),
                               QStringLiteral("/home/planta/configuración.mdb")};
    ASSERT_TRUE(writeConfigPaths(m, paths).ok());
    EXPECT_EQ(readTLVDirec(), QByteArray("D:\\Datos\\Planta\\TLVConf.mdb\r\n") +
                                  QStringLiteral("/home/planta/configuración.mdb").toUtf8() +
                                  "\r\n");
    EXPECT_EQ(readConfigPaths(m).value(), paths);
}

TEST_F(TLVDirecTest, PathsThatWouldNotReadBackAreRefusedAndTheFileKept)
{
    writeTLVDirec({QStringLiteral("/a/TLVConf.mdb")});
    const QByteArray before = readTLVDirec();
    const char* badOnes[] = {"/datos/planta 1,2/TLVConf.mdb", "/datos/\"x\".mdb", " /datos/a.mdb",
                             "/datos/a.mdb\n/b.mdb"};
    for (const char* bad : badOnes) {
        const QString path = QString::fromUtf8(bad);
        EXPECT_FALSE(unstorablePathReason(path).isEmpty()) << bad;
        const Status written = writeConfigPaths(m, {path, QStringLiteral("/a/TLVConf.mdb")});
        ASSERT_FALSE(written.ok()) << bad;
        EXPECT_TRUE(written.error().description.contains(path));
        EXPECT_EQ(readTLVDirec(), before);
    }
    EXPECT_TRUE(unstorablePathReason(QStringLiteral("D:\\Datos\\TLVConf.mdb")).isEmpty());
}

TEST_F(TLVDirecTest, AFileThatCannotBeWrittenIsErrorSeventyFive)
{
    m.RutaIAU = m.RutaApp + QStringLiteral("NoExiste/");
    const Status written = writeConfigPaths(m, {QStringLiteral("/b/TLVConf.mdb")});
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().number, 75);
    EXPECT_TRUE(written.error().description.contains(QStringLiteral("NoExiste")));
}

TEST_F(TLVDirecTest, OlderPathsAreWrittenSoThatTheyReadBackWhole)
{
    // Only the path in use (line 1) must be a plain line; the older ones
    // come from the file as the reader gave them and go back in the form
    // that reads back the same.
    const QStringList paths = {
        QStringLiteral("/a/TLVConf.mdb"),
        QStringLiteral("/datos/planta 1,2/Vieja.mdb"),
        QStringLiteral("  /datos/con blancos.mdb "),
        QStringLiteral("/datos/x\"y\".mdb"),
        QStringLiteral("/datos/dos\r\nlineas.mdb"),
    };
    ASSERT_TRUE(writeConfigPaths(m, paths).ok());
    EXPECT_EQ(readTLVDirec(), QByteArray("/a/TLVConf.mdb\r\n"
                                         "\"/datos/planta 1,2/Vieja.mdb\"\r\n"
                                         "\"  /datos/con blancos.mdb \"\r\n"
                                         "/datos/x\"y\".mdb\r\n"
                                         "\"/datos/dos\r\nlineas.mdb\"\r\n"));
    EXPECT_EQ(readConfigPaths(m).value(), paths);
    EXPECT_EQ(readConfigPath(m).value(), paths.first());
}

TEST_F(TLVDirecTest, AnOlderPathNoFormCanHoldIsRefusedAndTheFileKept)
{
    // A path that begins with a double quote and needs quoting cannot be
    // written at all (the reader never gives such a path).
    writeTLVDirec({QStringLiteral("/a/TLVConf.mdb")});
    const QByteArray before = readTLVDirec();
    const QString impossible = QStringLiteral("\"x,y.mdb");
    const Status written = writeConfigPaths(m, {QStringLiteral("/b/TLVConf.mdb"), impossible});
    ASSERT_FALSE(written.ok());
    EXPECT_TRUE(written.error().description.contains(impossible));
    EXPECT_EQ(readTLVDirec(), before);
}

} // namespace
} // namespace telvar
