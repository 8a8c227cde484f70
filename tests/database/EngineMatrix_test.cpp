// The same cases on every engine: the engine layer opens, rewrites, runs
// statements with bound values, reads declared sizes and maps its errors
// alike on SQLite and PostgreSQL.

#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "support/EngineDatabase.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

using namespace telvar;
using telvar::test::Engine;
using telvar::test::EngineTest;

class EngineMatrix : public EngineTest {};

TEST_P(EngineMatrix, OpensWithItsDialectAndIsRemovedWhenDestroyed)
{
    QString qtName;
    {
        auto cn = db->open();
        ASSERT_TRUE(cn);
        EXPECT_EQ(cn->dialect(),
                  GetParam() == Engine::Sqlite ? SqlDialect::Sqlite : SqlDialect::PostgreSql);
        EXPECT_EQ(cn->connectionString(), db->connectionString());
        EXPECT_TRUE(cn->database().isOpen());
        qtName = cn->database().connectionName();
        EXPECT_TRUE(QSqlDatabase::contains(qtName));
    }
    EXPECT_FALSE(QSqlDatabase::contains(qtName));
}

TEST_P(EngineMatrix, ExecAfterCloseIsAnError)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    const QString qtName = cn->database().connectionName();
    cn->close();
    EXPECT_FALSE(cn->isOpen());
    EXPECT_FALSE(QSqlDatabase::contains(qtName));
    auto run = cn->exec(QStringLiteral("Select 1"));
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error().number, ErrorNumber::ObjectClosed);
    cn->close(); // twice is harmless
}

TEST_P(EngineMatrix, RunsTheProgramsStatementFormWithBoundValues)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE [Datos_F_M_P-1] (N INTEGER, Fecha "
                                        "VARCHAR(20), [DIAM] DOUBLE PRECISION, Nota VARCHAR(30))"))
                    .ok());
    const QString insert =
        QStringLiteral("INSERT INTO [Datos_F_M_P-1] (N, Fecha, [DIAM], Nota) VALUES (?, ?, ?, ?)");
    for (int n = 1; n <= 3; ++n) {
        auto done = cn->exec(insert, {n, QStringLiteral("2026-03-05 7:04:0%1").arg(n), 10.5 + n,
                                      QStringLiteral("it's [%1]").arg(n)});
        ASSERT_TRUE(done.ok()) << done.error().description.toStdString();
    }
    // A null binds as NULL.
    ASSERT_TRUE(cn->exec(insert, {4, QVariant(), QVariant(), QVariant()}).ok());

    auto last = cn->exec(
        QStringLiteral(
            "Select Top 1 N,Fecha,[DIAM],Nota from [Datos_F_M_P-1] where N < ? order by N Desc"),
        {4});
    ASSERT_TRUE(last.ok()) << last.error().description.toStdString();
    QSqlQuery& q = last.value();
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 3);
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("2026-03-05 7:04:03"));
    EXPECT_DOUBLE_EQ(q.value(2).toDouble(), 13.5);
    EXPECT_EQ(q.value(3).toString(), QStringLiteral("it's [3]"));
    EXPECT_FALSE(q.next()) << "Top 1 gives one row";

    auto nulls = cn->exec(QStringLiteral("Select [DIAM] from [Datos_F_M_P-1] where N = 4"));
    ASSERT_TRUE(nulls.ok());
    ASSERT_TRUE(nulls.value().next());
    EXPECT_TRUE(nulls.value().value(0).isNull());
}

TEST_P(EngineMatrix, BracketedNamesReachTablesWithAnyName)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    // A data table as the engine itself names it (a quoted name keeps its
    // case and any character; unquoted DIAM is folded as the engine folds
    // names), made directly, without the program's rewriting.
    {
        QSqlQuery raw(cn->database());
        ASSERT_TRUE(raw.exec(QStringLiteral("CREATE TABLE \"Datos_F1_M1_P-A\" (N INTEGER, DIAM "
                                            "DOUBLE PRECISION, \"Nota]X\" VARCHAR(20))")))
            << raw.lastError().text().toStdString();
    }
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO [Datos_F1_M1_P-A] (N, [DIAM], [Nota]]X]) "
                                        "VALUES (?, ?, ?)"),
                         {1, 2.5, QStringLiteral("[a] \"b\"")})
                    .ok());
    auto read = cn->exec(QStringLiteral("Select Top 1 [Nota]]X], [DIAM] from [Datos_F1_M1_P-A]"));
    ASSERT_TRUE(read.ok()) << read.error().description.toStdString();
    ASSERT_TRUE(read.value().next());
    EXPECT_EQ(read.value().value(0).toString(), QStringLiteral("[a] \"b\""));
    EXPECT_DOUBLE_EQ(read.value().value(1).toDouble(), 2.5);
    read.value().finish();

    // A bracketed column that does not exist is an error, never its own
    // name read back as a text.
    auto missing = cn->exec(QStringLiteral("Select [NOHAY] from [Datos_F1_M1_P-A]"));
    ASSERT_FALSE(missing.ok()) << missing.value().next() << " "
                               << missing.value().value(0).toString().toStdString();
    EXPECT_TRUE(missing.error().description.contains(QLatin1String("nohay"), Qt::CaseInsensitive))
        << missing.error().description.toStdString();

    // The key sizes of such a table are read as of any other.
    auto size = cn->definedSize(QStringLiteral("Datos_F1_M1_P-A"), QStringLiteral("Nota]X"));
    ASSERT_TRUE(size.ok()) << size.error().description.toStdString();
    EXPECT_EQ(size.value(), 20);
}

