#include "status/StatusSetting.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>

namespace telvar {
namespace {

struct SettingCase {
    const char* name;
    // The file's bytes; none: there is no file.
    std::optional<QByteArray> bytes;
    quint16 port;
    // For an error: what its text says after "<file>" (the server is off).
    const char* error;
};

void PrintTo(const SettingCase& c, std::ostream* os)
{
    *os << c.name;
}

const SettingCase kCases[] = {
    {"NoFile", std::nullopt, 0, nullptr},
    {"EmptyFile", QByteArray(), 0, nullptr},
    {"APort", QByteArray("[status]\nport=9464\n"), 9464, nullptr},
    {"NamesInAnyCaseSpacesAndWindowsLineEnds", QByteArray("[ STATUS ]\r\n  Port = 00080 \r\n"), 80,
     nullptr},
    {"ByteOrderMarkAndComments",
     QByteArray("\xEF\xBB\xBF; the service\n# status\n\n[status]\nport=65535"), 65535, nullptr},
    {"ZeroIsOff", QByteArray("[status]\nport=0\n"), 0, nullptr},
    {"NothingIsOff", QByteArray("[status]\nport=\n"), 0, nullptr},
    {"APortOutsideTheSectionIsAnotherSetting", QByteArray("port=1\n[other]\nport=2\n[status]\n"), 0,
     nullptr},
    {"OtherSectionsMayHoldAnything", QByteArray("[log]\n<<garbage>>\n[status]\nport=7000\n"), 7000,
     nullptr},
    {"OtherNamesInTheSectionAreLeftAlone", QByteArray("[status]\nbind=0.0.0.0\nport=7001\n"), 7001,
     nullptr},
    {"BeyondTheLastPort", QByteArray("[status]\nport=65536\n"), 0,
     ", line 2: the port \"65536\" is not a number from 1 to 65535 (0 or nothing means off)"},
    {"Negative", QByteArray("[status]\nport=-1\n"), 0,
     ", line 2: the port \"-1\" is not a number from 1 to 65535 (0 or nothing means off)"},
    {"Hexadecimal", QByteArray("[status]\n\nport=0x50\n"), 0,
     ", line 3: the port \"0x50\" is not a number from 1 to 65535 (0 or nothing means off)"},
    {"TrailingText", QByteArray("[status]\nport=80 # web\n"), 0,
     ", line 2: the port \"80 # web\" is not a number from 1 to 65535 (0 or nothing means off)"},
    {"HugeNumber", QByteArray("[status]\nport=000000000000000000000000000000000000000000009464"),
     9464, nullptr},
    {"TooManyDigits", QByteArray("[status]\nport=99999999999999999999999999999999999999999999"), 0,
     ", line 2: the port \"9999999999999999999999999999999999999999...\" is not a number from 1 "
     "to 65535 (0 or nothing means off)"},
    {"ControlCharactersAreShownAsReplacements", QByteArray("[status]\nport=8\x01\n"), 0,
     ", line 2: the port \"8\xEF\xBF\xBD\" is not a number from 1 to 65535 (0 or nothing means "
     "off)"},
    {"GivenTwice", QByteArray("[status]\nport=1\nPORT=2\n"), 0,
     ", line 3: the port was given already on line 2"},
    {"NotNameValue", QByteArray("[status]\nport 9464\n"), 0, ", line 2: name=value was expected"},
    {"TooLarge", QByteArray(StatusSetting::kMostBytes + 1, '#'), 0, " is larger than 65536 bytes"},
};

class StatusSettingTable : public ::testing::TestWithParam<SettingCase> {};

TEST_P(StatusSettingTable, ReadsThePortOrSaysWhereTheFileIsWrong)
{
    const SettingCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = StatusSetting::pathForInstallation(dir.path());
    EXPECT_TRUE(path.endsWith(QStringLiteral("/TelvarService.ini")));
    if (c.bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(*c.bytes);
    }
    const Result<StatusSetting> read = StatusSetting::read(path, 2);
    if (c.error) {
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().description, path + QString::fromUtf8(c.error));
    } else {
        ASSERT_TRUE(read.ok()) << read.error().description.toStdString();
        EXPECT_EQ(read.value().port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StatusSettingTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SettingCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(StatusSetting, ErrorsAreInTheInstallationsLanguage)
{
    const Result<StatusSetting> read =
        StatusSetting::parse(QByteArray("[status]\nport=x\n"), QStringLiteral("S.ini"), 1);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().description,
              QStringLiteral("S.ini, línea 2: el puerto \"x\" no es un número de 1 a 65535 (0 o "
                             "nada lo apaga)"));
}

} // namespace
} // namespace telvar
