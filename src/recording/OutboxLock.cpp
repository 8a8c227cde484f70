#include "recording/OutboxLock.h"

#include "common/ErrorNumbers.h"
#include "common/SafeFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar outbox");
// The most read of a holder's identity: a hostile file cannot make it more.
constexpr qsizetype kMostIdentityBytes = 1024;

QString userName()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
}

// What this process writes into the lock file.
QByteArray identity(const QString& installation)
{
    return (QStringLiteral("host ") + QHostInfo::localHostName() + QStringLiteral(", process ") +
            QString::number(QCoreApplication::applicationPid()) + QStringLiteral(", user ") +
            userName() + QStringLiteral(", installation ") + installation +
            QStringLiteral(", since ") + QDateTime::currentDateTime().toString(Qt::ISODate))
               .toUtf8() +
           '\n';
}

// The holder as its file names it, one line of printable text.
QString holderOf(int fd)
{
    QByteArray bytes(kMostIdentityBytes, '\0');
    const ssize_t got = ::pread(fd, bytes.data(), static_cast<size_t>(bytes.size()), 0);
    bytes.resize(got > 0 ? static_cast<qsizetype>(got) : 0);
    QString text = QString::fromUtf8(bytes).section(QLatin1Char('\n'), 0, 0);
    for (QChar& c : text) {
        if (!c.isPrint())
            c = QLatin1Char(' ');
    }
    text = text.trimmed();
    return text.isEmpty() ? QStringLiteral("a router that has not yet said who it is") : text;
}

enum class Locked { Yes, HeldElsewhere, NoLocks, Failed };

Locked lockWhole(int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    // An open file description's lock: it belongs to this claim alone, so
    // a second claim within one process is refused too, and closing another
    // descriptor of the file does not release it.
    int done = ::fcntl(fd, F_OFD_SETLK, &lock);
    if (done != 0 && errno == EINVAL)
        done = ::fcntl(fd, F_SETLK, &lock);
    if (done == 0)
        return Locked::Yes;
    if (errno == EAGAIN || errno == EACCES)
        return Locked::HeldElsewhere;
    if (errno == ENOLCK || errno == EOPNOTSUPP)
        return Locked::NoLocks;
    return Locked::Failed;
}

} // namespace

QString OutboxLock::lockPathFor(const QString& outboxPath)
{
    return outboxPath + QStringLiteral(".lock");
}

OutboxLock::OutboxLock(QString path, int fd, bool unguarded)
    : m_path(std::move(path)), m_fd(fd), m_unguarded(unguarded)
{
}

OutboxLock::~OutboxLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Result<std::unique_ptr<OutboxLock>> OutboxLock::claim(const QString& outboxPath,
                                                      const QString& installation)
{
    const QString path = lockPathFor(outboxPath);
    const auto refused = [&outboxPath](const Error& why) {
        return Error{ErrorNumber::UnspecifiedFailure, kSource,
                     outboxPath + QStringLiteral(": the outbox cannot be used: ") +
                         why.description};
    };
    Result<SafeFolder> folder = SafeFolder::ofFile(outboxPath);
    if (!folder)
        return refused(folder.error());
    // Never followed when it is a link; owned by this account; its owner's
    // alone.
    Result<FileHandle> opened = folder.value().openInPlace(fileNameOf(path), O_RDWR, 0600);
    if (!opened)
        return refused(opened.error());
    const int fd = opened.value().release();
    const Locked locked = lockWhole(fd);
    if (locked == Locked::HeldElsewhere) {
        const QString holder = holderOf(fd);
        ::close(fd);
        return Error{ErrorNumber::UnspecifiedFailure, kSource,
                     outboxPath +
                         QStringLiteral(": the outbox is in use by another Telvar router (") +
                         holder +
                         QStringLiteral("). Only one router may record through an outbox: "
                                        "stop that one first.")};
    }
    if (locked == Locked::Failed) {
        const int why = errno;
        ::close(fd);
        return Error{ErrorNumber::UnspecifiedFailure, kSource,
                     outboxPath + QStringLiteral(": the outbox's lock file ") + path +
                         QStringLiteral(" cannot be locked: ") +
                         QString::fromLocal8Bit(std::strerror(why))};
    }
    // SQLite follows links: the outbox's files must be none before it opens
    // them, and nobody else's. Checked under the lock, so no router of this
    // installation is making them meanwhile.
    const QString outboxName = fileNameOf(outboxPath);
    for (const QString& suffix : QStringList{QString()} + sqliteSideSuffixes()) {
        if (Result<bool> found = folder.value().checkEntry(outboxName + suffix); !found) {
            ::close(fd);
            return refused(found.error());
        }
    }
    const QByteArray me = identity(installation);
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, me.constData(), static_cast<size_t>(me.size()), 0) != me.size()) {
        const int why = errno;
        ::close(fd);
        return Error{ErrorNumber::UnspecifiedFailure, kSource,
                     outboxPath + QStringLiteral(": the outbox's lock file ") + path +
                         QStringLiteral(" cannot be written: ") +
                         QString::fromLocal8Bit(std::strerror(why))};
    }
    return std::unique_ptr<OutboxLock>(new OutboxLock(path, fd, locked == Locked::NoLocks));
}

} // namespace telvar
