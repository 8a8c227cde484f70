#include "dialogs/ContraMatch.h"

#include "common/TrimBlanks.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <atomic>
#include <crypt.h>
#include <iconv.h>
#include <limits>
#include <memory>

namespace telvar {

namespace {

constexpr qsizetype kSliceLength = 60;
constexpr int kMaxRango = 64;

bool isDecimalDigits(const QString& text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool hasBcryptPrefix(const QString& text)
{
    return text.startsWith(QLatin1String("$2a$")) || text.startsWith(QLatin1String("$2b$")) ||
           text.startsWith(QLatin1String("$2y$"));
}

// The cost of a bcrypt hash ("$2a$10$..."): two decimal digits; nullopt when
// the field is not that.
std::optional<int> bcryptCost(const QString& hash)
{
    if (hash.size() < 7 || hash.at(6) != QLatin1Char('$'))
        return std::nullopt;
    const QString field = hash.mid(4, 2);
    if (!isDecimalDigits(field))
        return std::nullopt;
    return field.toInt();
}

// Constant-time comparison of two byte strings of equal length.
bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

// bcryptMatches on a worker thread while this thread's events keep running.
bool bcryptMatchesKeepingEventsRunning(const QString& typed, const QString& hash)
{
    if (!QCoreApplication::instance())
        return bcryptMatches(typed, hash);
    // The pending events run first, as they would before any long check.
    QCoreApplication::processEvents();
    std::atomic<bool> matched{false};
    std::unique_ptr<QThread> worker(
        QThread::create([&matched, typed, hash] { matched = bcryptMatches(typed, hash); }));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // The loop may be ended early by the application's exit; the check is
    // waited for all the same (its cost is bounded).
    if (!worker->isFinished())
        loop.exec();
    worker->wait();
    return matched;
}

bool matchesOne(const QString& typed, const QString& slice)
{
    const QString stored = trimBlanks(slice);
    switch (storedPasswordForm(stored)) {
    case StoredPasswordForm::PlainText:
        return stored == typed;
    case StoredPasswordForm::EncodedDigits: {
        // Three digits a character and the key digit: a typed password of
        // another length cannot match, and is not encoded at all.
        if (typed.size() * 3 + 1 != stored.size())
            return false;
        const std::optional<QString> encoded = encodeDigits(typed, stored.back().digitValue());
        return encoded && *encoded == stored;
    }
    case StoredPasswordForm::Bcrypt:
        return bcryptMatchesKeepingEventsRunning(typed, stored);
    }
    return false;
}

} // namespace

StoredPasswordForm storedPasswordForm(const QString& stored)
{
    if (hasBcryptPrefix(stored) && stored.size() == 60)
        return StoredPasswordForm::Bcrypt;
    if (stored.size() >= 4 && (stored.size() - 1) % 3 == 0 && isDecimalDigits(stored))
        return StoredPasswordForm::EncodedDigits;
    return StoredPasswordForm::PlainText;
}

std::optional<QString> encodeDigits(const QString& password, int k)
{
    if (k < 0 || k > 9)
        return std::nullopt;
    QString encoded;
    encoded.reserve(password.size() * 3 + 1);
    const std::optional<QByteArray> bytes = toCp1252(password);
    // One byte a character, or the positions would not be the characters'.
    if (!bytes || bytes->size() != password.size())
        return std::nullopt;
    for (qsizetype j = bytes->size(); j >= 1; --j) {
        const auto code = static_cast<unsigned char>(bytes->at(j - 1));
        const long long value = static_cast<long long>(code) + 2LL * k * j;
        if (value > std::numeric_limits<qint16>::max())
            return std::nullopt;
        encoded += QStringLiteral("%1").arg(value % 1000, 3, 10, QLatin1Char('0'));
    }
    return encoded + QString::number(k);
}

bool bcryptMatches(const QString& typed, const QString& hash)
{
    if (!hasBcryptPrefix(hash) || hash.size() != 60)
        return false;
    const std::optional<int> cost = bcryptCost(hash);
    if (!cost || *cost < 4 || *cost > kMaxBcryptCost)
        return false;
    const QByteArray setting = hash.toLatin1();
    // bcrypt reads a password up to its first NUL byte.
    if (typed.contains(QChar(0)))
        return false;
    const auto verifies = [&setting](const QByteArray& phrase) {
        auto data = std::make_unique<crypt_data>();
        const char* result = crypt_r(phrase.constData(), setting.constData(), data.get());
        // libxcrypt marks a failure with a result beginning with '*'.
        return result && result[0] != '*' && sameBytes(QByteArray(result), setting);
    };
    const QByteArray utf8 = typed.toUtf8();
    if (verifies(utf8))
        return true;
    // The same bytes need not be tried twice (an ASCII password).
    const std::optional<QByteArray> ansi = toCp1252(typed);
    return ansi && *ansi != utf8 && verifies(*ansi);
}

std::optional<QByteArray> toCp1252(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    iconv_t converter = iconv_open("CP1252", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QByteArray out(utf8.size(), Qt::Uninitialized);
    char* in = utf8.data();
    std::size_t inLeft = static_cast<std::size_t>(utf8.size());
    char* at = out.data();
    std::size_t outLeft = static_cast<std::size_t>(out.size());
    const std::size_t done = iconv(converter, &in, &inLeft, &at, &outLeft);
    iconv_close(converter);
    // A character without a cp1252 byte stops the conversion.
    if (done == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

QString ContraMatch(const QString& TryContra, const QString& Hash, const QString& Rango)
{
    int count = 1;
    bool isCount = false;
    const int asked = trimBlanks(Rango).toInt(&isCount);
    if (isCount && asked >= 1 && asked <= kMaxRango)
        count = asked;
    QString result;
    for (int i = 0; i < count; ++i) {
        // A slice past the end of Hash holds no stored password at all.
        const bool present = i == 0 || i * kSliceLength < Hash.size();
        result += present && matchesOne(TryContra, Hash.mid(i * kSliceLength, kSliceLength))
                      ? QLatin1Char('Y')
                      : QLatin1Char('N');
    }
    return result;
}

} // namespace telvar
