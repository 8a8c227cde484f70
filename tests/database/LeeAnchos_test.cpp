#include "common/Modulo1.h"
#include "database/EngineErrors.h"
#include "database/LeeAnchos.h"
#include "demo/QualitraDemo.h"
#include "support/EngineDatabase.h"
#include "support/RecordingInteraccion.h"

#include <QSqlDatabase>
#include <gtest/gtest.h>

namespace {

using namespace telvar;
using telvar::test::Engine;
using telvar::test::EngineTest;
using telvar::test::RecordingInteraccion;
using Box = RecordingInteraccion::Box;

class LeeAnchosTest : public EngineTest {
protected:
    void loadDemo()
    {
        auto cn = db->open();
        ASSERT_TRUE(cn);
        Status loaded = demo::loadQualitraDemo(*cn);
        ASSERT_TRUE(loaded.ok()) << loaded.error().description.toStdString();
    }
    void run(const QString& statement)
    {
        auto cn = db->open();
        ASSERT_TRUE(cn);
        auto done = cn->exec(statement);
        ASSERT_TRUE(done.ok()) << statement.toStdString() << ": "
                               << done.error().description.toStdString();
    }
    std::array<qint16, 6> widths() const
    {
        const Modulo1& m = db->modulo();
        return {m.AnchoUSU, m.AnchoEST, m.AnchoMAQ, m.AnchoPRO, m.AnchoFRM, m.AnchoCAR};
    }
    RecordingInteraccion ui;
};

TEST_P(LeeAnchosTest, ReadsTheSixKeyWidthsOfTheDemoDatabase)
{
    loadDemo();
    EXPECT_TRUE(LeeAnchos(db->modulo(), ui));
    EXPECT_EQ(widths(), (std::array<qint16, 6>{8, 8, 8, 20, 8, 8}));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(ui.mousePointer, PointerShape::Default);
    // The connection is closed before returning.
    for (const QString& name : QSqlDatabase::connectionNames())
        EXPECT_FALSE(name.startsWith(QLatin1String("telvar-db-"))) << name.toStdString();
}

TEST_P(LeeAnchosTest, EmptyTablesStillGiveTheirWidths)
{
    loadDemo();
    for (const char* table : {"USU", "EST", "MAQ", "PRO", "FRM", "CAR", "INS"})
        run(QStringLiteral("DELETE FROM ") + QLatin1String(table));
    EXPECT_TRUE(LeeAnchos(db->modulo(), ui));
    EXPECT_EQ(widths(), (std::array<qint16, 6>{8, 8, 8, 20, 8, 8}));
}

TEST_P(LeeAnchosTest, LongDescriptionColumnsAreFine)
{
    loadDemo();
    run(QStringLiteral("DROP TABLE INS"));
    run(QStringLiteral("CREATE TABLE INS (INSCLAVE VARCHAR(12), INSDESCR TEXT)"));
    run(QStringLiteral("DROP TABLE USU"));
    run(QStringLiteral("CREATE TABLE USU (USUCLAVE VARCHAR(10), USUDESCR TEXT, USUSSTAT "
                       "VARCHAR(1), USUPODER VARCHAR(10), USUCONTR VARCHAR(80))"));
    EXPECT_TRUE(LeeAnchos(db->modulo(), ui));
    EXPECT_EQ(db->modulo().AnchoUSU, 10);
}

struct BrokenSchema {
    const char* name;
    const char* table;
    const char* replacement; // CREATE TABLE statement, or nullptr to leave the table out
    const char* where;       // what the report names
    long long number;        // 0: the engine's own number
    bool fileOnly = false;   // a declaration only SQLite accepts
};

const BrokenSchema kBroken[] = {
    {"MissingTable", "INS", nullptr, "INS", 0},
    {"MissingKey", "USU", "CREATE TABLE USU (CLAVE VARCHAR(8), USUDESCR VARCHAR(40))",
     "USU.USUCLAVE", ErrorNumber::ItemNotFound},
    {"MissingDescription", "MAQ", "CREATE TABLE MAQ (MAQCLAVE VARCHAR(8), MAQDESC2 VARCHAR(40))",
     "MAQ.MAQDESC1", ErrorNumber::ItemNotFound},
    {"MissingInsDescription", "INS", "CREATE TABLE INS (INSCLAVE VARCHAR(8))", "INS.INSDESCR",
     ErrorNumber::ItemNotFound},
    {"KeyWithoutLength", "EST", "CREATE TABLE EST (ESTCLAVE TEXT, ESTDESC1 VARCHAR(40))",
     "EST.ESTCLAVE", ErrorNumber::Overflow},
    {"KeyBeyond16Bits", "PRO", "CREATE TABLE PRO (PROCLAVE VARCHAR(40000), PRODESC1 VARCHAR(40))",
     "PRO.PROCLAVE", ErrorNumber::Overflow},
    {"KeyOfWidthZero", "FRM", "CREATE TABLE FRM (FRMCLAVE VARCHAR(0), FRMDESC1 VARCHAR(40))",
     "FRM.FRMCLAVE", ErrorNumber::Overflow, true},
    {"NumericKey", "CAR", "CREATE TABLE CAR (CARCLAVE INTEGER, CARDESC1 VARCHAR(40))",
     "CAR.CARCLAVE", ErrorNumber::TypeMismatch},
};

TEST_P(LeeAnchosTest, UnreadableSchemaStopsStartUpNamingTableAndColumn)
{
    for (const BrokenSchema& c : kBroken) {
        SCOPED_TRACE(c.name);
        if (c.fileOnly && GetParam() != Engine::Sqlite)
            continue;
        // A fresh database per case.
        QString error;
        db = telvar::test::EngineDatabase::create(GetParam(), &error);
        ASSERT_TRUE(db) << error.toStdString();
        loadDemo();
        run(QStringLiteral("DROP TABLE ") + QLatin1String(c.table));
        if (c.replacement)
            run(QString::fromUtf8(c.replacement));
        ui.boxes.clear();

        EXPECT_FALSE(LeeAnchos(db->modulo(), ui));
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MessageBox);
        EXPECT_EQ(box.icono, BoxKind::Critical);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Module1. LeeAnchos.\n\n")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.endsWith(QStringLiteral("\n\n") + QLatin1String(c.where) +
                                      QStringLiteral("\n\n")))
            << box.text.toStdString();
        if (c.number != 0) {
            EXPECT_TRUE(box.text.contains(QStringLiteral("\n") + QString::number(c.number) +
                                          QStringLiteral(".- ")))
                << box.text.toStdString();
        }
        // No width is published from an incomplete reading.
        EXPECT_EQ(widths(), (std::array<qint16, 6>{0, 0, 0, 0, 0, 0}));
    }
}

