#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "support/EngineDatabase.h"

#include <gtest/gtest.h>

namespace {

using telvar::ArmaConexion;
using telvar::ConnectionTarget;
using telvar::Modulo1;

struct ArmaCase {
    const char* name;
    const char* tipo;
    const char* servidor;
    const char* usuario;
    const char* pass;
    const char* ruta;
    const char* expected;
};

void PrintTo(const ArmaCase& c, std::ostream* os)
{
    *os << c.name;
}

const ArmaCase kCases[] = {
    {"Jet", "[JET4]", "ignored", "ignored", "pw1", "/datos/Qualitra.MDB",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/datos/Qualitra.MDB;"
     "Jet OLEDB:Database Password=pw1;"},
    {"JetEmptyPassword", "[JET4]", "", "", "", "/datos/Qualitra.MDB",
     "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/datos/Qualitra.MDB;"
     "Jet OLEDB:Database Password=;"},
    {"SqlServerWithUser", "[SQLSERVER]", "SRV01", "qlt", "pw2", "PLANTA",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=SRV01;Initial Catalog=PLANTA;"
     "User ID=qlt;Password=pw2;"},
    {"SqlServerBlankUserIsIntegrated", "[SQLSERVER]", "SRV01", "   ", "pw2", "PLANTA",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=SRV01;Initial Catalog=PLANTA;"
     "Integrated Security=SSPI;"},
    {"MsOleDbSql", "[MSOLEDBSQL]", "SRV02\\QLT", "qlt", "pw3", "PLANTA",
     "Provider=MSOLEDBSQL;Persist Security Info=False;Data Source=SRV02\\QLT;"
     "Initial Catalog=PLANTA;User ID=qlt;Password=pw3;"},
    {"MsOleDbSqlEmptyUserIsIntegrated", "[MSOLEDBSQL]", "SRV02", "", "pw3", "PLANTA",
     "Provider=MSOLEDBSQL;Persist Security Info=False;Data Source=SRV02;Initial Catalog=PLANTA;"
     "Integrated Security=SSPI;"},
    {"InformixDatabaseAtServer", "[INFORMIX10]", "ifxsrv", "informix", "pw4", "qualitra",
     "Provider=Ifxoledbc.2;Data Source=qualitra@ifxsrv;User ID=informix;Password=pw4;"},
    {"InformixKeepsEmptyCredentials", "[INFORMIX10]", "ifxsrv", "", "", "qualitra",
     "Provider=Ifxoledbc.2;Data Source=qualitra@ifxsrv;User ID=;Password=;"},
    {"SybaseServerTwice", "[SYBASE9]", "asa01", "dba", "sql", "qualitra",
     "Provider=ASAProv.90;ENG=asa01;User ID=dba;Password=sql;DBN=qualitra;"
     "Links=TCPIP(Host=asa01);"},
    {"PostgreSql", "[POSTGRESQL]", "127.0.0.1:5433", "telvar", "pw5", "qualitra",
     "Provider=PostgreSQL;Host=127.0.0.1:5433;Database=qualitra;User ID=telvar;Password=pw5;"},
    {"UnknownTagIsEmpty", "[ACCESS2000]", "srv", "u", "p", "x", ""},
    {"EmptyTagIsEmpty", "", "srv", "u", "p", "x", ""},
    {"TagsAreCaseSensitive", "[jet4]", "", "", "p", "/x.MDB", ""},
};

class ArmaConexionTest : public ::testing::TestWithParam<ArmaCase> {};

TEST_P(ArmaConexionTest, BuildsTheStringExactlyAsWritten)
{
    const ArmaCase& c = GetParam();
    const ConnectionTarget target{QString::fromUtf8(c.tipo), QString::fromUtf8(c.servidor),
                                  QString::fromUtf8(c.usuario), QString::fromUtf8(c.pass)};
    EXPECT_EQ(ArmaConexion(target, QString::fromUtf8(c.ruta)), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Tags, ArmaConexionTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ArmaCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

} // namespace
