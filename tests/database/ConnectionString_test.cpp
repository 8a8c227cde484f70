#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/ConnectionString.h"
#include "database/OpenDBOK.h"
#include "support/EngineDatabase.h"

#include <gtest/gtest.h>

namespace {

using telvar::ArmaConexion;
using telvar::ConnectionFields;
using telvar::ConnectionTarget;
using telvar::maskPassword;
using telvar::Modulo1;
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
    EXPECT_EQ(sybase.text(QStringLiteral("ENG")), QStringLiteral("asa"));
    EXPECT_EQ(sybase.text(QStringLiteral("DBN")), QStringLiteral("q"));
    EXPECT_EQ(sybase.text(QStringLiteral("Links")), QStringLiteral("TCPIP(Host=asa)"));

    // Empty values are present, not missing.
    const auto empty = ConnectionFields::parse(QStringLiteral("User ID=;Password=;"));
    ASSERT_TRUE(empty.value(QStringLiteral("Password")).has_value());
    EXPECT_EQ(*empty.value(QStringLiteral("Password")), QString());
    EXPECT_EQ(*empty.value(QStringLiteral("User ID")), QString());

    // The repair's string: a Jet string followed by the engine type.
    const auto repair = ConnectionFields::parse(
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/J1;"
                       "Jet OLEDB:Database Password=p;q;Jet OLEDB:Engine Type=5"));
    EXPECT_EQ(repair.text(QStringLiteral("Jet OLEDB:Database Password")), QStringLiteral("p;q"));
    EXPECT_EQ(repair.text(QStringLiteral("Jet OLEDB:Engine Type")), QStringLiteral("5"));
}

// The values ArmaConexion writes raw, with every character the password
// file allows, read back whole from the string of every engine.
struct Entry {
    const char* tipo;
    const char* servidor;
    const char* usuario;
    const char* ruta;
};

const Entry kEntries[] = {
    {"[JET4]", "", "", "/datos/Planta; Año #2/Qualitra.MDB"},
    {"[SQLSERVER]", "SRV01", "qlt", "PLANTA"},
    {"[MSOLEDBSQL]", "SRV02\\QLT", "q;l t", "PLANTA"},
    {"[INFORMIX10]", "ifxsrv", "inf;ormix", "qualitra"},
    {"[SYBASE9]", "asa01", "dba", "qualitra"},
    {"[POSTGRESQL]", "127.0.0.1:5433", "telvar", "qualitra"},
};

const char* const kPasswords[] = {
    "ab;cd", "'x",     "\"x",        "x;User ID=y", "x;Password=y", "x;DBN=y", "p;",
    ";",     "a=b;c=", "'q;u'o\"te", "{br}a;c}e",   "~!@#$%^&*()",  "",        "plain",
};

ConnectionTarget entryState(const Entry& e, const QString& password)
{
    return {QString::fromUtf8(e.tipo), QString::fromUtf8(e.servidor), QString::fromUtf8(e.usuario),
            password};
}

