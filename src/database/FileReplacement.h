#pragma once

#include "common/Error.h"
#include "common/SafeFiles.h"

#include <QString>
#include <sys/stat.h>

namespace telvar {

// The durable replacement of a file by a new version built beside it: the
// original is kept as a backup, and the new version takes the file's place
// in one step, so that a crash at any moment leaves the old or the new file
// under the file's name, never a partial one.
//
// A path through a symbolic link is replaced where the link points, when
// that is inside the link's folder (or a folder below it): the link stays. A
// link that leads out of its folder is refused, and so are links at the
// file's side files and backup names, and files (the file, its side files)
// of an owner this process may not trust (SafeFolder::mayHold): run as root
// on another account's folder, what that account planted there is never
// followed, read or overwritten. Every file is opened without following
// links, and the replacement works on the folder held open. The backup is <path>.bak (or
// <path>.<n>.bak when that exists), with the side files SQLite keeps beside a database (-journal,
// -wal, -shm); it is written under a temporary name and named only when complete. New versions and
// backups get the original's permissions (and its owner and group where this user may set them),
// and everything is flushed to the disk before the new version is named. Temporary files an
// interrupted replacement left beside the file are removed by the next one.
class FileReplacement final {
public:
    // Prepares the replacement of path: the file must exist and this user
    // must be allowed to write it.
    static Result<FileReplacement> prepare(const QString& path);

    // The file being replaced (behind any link).
    QString realPath() const { return m_folder.filePath(m_name); }

    // Copies the file (and its side files) to the backup. The backup's
    // path, or an error; nothing is left behind on failure.
    Result<QString> backUp();

    // A new, empty file beside the file, for the new version to be built in.
    Result<QString> newVersionFile() const;

    // Puts the complete new version built at newVersion in the file's place:
    // it gets the original's owner and permissions, reaches the disk, and
    // replaces the file; the old file's side files go (they are in the
    // backup). On failure the file is as it was.
    Status replaceWith(const QString& newVersion);

    // Removes a backup made by backUp (when the replacement is given up and
    // the file stayed as it was).
    void discardBackup();

    // Removes a file and SQLite's side files beside it.
    static void removeWithSideFiles(const QString& path);

private:
    explicit FileReplacement(SafeFolder folder) : m_folder(std::move(folder)) {}

    // The folder of the file being replaced, and its name there.
    SafeFolder m_folder;
    QString m_name;
    // The backup's name in that folder, "" when none is made.
    QString m_backup;
    struct stat m_original {};
};

} // namespace telvar
