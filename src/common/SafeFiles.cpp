#include "common/SafeFiles.h"

#include "common/ErrorNumbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace telvar {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString accountName(uid_t uid)
{
    const passwd* pw = ::getpwuid(uid);
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QByteArray encoded(const QString& name)
{
    return QFile::encodeName(name);
}

// A name made for one new file: prefix and six random letters or digits.
QString randomName(const QString& prefix)
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString name = prefix;
    for (int i = 0; i < 6; ++i)
        name += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars) - 1)]);
    return name;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// What a name that could not be opened without following it is.
QString openFailure(int error)
{
    if (error == ELOOP)
        return QStringLiteral("it is a symbolic link, and Telvar never writes or reads through "
                              "links it finds there");
    return systemError(error);
}

} // namespace

FileHandle::~FileHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Result<SafeFolder> SafeFolder::open(const QString& path)
{
    const auto refused = [&path](const QString& why) {
        return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                     path + QStringLiteral(": ") + why};
    };
    const QString resolved =
        QFileInfo(path.isEmpty() ? QStringLiteral(".") : path).canonicalFilePath();
    if (resolved.isEmpty())
        return refused(QStringLiteral("the folder does not exist"));
    SafeFolder folder;
    folder.m_path = resolved;
    folder.m_named =
        QDir::cleanPath(QFileInfo(path.isEmpty() ? QStringLiteral(".") : path).absoluteFilePath());
    folder.m_handle =
        FileHandle(::open(encoded(resolved).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.m_handle.isOpen())
        return refused(QStringLiteral("the folder cannot be opened: ") + systemError(errno));
    if (::fstat(folder.fd(), &folder.m_info) != 0)
        return refused(systemError(errno));
    // A part of the path replaced by a link after it was resolved would
    // have led the open elsewhere: the folder opened must be the one named.
    char opened[4096];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(folder.fd());
    const ssize_t length = ::readlink(self.constData(), opened, sizeof opened);
    if (length > 0) {
        if (QFile::decodeName(QByteArray(opened, length)) != resolved)
            return refused(QStringLiteral("the folder changed while it was being opened"));
    } else {
        struct stat named {};
        if (::stat(encoded(resolved).constData(), &named) != 0 ||
            named.st_dev != folder.m_info.st_dev || named.st_ino != folder.m_info.st_ino)
            return refused(QStringLiteral("the folder changed while it was being opened"));
    }
    return folder;
}

Result<SafeFolder> SafeFolder::ofFile(const QString& filePath)
{
    return open(QFileInfo(filePath).absolutePath());
}

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

