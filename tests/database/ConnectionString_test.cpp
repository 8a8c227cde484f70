#include "Engines_fixture.h"
#include "database/ConnectionString.h"
#include "database/OpenDBOK.h"

#include <gtest/gtest.h>

namespace {

using telvar::ConnectionFields;
using telvar::maskPassword;
using telvar::replacePasswordField;

TEST(ConnectionFields, ReadsEveryProgramStringField)
{
    const auto jet = ConnectionFields::parse(
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Qualitra.MDB;"
                       "Jet OLEDB:Database Password=a b;"));
    EXPECT_EQ(jet.text(QStringLiteral("provider")), QStringLiteral("Microsoft.Jet.OLEDB.4.0"));
    EXPECT_EQ(jet.text(QStringLiteral("Data Source")), QStringLiteral("/d/Qualitra.MDB"));
    EXPECT_EQ(jet.text(QStringLiteral("Jet OLEDB:Database Password")), QStringLiteral("a b"));
    EXPECT_FALSE(jet.contains(QStringLiteral("Password")));

    // A value that holds "=" keeps it; the last field needs no ";".
    const auto sybase = ConnectionFields::parse(
        QStringLiteral("Provider=ASAProv.90;ENG=asa;DBN=q;Links=TCPIP(Host=asa)"));
    EXPECT_EQ(sybase.text(QStringLiteral("Links")), QStringLiteral("TCPIP(Host=asa)"));

    // Empty values are present, not missing.
    const auto empty = ConnectionFields::parse(QStringLiteral("User ID=;Password=;"));
    ASSERT_TRUE(empty.value(QStringLiteral("Password")).has_value());
    EXPECT_EQ(*empty.value(QStringLiteral("Password")), QString());
}

TEST(ConnectionFields, QuotedValuesMayHoldSemicolonsAndQuotes)
{
    const auto fields = ConnectionFields::parse(
        QStringLiteral("Provider=PostgreSQL;Password=\"a;b\"\"c\";User ID='x;y';Database=d;"));
    EXPECT_EQ(fields.text(QStringLiteral("Password")), QStringLiteral("a;b\"c"));
    EXPECT_EQ(fields.text(QStringLiteral("User ID")), QStringLiteral("x;y"));
    EXPECT_EQ(fields.text(QStringLiteral("Database")), QStringLiteral("d"));
}

struct MaskCase {
    const char* name;
    const char* input;
    const char* masked;
};

void PrintTo(const MaskCase& c, std::ostream* os)
{
    *os << c.name;
}

const MaskCase kMaskCases[] = {
    {"JetKeepsItsPrefix",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Q.MDB;Jet OLEDB:Database Password=s3;",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Q.MDB;Jet OLEDB:Database Password=***;"},
    {"OnlyTheFirstPasswordIsMasked", "A=1;Password=one;B=2;Password=two;X",
     "A=1;Password=***;B=2;Password=two;X"},
    {"TextAfterTheClosingSemicolonStays",
     "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=p;",
     "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=***;"},
    {"SybaseTailStays",
     "Provider=ASAProv.90;ENG=a;User ID=dba;Password=sql;DBN=q;Links=TCPIP(Host=a);",
     "Provider=ASAProv.90;ENG=a;User ID=dba;Password=***;DBN=q;Links=TCPIP(Host=a);"},
    {"IntegratedSecurityUnmasked",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;Initial Catalog=C;"
     "Integrated Security=SSPI;",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;Initial Catalog=C;"
     "Integrated Security=SSPI;"},
    {"PasswordWithoutSemicolonLosesTheRest", "A=1;Password=secret", "A=1;Password=***;"},
    {"EmptyPassword", "Password=;X=1", "Password=***;X=1"},
    {"CaseSensitiveAsWritten", "A=1;password=p;", "A=1;password=p;"},
    {"QuotedPasswordIsHiddenWhole", "A=1;Password=\"x;y\";B=2", "A=1;Password=***;B=2"},
    {"EmptyString", "", ""},
};

class MaskPasswordTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskPasswordTest, Masks)
{
    EXPECT_EQ(maskPassword(QString::fromUtf8(GetParam().input)),
              QString::fromUtf8(GetParam().masked));
}

INSTANTIATE_TEST_SUITE_P(Strings, MaskPasswordTest, ::testing::ValuesIn(kMaskCases),
                         [](const ::testing::TestParamInfo<MaskCase>& info) {
                             return std::string(info.param.name);
                         });

struct ReplaceCase {
    const char* name;
    const char* input;
    const char* password;
    const char* expected;
};

void PrintTo(const ReplaceCase& c, std::ostream* os)
{
    *os << c.name;
}

const ReplaceCase kReplaceCases[] = {
    {"Jet", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/q.MDB;Jet OLEDB:Database Password=old;",
     "new", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/q.MDB;Jet OLEDB:Database Password=new;"},
    {"OnlyTheFirst", "User ID=u;Password=old;X=1;Password=keep;", "n",
     "User ID=u;Password=n;X=1;Password=keep;"},
    {"NoPasswordField", "Integrated Security=SSPI;", "n", "Integrated Security=SSPI;"},
    {"SemicolonIsQuoted", "Password=old;B=1;", "a;b", "Password=\"a;b\";B=1;"},
    {"QuoteIsDoubled", "Password=old;", "\"q", "Password=\"\"\"q\";"},
    {"LastFieldWithoutSemicolon", "A=1;Password=old", "n", "A=1;Password=n"},
};

class ReplacePasswordTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplacePasswordTest, ReplacesTheFieldTheReportMasks)
{
    const ReplaceCase& c = GetParam();
    const QString replaced =
        replacePasswordField(QString::fromUtf8(c.input), QString::fromUtf8(c.password));
    EXPECT_EQ(replaced, QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Strings, ReplacePasswordTest, ::testing::ValuesIn(kReplaceCases),
                         [](const ::testing::TestParamInfo<ReplaceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ReplacePassword, ParsesBackToTheTypedPassword)
{
    for (const char* typed : {"plain", "a;b", "\"quoted\"", " lead", "x'y", ""}) {
        const QString s = replacePasswordField(QStringLiteral("Provider=PostgreSQL;Host=h;"
                                                              "Password=old;Database=d;"),
                                               QString::fromUtf8(typed));
        const auto fields = ConnectionFields::parse(s);
        EXPECT_EQ(fields.text(QStringLiteral("Password")), QString::fromUtf8(typed)) << typed;
        EXPECT_EQ(fields.text(QStringLiteral("Database")), QStringLiteral("d")) << typed;
        const QString visible = QString::fromUtf8(typed).trimmed();
        if (!visible.isEmpty()) {
            EXPECT_FALSE(maskPassword(s).contains(visible)) << typed;
        }
    }
}

} // namespace
