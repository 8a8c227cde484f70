#pragma once

#include "common/Error.h"

#include <QString>
#include <memory>

namespace telvar {

// The claim of one running router on an outbox: a lock file beside it
// (the outbox's path + ".lock") holding a byte-range lock of the file
// system (fcntl; on a network share the server's lock manager keeps it, so
// it holds between hosts where the share offers locks) and the holder's
// identity: host, process, user and installation. The lock ends with the
// process, also when it is killed; a lock left by a crash never blocks.
//
// A second router that would open the same outbox (another host name on a
// shared folder, another user's process, a second installation falling back
// to the same folder) is refused with the holder's identity. A file system
// that offers no locks at all (ENOLCK) cannot tell: the claim is then
// taken unguarded, its identity still written, and says so (unguarded()).
//
// The lock file is never opened through a link, nor when another account
// owns it (SafeFiles); and the claim checks the outbox's own files (the
// database and SQLite's side files) are nothing or regular files of this
// account before SQLite, which would follow a link, opens them.
class OutboxLock final {
public:
    // Claims the outbox at outboxPath for this process. installation names
    // the installation in the identity written. The error names the outbox
    // and, when another router holds it, that router.
    static Result<std::unique_ptr<OutboxLock>> claim(const QString& outboxPath,
                                                     const QString& installation);
    // The lock file of an outbox.
    static QString lockPathFor(const QString& outboxPath);

    ~OutboxLock();
    OutboxLock(const OutboxLock&) = delete;
    OutboxLock& operator=(const OutboxLock&) = delete;

    const QString& path() const { return m_path; }
    // True when the file system offered no lock and the claim rests on the
    // written identity alone.
    bool unguarded() const { return m_unguarded; }

private:
    OutboxLock(QString path, int fd, bool unguarded);

    QString m_path;
    int m_fd = -1;
    bool m_unguarded = false;
};

} // namespace telvar
