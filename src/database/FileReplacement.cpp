#include "database/FileReplacement.h"

#include "common/ErrorNumbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace telvar {

namespace {

// The side files SQLite keeps beside a database.
const QStringList& sideSuffixes()
{
    static const QStringList suffixes{QStringLiteral("-journal"), QStringLiteral("-wal"),
                                      QStringLiteral("-shm")};
    return suffixes;
}

Error fileError(const QString& why)
{
    return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"), why};
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Temporary files beside path: .<name>.repair-XXXXXX a new version being
// built (with SQLite's side files while it is open), .<name>.backup-XXXXXX
// a backup being written.
QString temporaryPattern(const QString& path, const char* kind)
{
    const QFileInfo info(path);
    return info.absoluteDir().filePath(QStringLiteral(".") + info.fileName() + QLatin1Char('.') +
                                       QLatin1String(kind) + QStringLiteral("-XXXXXX"));
}

// Removes what an interrupted replacement of path left beside it. Only
// names of the two patterns above, with exactly the six characters the
// temporary name got, so that another database's files never match.
void removeLeftovers(const QString& path)
{
    const QFileInfo info(path);
    const QRegularExpression leftover(QStringLiteral("^\\.") +
                                      QRegularExpression::escape(info.fileName()) +
                                      QStringLiteral("\\.(repair|backup)-[A-Za-z0-9]{6}"
                                                     "(-journal|-wal|-shm)?$"));
    QDir dir = info.absoluteDir();
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (leftover.match(name).hasMatch())
            dir.remove(name);
    }
}

// Flushes a directory's entries to the disk. File systems that cannot sync
// a directory (EINVAL) count as done.
QString syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL)
        return systemError(error);
    return QString();
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

// Copies source into a new temporary file beside path, with the metadata
// of original, flushed to the disk. The temporary name, or "" with error set.
QString copyDurably(const QString& source, const QString& path, const struct stat& original,
                    QString& error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        error = source + QStringLiteral(": ") + in.errorString();
        return QString();
    }
    QTemporaryFile out(temporaryPattern(path, "backup"));
    if (!out.open()) {
        error = out.errorString();
        return QString();
    }
    for (;;) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                error = source + QStringLiteral(": ") + in.errorString();
                return QString();
            }
            break;
        }
        if (out.write(chunk) != chunk.size()) {
            error = out.errorString();
            return QString();
        }
    }
    if (!out.flush()) {
        error = out.errorString();
        return QString();
    }
    if (QString e = takeOverAndSync(out.handle(), original); !e.isEmpty()) {
        error = QStringLiteral("the backup copy: ") + e;
        return QString();
    }
    out.setAutoRemove(false);
    const QString name = out.fileName();
    out.close();
    return name;
}

// The first of <path>.bak, <path>.1.bak, ... that is free with its side
// file names.
QString freeBackupName(const QString& path)
{
    for (int n = 0;; ++n) {
        const QString name =
            n == 0 ? path + QStringLiteral(".bak")
                   : path + QLatin1Char('.') + QString::number(n) + QStringLiteral(".bak");
        bool free = !QFileInfo::exists(name) && !QFileInfo(name).isSymLink();
        for (const QString& suffix : sideSuffixes())
            free = free && !QFileInfo::exists(name + suffix);
        if (free)
            return name;
    }
}

} // namespace

Result<FileReplacement> FileReplacement::prepare(const QString& path)
{
    FileReplacement replacement;
    replacement.m_real = QFileInfo(path).canonicalFilePath();
    if (replacement.m_real.isEmpty() ||
        ::stat(QFile::encodeName(replacement.m_real).constData(), &replacement.m_original) != 0)
        return fileError(QStringLiteral("the file cannot be found behind its path"));
    if (::access(QFile::encodeName(replacement.m_real).constData(), W_OK) != 0)
        return fileError(QStringLiteral("this user may not write the file (") + systemError(errno) +
                         QStringLiteral(")"));
    removeLeftovers(replacement.m_real);
    return replacement;
}

Result<QString> FileReplacement::backUp()
{
    const QString backup = freeBackupName(m_real);
    QStringList sources{m_real};
    QStringList targets{backup};
    for (const QString& suffix : sideSuffixes()) {
        if (QFileInfo::exists(m_real + suffix)) {
            sources.prepend(m_real + suffix);
            targets.prepend(backup + suffix);
        }
    }
    // Each copy is written under a temporary name, flushed and only then
    // named, the main file last, so a backup that bears the name is whole.
    QStringList named;
    const auto undo = [&named](const QString& why) {
        for (const QString& done : named)
            QFile::remove(done);
        return fileError(why);
    };
    for (qsizetype i = 0; i < sources.size(); ++i) {
        QString error;
        const QString copy = copyDurably(sources.at(i), m_real, m_original, error);
        if (copy.isEmpty())
            return undo(error);
        // QFile::rename never replaces an existing file.
        if (!QFile::rename(copy, targets.at(i))) {
            QFile::remove(copy);
            return undo(QStringLiteral("the backup cannot be named ") + targets.at(i));
        }
        named.append(targets.at(i));
    }
    if (QString e = syncDirectory(QFileInfo(m_real).absolutePath()); !e.isEmpty())
        return undo(QStringLiteral("the backup cannot be written to the disk: ") + e);
    m_backup = backup;
    return backup;
}

Result<QString> FileReplacement::newVersionFile() const
{
    QTemporaryFile file(temporaryPattern(m_real, "repair"));
    if (!file.open())
        return fileError(QStringLiteral("no temporary file beside it: ") + file.errorString());
    file.setAutoRemove(false);
    return file.fileName();
}

Status FileReplacement::replaceWith(const QString& newVersion)
{
    const int fd = ::open(QFile::encodeName(newVersion).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fileError(QStringLiteral("the new version cannot be opened: ") + systemError(errno));
    const QString synced = takeOverAndSync(fd, m_original);
    ::close(fd);
    if (!synced.isEmpty())
        return fileError(QStringLiteral("the new version: ") + synced);
    // The new version takes the file's place in one step; the old file's
    // side files would corrupt it and are in the backup.
    if (std::rename(QFile::encodeName(newVersion).constData(),
                    QFile::encodeName(m_real).constData()) != 0)
        return fileError(QStringLiteral("the new version could not replace it: ") +
                         systemError(errno));
    for (const QString& suffix : sideSuffixes())
        QFile::remove(m_real + suffix);
    // The new directory entry reaches the disk here. Should that fail, a
    // crash could at worst bring back the old file under its name, beside
    // its complete backup: nothing is lost, so the replacement counts as done.
    (void)syncDirectory(QFileInfo(m_real).absolutePath());
    return {};
}

void FileReplacement::discardBackup()
{
    if (!m_backup.isEmpty())
        removeWithSideFiles(m_backup);
    m_backup.clear();
}

void FileReplacement::removeWithSideFiles(const QString& path)
{
    QFile::remove(path);
    for (const QString& suffix : sideSuffixes())
        QFile::remove(path + suffix);
}

} // namespace telvar
