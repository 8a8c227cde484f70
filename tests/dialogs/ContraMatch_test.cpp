// Configurators' passwords in their three stored forms.
#include "dialogs/ContraMatch.h"

#include <QTimer>
#include <crypt.h>
#include <gtest/gtest.h>
#include <memory>

namespace telvar {
namespace {

// A bcrypt hash of password made by libxcrypt with prefix ("$2a$", ...)
// and cost.
QString bcryptHashOfBytes(const QByteArray& clear, const char* prefix, int cost)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    EXPECT_NE(crypt_gensalt_rn(prefix, cost, nullptr, 0, salt, sizeof salt), nullptr);
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(clear.constData(), salt, data.get());
    EXPECT_TRUE(hash && hash[0] != '*');
    return QString::fromLatin1(hash);
}

QString bcryptHash(const QString& password, const char* prefix, int cost)
{
    return bcryptHashOfBytes(password.toUtf8(), prefix, cost);
}

// The encoded-digits form written out independently: v(j) = code + 2*k*j,
// its last three digits, last character first, then k.
QString encoded(const QString& password, int k)
{
    QString out;
    for (qsizetype j = password.size(); j >= 1; --j)
        out += QStringLiteral("%1").arg((password.at(j - 1).unicode() + 2 * k * int(j)) % 1000, 3,
                                        10, QLatin1Char('0'));
    return out + QString::number(k);
}

TEST(ContraMatchTest, TheThreeStoredFormsAreToldApartAndChecked)
{
    const QString sixtyAsText = QStringLiteral("$2a$") + QString(56, QLatin1Char('x'));
    const struct {
        const char* name;
        QString typed;
        QString stored;
        const char* expected;
    } cases[] = {
        {"encoded abc, key 0", QStringLiteral("abc"), QStringLiteral("0990980970"), "Y"},
        {"encoded, wrong password", QStringLiteral("abd"), QStringLiteral("0990980970"), "N"},
        {"encoded, key 5 raises codes by 10, 20, ...", QStringLiteral("ab"),
         QStringLiteral("1181075"), "Y"},
        {"7 digits: the encoding of 2 characters", QStringLiteral("1181075"),
         QStringLiteral("1181075"), "N"},
        {"6 digits: plain text", QStringLiteral("123456"), QStringLiteral("123456"), "Y"},
        {"the longest encoding that fits 60 characters", QString(19, QChar(0xFF)),
         encoded(QString(19, QChar(0xFF)), 9), "Y"},
        {"plain, case-sensitive", QStringLiteral("Super"), QStringLiteral("super"), "N"},
        {"plain with blanks around it", QStringLiteral("super"), QStringLiteral("  super  "), "Y"},
        {"empty matched by empty", QString(), QString(), "Y"},
        {"empty stored, something typed", QStringLiteral("x"), QString(), "N"},
        {"60 characters of \"$2a$\" are never compared as text", sixtyAsText, sixtyAsText, "N"},
        {"59 characters of \"$2a$\" are plain text", sixtyAsText.left(59), sixtyAsText.left(59),
         "Y"},
        {"only the first 60 characters count", QStringLiteral("clave"),
         QStringLiteral("clave") + QString(55, QLatin1Char(' ')) + QStringLiteral("resto"), "Y"},
        {"a character without an 8-bit code is never encoded", QStringLiteral("\u20AC"),
         QStringLiteral("3640"), "N"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContraMatch(c.typed, c.stored, QString()), QLatin1String(c.expected));
    }
    EXPECT_EQ(storedPasswordForm(QStringLiteral("1181075")), StoredPasswordForm::EncodedDigits);
    EXPECT_EQ(storedPasswordForm(QStringLiteral("123456")), StoredPasswordForm::PlainText);
    EXPECT_EQ(storedPasswordForm(sixtyAsText), StoredPasswordForm::Bcrypt);
}

TEST(ContraMatchTest, BcryptHashesOfTheThreeVersionsVerify)
{
    for (const char* prefix : {"$2a$", "$2b$", "$2y$"}) {
        SCOPED_TRACE(prefix);
        const QString hash = bcryptHash(QStringLiteral("admin2026"), prefix, 4);
        ASSERT_EQ(hash.size(), 60);
        EXPECT_EQ(ContraMatch(QStringLiteral("admin2026"), hash, QString()), QStringLiteral("Y"));
        EXPECT_EQ(ContraMatch(QStringLiteral("admin2027"), hash, QString()), QStringLiteral("N"));
        EXPECT_EQ(ContraMatch(hash, hash, QString()), QStringLiteral("N"));
    }
    // Blanks after the stored hash lie beyond its 60 characters; a blank
    // before it pushes its last character out of them.
    const QString hash = bcryptHash(QStringLiteral("clave"), "$2b$", 4);
    EXPECT_EQ(ContraMatch(QStringLiteral("clave"), hash + QStringLiteral("   "), QString()),
              QStringLiteral("Y"));
    EXPECT_EQ(ContraMatch(QStringLiteral("clave"), QStringLiteral(" ") + hash, QString()),
              QStringLiteral("N"));
}

TEST(ContraMatchTest, AHashBeyondTheCostBoundOrMalformedNeverMatchesAndNeverRuns)
{
    const QString hash = bcryptHash(QStringLiteral("clave"), "$2b$", 4);
    // The same salt and digest with another cost: cost 31 would run for
    // days if it were run; the test would not end.
    for (const char* cost : {"31", "17", "99", "x1", "03"}) {
        SCOPED_TRACE(cost);
        QString changed = hash;
        changed.replace(4, 2, QLatin1String(cost));
        EXPECT_EQ(ContraMatch(QStringLiteral("clave"), changed, QString()), QStringLiteral("N"));
        EXPECT_FALSE(bcryptMatches(QStringLiteral("clave"), changed));
    }
    QString broken = hash;
    broken[30] = QLatin1Char('!');
    EXPECT_EQ(ContraMatch(QStringLiteral("clave"), broken, QString()), QStringLiteral("N"));
    // A password holding NUL is not cut short at it.
    EXPECT_FALSE(bcryptMatches(QStringLiteral("clave") + QChar(0) + QStringLiteral("x"), hash));
}

// Passwords stored by a Windows program: encoded digits count the
// characters of the ANSI code page, and a hash may be of its bytes.
TEST(ContraMatchTest, PasswordsBeyondAsciiMatchInTheWindowsCodePage)
{
    const QString typed = QStringLiteral("\u20ACuro\u2019s");
    // cp1252: the euro sign is 128, the right quote 146.
    const QByteArray ansi = QByteArray("\x80uro\x92s");
    ASSERT_EQ(toCp1252(typed), ansi);
    QString stored;
    for (qsizetype j = ansi.size(); j >= 1; --j)
        stored += QStringLiteral("%1").arg(
            (static_cast<unsigned char>(ansi.at(j - 1)) + 2 * 3 * int(j)) % 1000, 3, 10,
            QLatin1Char('0'));
    stored += QStringLiteral("3");
    EXPECT_EQ(ContraMatch(typed, stored, {}), QStringLiteral("Y"));
    EXPECT_EQ(ContraMatch(QStringLiteral("euro's"), stored, {}), QStringLiteral("N"));

    // A bcrypt hash of the UTF-8 bytes and one of the cp1252 bytes.
    EXPECT_TRUE(bcryptMatches(typed, bcryptHash(typed, "$2b$", 4)));
    EXPECT_TRUE(bcryptMatches(typed, bcryptHashOfBytes(ansi, "$2a$", 4)));
    EXPECT_FALSE(bcryptMatches(QStringLiteral("euro's"), bcryptHashOfBytes(ansi, "$2a$", 4)));
    // A character without a cp1252 byte has no encoding.
    EXPECT_EQ(toCp1252(QStringLiteral("\u4E2D")), std::nullopt);
    EXPECT_EQ(encodeDigits(QStringLiteral("\u4E2D"), 3), std::nullopt);
}

TEST(ContraMatchTest, AnEncodingThatLeavesSixteenBitsHasNoResult)
{
    // With key 9, the 1815th character's number is beyond 32767.
    const QString longPassword(1815, QLatin1Char('z'));
    EXPECT_EQ(encodeDigits(longPassword, 9), std::nullopt);
    EXPECT_TRUE(encodeDigits(longPassword.left(1813), 9).has_value());
    EXPECT_EQ(encodeDigits(QStringLiteral("abc"), 0), QStringLiteral("0990980970"));
    // A number of 1000 or more keeps its last three digits: 255 + 2*9*50 = 1155.
    const QString fifty(50, QChar(0xFF));
    EXPECT_EQ(encodeDigits(fifty, 9), encoded(fifty, 9));
    EXPECT_TRUE(encodeDigits(fifty, 9)->startsWith(QStringLiteral("155")));
    EXPECT_EQ(encodeDigits(QStringLiteral("abc"), 10), std::nullopt);
}

TEST(ContraMatchTest, ARangoCountChecksConsecutiveSlices)
{
    const QString first = QStringLiteral("uno").leftJustified(60, QLatin1Char(' '));
    const QString second = encoded(QStringLiteral("dos"), 3).leftJustified(60, QLatin1Char(' '));
    const QString both = first + second;
    EXPECT_EQ(ContraMatch(QStringLiteral("uno"), both, QStringLiteral("2")), QStringLiteral("YN"));
    EXPECT_EQ(ContraMatch(QStringLiteral("dos"), both, QStringLiteral("2")), QStringLiteral("NY"));
    // A slice past the end holds nothing, not an empty password.
    EXPECT_EQ(ContraMatch(QString(), QStringLiteral("x"), QStringLiteral("3")),
              QStringLiteral("NNN"));
    EXPECT_EQ(ContraMatch(QStringLiteral("uno"), both, QStringLiteral("no")), QStringLiteral("Y"));
}

TEST(ContraMatchTest, TimersKeepFiringWhileABcryptCheckRuns)
{
    const QString hash = bcryptHash(QStringLiteral("clave"), "$2b$", 12);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    EXPECT_EQ(ContraMatch(QStringLiteral("clave"), hash, QString()), QStringLiteral("Y"));
    // A cost-12 check takes a good part of a second: the timer ran meanwhile.
    EXPECT_GT(ticks, 3);
}

} // namespace
} // namespace telvar
