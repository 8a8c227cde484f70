#include "database/FilePassword.h"

#include "database/EngineErrors.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <cerrno>
#include <crypt.h>
#include <cstring>
#include <memory>

namespace telvar::FilePassword {

namespace {

// Keys of (hash, password) pairs that verified: a digest, so the set does
// not keep the passwords themselves.
QSet<QByteArray>& verifiedPairs()
{
    static QSet<QByteArray> pairs;
    return pairs;
}

QMutex& verifiedMutex()
{
    static QMutex mutex;
    return mutex;
}

QByteArray pairKey(const QByteArray& password, const QByteArray& storedHash)
{
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(storedHash);
    digest.addData(QByteArrayView("\0", 1));
    digest.addData(password);
    return digest.result();
}

RuntimeError cryptError(const QString& what)
{
    return layerError(ErrorNumber::UnspecifiedFailure, QStringLiteral("libxcrypt"), what);
}

} // namespace

Result<QByteArray> hash(const QString& password)
{
    const QByteArray clear = password.toUtf8();
    if (clear.contains('\0'))
        return cryptError(QStringLiteral("A database password cannot contain a NUL character."));
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    // Count 0: libxcrypt's default cost for yescrypt; random bytes from the
    // operating system.
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt))
        return cryptError(QStringLiteral("No salt for the database password: ") +
                          QString::fromLocal8Bit(std::strerror(errno)));
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(clear.constData(), salt, data.get());
    if (!result || result[0] == '*')
        return cryptError(QStringLiteral("The database password could not be hashed."));
    return QByteArray(result);
}

Result<bool> verify(const QString& password, const QByteArray& storedHash)
{
    const QByteArray clear = password.toUtf8();
    const QByteArray key = pairKey(clear, storedHash);
    {
        QMutexLocker lock(&verifiedMutex());
        if (verifiedPairs().contains(key))
            return true;
    }
    if (clear.contains('\0'))
        return false;
    auto data = std::make_unique<crypt_data>();
    const QByteArray setting = storedHash.trimmed();
    const char* result = crypt_r(clear.constData(), setting.constData(), data.get());
    // libxcrypt answers a malformed setting with a string starting with "*".
    if (!result || result[0] == '*')
        return cryptError(QStringLiteral("The stored database password hash is not valid."));
    const bool match = setting == QByteArray(result);
    if (match) {
        QMutexLocker lock(&verifiedMutex());
        verifiedPairs().insert(key);
    }
    return match;
}

} // namespace telvar::FilePassword
