#include "acquisition/MarkerLimits.h"
#include "common/Modulo1.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "support/EngineDatabase.h"
#include "support/LimitsPrinting.h"
#include "support/RecordingInteraccion.h"

#include <QVariant>
#include <gtest/gtest.h>
#include <memory>

namespace telvar {
namespace {

using namespace Qt::Literals::StringLiterals;
using test::Engine;

QString describe(const Error& e)
{
    return QString::number(e.number) + u" ("_s + e.source + u") "_s + e.description;
}

// The limits a port was given at the start, as the lookups' fallback.
const Limits kConfigured{7, 8};

// An SPC database on the engine with a CXP table, the program-wide state
// that names it, and a connection of the test's own to change its rows.
class MarkerLimitsTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        TELVAR_REQUIRE_ENGINE(GetParam());
        test::EngineDatabaseOptions options;
        options.sqlitePassword.clear();
        QString error;
        m_db = test::EngineDatabase::create(GetParam(), &error, options);
        ASSERT_TRUE(m_db) << error.toStdString();
        m_db->describeIn(m);
        m_missing = m_db->missingDatabaseString();
        auto opened = EngineLayer::open(m.CadConexion);
        ASSERT_TRUE(opened.ok()) << describe(opened.error()).toStdString();
        m_cn = std::move(opened.value());
    }

    void run(const QString& statement, const QVariantList& values = {})
    {
        const auto done = m_cn->exec(statement, values);
        ASSERT_TRUE(done.ok()) << statement.toStdString() << ": "
                               << describe(done.error()).toStdString();
    }

    void createCxp()
    {
        run(u"CREATE TABLE CXP (CXPMAQUI VARCHAR(8) NOT NULL, CXPPRODU VARCHAR(20) NOT NULL, "
            "CXPCARAC VARCHAR(8) NOT NULL, CXPLINFC DOUBLE PRECISION, CXPLSUPC DOUBLE PRECISION, "
            "PRIMARY KEY (CXPMAQUI, CXPPRODU, CXPCARAC))"_s);
    }

    void insert(const QString& machine, const QString& product, const QString& characteristic,
                double inf, double sup)
    {
        run(u"INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, CXPLSUPC) "
            "VALUES (?, ?, ?, ?, ?)"_s,
            {machine, product, characteristic, inf, sup});
    }

    static Limits expectLimits(const Result<Limits>& got)
    {
        EXPECT_TRUE(got.ok()) << describe(got.error()).toStdString();
        return got.ok() ? got.value() : Limits{0, 0};
    }

    std::unique_ptr<test::EngineDatabase> m_db;
    Modulo1 m;
    test::RecordingInteraccion ui;
    std::unique_ptr<Connection> m_cn;
    // A connection string of the engine that names no database.
    QString m_missing;
};

