#include "startup/InstanceLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::acquireInstanceLock;
using telvar::InstanceLockAttempt;
using telvar::instanceLockPath;
using Outcome = telvar::InstanceLockAttempt::Outcome;

namespace {

// The id of a process that has ended.
qint64 deadProcessId()
{
    QProcess ended;
    ended.start(u"true"_s, {});
    if (!ended.waitForStarted())
        return 0;
    const qint64 pid = ended.processId();
    ended.waitForFinished();
    return pid;
}

class InstanceLockTest : public testing::Test {
protected:
    QString dir() const { return m_dir.path() + u"/"_s; }
    QString runtimeDir() const { return m_runtime.path() + u"/"_s; }
    InstanceLockAttempt acquire() const { return acquireInstanceLock(dir(), runtimeDir()); }

    // Writes at path a lock file in QLockFile's own format, as left by
    // process pid on host.
    static void plantLock(const QString& path, qint64 pid, const QString& host)
    {
        QByteArray contents;
        {
            // Let a real lock write its own format, then change its owner.
            QTemporaryDir scratch;
            QLockFile model(scratch.filePath(u"model.lock"_s));
            ASSERT_TRUE(model.tryLock(0));
            QFile file(scratch.filePath(u"model.lock"_s));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            contents = file.readAll();
        }
        QList<QByteArray> lines = contents.split('\n');
        ASSERT_GE(lines.size(), 3);
        lines[0] = QByteArray::number(pid);
        if (host != QSysInfo::machineHostName()) {
            lines[2] = host.toUtf8();
            // Another computer has another machine id, when the format keeps one.
            if (lines.size() > 3 && !lines[3].isEmpty())
                lines[3] = "0123456789abcdef0123456789abcdef";
        }
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(lines.join('\n'));
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
};

TEST_F(InstanceLockTest, SecondInstanceIsRefusedWhileTheFirstHoldsTheLock)
{
    InstanceLockAttempt first = acquire();
    ASSERT_EQ(first.outcome, Outcome::Acquired) << first.error.toStdString();
    ASSERT_TRUE(first.lock);
    EXPECT_TRUE(first.lock->isLocked());
    EXPECT_EQ(first.path, instanceLockPath(dir()));
    EXPECT_TRUE(QFile::exists(instanceLockPath(dir())));

    const InstanceLockAttempt second = acquire();
    EXPECT_EQ(second.outcome, Outcome::AnotherInstance);
    EXPECT_FALSE(second.lock);
    EXPECT_TRUE(first.lock->isLocked());

    first.lock.reset();
    EXPECT_FALSE(QFile::exists(instanceLockPath(dir())));
    EXPECT_EQ(acquire().outcome, Outcome::Acquired);
}

TEST_F(InstanceLockTest, EachComputerHasItsOwnLockFileInTheProgramFolder)
{
    const QString path = instanceLockPath(dir());
    EXPECT_EQ(QFileInfo(path).dir(), QDir(dir()));
    EXPECT_TRUE(QFileInfo(path).fileName().contains(QSysInfo::machineHostName()))
        << path.toStdString();
}

// A lock file found where a start looks, and what it means for that start.
struct LeftLock {
    const char* name;
    const char* fileName; // nullptr: this machine's lock file
    bool ownerRuns;       // the owner is this process (running) or one that has ended
    bool thisHost;
    Outcome outcome;
};

void PrintTo(const LeftLock& row, std::ostream* os)
{
    *os << row.name;
}

class LeftLocks : public InstanceLockTest, public testing::WithParamInterface<LeftLock> {};

TEST_P(LeftLocks, BlockOnlyWhileTheirOwnerRunsOnThisMachine)
{
    const LeftLock& row = GetParam();
    const QString planted =
        row.fileName ? dir() + QLatin1String(row.fileName) : instanceLockPath(dir());
    const qint64 pid = row.ownerRuns ? QCoreApplication::applicationPid() : deadProcessId();
    ASSERT_GT(pid, 0);
    plantLock(planted, pid, row.thisHost ? QSysInfo::machineHostName() : u"otra-pc"_s);

    const InstanceLockAttempt attempt = acquire();
    ASSERT_EQ(attempt.outcome, row.outcome) << attempt.error.toStdString();
    if (row.outcome != Outcome::Acquired) {
        EXPECT_FALSE(attempt.lock);
        return;
    }
    ASSERT_TRUE(attempt.lock);
    EXPECT_TRUE(attempt.lock->isLocked());
    EXPECT_EQ(attempt.path, instanceLockPath(dir()));
    // The lock now names this process and this machine.
    qint64 owner = 0;
    QString host;
    QString app;
    ASSERT_TRUE(attempt.lock->getLockInfo(&owner, &host, &app));
    EXPECT_EQ(owner, QCoreApplication::applicationPid());
    EXPECT_EQ(host, QSysInfo::machineHostName());
    // Another computer's own lock file is left as it is.
    if (row.fileName) {
        EXPECT_TRUE(QFile::exists(planted));
    }
}

const LeftLock kLeftLocks[] = {
    {"CrashedInstanceOfThisMachineIsTakenOver", nullptr, false, true, Outcome::Acquired},
    {"RunningInstanceOfThisMachineBlocks", nullptr, true, true, Outcome::AnotherInstance},
    {"RunningInstanceOfAnotherComputerNeverBlocks", nullptr, true, false, Outcome::Acquired},
    {"EndedInstanceOfAnotherComputerNeverBlocks", nullptr, false, false, Outcome::Acquired},
    {"AnotherComputersOwnLockFileIsNotLookedAt", "Telvar.otra-pc.lock", true, false,
     Outcome::Acquired},
    {"SharedLockFileOfAnotherComputerNeverBlocks", "Telvar.lock", true, false, Outcome::Acquired},
};

INSTANTIATE_TEST_SUITE_P(Rows, LeftLocks, testing::ValuesIn(kLeftLocks),
                         [](const testing::TestParamInfo<LeftLock>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST_F(InstanceLockTest, LockOfALongRunningInstanceNeverGoesStaleByAge)
{
    InstanceLockAttempt first = acquire();
    ASSERT_EQ(first.outcome, Outcome::Acquired);
    // An hour-old lock file of a process that still runs (this one).
    QFile file(instanceLockPath(dir()));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(acquire().outcome, Outcome::AnotherInstance);
}

// A program folder in which no file can be created.
struct UnwritableFolder {
    const char* name;
    // Makes the folder (or finds it); "" when this system cannot offer one.
    QString (*make)(const QString& scratch);
};

void PrintTo(const UnwritableFolder& row, std::ostream* os)
{
    *os << row.name;
}

bool canCreateFileIn(const QString& folder)
{
    QFile probe(folder + u"probe.tmp"_s);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    probe.remove();
    return true;
}

class UnwritableFolders : public InstanceLockTest,
                          public testing::WithParamInterface<UnwritableFolder> {};

TEST_P(UnwritableFolders, KeepTheLockInTheRuntimeDirectory)
{
    const QString folder = GetParam().make(dir());
    if (folder.isEmpty() || canCreateFileIn(folder))
        GTEST_SKIP() << "no such folder here (files can be created even in a read-only folder "
                        "by this user)";

    InstanceLockAttempt first = acquireInstanceLock(folder, runtimeDir());
    ASSERT_EQ(first.outcome, Outcome::Acquired) << first.error.toStdString();
    ASSERT_TRUE(first.lock);
    EXPECT_EQ(first.path, telvar::fallbackInstanceLockPath(folder, runtimeDir()));
    EXPECT_TRUE(first.path.startsWith(runtimeDir()));
    EXPECT_TRUE(QFile::exists(first.path));

    // The same installation is still one instance per machine...
    EXPECT_EQ(acquireInstanceLock(folder, runtimeDir()).outcome, Outcome::AnotherInstance);
    // ...and another installation does not share its lock.
    InstanceLockAttempt other = acquire();
    EXPECT_EQ(other.outcome, Outcome::Acquired);
    EXPECT_NE(other.path, first.path);
}

const UnwritableFolder kUnwritableFolders[] = {
    {"ReadOnlyPermissions",
     [](const QString& scratch) {
         const QString folder = scratch + u"readonly/"_s;
         QDir().mkpath(folder);
         QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadGroup | QFileDevice::ExeGroup);
         return folder;
     }},
    // A file system that refuses new files, even to an administrator.
    {"FileSystemRefusingNewFiles",
     [](const QString&) { return QFileInfo(u"/sys/"_s).isDir() ? u"/sys/"_s : QString(); }},
};

INSTANTIATE_TEST_SUITE_P(Rows, UnwritableFolders, testing::ValuesIn(kUnwritableFolders),
                         [](const testing::TestParamInfo<UnwritableFolder>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST_F(InstanceLockTest, RuntimeLockNameFollowsTheInstallationPath)
{
    const QString a = telvar::fallbackInstanceLockPath(dir() + u"a/"_s, runtimeDir());
    EXPECT_EQ(a, telvar::fallbackInstanceLockPath(dir() + u"a"_s, runtimeDir()));
    EXPECT_EQ(a, telvar::fallbackInstanceLockPath(dir() + u"b/../a/"_s, runtimeDir()));
    EXPECT_NE(a, telvar::fallbackInstanceLockPath(dir() + u"b/"_s, runtimeDir()));
    EXPECT_TRUE(a.startsWith(runtimeDir() + u"Telvar-"_s)) << a.toStdString();
    EXPECT_TRUE(a.endsWith(u".lock"_s));
}

TEST_F(InstanceLockTest, NoPlaceForTheLockIsAFailureNamingEveryPlaceTried)
{
    const QString missing = dir() + u"missing/"_s;
    const QString missingRuntime = dir() + u"missing-runtime/"_s;
    const InstanceLockAttempt attempt = acquireInstanceLock(missing, missingRuntime);
    EXPECT_EQ(attempt.outcome, Outcome::Failed);
    EXPECT_FALSE(attempt.lock);
    EXPECT_TRUE(attempt.error.contains(instanceLockPath(missing))) << attempt.error.toStdString();
    EXPECT_TRUE(attempt.error.contains(telvar::fallbackInstanceLockPath(missing, missingRuntime)))
        << attempt.error.toStdString();
}

} // namespace
