#include "startup/InstanceLock.h"

namespace telvar {

InstanceLockAttempt adquiereInstancia(const QString& directorio)
{
    InstanceLockAttempt attempt;
    const QString ruta = directorio + QLatin1String(kInstanceLockName);
    auto lock = std::make_unique<QLockFile>(ruta);
    // Staleness by age would let a second start break the lock of an instance
    // that has run longer than the stale time; a crashed owner is recognised
    // by its process id instead.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        attempt.estado = InstanceLockAttempt::Estado::Adquirido;
        attempt.lock = std::move(lock);
        return attempt;
    }
    switch (lock->error()) {
    case QLockFile::LockFailedError:
        attempt.estado = InstanceLockAttempt::Estado::OtraInstancia;
        break;
    case QLockFile::PermissionError:
        attempt.error = QStringLiteral("Permission denied: the lock file ") + ruta +
                        QStringLiteral(" cannot be created");
        break;
    case QLockFile::NoError:
    case QLockFile::UnknownError:
        attempt.error =
            QStringLiteral("The lock file ") + ruta + QStringLiteral(" cannot be created or read");
        break;
    }
    return attempt;
}

} // namespace telvar
