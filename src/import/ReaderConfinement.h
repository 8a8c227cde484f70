#pragma once

#include "common/Error.h"

#include <QString>
#include <sys/types.h>

namespace telvar {

// The confinement of the reader, the process in which libmdb reads a Jet
// file (libmdb trusts the file, and a hostile one may take it over).
//
// In the child, between the fork and the start of the reader, only system
// calls (QProcess's child modifier): the reader can never gain privileges
// (no_new_privs, kept across the exec and by every process it could start)
// and is killed when the process that started it ends, whichever way.
// parent is that process's id: a child whose parent already ended leaves at
// once.
void prepareReaderChild(pid_t parent);

// In the reader, once the Jet file and the new file are open and before
// libmdb reads anything of the Jet file but its header:
//   - started as root, it becomes the unprivileged account nobody (65534,
//     no supplementary groups): what it already opened stays open to it;
//   - a seccomp filter then allows it only the system calls that reading
//     open files, writing open files and pipes, memory, time and leaving
//     take. A call that names a file (open, stat, unlink, ...) fails with
//     EACCES, and any other (a socket, exec, fork, ptrace, a signal to
//     another process ...) kills the reader with SIGSYS, which the caller
//     reports as a violation of the confinement.
// An error 70 (permission denied) when a step cannot be taken: the reader
// never goes on unconfined.
Status confineReader(const QString& source);

// The account the reader runs as when started as root.
constexpr uid_t kReaderAccount = 65534;

// In a build with AddressSanitizer, which needs system calls of its own
// (reading its maps, its leak check at exit), the filter lets those
// through too; this says whether it does.
bool readerFilterRelaxedForSanitizer();

} // namespace telvar
