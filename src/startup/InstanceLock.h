#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace telvar {

// Name of the lock file that marks a running instance, in the installation
// directory.
inline constexpr const char* kInstanceLockName = "Telvar.lock";

// The outcome of trying to become the only running instance.
struct InstanceLockAttempt {
    enum class Estado { Adquirido, OtraInstancia, Fallo };
    Estado estado = Estado::Fallo;
    // Held while the program runs; set only when estado is Adquirido.
    std::unique_ptr<QLockFile> lock;
    // Why the lock could not be taken, when estado is Fallo.
    QString error;
};

// Takes the lock file kInstanceLockName in directorio (which ends in a
// separator). A lock left behind by a process that no longer runs (a crash)
// is taken over; a lock held by a running instance is refused at once. Locks
// never go stale by age: the program holds its lock for its whole run.
InstanceLockAttempt adquiereInstancia(const QString& directorio);

} // namespace telvar
