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

Error cryptError(const QString& what)
{
    return layerError(ErrorNumber::UnspecifiedFailure, QStringLiteral("libxcrypt"), what);
}

// The method and cost of every hash this program writes: yescrypt at
// libxcrypt's default cost.
const char* const kMethod = "$y$";
constexpr unsigned long kCost = 0;

// A new salt for kMethod at kCost, "" when none can be had.
QByteArray newSetting()
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    // Random bytes from the operating system.
    if (!crypt_gensalt_rn(kMethod, kCost, nullptr, 0, salt, sizeof salt))
        return QByteArray();
    return QByteArray(salt);
}

// The head every hash of this program starts with: "$y$<cost>$". A stored
// hash with another head was not written here (a damaged or planted record),
// and hashing with its method or cost could take any time at all.
QByteArray ownHead()
{
    static const QByteArray head = [] {
        const QByteArray setting = newSetting();
        const qsizetype end = setting.indexOf('$', qsizetype(std::strlen(kMethod)));
        return end < 0 ? QByteArray() : setting.left(end + 1);
    }();
    return head;
}

} // namespace

Result<QByteArray> hash(const QString& password)
{
    const QByteArray clear = password.toUtf8();
    if (clear.contains('\0'))
        return cryptError(QStringLiteral("A database password cannot contain a NUL character."));
    const QByteArray salt = newSetting();
    if (salt.isEmpty())
        return cryptError(QStringLiteral("No salt for the database password: ") +
                          QString::fromLocal8Bit(std::strerror(errno)));
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(clear.constData(), salt.constData(), data.get());
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
    const QByteArray setting = storedHash.trimmed();
    const QByteArray head = ownHead();
    if (head.isEmpty() || !setting.startsWith(head))
        return cryptError(QStringLiteral("The stored database password hash is not one this "
                                         "program writes (method and cost ") +
                          QString::fromLatin1(head) + QStringLiteral(")."));
    auto data = std::make_unique<crypt_data>();
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
