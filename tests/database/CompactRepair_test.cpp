#include "DamagedFiles_fixture.h"
#include "Engines_fixture.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/CompactRepair.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace telvar;
namespace DamagedFiles = telvar::test::DamagedFiles;

const QString kPass = QStringLiteral("clave");

QString jet(const QString& path)
{
    Modulo1 m;
    m.TipoBD = QStringLiteral("[JET4]");
    m.PassBD = kPass;
    return ArmaConexion(m, path);
}

class CompactRepairTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QTemporaryDir dir;
};

TEST_F(CompactRepairTest, FileThatLostItsFreeSpaceIsRebuiltWhole)
{
    const QString file = path("PROD-A.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 300);
    const QByteArray damaged = DamagedFiles::contents(file);
    ASSERT_EQ(EngineLayer::open(jet(file)).error().numero, ErrorNumber::DamagedFile);

    auto repaired = compactAndRepair(file);
    ASSERT_TRUE(repaired.ok()) << repaired.error().descripcion.toStdString();
    EXPECT_EQ(repaired.value(), file + QStringLiteral(".bak"));
    EXPECT_EQ(DamagedFiles::contents(repaired.value()), damaged);
    EXPECT_EQ(files(),
              (QStringList{QStringLiteral("PROD-A.MDB"), QStringLiteral("PROD-A.MDB.bak")}));

    auto cn = EngineLayer::open(jet(file));
    ASSERT_TRUE(cn.ok()) << cn.error().descripcion.toStdString();
    auto check = cn.value()->exec(QStringLiteral("PRAGMA integrity_check"));
    ASSERT_TRUE(check.ok());
    ASSERT_TRUE(check.value().next());
    EXPECT_EQ(check.value().value(0).toString(), QStringLiteral("ok"));
    EXPECT_EQ(DamagedFiles::countRows(file, kPass), 300);
    // Row numbers go on where they stopped, and the index is back.
    ASSERT_TRUE(cn.value()
                    ->exec(QStringLiteral("INSERT INTO Datos (Fecha) VALUES (?)"),
                           {QStringLiteral("2026-03-06 8:00:00")})
                    .ok());
    auto last = cn.value()->exec(QStringLiteral("Select Top 1 N from Datos order by N Desc"));
    ASSERT_TRUE(last.ok() && last.value().next());
    EXPECT_EQ(last.value().value(0).toInt(), 301);
    auto index = cn.value()->exec(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'DatosFecha'"));
    ASSERT_TRUE(index.ok() && index.value().next());
    EXPECT_EQ(index.value().value(0).toInt(), 1);
}

TEST_F(CompactRepairTest, EarlierBackupsAreNeverOverwritten)
{
    const QString file = path("Qualitra.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 20);
    ASSERT_TRUE(compactAndRepair(file).ok());
    const QByteArray firstBackup = DamagedFiles::contents(file + QStringLiteral(".bak"));
    QFile::remove(file);
    DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 30);
    auto second = compactAndRepair(file);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.value(), file + QStringLiteral(".1.bak"));
    EXPECT_EQ(DamagedFiles::contents(file + QStringLiteral(".bak")), firstBackup);
    EXPECT_EQ(DamagedFiles::countRows(file, kPass), 30);
}

TEST_F(CompactRepairTest, CorruptIndexIsRebuiltFromTheRows)
{
    const QString file = path("Datos.MDB");
    DamagedFiles::makeDataFile(file, kPass, 3000);
    int rootPage = 0;
    {
        auto cn = EngineLayer::open(jet(file));
        ASSERT_TRUE(cn.ok());
        auto root = cn.value()->exec(
            QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = 'DatosFecha'"));
        ASSERT_TRUE(root.ok() && root.value().next());
        rootPage = root.value().value(0).toInt();
    }
    {
        // Garbage over the index's root page.
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(qint64(rootPage - 1) * 4096));
        f.write(QByteArray(4096, '\x5a'));
    }
    {
        // Opening works (the schema is intact); the damage shows when the
        // index is used, with the damaged-file number.
        auto cn = EngineLayer::open(jet(file));
        ASSERT_TRUE(cn.ok());
        auto byDate = cn.value()->exec(
            QStringLiteral("SELECT count(*) FROM Datos WHERE Fecha > '2026-03-05 7:00100'"));
        ASSERT_FALSE(byDate.ok());
        EXPECT_EQ(byDate.error().numero, ErrorNumber::DamagedFile);
    }
    auto repaired = compactAndRepair(file);
    ASSERT_TRUE(repaired.ok()) << repaired.error().descripcion.toStdString();
    auto cn = EngineLayer::open(jet(file));
    ASSERT_TRUE(cn.ok());
    auto byDate = cn.value()->exec(
        QStringLiteral("SELECT count(*) FROM Datos WHERE Fecha > '2026-03-05 7:00100'"));
    ASSERT_TRUE(byDate.ok()) << byDate.error().descripcion.toStdString();
    ASSERT_TRUE(byDate.value().next());
    EXPECT_EQ(byDate.value().value(0).toInt(), 2900);
}

TEST_F(CompactRepairTest, FilesThatCannotBeReadWholeAreLeftUntouched)
{
    DamagedFiles::makeTextFile(path("Informe.MDB"));
    DamagedFiles::makeHalfFile(path("Mitad.MDB"), kPass, 3000);
    for (const char* name : {"Informe.MDB", "Mitad.MDB", "NoEsta.MDB"}) {
        SCOPED_TRACE(name);
        const QByteArray before = DamagedFiles::contents(path(name));
        auto repaired = compactAndRepair(path(name));
        ASSERT_FALSE(repaired.ok());
        EXPECT_FALSE(repaired.error().descripcion.isEmpty());
        EXPECT_EQ(DamagedFiles::contents(path(name)), before);
    }
    EXPECT_EQ(files(), (QStringList{QStringLiteral("Informe.MDB"), QStringLiteral("Mitad.MDB")}));
    auto half = compactAndRepair(path("Mitad.MDB"));
    EXPECT_TRUE(half.error().descripcion.contains(QLatin1String("Datos")))
        << half.error().descripcion.toStdString();
}

} // namespace
