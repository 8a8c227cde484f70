#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

namespace telvar {

// The files Telvar creates, replaces or writes in place live in folders that
// another account may be able to write (the service's /var/lib/telvar when a
// person runs a program there as root, a shared folder). Everything here
// works on a folder held open (its links resolved once, the open folder
// checked to be the one that path names) and on names inside it, never on
// paths resolved again later; a name is never followed when it is a link,
// and what is found at it must be a regular file of an owner this process may
// trust (SafeFolder::mayHold). Files are created with kFileMode whatever the
// process's umask.

// Created files are readable by their owner's group, by nobody else.
inline constexpr mode_t kFileMode = 0640;

// An open file descriptor, closed with its holder.
class FileHandle final {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Hands the descriptor over; the handle no longer closes it.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

// A folder held open for the files Telvar keeps in it.
class SafeFolder final {
public:
    // Opens the folder at path. Refused when it does not exist, is not a
    // folder, or what was opened is not the folder the resolved path names
    // (the path was changed meanwhile).
    static Result<SafeFolder> open(const QString& path);
    // The folder holding filePath (its last part is the file's name).
    static Result<SafeFolder> ofFile(const QString& filePath);

    // The folder's resolved path, without a separator at the end.
    const QString& path() const { return m_path; }
    QString filePath(const QString& name) const { return m_path + QLatin1Char('/') + name; }
    int fd() const { return m_handle.fd(); }
    const struct stat& info() const { return m_info; }

    // Whether a file of owner found in this folder may be used. A process
    // that is not root uses its own files only. Root uses, in a folder of
    // another account, only that account's files (what that account put
    // there is its own to give: root's own files there, or anyone else's,
    // are planted or left behind); in a folder of its own that nobody else
    // may write, whatever is there (only root put it there); in a folder of
    // its own that others may write (a shared folder), its own files only.
    bool mayHold(uid_t owner) const;
    // Root working in a folder of another account: the files it creates
    // there are given to that account, so that its next run can write them.
    bool givesNewFilesAway() const;

    // What is at name, not followed: false when nothing is; true for a
    // regular file this folder may hold; an error naming the path for a
    // link, anything but a regular file, or a file of another owner.
    Result<bool> checkEntry(const QString& name) const;
    // The same check on a file opened from name; inPlace adds that the file
    // must have no other name (a hard link would carry what is written in
    // place to a file elsewhere).
    Status checkOpened(int fd, const QString& name, bool inPlace) const;

    // Opens name for reading: a closed handle when there is no such file.
    Result<FileHandle> openForReading(const QString& name) const;
    // Opens name to be written in place (flags: O_WRONLY or O_RDWR, with
    // O_APPEND where wanted), creating it with mode when missing.
    Result<FileHandle> openInPlace(const QString& name, int flags, mode_t mode = kFileMode) const;
    // Creates a new file at a name that is free, with mode (O_EXCL: never
    // an existing file nor a link). Its name is set in createdName.
    Result<FileHandle> createNew(const QString& prefix, QString& createdName,
                                 mode_t mode = kFileMode) const;
    // Gives a file this process has just created its mode (whatever the
    // umask) and, under givesNewFilesAway, the folder's owner and group.
    Status adopt(int fd, const QString& name, mode_t mode = kFileMode) const;

    // Replaces name whole by contents: written to a new file beside it,
    // flushed to the disk, then renamed over it, so a reader or a power cut
    // finds the old contents or the new, never a mix. What was at name must
    // be a regular file this folder may hold (a link is refused, and stays
    // as it was with what it points to).
    Status replace(const QString& name, const QByteArray& contents, mode_t mode = kFileMode) const;
    // Renames from to to inside the folder (replacing to): both must be
    // regular files this folder may hold, or to nothing.
    Status rename(const QString& from, const QString& to) const;
    // Removes name (a link is removed, never followed).
    void remove(const QString& name) const;
    // Flushes the folder's entries to the disk ("" or why not).
    QString sync() const;

private:
    SafeFolder() = default;
    Error error(const QString& name, const QString& why) const;

    QString m_path;
    // The folder as it was named, for messages: they name a file by the
    // path the caller knows.
    QString m_named;
    FileHandle m_handle;
    struct stat m_info {};
};

// The file name part of path.
QString fileNameOf(const QString& path);

// Replaces the file at path whole (SafeFolder::replace in its folder).
Status replaceFile(const QString& path, const QByteArray& contents, mode_t mode = kFileMode);

// The side files SQLite keeps beside a database.
const QStringList& sqliteSideSuffixes();
// Checks, before SQLite opens the database at path, that the file and its
// side files are each nothing or a regular file its folder may hold: SQLite
// would follow a link at any of them.
Status checkSqliteFiles(const QString& path);

// The option that lets root run a program on a folder of another account.
inline constexpr char kAllowRootOnForeignFolder[] = "allow-root-on-foreign-folder";

// When euid is root and folder belongs to another account: that account's
// name (or its number when it has none). "" otherwise, and when the folder
// cannot be read.
QString foreignFolderOwner(const QString& folder, uid_t euid);
// The line refusing to run program as root (euid) on folder when it belongs
// to another account and the run was not allowed (kAllowRootOnForeignFolder):
// it says to run it as that account, with the command line given (the
// program's arguments without the program), or to add the option. "" when
// the run may go on.
QString rootOnForeignFolderRefusal(const QString& program, const QString& folder,
                                   const QStringList& arguments, uid_t euid, bool allowed);

} // namespace telvar
