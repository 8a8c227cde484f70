#include "database/SqlDialect.h"
#include "support/EngineDatabase.h"

#include <gtest/gtest.h>

namespace {

using telvar::rewriteSql;
using telvar::SqlDialect;

struct RewriteCase {
    const char* name;
    SqlDialect dialect;
    const char* input;
    const char* expected;
};

void PrintTo(const RewriteCase& c, std::ostream* os)
{
    *os << c.name;
}

const RewriteCase kCases[] = {
    {"SqliteTop", SqlDialect::Sqlite, "Select Top 1 * from USU", "Select * from USU LIMIT 1"},
    {"SqliteTopWithOrder", SqlDialect::Sqlite,
     "Select Top 1 N,Fecha,Turno,Operador,[DIAM] from [Datos] order by N Desc",
     "Select N,Fecha,Turno,Operador,`DIAM` from `Datos` order by N Desc LIMIT 1"},
    {"SqliteTopAnyCase", SqlDialect::Sqlite, "  SELECT TOP 10 a FROM t;",
     "  SELECT a FROM t LIMIT 10;"},
    // A trailing comment would swallow a limit written after it.
    {"SqliteTopBeforeLineComment", SqlDialect::Sqlite, "Select Top 1 * from [USU] -- first user",
     "Select * from `USU` LIMIT 1 -- first user"},
    {"SqliteTopBeforeBlockComment", SqlDialect::Sqlite, "Select Top 1 * from USU /* first */;",
     "Select * from USU LIMIT 1 /* first */;"},
    {"SqliteTopAfterCommentInside", SqlDialect::Sqlite,
     "Select Top 1 * from USU -- users\norder by USUCLAVE; -- first",
     "Select * from USU -- users\norder by USUCLAVE LIMIT 1; -- first"},
    {"SqliteTopCommentMarksInLiteral", SqlDialect::Sqlite,
     "Select Top 1 * from USU where USUDESCR = 'a -- b'",
     "Select * from USU where USUDESCR = 'a -- b' LIMIT 1"},
    {"PostgresTopBeforeComment", SqlDialect::PostgreSql, "Select Top 1 * from [USU] -- first user",
     "Select * from \"usu\" LIMIT 1 -- first user"},
    {"SqliteDistinctTop", SqlDialect::Sqlite, "select distinct top 2 a from t",
     "select distinct a from t LIMIT 2"},
    {"SqliteWithoutTop", SqlDialect::Sqlite, "Select * from USU where USUPODER like '1%'",
     "Select * from USU where USUPODER like '1%'"},
    {"SqliteTopOnlyAtTheStart", SqlDialect::Sqlite, "Select a from [Top 1 x]",
     "Select a from `Top 1 x`"},
    {"SqliteBracketsKeepCaseAndAnyCharacter", SqlDialect::Sqlite,
     "Select [Nota]]X], [a`b\"c] from [Datos_F1_M1_P-A]",
     "Select `Nota]X`, `a``b\"c` from `Datos_F1_M1_P-A`"},
    {"SqliteLeavesLiteralsAndQuotedNamesAlone", SqlDialect::Sqlite,
     "Select \"[A]\" from [USU] where D = '[x] ''y'''",
     "Select \"[A]\" from `USU` where D = '[x] ''y'''"},
    {"PostgresTopAndBrackets", SqlDialect::PostgreSql,
     "Select Top 1 N,Fecha,[DIAM] from [Datos_FRM01_MAQ01_PROD-A] order by N Desc",
     "Select N,Fecha,\"diam\" from \"Datos_FRM01_MAQ01_PROD-A\" order by N Desc LIMIT 1"},
    {"PostgresFoldsOnlyPlainIdentifiers", SqlDialect::PostgreSql,
     "Select [Fecha_1], [_Turno], [Nota X], [1Col], [Año] from [Datos]",
     "Select \"fecha_1\", \"_turno\", \"Nota X\", \"1Col\", \"Año\" from \"datos\""},
    {"PostgresLeavesLiteralsAlone", SqlDialect::PostgreSql,
     "Select * from [USU] where USUDESCR = '[x] ''y'' [z]'",
     "Select * from \"usu\" where USUDESCR = '[x] ''y'' [z]'"},
    {"PostgresLeavesQuotedNamesAlone", SqlDialect::PostgreSql, "Select \"[A]\" from [B]",
     "Select \"[A]\" from \"b\""},
    {"PostgresDoubledBracketAndQuote", SqlDialect::PostgreSql, "Select [a]]b\"c] from t",
     "Select \"a]b\"\"c\" from t"},
    {"InformixFirst", SqlDialect::Informix, "Select Top 1 * from [USU]",
     "Select FIRST 1 * from USU"},
    {"InformixFirstBeforeDistinct", SqlDialect::Informix, "Select distinct top 3 [A-B] from t",
     "Select FIRST 3 distinct \"A-B\" from t"},
    {"SqlServerAsWritten", SqlDialect::SqlServer,
     "Select Top 1 N,[DIAM] from [Datos] order by N Desc",
     "Select Top 1 N,[DIAM] from [Datos] order by N Desc"},
    {"SqlAnywhereAsWritten", SqlDialect::SqlAnywhere, "Select Top 1 * from USU",
     "Select Top 1 * from USU"},
};

class RewriteSqlTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteSqlTest, Rewrites)
{
    const RewriteCase& c = GetParam();
    EXPECT_EQ(rewriteSql(c.dialect, QString::fromUtf8(c.input)), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Dialects, RewriteSqlTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RewriteCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

} // namespace
