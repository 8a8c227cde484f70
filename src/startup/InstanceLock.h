#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace telvar {

// The outcome of trying to become the only running instance on this machine.
struct InstanceLockAttempt {
    enum class Outcome { Acquired, AnotherInstance, Failed };
    Outcome outcome = Outcome::Failed;
    // Held while the program runs; set only when outcome is Acquired.
    std::unique_ptr<QLockFile> lock;
    // The lock file that was taken or found held (after Failed: the last one tried).
    QString path;
    // Why no lock could be taken, when outcome is Failed.
    QString error;
};

// The lock file of this machine in the installation directory: a program
// folder shared by several computers holds one lock per computer, so that
// none blocks another.
QString instanceLockPath(const QString& installationDir);

// The lock file in the user's runtime directory that stands for the
// installation at installationDir when that folder cannot be written (a
// system-wide installation): its name is derived from the installation's
// path, so that two installations never share it.
QString fallbackInstanceLockPath(const QString& installationDir, const QString& runtimeDir);

// Takes this machine's lock for the installation at installationDir (which
// ends in a separator); when no file can be created there, takes the lock in
// runtimeDir instead. A lock left behind by a process of this machine that no
// longer runs (a crash) is taken over; a lock that names another computer
// never blocks; a lock held by a running instance on this machine is refused
// at once. Locks never go stale by age: the program holds its lock for its
// whole run. A link or another account's file at the lock's name is a
// failure naming it (the lock would be read through it); a lock file made
// is readable by its owner's group only.
InstanceLockAttempt acquireInstanceLock(const QString& installationDir, const QString& runtimeDir);

} // namespace telvar