TEST(ConnectionFields, ValuesOfEveryEngineStringAreReadWhole)
{
    for (const Entry& e : kEntries) {
        for (const char* pass : kPasswords) {
            const QString password = QString::fromUtf8(pass);
            const QString ruta = QString::fromUtf8(e.ruta);
            SCOPED_TRACE(std::string(e.tipo) + " password " + pass);
            const ConnectionTarget m = entryState(e, password);
            const QString s = ArmaConexion(m, ruta);
            const auto fields = ConnectionFields::parse(s);
            const QString tipo = m.TipoBD;
            if (tipo == QLatin1String("[JET4]")) {
                EXPECT_EQ(fields.text(QStringLiteral("Data Source")), ruta);
                EXPECT_EQ(fields.text(QStringLiteral("Jet OLEDB:Database Password")), password);
            } else if (tipo == QLatin1String("[SQLSERVER]") ||
                       tipo == QLatin1String("[MSOLEDBSQL]")) {
                EXPECT_EQ(fields.text(QStringLiteral("Data Source")), m.Servidor);
                EXPECT_EQ(fields.text(QStringLiteral("Initial Catalog")), ruta);
                EXPECT_EQ(fields.text(QStringLiteral("User ID")), m.UsuarioBD);
                EXPECT_EQ(fields.text(QStringLiteral("Password")), password);
            } else if (tipo == QLatin1String("[INFORMIX10]")) {
                EXPECT_EQ(fields.text(QStringLiteral("Data Source")),
                          ruta + QLatin1Char('@') + m.Servidor);
                EXPECT_EQ(fields.text(QStringLiteral("User ID")), m.UsuarioBD);
                EXPECT_EQ(fields.text(QStringLiteral("Password")), password);
            } else if (tipo == QLatin1String("[SYBASE9]")) {
                EXPECT_EQ(fields.text(QStringLiteral("ENG")), m.Servidor);
                EXPECT_EQ(fields.text(QStringLiteral("User ID")), m.UsuarioBD);
                EXPECT_EQ(fields.text(QStringLiteral("Password")), password);
                EXPECT_EQ(fields.text(QStringLiteral("DBN")), ruta);
                EXPECT_EQ(fields.text(QStringLiteral("Links")),
                          QStringLiteral("TCPIP(Host=") + m.Servidor + QLatin1Char(')'));
            } else {
                EXPECT_EQ(fields.text(QStringLiteral("Host")), m.Servidor);
                EXPECT_EQ(fields.text(QStringLiteral("Database")), ruta);
                EXPECT_EQ(fields.text(QStringLiteral("User ID")), m.UsuarioBD);
                EXPECT_EQ(fields.text(QStringLiteral("Password")), password);
            }

            // The report shows the string as if the password were "***":
            // nothing of the password, everything else.
            EXPECT_EQ(maskPassword(s), ArmaConexion(entryState(e, QStringLiteral("***")), ruta));

            // A typed password takes the old one's place, written raw.
            const QString before = ArmaConexion(entryState(e, QStringLiteral("old;pw")), ruta);
            EXPECT_EQ(replacePasswordField(before, password), s);
        }
    }
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
    {"JetPasswordWithSemicolonsIsHiddenWhole",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Q.MDB;Jet OLEDB:Database Password=ab;cd;",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Q.MDB;Jet OLEDB:Database Password=***;"},
    {"PasswordInsideAPathIsNotThePassword",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Password=x/Q.MDB;"
     "Jet OLEDB:Database Password=s3;",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/Password=x/Q.MDB;"
     "Jet OLEDB:Database Password=***;"},
    {"OnlyTheFirstPasswordIsMasked", "User ID=u;Password=one;Data Source=d;Password=two;X",
     "User ID=u;Password=***;Data Source=d;Password=two;X"},
    {"TextAfterTheClosingSemicolonStays",
     "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=p;",
     "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=***;"},
    {"SybaseTailStays",
     "Provider=ASAProv.90;ENG=a;User ID=dba;Password=s;q;l;DBN=q;Links=TCPIP(Host=a);",
     "Provider=ASAProv.90;ENG=a;User ID=dba;Password=***;DBN=q;Links=TCPIP(Host=a);"},
    {"IntegratedSecurityUnmasked",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;Initial Catalog=C;"
     "Integrated Security=SSPI;",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;Initial Catalog=C;"
     "Integrated Security=SSPI;"},
    {"PasswordWithoutSemicolonLosesTheRest", "A=1;Password=secret", "A=1;Password=***;"},
    {"EmptyPassword", "Password=;Data Source=x", "Password=***;Data Source=x"},
    {"CaseSensitiveAsWritten", "A=1;password=p;", "A=1;password=p;"},
    {"QuotesArePartOfThePassword",
     "Provider=PostgreSQL;Host=h;Database=d;User ID=u;Password=\"x;y\";",
     "Provider=PostgreSQL;Host=h;Database=d;User ID=u;Password=***;"},
    {"EmptyString", "", ""},
    // A database name holding ";Integrated Security=no" makes the layout
    // swallow User ID and Password into it: hidden from "Password=" on.
    {"PasswordSwallowedByAMalformedNameIsHidden",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;"
     "Initial Catalog=qualitra;Integrated Security=no;User ID=sa;Password=secreto;",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=S;"
     "Initial Catalog=qualitra;Integrated Security=no;User ID=sa;Password=***;"},
};

class MaskPasswordTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskPasswordTest, Masks)
{
    EXPECT_EQ(maskPassword(QString::fromUtf8(GetParam().input)),
              QString::fromUtf8(GetParam().masked));
}

INSTANTIATE_TEST_SUITE_P(Strings, MaskPasswordTest, ::testing::ValuesIn(kMaskCases),
                         [](const ::testing::TestParamInfo<MaskCase>& testCase) {
                             return std::string(testCase.param.name);
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
    {"JetOldPasswordWithSemicolon",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/q.MDB;Jet OLEDB:Database Password=o;l;d;",
     "new", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/q.MDB;Jet OLEDB:Database Password=new;"},
    {"OnlyTheFirst", "User ID=u;Password=old;Data Source=x;Password=keep;", "n",
     "User ID=u;Password=n;Data Source=x;Password=keep;"},
    {"NoPasswordField", "Integrated Security=SSPI;", "n", "Integrated Security=SSPI;"},
    {"SemicolonIsWrittenRaw", "Provider=PostgreSQL;Host=h;Database=d;User ID=u;Password=old;",
     "a;b", "Provider=PostgreSQL;Host=h;Database=d;User ID=u;Password=a;b;"},
    {"QuoteIsWrittenRaw", "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=old;", "\"q",
     "Provider=Ifxoledbc.2;Data Source=q@s;User ID=u;Password=\"q;"},
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
                         [](const ::testing::TestParamInfo<ReplaceCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

} // namespace
