#include "startup/Password.h"
#include "support/InstallationBuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::decodePassword;
using telvar::PasswordDecoding;
using telvar::test::InstallationBuilder;

namespace {

const QString kDisplayName = u"/inst/IAu/QLTRPASS.IAU"_s;

struct DecodeCase {
    const char* name;
    QByteArray line;
    QString password;
    QStringList warnings;
};

void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class PasswordDecodes : public testing::TestWithParam<DecodeCase> {};

TEST_P(PasswordDecodes, DropsTheEnclosingCharactersAndShiftsEachCode)
{
    const PasswordDecoding result = decodePassword(GetParam().line, kDisplayName);
    ASSERT_FALSE(result.error) << result.error->toStdString();
    EXPECT_EQ(result.PassBD, GetParam().password);
    EXPECT_EQ(result.warnings, GetParam().warnings);
}

const DecodeCase kDecodeCases[] = {
    // 97 - 2, 98 - 4, 99 - 6
    {"Abc", QByteArrayLiteral("\"abc\""), u"_^]"_s, {}},
    // 34 - 2 = 32 < 33, so 94 is added: 126
    {"QuoteAtPositionOne", QByteArrayLiteral("\"\"\""), u"~"_s, {}},
    {"ThreeCharactersDecodeTheMiddleOne", QByteArrayLiteral("\"A\""), u"?"_s, {}},
    {"EmptyBetweenQuotes", QByteArrayLiteral("\"\""), u""_s, {}},
    // position 47 is the last at which every code decodes into 33..126
    {"Position47",
     QByteArrayLiteral("\"") + QByteArray(46, '~') + QByteArrayLiteral("!\""),
     [] {
         QString s;
         for (int i = 1; i <= 46; ++i)
             s += QChar(126 - 2 * i < 33 ? 126 - 2 * i + 94 : 126 - 2 * i);
         return s + QChar(33);
     }(),
     {}},
    // Not-allowed characters are reported and still decoded: 32 - 2 + 94, 200 - 4
    {"NotAllowedCharacters",
     QByteArrayLiteral("\" \xC8"
                       "a\""),
     QString(QChar(124)) + QChar(196) + QChar(91),
     {u"Character [ ] is not allowed"_s, u"Character [\u00C8] is not allowed"_s}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PasswordDecodes, testing::ValuesIn(kDecodeCases),
                         [](const testing::TestParamInfo<DecodeCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

struct RefusedCase {
    const char* name;
    QByteArray line;
    QString error;
};

void PrintTo(const RefusedCase& c, std::ostream* os)
{
    *os << c.name;
}

class PasswordRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(PasswordRefused, StopsWithAClearMessage)
{
    const PasswordDecoding result = decodePassword(GetParam().line, kDisplayName);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, GetParam().error);
    EXPECT_EQ(result.PassBD, QString());
}

const RefusedCase kRefusedCases[] = {
    {"EmptyLine", QByteArray(),
     kDisplayName + u"\n\nThe first line holds 0 character(s); the password must stand between "
                    "two double quotes."_s},
    {"OneCharacter", QByteArrayLiteral("\""),
     kDisplayName + u"\n\nThe first line holds 1 character(s); the password must stand between "
                    "two double quotes."_s},
    // 33 - 96 + 94 = 31
    {"TooLong", QByteArrayLiteral("\"") + QByteArray(47, '~') + QByteArrayLiteral("!\""),
     kDisplayName + u"\n\nThe password is too long to decode: character 48 decodes to code 31, "
                    "outside 33..126."_s},
    // Dropping the first and the last character of these lines would give a
    // wrong password; no text shows a character that may belong to the code.
    {"BlankAfterTheClosingQuote", QByteArrayLiteral("\"abc\" "),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not end with one: it ends with a blank."_s},
    {"TabAfterTheClosingQuote", QByteArrayLiteral("\"abc\"\t"),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not end with one: it ends with a blank."_s},
    {"BlankBeforeTheOpeningQuote", QByteArrayLiteral(" \"abc\""),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not begin with one: it begins with a blank."_s},
    {"NoQuotesAtAll", QByteArrayLiteral("abc"),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not begin with one: it begins with another character."_s},
    {"OtherEnclosingCharacters", QByteArrayLiteral("[abc]"),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not begin with one: it begins with another character."_s},
    {"NonAsciiEnd", QByteArrayLiteral("\"abc\xA0"),
     kDisplayName + u"\n\nThe first line must hold the password between two double quotes, but "
                    "it does not end with one: it ends with the control or non-ASCII code 160."_s},
};

INSTANTIATE_TEST_SUITE_P(Cases, PasswordRefused, testing::ValuesIn(kRefusedCases),
                         [](const testing::TestParamInfo<RefusedCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST(Password, LongPasswordsDecodeWhenEveryCodeStaysInRange)
{
    const QString plain = QString(60, u'a');
    const std::optional<QByteArray> line = InstallationBuilder::encodePassword(plain);
    ASSERT_TRUE(line);
    const PasswordDecoding result = decodePassword(*line, kDisplayName);
    ASSERT_FALSE(result.error);
    EXPECT_EQ(result.PassBD, plain);
}

TEST(Password, EncodedPasswordsDecodeBack)
{
    for (const QString& plain : {u"Secreto-2024"_s, u"~!\"#$%&'()*+,-./"_s, u"Zz09"_s}) {
        const std::optional<QByteArray> line = InstallationBuilder::encodePassword(plain);
        ASSERT_TRUE(line) << plain.toStdString();
        const PasswordDecoding result = decodePassword(*line, kDisplayName);
        EXPECT_FALSE(result.error);
        EXPECT_TRUE(result.warnings.isEmpty());
        EXPECT_EQ(result.PassBD, plain);
    }
}

TEST(Password, FirstLineEndsAtAnyLineEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"QLTRPASS.IAU"_s);
    EXPECT_FALSE(telvar::readFirstLine(path, 1024));
    for (const QByteArray& bytes :
         {QByteArrayLiteral("\"abc\"\r\nnext"), QByteArrayLiteral("\"abc\"\nnext"),
          QByteArrayLiteral("\"abc\"\rnext"), QByteArrayLiteral("\"abc\"")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        EXPECT_EQ(telvar::readFirstLine(path, 1024), QByteArrayLiteral("\"abc\""));
    }
}

TEST(Password, FirstLineIsReadNoFurtherThanTheBound)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"QLTRPASS.IAU"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'x'));
    file.close();
    EXPECT_EQ(telvar::readFirstLine(path, 100), QByteArray(100, 'x'));
}

} // namespace