TEST_P(MarkerLimitsTest, GivesTheLimitsOfWhatThePageNamed)
{
    createCxp();
    insert(u"M1"_s, u"P1"_s, u"C1"_s, 1, 11);
    insert(u"***"_s, u"P2"_s, u"C1"_s, 2, 12);
    insert(u"M3"_s, u"***"_s, u"C1"_s, 3, 13);
    insert(u"***"_s, u"***"_s, u"C2"_s, 4, 14);
    insert(u"M5"_s, u"P5"_s, u"C5"_s, -999999, 999999);
    struct Case {
        const char* what;
        QString machine;
        QString product;
        QString characteristic;
        Limits expected;
    };
    const Case cases[] = {
        {"the triple's own row", u"M1"_s, u"P1"_s, u"C1"_s, {1, 11}},
        {"keys with blanks around them", u" M1 "_s, u"P1  "_s, u" C1"_s, {1, 11}},
        {"any machine with the product", u"M9"_s, u"P2"_s, u"C1"_s, {2, 12}},
        {"the machine with any product", u"M3"_s, u"P9"_s, u"C1"_s, {3, 13}},
        {"any machine with any product", u"M9"_s, u"P9"_s, u"C2"_s, {4, 14}},
        {"no row in any lookup: the limits loaded at the start", u"M9"_s, u"P9"_s, u"C1"_s,
         kConfigured},
        {"a row whose limits are the defaults is a row",
         u"M5"_s,
         u"P5"_s,
         u"C5"_s,
         {-999999, 999999}},
    };
    MarkerLimits limits(m, ui);
    // The second round comes from memory.
    for (int round = 1; round <= 2; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round));
            EXPECT_EQ(
                expectLimits(limits.limitsFor(c.machine, c.product, c.characteristic, kConfigured)),
                c.expected);
        }
    }
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_P(MarkerLimitsTest, AsksEachTripleOnceUntilReset)
{
    createCxp();
    insert(u"M1"_s, u"P1"_s, u"C1"_s, 1, 11);
    MarkerLimits limits(m, ui);
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured)),
              (Limits{1, 11}));
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M2"_s, u"P2"_s, u"C1"_s, kConfigured)), kConfigured);

    // The rows change: the answers already given stay, trimmed keys being
    // the same triple. What is remembered for a triple without a row is
    // that it has none: another port's configured limits come back for it.
    run(u"DELETE FROM CXP"_s);
    insert(u"M2"_s, u"P2"_s, u"C1"_s, 2, 12);
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1 "_s, u" P1"_s, u"C1"_s, kConfigured)),
              (Limits{1, 11}));
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M2"_s, u"P2"_s, u"C1"_s, {5, 6})), (Limits{5, 6}));
    // A new triple is asked of the database as it is now.
    EXPECT_EQ(expectLimits(limits.limitsFor(u"***"_s, u"P2"_s, u"C1"_s, kConfigured)), kConfigured);

    // After a reset every triple is asked again.
    limits.reset();
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured)), kConfigured);
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M2"_s, u"P2"_s, u"C1"_s, kConfigured)),
              (Limits{2, 12}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_P(MarkerLimitsTest, OpensTheDatabaseAtTheFirstLookupAndKeepsItUntilReset)
{
    createCxp();
    insert(u"M1"_s, u"P1"_s, u"C1"_s, 1, 11);
    insert(u"M2"_s, u"P2"_s, u"C2"_s, 2, 12);
    MarkerLimits limits(m, ui);
    EXPECT_FALSE(limits.isOpen());
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured)),
              (Limits{1, 11}));
    EXPECT_TRUE(limits.isOpen());

    // The connection is kept: a database that could not be opened now is
    // not asked for.
    const QString reachable = m.CadConexion;
    m.CadConexion = m_missing;
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M2"_s, u"P2"_s, u"C2"_s, kConfigured)),
              (Limits{2, 12}));
    EXPECT_TRUE(ui.boxes.isEmpty());

    // After a reset the next lookup opens it again: its failure is the
    // opening's error, reported by the opening, and not remembered.
    limits.reset();
    EXPECT_FALSE(limits.isOpen());
    const Result<Limits> failed = limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured);
    ASSERT_FALSE(failed.ok());
    EXPECT_FALSE(failed.error().description.isEmpty());
    EXPECT_FALSE(ui.boxes.isEmpty());
    EXPECT_FALSE(limits.isOpen());
    m.CadConexion = reachable;
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured)),
              (Limits{1, 11}));
    EXPECT_TRUE(limits.isOpen());
}

TEST_P(MarkerLimitsTest, AFailingLookupIsTheEnginesErrorAndNotRemembered)
{
    // The engine's own error for a statement on the missing table.
    const auto plain = m_cn->exec(u"Select CXPLINFC from CXP"_s);
    ASSERT_FALSE(plain.ok());
    const Error expected = plain.error();

    MarkerLimits limits(m, ui);
    const Result<Limits> missing = limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, expected.number);
    EXPECT_EQ(missing.error().source, expected.source);
    EXPECT_TRUE(missing.error().description.contains(u"cxp"_s, Qt::CaseInsensitive))
        << describe(missing.error()).toStdString();
    // A lookup's error is the caller's to report.
    EXPECT_TRUE(ui.boxes.isEmpty());

    // Once the table exists the same triple finds its row.
    createCxp();
    insert(u"M1"_s, u"P1"_s, u"C1"_s, 1, 11);
    EXPECT_EQ(expectLimits(limits.limitsFor(u"M1"_s, u"P1"_s, u"C1"_s, kConfigured)),
              (Limits{1, 11}));
}

TELVAR_INSTANTIATE_ENGINES(MarkerLimitsTest);

} // namespace
} // namespace telvar