bool SafeFolder::mayHold(uid_t owner) const
{
    const uid_t me = ::geteuid();
    if (me != 0)
        return owner == me;
    if (m_info.st_uid != 0)
        return owner == m_info.st_uid;
    if ((m_info.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    return owner == 0;
}

bool SafeFolder::givesNewFilesAway() const
{
    return ::geteuid() == 0 && m_info.st_uid != 0;
}

Error SafeFolder::error(const QString& name, const QString& why) const
{
    const QString named =
        m_named.endsWith(QLatin1Char('/')) ? m_named + name : m_named + QLatin1Char('/') + name;
    return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                 named + QStringLiteral(": ") + why};
}

namespace {

// Why a file with info found at a name may not be used, "" when it may.
QString refusal(const SafeFolder& folder, const struct stat& info, bool inPlace)
{
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("it is a symbolic link, and Telvar never writes or reads through "
                              "links it finds there");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a regular file");
    if (!folder.mayHold(info.st_uid))
        return QStringLiteral("it belongs to the account ") + accountName(info.st_uid) +
               QStringLiteral(", not to the one Telvar runs as (") + accountName(::geteuid()) +
               QStringLiteral("): remove it, or give it to that account");
    if (inPlace && info.st_nlink > 1)
        return QStringLiteral("it has more than one name (a hard link)");
    return QString();
}

} // namespace

Result<bool> SafeFolder::checkEntry(const QString& name) const
{
    struct stat info {};
    if (::fstatat(fd(), encoded(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        return error(name, systemError(errno));
    }
    if (const QString why = refusal(*this, info, false); !why.isEmpty())
        return error(name, why);
    return true;
}

Status SafeFolder::checkOpened(int fileFd, const QString& name, bool inPlace) const
{
    struct stat info {};
    if (::fstat(fileFd, &info) != 0)
        return error(name, systemError(errno));
    if (const QString why = refusal(*this, info, inPlace); !why.isEmpty())
        return error(name, why);
    return {};
}

Result<FileHandle> SafeFolder::openForReading(const QString& name) const
{
    // O_NONBLOCK: a FIFO put at the name must not hold the open.
    FileHandle file(
        ::openat(fd(), encoded(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen()) {
        if (errno == ENOENT)
            return FileHandle();
        return error(name, openFailure(errno));
    }
    if (Status checked = checkOpened(file.fd(), name, false); !checked)
        return checked.error();
    return file;
}

Result<FileHandle> SafeFolder::openInPlace(const QString& name, int flags, mode_t mode) const
{
    const QByteArray encodedName = encoded(name);
    const int base = flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 3; ++attempt) {
        FileHandle file(::openat(fd(), encodedName.constData(), base));
        if (file.isOpen()) {
            if (Status checked = checkOpened(file.fd(), name, true); !checked)
                return checked.error();
            return file;
        }
        if (errno != ENOENT)
            return error(name, openFailure(errno));
        // Created here, by this process alone (O_EXCL), so it gets its
        // mode and owner before anything is written.
        FileHandle created(
            ::openat(fd(), encodedName.constData(), base | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR));
        if (created.isOpen()) {
            if (Status adopted = adopt(created.fd(), name, mode); !adopted)
                return adopted.error();
            return created;
        }
        if (errno != EEXIST)
            return error(name, openFailure(errno));
        // Another process made it meanwhile: open that one, checked.
    }
    return error(name, QStringLiteral("it keeps appearing and disappearing"));
}

Result<FileHandle> SafeFolder::createNew(const QString& prefix, QString& createdName,
                                         mode_t mode) const
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = randomName(prefix);
        FileHandle file(::openat(fd(), encoded(name).constData(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 S_IRUSR | S_IWUSR));
        if (!file.isOpen()) {
            if (errno == EEXIST)
                continue;
            return error(name, systemError(errno));
        }
        if (Status adopted = adopt(file.fd(), name, mode); !adopted) {
            remove(name);
            return adopted.error();
        }
        createdName = name;
        return file;
    }
    return error(prefix, QStringLiteral("no free name for a new file"));
}

Status SafeFolder::adopt(int fileFd, const QString& name, mode_t mode) const
{
    if (givesNewFilesAway() && ::fchown(fileFd, m_info.st_uid, m_info.st_gid) != 0)
        return error(name, QStringLiteral("it cannot be given to the folder's owner: ") +
                               systemError(errno));
    // After the owner: changing it clears the set-id bits.
    if (::fchmod(fileFd, mode) != 0)
        return error(name, QStringLiteral("its permissions cannot be set: ") + systemError(errno));
    return {};
}

Status SafeFolder::replace(const QString& name, const QByteArray& contents, mode_t mode) const
{
    if (Result<bool> found = checkEntry(name); !found)
        return found.error();
    QString temporary;
    Result<FileHandle> created =
        createNew(QStringLiteral(".") + name + QStringLiteral(".new-"), temporary, mode);
    if (!created)
        return created.error();
    const int file = created.value().fd();
    QString why;
    if (!writeAll(file, contents))
        why = QStringLiteral("it cannot be written: ") + systemError(errno);
    else if (::fsync(file) != 0)
        why = QStringLiteral("it cannot be written to the disk: ") + systemError(errno);
    created.value() = FileHandle();
    if (why.isEmpty()) {
        // Checked again just before: what is at the name may have changed.
        // A link put there after this check is itself replaced by the
        // rename, never followed.
        if (Result<bool> found = checkEntry(name); !found) {
            remove(temporary);
            return found.error();
        }
        if (::renameat(fd(), encoded(temporary).constData(), fd(), encoded(name).constData()) != 0)
            why = QStringLiteral("the new version cannot take its place: ") + systemError(errno);
    }
    if (!why.isEmpty()) {
        remove(temporary);
        return error(name, why);
    }
    (void)sync();
    return {};
}

Status SafeFolder::rename(const QString& from, const QString& to) const
{
    Result<bool> source = checkEntry(from);
    if (!source)
        return source.error();
    if (!source.value())
        return error(from, systemError(ENOENT));
    if (Result<bool> target = checkEntry(to); !target)
        return target.error();
    if (::renameat(fd(), encoded(from).constData(), fd(), encoded(to).constData()) != 0)
        return error(from, QStringLiteral("it cannot be renamed ") + to + QStringLiteral(": ") +
                               systemError(errno));
    return {};
}

void SafeFolder::remove(const QString& name) const
{
    (void)::unlinkat(fd(), encoded(name).constData(), 0);
}

QString SafeFolder::sync() const
{
    // File systems that cannot sync a folder (EINVAL) count as done.
    if (::fsync(fd()) != 0 && errno != EINVAL)
        return systemError(errno);
    return QString();
}

Status replaceFile(const QString& path, const QByteArray& contents, mode_t mode)
{
    Result<SafeFolder> folder = SafeFolder::ofFile(path);
    if (!folder)
        return folder.error();
    return folder.value().replace(fileNameOf(path), contents, mode);
}

const QStringList& sqliteSideSuffixes()
{
    static const QStringList suffixes{QStringLiteral("-journal"), QStringLiteral("-wal"),
                                      QStringLiteral("-shm")};
    return suffixes;
}

Status checkSqliteFiles(const QString& path)
{
    Result<SafeFolder> folder = SafeFolder::ofFile(path);
    if (!folder)
        return folder.error();
    const QString name = fileNameOf(path);
    if (Result<bool> found = folder.value().checkEntry(name); !found)
        return found.error();
    for (const QString& suffix : sqliteSideSuffixes()) {
        if (Result<bool> found = folder.value().checkEntry(name + suffix); !found)
            return found.error();
    }
    return {};
}

QString foreignFolderOwner(const QString& folder, uid_t euid)
{
    if (euid != 0)
        return QString();
    struct stat info {};
    if (::stat(encoded(folder).constData(), &info) != 0 || info.st_uid == 0)
        return QString();
    return accountName(info.st_uid);
}

QString rootOnForeignFolderRefusal(const QString& program, const QString& folder,
                                   const QStringList& arguments, uid_t euid, bool allowed)
{
    const QString owner = foreignFolderOwner(folder, euid);
    if (owner.isEmpty() || allowed)
        return QString();
    QStringList command{QStringLiteral("sudo -u ") + owner, program};
    for (const QString& argument : arguments) {
        const bool plain =
            !argument.isEmpty() && std::all_of(argument.begin(), argument.end(), [](QChar c) {
                return c.isLetterOrNumber() || QStringLiteral("-_./=:,+@%").contains(c);
            });
        command.append(
            plain ? argument
                  : QLatin1Char('\'') +
                        QString(argument).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                        QLatin1Char('\''));
    }
    return program + QStringLiteral(": ") + folder + QStringLiteral(" belongs to the account ") +
           owner +
           QStringLiteral(", and this is root: root would follow links that account can put there "
                          "and leave files it cannot write. Run it as that account: ") +
           command.join(QLatin1Char(' ')) +
           QStringLiteral(" (or, to run it as root all the same, "
                          "add --") +
           QLatin1String(kAllowRootOnForeignFolder) + QStringLiteral(")");
}

} // namespace telvar
