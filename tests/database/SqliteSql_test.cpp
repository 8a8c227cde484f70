#include "database/SqliteSql.h"

#include <gtest/gtest.h>

namespace telvar {
namespace {

struct SingleCreateCase {
    const char* name; // the case's name in the test report
    const char* sql;
    const char* type;
    const char* object;
    bool accepted;
};

class IsSingleCreateTest : public ::testing::TestWithParam<SingleCreateCase> {};

TEST_P(IsSingleCreateTest, AcceptsOnlyOneDeclarationOfTheNamedObject)
{
    const SingleCreateCase& c = GetParam();
    EXPECT_EQ(SqliteSql::isSingleCreate(QString::fromUtf8(c.sql), QString::fromUtf8(c.type),
                                        QString::fromUtf8(c.object)),
              c.accepted)
        << c.sql;
}

const SingleCreateCase kSingleCreateCases[] = {
    // One plain declaration of the object asked for.
    {"Table", "CREATE TABLE t (a TEXT(8), b INTEGER)", "table", "t", true},
    {"TableWithClosingSemicolon", "CREATE TABLE t (a);", "table", "t", true},
    {"TableTypeInAnyCase", "create table T (a)", "TABLE", "t", true},
    {"QuotedName", "CREATE TABLE \"Datos x\" (a)", "table", "Datos x", true},
    {"BracketedName", "CREATE TABLE [Datos] (a)", "table", "Datos", true},
    {"BackquotedName", "CREATE TABLE `Datos` (a)", "table", "Datos", true},
    {"IfNotExists", "CREATE TABLE IF NOT EXISTS t (a)", "table", "t", true},
    {"Index", "CREATE INDEX i ON t (a)", "index", "i", true},
    {"UniqueIndex", "CREATE UNIQUE INDEX i ON t (a)", "index", "i", true},
    {"View", "CREATE VIEW v AS SELECT a FROM t WHERE a <> ';'", "view", "v", true},
    {"Trigger", "CREATE TRIGGER tr AFTER INSERT ON t BEGIN UPDATE t SET a = 1; END", "trigger",
     "tr", true},
    {"TriggerWithSeveralStatementsAndACase",
     "CREATE TRIGGER tr AFTER INSERT ON t BEGIN UPDATE t SET a = CASE WHEN a > 1 THEN 1 ELSE 2 "
     "END; DELETE FROM u WHERE b = new.a; END;",
     "trigger", "tr", true},
    {"CommentsAroundIt", "-- kept\nCREATE TABLE t (a) /* note; */ ; -- end", "table", "t", true},
    {"SemicolonInsideALiteral", "CREATE TABLE t (a TEXT DEFAULT 'x; DROP TABLE u')", "table", "t",
     true},
    {"NameWithNonAsciiLetters", "CREATE TABLE Diámetro (a)", "table", "Diámetro", true},

    // A second statement after the declaration.
    {"SecondStatement", "CREATE TABLE t (a); DROP TABLE u", "table", "t", false},
    {"SecondStatementWithoutBlank", "CREATE TABLE t (a);DELETE FROM u", "table", "t", false},
    {"AttachAfterIt", "CREATE TABLE t (a); ATTACH 'x.db' AS x", "table", "t", false},
    {"PragmaAfterIt", "CREATE VIEW v AS SELECT 1; PRAGMA writable_schema = ON", "view", "v", false},
    {"TransactionAfterIt", "CREATE INDEX i ON t (a); BEGIN; COMMIT", "index", "i", false},
    {"SecondSemicolon", "CREATE TABLE t (a);;", "table", "t", false},
    {"StatementAfterATrigger",
     "CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END; DELETE FROM t", "trigger", "tr",
     false},
    {"WordsAfterATriggersEnd", "CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END x",
     "trigger", "tr", false},
    {"TriggerWithoutItsEnd", "CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1;", "trigger", "tr",
     false},
    {"TriggerWithoutABody", "CREATE TRIGGER tr AFTER INSERT ON t", "trigger", "tr", false},
    {"SemicolonBeforeATriggersBody",
     "CREATE TRIGGER tr AFTER INSERT ON t; DROP TABLE u; CREATE TRIGGER tr AFTER INSERT ON t "
     "BEGIN SELECT 1; END",
     "trigger", "tr", false},
    // A comment that closes early hides nothing: the statement after it counts.
    {"CommentClosedBeforeASecondStatement", "CREATE TABLE t (a) /* x */; DROP TABLE u", "table",
     "t", false},
    {"LineCommentEndingBeforeASecondStatement", "CREATE TABLE t (a) -- x\n; DROP TABLE u", "table",
     "t", false},

    // Not the object asked for, or not only in this database.
    {"SchemaMain", "CREATE TABLE main.t (a)", "table", "t", false},
    {"SchemaMainNamedAsTheObject", "CREATE TABLE main.t (a)", "table", "main", false},
    {"SchemaOfAnAttachedFile", "CREATE INDEX v.i ON t (a)", "index", "i", false},
    {"SchemaWithBlanksAroundTheDot", "CREATE VIEW v . w AS SELECT 1", "view", "v", false},
    {"QuotedSchema", "CREATE TABLE \"v\".\"t\" (a)", "table", "v", false},
    {"Temporary", "CREATE TEMP TABLE t (a)", "table", "t", false},
    {"TemporaryTrigger", "CREATE TEMPORARY TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END",
     "trigger", "tr", false},
    {"VirtualTable", "CREATE VIRTUAL TABLE t USING fts5(a)", "table", "t", false},
    {"AnotherName", "CREATE TABLE u (a)", "table", "t", false},
    {"ANameThatOnlyBeginsAlike", "CREATE TABLE tt (a)", "table", "t", false},
    // SQLite reads a no-break space as part of the name, so this is the
    // table " t", not t.
    {"NoBreakSpaceBeforeTheName", "CREATE TABLE \u00a0t (a)", "table", "t", false},
    {"NoBreakSpaceInTheNameAsked", "CREATE TABLE \u00a0t (a)", "table", "\u00a0t", true},
    {"AnotherType", "CREATE VIEW t AS SELECT 1", "table", "t", false},
    {"UniqueOnlyForAnIndex", "CREATE UNIQUE TABLE t (a)", "table", "t", false},
    {"IncompleteIfNotExists", "CREATE TABLE IF EXISTS t (a)", "table", "t", false},
    {"TypeThatIsNoDeclaration", "CREATE TABLE t (a)", "module", "t", false},
    {"EmptyName", "CREATE TABLE t (a)", "table", "", false},

    // Not a declaration at all.
    {"Attach", "ATTACH 'x.db' AS t", "table", "t", false},
    {"Pragma", "PRAGMA writable_schema = ON", "table", "t", false},
    {"Delete", "DELETE FROM t", "table", "t", false},
    {"Begin", "BEGIN", "table", "t", false},
    {"Commit", "COMMIT", "table", "t", false},
    {"Empty", "", "table", "t", false},
    {"OnlyAComment", "/* CREATE TABLE t (a) */", "table", "t", false},
    {"DeclarationAfterAnotherStatement", "DROP TABLE u; CREATE TABLE t (a)", "table", "t", false},
};

INSTANTIATE_TEST_SUITE_P(Statements, IsSingleCreateTest, ::testing::ValuesIn(kSingleCreateCases),
                         [](const ::testing::TestParamInfo<SingleCreateCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

} // namespace
} // namespace telvar
