#include "startup/InstanceLock.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::adquiereInstancia;
using Estado = telvar::InstanceLockAttempt::Estado;

namespace {

class InstanceLockTest : public testing::Test {
protected:
    QString dir() const { return m_dir.path() + u"/"_s; }
    QString lockPath() const { return dir() + QLatin1String(telvar::kInstanceLockName); }

    QTemporaryDir m_dir;
};

TEST_F(InstanceLockTest, SecondInstanceIsRefusedWhileTheFirstHoldsTheLock)
{
    telvar::InstanceLockAttempt first = adquiereInstancia(dir());
    ASSERT_EQ(first.estado, Estado::Adquirido) << first.error.toStdString();
    ASSERT_TRUE(first.lock);
    EXPECT_TRUE(first.lock->isLocked());
    EXPECT_TRUE(QFile::exists(lockPath()));

    const telvar::InstanceLockAttempt second = adquiereInstancia(dir());
    EXPECT_EQ(second.estado, Estado::OtraInstancia);
    EXPECT_FALSE(second.lock);
    EXPECT_TRUE(first.lock->isLocked());

    first.lock.reset();
    EXPECT_FALSE(QFile::exists(lockPath()));
    EXPECT_EQ(adquiereInstancia(dir()).estado, Estado::Adquirido);
}

TEST_F(InstanceLockTest, LockLeftByAProcessThatNoLongerRunsIsTakenOver)
{
    // Let a real lock write its own format, then make it look as if it had
    // been left behind by a process that has ended.
    QByteArray contents;
    {
        telvar::InstanceLockAttempt held = adquiereInstancia(dir());
        ASSERT_EQ(held.estado, Estado::Adquirido);
        QFile file(lockPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        contents = file.readAll();
    }
    QProcess ended;
    ended.start(u"true"_s, {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    ASSERT_GT(deadPid, 0);

    QList<QByteArray> lines = contents.split('\n');
    ASSERT_FALSE(lines.isEmpty());
    lines[0] = QByteArray::number(deadPid);
    QFile file(lockPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lines.join('\n'));
    file.close();

    const telvar::InstanceLockAttempt next = adquiereInstancia(dir());
    EXPECT_EQ(next.estado, Estado::Adquirido) << next.error.toStdString();
    ASSERT_TRUE(next.lock);
    EXPECT_TRUE(next.lock->isLocked());
}

TEST_F(InstanceLockTest, LockOfALongRunningInstanceNeverGoesStaleByAge)
{
    telvar::InstanceLockAttempt first = adquiereInstancia(dir());
    ASSERT_EQ(first.estado, Estado::Adquirido);
    // An hour-old lock file of a process that still runs (this one).
    QFile file(lockPath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(adquiereInstancia(dir()).estado, Estado::OtraInstancia);
}

TEST_F(InstanceLockTest, UnusableDirectoryIsAFailureWithItsReason)
{
    const telvar::InstanceLockAttempt attempt = adquiereInstancia(dir() + u"missing/"_s);
    EXPECT_EQ(attempt.estado, Estado::Fallo);
    EXPECT_FALSE(attempt.lock);
    EXPECT_TRUE(attempt.error.contains(dir() + u"missing/Telvar.lock"_s))
        << attempt.error.toStdString();
}

} // namespace
