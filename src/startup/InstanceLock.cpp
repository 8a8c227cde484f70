#include "startup/InstanceLock.h"

#include "common/InstallationFolder.h"
#include "common/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

namespace telvar {

namespace {

// The host name as a file-name part: characters outside letters, digits,
// '-', '_' and '.' become '_'.
QString fileNamePart(const QString& text)
{
    QString part = text;
    for (QChar& c : part) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                           c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.');
        if (!plain)
            c = QLatin1Char('_');
    }
    return part.isEmpty() ? QStringLiteral("localhost") : part;
}

QString withSeparator(const QString& dir)
{
    if (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QDir::separator()))
        return dir;
    return dir + QDir::separator();
}

// True when the lock file at path was written on another computer: such a
// lock says nothing about this machine.
bool namesAnotherHost(const QLockFile& lock)
{
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (!lock.getLockInfo(&pid, &hostName, &appName))
        return false;
    return !hostName.isEmpty() && hostName != QSysInfo::machineHostName();
}

enum class Take { Acquired, Held, CannotCreate };

Take take(QLockFile& lock)
{
    // Staleness by age would let a second start break the lock of an instance
    // that has run longer than the stale time; a crashed owner is recognised
    // by its process id instead (QLockFile does that for locks of this host).
    lock.setStaleLockTime(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lock.tryLock(0))
            return Take::Acquired;
        if (lock.error() != QLockFile::LockFailedError)
            return Take::CannotCreate;
        if (attempt > 0 || !namesAnotherHost(lock) || !lock.removeStaleLockFile())
            return Take::Held;
    }
    return Take::Held;
}

// QLockFile reads a lock file it finds, and would read it through a link:
// what is at path must be nothing, or a regular file of this account.
// "" or why it may not be used.
QString refusal(const QString& path)
{
    Result<SafeFolder> folder = SafeFolder::ofFile(path);
    if (!folder)
        return QString(); // QLockFile says why it cannot be made there
    Result<bool> found = folder.value().checkEntry(fileNameOf(path));
    return found ? QString() : found.error().description;
}

// The lock file just made gets Telvar's mode whatever the umask, and under
// root in another account's folder that account as its owner.
void adopt(const QString& path)
{
    Result<SafeFolder> folder = SafeFolder::ofFile(path);
    if (!folder)
        return;
    Result<FileHandle> file = folder.value().openForReading(fileNameOf(path));
    if (file && file.value().isOpen())
        (void)folder.value().adopt(file.value().fd(), fileNameOf(path));
}

QString cannotCreate(const QLockFile& lock, const QString& path)
{
    if (lock.error() == QLockFile::PermissionError)
        return QStringLiteral("Permission denied: the lock file ") + path +
               QStringLiteral(" cannot be created");
    return QStringLiteral("The lock file ") + path + QStringLiteral(" cannot be created or read");
}

} // namespace

QString instanceLockPath(const QString& installationDir)
{
    return withSeparator(installationDir) + QStringLiteral("Telvar.") +
           fileNamePart(QSysInfo::machineHostName()) + QStringLiteral(".lock");
}

QString fallbackInstanceLockPath(const QString& installationDir, const QString& runtimeDir)
{
    return withSeparator(runtimeDir) + installationFolderName(installationDir) +
           QStringLiteral(".lock");
}

InstanceLockAttempt acquireInstanceLock(const QString& installationDir, const QString& runtimeDir)
{
    InstanceLockAttempt attempt;
    QStringList reasons;
    const QStringList places = {instanceLockPath(installationDir),
                                fallbackInstanceLockPath(installationDir, runtimeDir)};
    for (const QString& path : places) {
        // No runtime directory to fall back on: the first failure stands.
        if (path == places.last() && runtimeDir.isEmpty())
            break;
        attempt.path = path;
        // Something planted at the lock's name is refused, not worked
        // around with the other place.
        if (const QString why = refusal(path); !why.isEmpty()) {
            reasons.append(why);
            break;
        }
        auto lock = std::make_unique<QLockFile>(path);
        switch (take(*lock)) {
        case Take::Acquired:
            adopt(path);
            attempt.outcome = InstanceLockAttempt::Outcome::Acquired;
            attempt.lock = std::move(lock);
            return attempt;
        case Take::Held:
            attempt.outcome = InstanceLockAttempt::Outcome::AnotherInstance;
            return attempt;
        case Take::CannotCreate:
            reasons.append(cannotCreate(*lock, path));
            break;
        }
    }
    attempt.outcome = InstanceLockAttempt::Outcome::Failed;
    attempt.error = reasons.join(QStringLiteral("; "));
    return attempt;
}

} // namespace telvar