TEST_P(LeeAnchosTest, OpeningFailureIsReportedByOpenDBOK)
{
    db->modulo().CadConexion = db->missingDatabaseString();
    EXPECT_FALSE(LeeAnchos(db->modulo(), ui));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes.first().text.startsWith(QStringLiteral("Module1. OpenDBOK.")));
    EXPECT_EQ(widths(), (std::array<qint16, 6>{0, 0, 0, 0, 0, 0}));
}

TELVAR_INSTANTIATE_ENGINES(LeeAnchosTest);

// Only a file database asks for its password.
TEST(LeeAnchosJet, PasswordTypedAtThePromptIsKeptForLaterOpenings)
{
    QString error;
    auto db = telvar::test::EngineDatabase::create(Engine::Sqlite, &error);
    ASSERT_TRUE(db) << error.toStdString();
    {
        auto cn = db->open();
        ASSERT_TRUE(cn);
        ASSERT_TRUE(demo::loadQualitraDemo(*cn).ok());
    }
    Modulo1& m = db->modulo();
    const QString right = m.PassBD;
    const QString rightString = m.CadConexion;
    m.PassBD = QStringLiteral("vieja");
    m.CadConexion = db->connectionStringWithPassword(m.PassBD);
    RecordingInteraccion ui;
    ui.inputAnswers.enqueue(right);
    EXPECT_TRUE(LeeAnchos(m, ui));
    EXPECT_EQ(m.PassBD, right);
    EXPECT_EQ(m.CadConexion, rightString);
    EXPECT_EQ(m.AnchoPRO, 20);
}

struct AjustaCase {
    const char* texto;
    int n;
    const char* expected;
};

TEST(AjustaAncho, PadsOrCutsToExactlyN)
{
    const AjustaCase cases[] = {
        {"abc", 8, "abc     "}, {"abcdefghij", 8, "abcdefgh"}, {"abc", 0, ""},
        {"", 3, "   "},         {"12345678", 8, "12345678"},   {"ab", -1, ""},
        {"ñandú", 6, "ñandú "},
    };
    for (const AjustaCase& c : cases) {
        const QString result = AjustaAncho(QString::fromUtf8(c.texto), c.n);
        EXPECT_EQ(result, QString::fromUtf8(c.expected)) << c.texto << " " << c.n;
        EXPECT_EQ(result.size(), std::max(c.n, 0));
    }
}

} // namespace
