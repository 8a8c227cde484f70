#include "database/FileReplacement.h"

#include "common/ErrorNumbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace telvar {

namespace {

Error fileError(const QString& why)
{
    return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"), why};
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Temporary files beside the file: .<name>.repair-XXXXXX a new version being
// built (with SQLite's side files while it is open), .<name>.backup-XXXXXX
// a backup being written.
QString temporaryPrefix(const QString& name, const char* kind)
{
    return QStringLiteral(".") + name + QLatin1Char('.') + QLatin1String(kind) + QLatin1Char('-');
}

// Removes what an interrupted replacement of name left beside it. Only
// names of the two patterns above, with exactly the six characters the
// temporary name got, so that another database's files never match. A link
// of such a name is removed itself, never followed.
void removeLeftovers(const SafeFolder& folder, const QString& name)
{
    const QRegularExpression leftover(QStringLiteral("^\\.") + QRegularExpression::escape(name) +
                                      QStringLiteral("\\.(repair|backup)-[A-Za-z0-9]{6}"
                                                     "(-journal|-wal|-shm)?$"));
    const QStringList names =
        QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : names) {
        if (leftover.match(entry).hasMatch())
            folder.remove(entry);
    }
}

// Gives the open file fd the owner, group and permissions of original
// (the owner and group where this user may set them: a user who may not
// keeps the file's owner and, when allowed, the original's group) and
// flushes it to the disk. "" or the reason it failed.
QString takeOverAndSync(int fd, const struct stat& original)
{
    if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    // After the owner: changing it clears the set-id bits.
    if (::fchmod(fd, original.st_mode & 07777) != 0)
        return QStringLiteral("its permissions cannot be set: ") + systemError(errno);
    if (::fsync(fd) != 0)
        return QStringLiteral("it cannot be written to the disk: ") + systemError(errno);
    return QString();
}

// Copies everything readable from in to out. "" or why not.
QString copyContents(int in, int out)
{
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, chunk.data(), static_cast<size_t>(chunk.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return systemError(errno);
        if (got == 0)
            return QString();
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put =
                ::write(out, chunk.constData() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return systemError(errno);
            done += put;
        }
    }
}

// Names a complete temporary file, never replacing what has the name (a
// link planted there included). False with errno set.
bool nameWithoutReplacing(const SafeFolder& folder, const QString& temporary, const QString& name)
{
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(name);
    if (::renameat2(folder.fd(), from.constData(), folder.fd(), to.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: a new name never replaces
    // either.
    if (::linkat(folder.fd(), from.constData(), folder.fd(), to.constData(), 0) != 0)
        return false;
    folder.remove(temporary);
    return true;
}

// The first of <name>.bak, <name>.1.bak, ... that is free with its side
// file names. A regular file there takes the name; a link there, or
// anything else this process may not trust, is refused.
Result<QString> freeBackupName(const SafeFolder& folder, const QString& name)
{
    for (int n = 0;; ++n) {
        const QString candidate =
            n == 0 ? name + QStringLiteral(".bak")
                   : name + QLatin1Char('.') + QString::number(n) + QStringLiteral(".bak");
        bool free = true;
        for (const QString& suffix : QStringList{QString()} + sqliteSideSuffixes()) {
            Result<bool> found = folder.checkEntry(candidate + suffix);
            if (!found)
                return found.error();
            free = free && !found.value();
        }
        if (free)
            return candidate;
    }
}

} // namespace

Result<FileReplacement> FileReplacement::prepare(const QString& path)
{
    const auto refused = [&path](const QString& why) {
        return fileError(path + QStringLiteral(": ") + why);
    };
    Result<SafeFolder> named = SafeFolder::ofFile(path);
    if (!named)
        return named.error();
    const QString name = fileNameOf(path);
    struct stat entry {};
    if (name.isEmpty() || ::fstatat(named.value().fd(), QFile::encodeName(name).constData(), &entry,
                                    AT_SYMLINK_NOFOLLOW) != 0)
        return fileError(QStringLiteral("the file cannot be found behind its path"));

    // A link is followed once, here, and only to a file in its own folder
    // or below it: one that leads out of the folder could make this process
    // write where the folder's owner may not.
    QString realFolder = named.value().path();
    QString realName = name;
    if (S_ISLNK(entry.st_mode)) {
        const QString resolved = QFileInfo(path).canonicalFilePath();
        if (resolved.isEmpty())
            return fileError(QStringLiteral("the file cannot be found behind its path"));
        if (!resolved.startsWith(named.value().path() + QLatin1Char('/')))
            return refused(QStringLiteral("it is a symbolic link to ") + resolved +
                           QStringLiteral(", outside its folder: Telvar does not replace it"));
        realFolder = QFileInfo(resolved).absolutePath();
        realName = QFileInfo(resolved).fileName();
    }
    Result<SafeFolder> folder =
        realFolder == named.value().path() ? std::move(named) : SafeFolder::open(realFolder);
    if (!folder)
        return folder.error();
    FileReplacement replacement(std::move(folder.value()));
    replacement.m_name = realName;
    const SafeFolder& at = replacement.m_folder;
    const QByteArray encodedName = QFile::encodeName(realName);
    if (Result<bool> found = at.checkEntry(realName); !found)
        return found.error();
    else if (!found.value())
        return fileError(QStringLiteral("the file cannot be found behind its path"));
    if (::fstatat(at.fd(), encodedName.constData(), &replacement.m_original, AT_SYMLINK_NOFOLLOW) !=
        0)
        return fileError(QStringLiteral("the file cannot be found behind its path"));
    if (::faccessat(at.fd(), encodedName.constData(), W_OK, 0) != 0)
        return fileError(QStringLiteral("this user may not write the file (") + systemError(errno) +
                         QStringLiteral(")"));
    // The side files go into the backup and are removed: each must be the
    // file's own (a file of another owner there, or a link, was planted).
    for (const QString& suffix : sqliteSideSuffixes()) {
        const QString side = realName + suffix;
        Result<bool> found = at.checkEntry(side);
        if (!found)
            return found.error();
        struct stat info {};
        if (found.value() &&
            ::fstatat(at.fd(), QFile::encodeName(side).constData(), &info, AT_SYMLINK_NOFOLLOW) ==
                0 &&
            info.st_uid != replacement.m_original.st_uid)
            return fileError(at.filePath(side) +
                             QStringLiteral(": it belongs to another account than the file"));
    }
    removeLeftovers(at, realName);
    return replacement;
}

Result<QString> FileReplacement::backUp()
{
    Result<QString> free = freeBackupName(m_folder, m_name);
    if (!free)
        return fileError(QStringLiteral("no backup can be made: ") + free.error().description);
    const QString backup = free.value();
    QStringList sources{m_name};
    QStringList targets{backup};
    for (const QString& suffix : sqliteSideSuffixes()) {
        struct stat info {};
        if (::fstatat(m_folder.fd(), QFile::encodeName(m_name + suffix).constData(), &info,
                      AT_SYMLINK_NOFOLLOW) == 0 ||
            errno != ENOENT) {
            sources.prepend(m_name + suffix);
            targets.prepend(backup + suffix);
        }
    }
    // Each copy is written under a temporary name, flushed and only then
    // named, the main file last, so a backup that bears the name is whole.
    QStringList named;
    const auto undo = [this, &named](const QString& why) {
        for (const QString& done : named)
            m_folder.remove(done);
        return fileError(why);
    };
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString& source = sources.at(i);
        Result<FileHandle> in = m_folder.openForReading(source);
        if (!in)
            return undo(in.error().description);
        if (!in.value().isOpen())
            return undo(m_folder.filePath(source) + QStringLiteral(": ") + systemError(ENOENT));
        struct stat info {};
        if (::fstat(in.value().fd(), &info) == 0 && info.st_uid != m_original.st_uid)
            return undo(m_folder.filePath(source) +
                        QStringLiteral(": it belongs to another account than the file"));
        QString copy;
        Result<FileHandle> out =
            m_folder.createNew(temporaryPrefix(m_name, "backup"), copy, S_IRUSR | S_IWUSR);
        if (!out)
            return undo(out.error().description);
        QString why = copyContents(in.value().fd(), out.value().fd());
        if (!why.isEmpty())
            why = m_folder.filePath(source) + QStringLiteral(": ") + why;
        else if (QString e = takeOverAndSync(out.value().fd(), m_original); !e.isEmpty())
            why = QStringLiteral("the backup copy: ") + e;
        out.value() = FileHandle();
        if (!why.isEmpty()) {
            m_folder.remove(copy);
            return undo(why);
        }
        if (!nameWithoutReplacing(m_folder, copy, targets.at(i))) {
            const int error = errno;
            m_folder.remove(copy);
            return undo(QStringLiteral("the backup cannot be named ") +
                        m_folder.filePath(targets.at(i)) + QStringLiteral(": ") +
                        systemError(error));
        }
        named.append(targets.at(i));
    }
    if (QString e = m_folder.sync(); !e.isEmpty())
        return undo(QStringLiteral("the backup cannot be written to the disk: ") + e);
    m_backup = backup;
    return m_folder.filePath(backup);
}

Result<QString> FileReplacement::newVersionFile() const
{
    QString name;
    Result<FileHandle> file = m_folder.createNew(temporaryPrefix(m_name, "repair"), name);
    if (!file)
        return fileError(QStringLiteral("no temporary file beside it: ") +
                         file.error().description);
    return m_folder.filePath(name);
}

Status FileReplacement::replaceWith(const QString& newVersion)
{
    Result<SafeFolder> from = SafeFolder::ofFile(newVersion);
    if (!from)
        return fileError(QStringLiteral("the new version: ") + from.error().description);
    const QString newName = fileNameOf(newVersion);
    Result<FileHandle> opened = from.value().openForReading(newName);
    if (!opened)
        return fileError(QStringLiteral("the new version: ") + opened.error().description);
    if (!opened.value().isOpen())
        return fileError(QStringLiteral("the new version cannot be opened: ") +
                         systemError(ENOENT));
    const QString synced = takeOverAndSync(opened.value().fd(), m_original);
    opened.value() = FileHandle();
    if (!synced.isEmpty())
        return fileError(QStringLiteral("the new version: ") + synced);
    // The file must still be the one prepared: anything put in its place
    // meanwhile (a link, another file) is refused, not replaced.
    struct stat now {};
    if (::fstatat(m_folder.fd(), QFile::encodeName(m_name).constData(), &now,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != m_original.st_dev || now.st_ino != m_original.st_ino)
        return fileError(
            realPath() +
            QStringLiteral(": it changed during the replacement; it is left as it is"));
    // The new version takes the file's place in one step; the old file's
    // side files would corrupt it and are in the backup.
    if (::renameat(from.value().fd(), QFile::encodeName(newName).constData(), m_folder.fd(),
                   QFile::encodeName(m_name).constData()) != 0)
        return fileError(QStringLiteral("the new version could not replace it: ") +
                         systemError(errno));
    for (const QString& suffix : sqliteSideSuffixes())
        m_folder.remove(m_name + suffix);
    // The new directory entry reaches the disk here. Should that fail, a
    // crash could at worst bring back the old file under its name, beside
    // its complete backup: nothing is lost, so the replacement counts as done.
    (void)m_folder.sync();
    return {};
}

void FileReplacement::discardBackup()
{
    if (m_backup.isEmpty())
        return;
    m_folder.remove(m_backup);
    for (const QString& suffix : sqliteSideSuffixes())
        m_folder.remove(m_backup + suffix);
    m_backup.clear();
}

void FileReplacement::removeWithSideFiles(const QString& path)
{
    // Removing a name never follows a link.
    QFile::remove(path);
    for (const QString& suffix : sqliteSideSuffixes())
        QFile::remove(path + suffix);
}

} // namespace telvar