TEST_P(EngineMatrix, StatementErrorsCarryTheEngineText)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    auto run = cn->exec(QStringLiteral("Select Top 1 * from NOSUCHTABLE"));
    ASSERT_FALSE(run.ok());
    EXPECT_TRUE(run.error().description.contains(QLatin1String("nosuchtable"), Qt::CaseInsensitive))
        << run.error().description.toStdString();
    EXPECT_EQ(run.error().source, errorSource(cn->dialect()));
    EXPECT_NE(run.error().number, 0);
}

struct SizeCase {
    const char* column;
    const char* declaration;
    int size;              // expected defined size, or -1 for an error
    long long errorNumber; // the error's number when size is -1
};

const SizeCase kSizeCases[] = {
    {"CLAVE8", "VARCHAR(8)", 8, 0},
    {"CLAVE20", "VARCHAR(20)", 20, 0},
    {"FIJO5", "CHAR(5)", 5, 0},
    {"LARGA", "VARCHAR(32767)", 32767, 0},
    {"MEMO", "TEXT", -1, ErrorNumber::Overflow},
    {"ENTERO", "INTEGER", -1, ErrorNumber::TypeMismatch},
    {"NUMERO", "DOUBLE PRECISION", -1, ErrorNumber::TypeMismatch},
    {"FALTA", nullptr, -1, ErrorNumber::ItemNotFound},
};

TEST_P(EngineMatrix, DefinedSizesComeFromTheDeclarations)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    QString create = QStringLiteral("CREATE TABLE MEDIDAS (ID INTEGER");
    for (const SizeCase& c : kSizeCases) {
        if (c.declaration)
            create += QStringLiteral(", ") + QLatin1String(c.column) + QLatin1Char(' ') +
                      QLatin1String(c.declaration);
    }
    ASSERT_TRUE(cn->exec(create + QLatin1Char(')')).ok());
    // An empty table still has its declarations.
    for (const SizeCase& c : kSizeCases) {
        SCOPED_TRACE(c.column);
        auto size = cn->definedSize(QStringLiteral("MEDIDAS"), QLatin1String(c.column));
        if (c.size >= 0) {
            ASSERT_TRUE(size.ok()) << size.error().description.toStdString();
            EXPECT_EQ(size.value(), c.size);
        } else {
            ASSERT_FALSE(size.ok());
            EXPECT_EQ(size.error().number, c.errorNumber);
            EXPECT_TRUE(size.error().description.contains(QLatin1String(c.column)))
                << size.error().description.toStdString();
            EXPECT_TRUE(size.error().description.contains(QLatin1String("MEDIDAS")))
                << size.error().description.toStdString();
        }
    }
    // Column names are matched without regard to case, as the engines do.
    auto lower = cn->definedSize(QStringLiteral("medidas"), QStringLiteral("clave8"));
    ASSERT_TRUE(lower.ok());
    EXPECT_EQ(lower.value(), 8);

    auto missingTable = cn->definedSize(QStringLiteral("NOHAY"), QStringLiteral("X"));
    ASSERT_FALSE(missingTable.ok());
    EXPECT_TRUE(missingTable.error().description.startsWith(QLatin1String("NOHAY: ")))
        << missingTable.error().description.toStdString();
}

TEST_P(EngineMatrix, ColumnInfoTellsTextFromNumbers)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    ASSERT_TRUE(
        cn
            ->exec(QStringLiteral(
                "CREATE TABLE [Datos] (N INTEGER, [DIAM] DOUBLE PRECISION, [TEMP] VARCHAR(20))"))
            .ok());
    auto diam = cn->columnInfo(QStringLiteral("Datos"), QStringLiteral("DIAM"));
    auto temp = cn->columnInfo(QStringLiteral("Datos"), QStringLiteral("TEMP"));
    ASSERT_TRUE(diam.ok());
    ASSERT_TRUE(temp.ok());
    EXPECT_FALSE(diam.value().isText);
    EXPECT_TRUE(temp.value().isText);
    EXPECT_EQ(temp.value().definedSize, 20);
}

TEST_P(EngineMatrix, WrongPasswordIsRefused)
{
    auto opened = EngineLayer::open(db->connectionStringWithPassword(QStringLiteral("wrong")));
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().number, db->wrongPasswordNumber());
    EXPECT_FALSE(opened.error().description.isEmpty());
}

TEST_P(EngineMatrix, MissingDatabaseIsAnOpeningErrorAndIsNotCreated)
{
    auto opened = EngineLayer::open(db->missingDatabaseString());
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().number, ErrorNumber::UnspecifiedFailure);
    if (GetParam() == Engine::Sqlite) {
        EXPECT_FALSE(QFileInfo::exists(db->dir().filePath(QStringLiteral("Missing.MDB"))));
    }
    // Nothing of the failed attempt stays registered.
    for (const QString& name : QSqlDatabase::connectionNames())
        EXPECT_FALSE(name.startsWith(QLatin1String("telvar-db-"))) << name.toStdString();
}

TEST_P(EngineMatrix, ManyConnectionsOpenAtOnceAreIndependent)
{
    std::vector<std::unique_ptr<Connection>> open;
    for (int i = 0; i < 5; ++i) {
        open.push_back(db->open());
        ASSERT_TRUE(open.back());
    }
    ASSERT_TRUE(open[0]->exec(QStringLiteral("CREATE TABLE T (A INTEGER)")).ok());
    ASSERT_TRUE(open[1]->exec(QStringLiteral("INSERT INTO T (A) VALUES (?)"), {7}).ok());
    open[0].reset();
    auto read = open[4]->exec(QStringLiteral("Select Top 1 A from T"));
    ASSERT_TRUE(read.ok());
    ASSERT_TRUE(read.value().next());
    EXPECT_EQ(read.value().value(0).toInt(), 7);
}

TELVAR_INSTANTIATE_ENGINES(EngineMatrix);

} // namespace
