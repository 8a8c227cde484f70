#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/CompactRepair.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "support/DamagedFiles.h"
#include "support/EngineDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace telvar;
namespace DamagedFiles = telvar::test::DamagedFiles;

const QString kPass = QStringLiteral("clave");

QString jet(const QString& path)
{
    return jetConnectionString(path, kPass);
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
    ASSERT_EQ(EngineLayer::open(jet(file)).error().number, ErrorNumber::DamagedFile);

    auto repaired = compactAndRepair(file);
    ASSERT_TRUE(repaired.ok()) << repaired.error().description.toStdString();
    EXPECT_EQ(repaired.value(), file + QStringLiteral(".bak"));
    EXPECT_EQ(DamagedFiles::contents(repaired.value()), damaged);
    EXPECT_EQ(files(),
              (QStringList{QStringLiteral("PROD-A.MDB"), QStringLiteral("PROD-A.MDB.bak")}));

    auto cn = EngineLayer::open(jet(file));
    ASSERT_TRUE(cn.ok()) << cn.error().description.toStdString();
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
        EXPECT_EQ(byDate.error().number, ErrorNumber::DamagedFile);
    }
    auto repaired = compactAndRepair(file);
    ASSERT_TRUE(repaired.ok()) << repaired.error().description.toStdString();
    auto cn = EngineLayer::open(jet(file));
    ASSERT_TRUE(cn.ok());
    auto byDate = cn.value()->exec(
        QStringLiteral("SELECT count(*) FROM Datos WHERE Fecha > '2026-03-05 7:00100'"));
    ASSERT_TRUE(byDate.ok()) << byDate.error().description.toStdString();
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
        EXPECT_FALSE(repaired.error().description.isEmpty());
        EXPECT_EQ(DamagedFiles::contents(path(name)), before);
    }
    EXPECT_EQ(files(), (QStringList{QStringLiteral("Informe.MDB"), QStringLiteral("Mitad.MDB")}));
    auto half = compactAndRepair(path("Mitad.MDB"));
    EXPECT_TRUE(half.error().description.contains(QLatin1String("Datos")))
        << half.error().description.toStdString();
}

TEST_F(CompactRepairTest, ThroughALinkTheFileItPointsToIsRepaired)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("datos")));
    const QString real = path("datos/Qualitra.MDB");
    const QString link = path("Qualitra.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(real, kPass, 40);
    const QByteArray damaged = DamagedFiles::contents(real);
    ASSERT_TRUE(QFile::link(QStringLiteral("datos/Qualitra.MDB"), link));

    auto repaired = compactAndRepair(link);
    ASSERT_TRUE(repaired.ok()) << repaired.error().description.toStdString();
    EXPECT_EQ(repaired.value(), QFileInfo(real).canonicalFilePath() + QStringLiteral(".bak"));
    EXPECT_EQ(DamagedFiles::contents(repaired.value()), damaged);
    // The link is still the link, now to the repaired file.
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), QFileInfo(real).canonicalFilePath());
    EXPECT_EQ(DamagedFiles::countRows(link, kPass), 40);
    EXPECT_EQ(files(), QStringList{QStringLiteral("Qualitra.MDB")});
}

struct ModeCase {
    mode_t mode;
    bool otherOwner; // under root: the file belongs to nobody:nogroup
};

TEST_F(CompactRepairTest, RepairedFileAndBackupKeepTheOriginalsPermissionsAndOwner)
{
    const bool root = ::geteuid() == 0;
    const ModeCase cases[] = {{0600, false}, {0640, false}, {0660, true},
                              {0444, false}, {0604, true},  {0666, false}};
    int n = 0;
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(QString::number(c.mode, 8).toStdString());
        const QString file = dir.filePath(QStringLiteral("P%1.MDB").arg(++n));
        DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 10);
        const QByteArray name = QFile::encodeName(file);
        if (c.otherOwner && root) {
            ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
        }
        ASSERT_EQ(::chmod(name.constData(), c.mode), 0);
        struct stat before {};
        ASSERT_EQ(::stat(name.constData(), &before), 0);
        if (::access(name.constData(), W_OK) != 0)
            continue; // not this user's to repair: see the next test

        auto repaired = compactAndRepair(file);
        ASSERT_TRUE(repaired.ok()) << repaired.error().description.toStdString();
        for (const QString& result : {file, repaired.value()}) {
            SCOPED_TRACE(result.toStdString());
            struct stat after {};
            ASSERT_EQ(::stat(QFile::encodeName(result).constData(), &after), 0);
            EXPECT_EQ(after.st_mode & 07777, c.mode);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_gid, before.st_gid);
        }
        EXPECT_EQ(DamagedFiles::countRows(file, kPass), 10);
    }
}

TEST_F(CompactRepairTest, FileTheUserMayNotWriteIsReportedNotRepaired)
{
    // Under root every file is writable: the repair then runs as nobody.
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("solo")));
    const QString sub = path("solo");
    const QString file = path("solo/Qualitra.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 10);
    const QByteArray name = QFile::encodeName(file);
    ASSERT_EQ(::chmod(name.constData(), 0444), 0);
    const QByteArray before = DamagedFiles::contents(file);

    const auto check = [&file]() -> int {
        auto repaired = compactAndRepair(file);
        if (repaired.ok())
            return 1;
        if (repaired.error().number != ErrorNumber::DamagedFile)
            return 2;
        if (!repaired.error().description.contains(QLatin1String("may not write")) ||
            !repaired.error().description.contains(file))
            return 3;
        return 0;
    };
    if (!root) {
        EXPECT_EQ(check(), 0);
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(sub).constData(), 0777), 0);
        ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(10);
            ::_exit(check());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(DamagedFiles::contents(file), before);
    EXPECT_EQ(QDir(sub).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Qualitra.MDB")});
}

TEST_F(CompactRepairTest, LeftoversOfAnInterruptedRepairAreRemovedByTheNext)
{
    const QString file = path("Q.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(file, kPass, 10);
    // What a repair stopped midway leaves: temporary files named as a
    // repair names them, a side file of one, and a backup's side file whose
    // backup never got its name.
    QStringList leftovers;
    for (const char* kind : {".Q.MDB.repair-XXXXXX", ".Q.MDB.backup-XXXXXX"}) {
        QTemporaryFile temporary(dir.filePath(QLatin1String(kind)));
        ASSERT_TRUE(temporary.open());
        temporary.setAutoRemove(false);
        leftovers.append(QFileInfo(temporary.fileName()).fileName());
    }
    QFile(path(qPrintable(leftovers.first() + QStringLiteral("-journal"))))
        .open(QIODevice::WriteOnly);
    QFile(path("Q.MDB.bak-journal")).open(QIODevice::WriteOnly);
    // Not a repair's: another database's, or other names.
    const QStringList others = {
        QStringLiteral(".R.MDB.repair-Ab12Cd"), QStringLiteral(".Q.MDB.repair-notmine"),
        QStringLiteral("Q.MDB.repair-Ab12Cd"), QStringLiteral("Q.MDB.bak-journal")};
    for (const QString& other : others)
        QFile(dir.filePath(other)).open(QIODevice::WriteOnly);

    auto repaired = compactAndRepair(file);
    ASSERT_TRUE(repaired.ok()) << repaired.error().description.toStdString();
    // The stray side file keeps the first backup name from being used.
    EXPECT_EQ(repaired.value(), file + QStringLiteral(".1.bak"));
    QStringList expected = others;
    expected << QStringLiteral("Q.MDB") << QStringLiteral("Q.MDB.1.bak");
    expected.sort();
    EXPECT_EQ(files(), expected);
}

} // namespace
