#include "acquisition/CxpLimits.h"
#include "common/ErrorNumbers.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"
#include "support/EngineDatabase.h"
#include "support/LimitsPrinting.h"

#include <QVariant>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using telvar::Connection;
using telvar::CxpLimits;
using telvar::Error;
using telvar::Limits;
using telvar::Result;
namespace ErrorNumber = telvar::ErrorNumber;

namespace {

using telvar::test::Engine;

const Limits kNoLimits{-999999, 999999};

// A CXP row; a null QVariant is a NULL limit.
struct CxpRow {
    QString machine;
    QString product;
    QString characteristic;
    QVariant inf;
    QVariant sup;
};

// One lookup and what it gives: the limits, or an error number (the
// description of the run-time's own errors is checked too).
struct LookupCase {
    const char* what;
    QString machine;
    QString product;
    QString characteristic;
    Limits expected;
    long long error = 0;
};

QString describe(const Error& e)
{
    return QString::number(e.number) + u" ("_s + e.source + u") "_s + e.description;
}

// The rows of the lookup-order table: every way the four lookups can win,
// keys with apostrophes, case, empty and null keys, and null limits.
QList<CxpRow> lookupOrderRows()
{
    const QVariant null;
    return {
        {u"***"_s, u"P1"_s, u"C1"_s, 1, 11},      {u"M1"_s, u"P1"_s, u"C2"_s, 2, 12},
        {u"***"_s, u"P1"_s, u"C2"_s, 3, 13},      {u"M1"_s, u"***"_s, u"C2"_s, 4, 14},
        {u"***"_s, u"***"_s, u"C2"_s, 5, 15},     {u"M1"_s, u"***"_s, u"C3"_s, 6, 16},
        {u"***"_s, u"P1"_s, u"C3"_s, 7, 17},      {u"O'M"_s, u"O'P"_s, u"O'C"_s, 8, 18},
        {u"***"_s, u"***"_s, u"O'C"_s, 80, 180},  {u""_s, u"P9"_s, u"C8"_s, 9, 19},
        {u"M1"_s, u"P1"_s, u"N1"_s, null, 10},    {u"M1"_s, u"P1"_s, u"N2"_s, 1, null},
        {u"***"_s, u"P1"_s, u"N3"_s, null, null}, {u"M1"_s, u"P1"_s, u"N3"_s, 4.5, 5.5},
    };
}

// What the lookups of lookupOrderRows() give.
std::vector<LookupCase> lookupOrderCases()
{
    return {
        {"only a row for any machine and the product: the second lookup wins",
         u"M1"_s,
         u"P1"_s,
         u"C1"_s,
         {1, 11}},
        {"the machine and product row beats every wildcard row",
         u"M1"_s,
         u"P1"_s,
         u"C2"_s,
         {2, 12}},
        {"any machine with the product", u"M2"_s, u"P1"_s, u"C2"_s, {3, 13}},
        {"the machine with any product", u"M1"_s, u"P2"_s, u"C2"_s, {4, 14}},
        {"any machine with any product", u"M2"_s, u"P2"_s, u"C2"_s, {5, 15}},
        {"(***, product) beats (machine, ***): it is the second lookup",
         u"M1"_s,
         u"P1"_s,
         u"C3"_s,
         {7, 17}},
        {"rows of the characteristic for other machines and products only", u"M2"_s, u"P2"_s,
         u"C3"_s, kNoLimits},
        {"no row of the characteristic, though the machine and product have others", u"M1"_s,
         u"P1"_s, u"C4"_s, kNoLimits},
        {"machine *** itself: its own row is the first lookup's",
         u"***"_s,
         u"P1"_s,
         u"C2"_s,
         {3, 13}},
        {"machine *** itself, unknown product", u"***"_s, u"P2"_s, u"C2"_s, {5, 15}},
        {"product *** itself", u"M1"_s, u"***"_s, u"C2"_s, {4, 14}},
        {"product *** itself, unknown machine", u"M2"_s, u"***"_s, u"C2"_s, {5, 15}},
        {"machine and product *** themselves", u"***"_s, u"***"_s, u"C2"_s, {5, 15}},
        {"apostrophes in all three keys", u"O'M"_s, u"O'P"_s, u"O'C"_s, {8, 18}},
        {"apostrophe in the characteristic, wildcard row", u"X"_s, u"Y"_s, u"O'C"_s, {80, 180}},
        {"the engine tells case apart in the machine", u"m1"_s, u"P1"_s, u"C2"_s, {3, 13}},
        {"the engine tells case apart in the product", u"M1"_s, u"p1"_s, u"C2"_s, {4, 14}},
        {"the engine tells case apart in the characteristic", u"M1"_s, u"P1"_s, u"c2"_s, kNoLimits},
        {"a page-marker machine matches no machine", u"@M1"_s, u"P1"_s, u"C2"_s, {3, 13}},
        {"an empty machine matches an empty key", u""_s, u"P9"_s, u"C8"_s, {9, 19}},
        {"a null machine is an empty one", QString(), u"P9"_s, u"C8"_s, {9, 19}},
        {"null lower limit in the winning row",
         u"M1"_s,
         u"P1"_s,
         u"N1"_s,
         {},
         ErrorNumber::InvalidUseOfNull},
        {"null upper limit in the winning row",
         u"M1"_s,
         u"P1"_s,
         u"N2"_s,
         {},
         ErrorNumber::InvalidUseOfNull},
        {"null limits in a row that does not win", u"M1"_s, u"P1"_s, u"N3"_s, {4.5, 5.5}},
        {"null limits in the row that wins for another machine",
         u"M2"_s,
         u"P1"_s,
         u"N3"_s,
         {},
         ErrorNumber::InvalidUseOfNull},
    };
}

// A fresh Qualitra database on the engine, with one connection open on it:
// a SQLite file without a password, or a new database on the test
// PostgreSQL cluster.
class CxpLimitsTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        TELVAR_REQUIRE_ENGINE(GetParam());
        telvar::test::EngineDatabaseOptions options;
        options.sqlitePassword.clear();
        QString error;
        m_db = telvar::test::EngineDatabase::create(GetParam(), &error, options);
        ASSERT_TRUE(m_db) << error.toStdString();
        auto opened = telvar::EngineLayer::open(m_db->connectionString());
        ASSERT_TRUE(opened.ok()) << describe(opened.error()).toStdString();
        cn = std::move(opened.value());
    }

    void run(const QString& statement, const QVariantList& values = {})
    {
        const auto done = cn->exec(statement, values);
        ASSERT_TRUE(done.ok()) << statement.toStdString() << ": "
                               << describe(done.error()).toStdString();
    }

    // The table as the Qualitra database defines it, with limits of the
    // given column type.
    void createCxp(const QString& limitType = u"DOUBLE PRECISION"_s)
    {
        run(u"CREATE TABLE CXP (CXPMAQUI VARCHAR(8) NOT NULL, CXPPRODU VARCHAR(20) NOT NULL, "
            "CXPCARAC VARCHAR(8) NOT NULL, CXPLINFC "_s +
            limitType + u", CXPLSUPC "_s + limitType +
            u", PRIMARY KEY (CXPMAQUI, CXPPRODU, CXPCARAC))"_s);
    }

    void insert(const QList<CxpRow>& rows)
    {
        for (const CxpRow& r : rows)
            run(u"INSERT INTO CXP (CXPMAQUI, CXPPRODU, CXPCARAC, CXPLINFC, CXPLSUPC) "
                "VALUES (?, ?, ?, ?, ?)"_s,
                {r.machine, r.product, r.characteristic, r.inf, r.sup});
    }

    static void expectCase(const LookupCase& c, const Result<Limits>& got)
    {
        if (c.error == 0) {
            ASSERT_TRUE(got.ok()) << describe(got.error()).toStdString();
            EXPECT_EQ(got.value(), c.expected);
            return;
        }
        ASSERT_FALSE(got.ok()) << "limits " << got.value().LimInf << ", " << got.value().LimSup;
        EXPECT_EQ(got.error().number, c.error);
        EXPECT_EQ(got.error().source, u"Telvar"_s);
        const QString description = c.error == ErrorNumber::InvalidUseOfNull
                                        ? u"Invalid use of Null"_s
                                    : c.error == ErrorNumber::TypeMismatch ? u"Type mismatch"_s
                                                                           : u"Overflow"_s;
        EXPECT_EQ(got.error().description, description);
    }

    std::unique_ptr<telvar::test::EngineDatabase> m_db;
    std::unique_ptr<Connection> cn;
};

TEST_P(CxpLimitsTest, GivesWhatTheFourLookupsGiveInTheirOrder)
{
    createCxp();
    insert(lookupOrderRows());
    const std::vector<LookupCase> cases = lookupOrderCases();
    // Each case on its own, then all of them twice through one object, as a
    // start asks them: the statement is reused, found limits come from
    // memory, and an error leaves the next lookups unharmed.
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.what);
        CxpLimits limits(*cn);
        expectCase(c, limits.limits(c.machine, c.product, c.characteristic));
    }
    CxpLimits shared(*cn);
    for (int round = 1; round <= 2; ++round) {
        for (const LookupCase& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", shared, round " + std::to_string(round));
            expectCase(c, shared.limits(c.machine, c.product, c.characteristic));
        }
    }
}

TEST_P(CxpLimitsTest, PrefetchGivesWhatEachTriplesOwnLookupGives)
{
    createCxp();
    insert(lookupOrderRows());
    const std::vector<LookupCase> cases = lookupOrderCases();
    CxpLimits oneByOne(*cn);
    std::vector<Result<Limits>> alone;
    QList<CxpLimits::Triple> triples;
    for (const LookupCase& c : cases) {
        alone.push_back(oneByOne.limits(c.machine, c.product, c.characteristic));
        triples.append({c.machine, c.product, c.characteristic});
    }
    CxpLimits limits(*cn);
    limits.prefetch(triples);
    // Every answer comes from the prefetch now.
    run(u"DROP TABLE CXP"_s);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const LookupCase& c = cases[i];
        SCOPED_TRACE(c.what);
        const Result<Limits> got = limits.limits(c.machine, c.product, c.characteristic);
        expectCase(c, got);
        ASSERT_EQ(got.ok(), alone[i].ok());
        if (got.ok()) {
            EXPECT_EQ(got.value(), alone[i].value());
        } else {
            EXPECT_EQ(got.error().number, alone[i].error().number);
            EXPECT_EQ(got.error().source, alone[i].error().source);
            EXPECT_EQ(got.error().description, alone[i].error().description);
        }
    }
}

TEST_P(CxpLimitsTest, PrefetchAsksManyTriplesOverSeveralStatements)
{
    // 125 triples, a dozen statements and part of one. Even triples have their
    // own row, odd multiples of 3 only the row of any machine, the others no
    // row; triple 77's own row has a null lower limit.
    constexpr int kTriples = 125;
    constexpr int kNullTriple = 77;
    const auto triple = [](int i) {
        return CxpLimits::Triple{u"M"_s + QString::number(i), u"P"_s + QString::number(i),
                                 u"C"_s + QString::number(i % 7)};
    };
    createCxp();
    QList<CxpRow> rows;
    for (int i = 0; i < kTriples; ++i) {
        const CxpLimits::Triple t = triple(i);
        if (i % 2 == 0)
            rows.append({t.machine, t.product, t.characteristic, i, i + 1000});
        if (i % 3 == 0)
            rows.append({u"***"_s, t.product, t.characteristic, -i, 1 - i});
        if (i == kNullTriple)
            rows.append({t.machine, t.product, t.characteristic, QVariant(), 5});
    }
    ASSERT_TRUE(cn->database().transaction());
    insert(rows);
    ASSERT_TRUE(cn->database().commit());

    QList<CxpLimits::Triple> triples;
    for (int i = 0; i < kTriples; ++i)
        triples.append(triple(i));
    // Repeated triples are asked once.
    for (int i = 0; i < 10; ++i)
        triples.append(triple(i));
    CxpLimits limits(*cn);
    limits.prefetch(triples);
    run(u"DROP TABLE CXP"_s);

    for (int i = 0; i < kTriples; ++i) {
        SCOPED_TRACE(i);
        const CxpLimits::Triple t = triple(i);
        LookupCase expected{"", t.machine, t.product, t.characteristic, kNoLimits};
        if (i == kNullTriple)
            expected.error = ErrorNumber::InvalidUseOfNull;
        else if (i % 2 == 0)
            expected.expected = {double(i), double(i + 1000)};
        else if (i % 3 == 0)
            expected.expected = {double(-i), double(1 - i)};
        expectCase(expected, limits.limits(t.machine, t.product, t.characteristic));
    }
    // The error was given once, as a lookup's error is: asked again, the
    // triple is looked up afresh, in a table that is gone.
    const CxpLimits::Triple t = triple(kNullTriple);
    const auto again = limits.limits(t.machine, t.product, t.characteristic);
    ASSERT_FALSE(again.ok());
    EXPECT_NE(again.error().number, ErrorNumber::InvalidUseOfNull);
}

TEST_P(CxpLimitsTest, AFailedPrefetchLeavesTheLookupsAndTheirErrorsToLimits)
{
    // The engine's own error for a statement on the missing table.
    const auto plain = cn->exec(u"Select CXPLINFC from CXP"_s);
    ASSERT_FALSE(plain.ok());
    const Error expected = plain.error();

    CxpLimits limits(*cn);
    limits.prefetch({{u"M1"_s, u"P1"_s, u"C1"_s}, {u"M2"_s, u"P1"_s, u"C1"_s}});
    // The first triple asked reports the engine's error, as without the
    // prefetch...
    const auto missing = limits.limits(u"M1"_s, u"P1"_s, u"C1"_s);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, expected.number);
    EXPECT_EQ(missing.error().source, expected.source);
    EXPECT_TRUE(missing.error().description.contains(u"cxp"_s, Qt::CaseInsensitive))
        << describe(missing.error()).toStdString();

    // ...and nothing was remembered for the others.
    createCxp();
    insert({{u"M1"_s, u"P1"_s, u"C1"_s, 1, 2}, {u"***"_s, u"P1"_s, u"C1"_s, 3, 4}});
    EXPECT_EQ(limits.limits(u"M2"_s, u"P1"_s, u"C1"_s).value(), (Limits{3, 4}));
    EXPECT_EQ(limits.limits(u"M1"_s, u"P1"_s, u"C1"_s).value(), (Limits{1, 2}));

    // On a closed connection a prefetch finds nothing, and limits() answers
    // as the connection does.
    cn->close();
    CxpLimits closed(*cn);
    closed.prefetch({{u"M1"_s, u"P1"_s, u"C1"_s}});
    const auto notOpen = closed.limits(u"M1"_s, u"P1"_s, u"C1"_s);
    ASSERT_FALSE(notOpen.ok());
    EXPECT_EQ(notOpen.error().number, ErrorNumber::ObjectClosed);
}

TEST_P(CxpLimitsTest, LimitsReadAsADoubleVariableTakesThem)
{
    struct ValueCase {
        const char* what;
        QString columnType;
        QVariant stored;
        double expected;
        long long error = 0;
    };
    const ValueCase cases[] = {
        {"double", u"DOUBLE PRECISION"_s, 24.95, 24.95},
        {"negative double", u"DOUBLE PRECISION"_s, -0.125, -0.125},
        {"numeric", u"NUMERIC(12,4)"_s, 11.9, 11.9},
        {"integer", u"INTEGER"_s, 45, 45},
        {"text holding a number", u"VARCHAR(20)"_s, u"12.5"_s, 12.5},
        {"text holding a number with blanks and an exponent", u"VARCHAR(20)"_s, u" -3.25E1 "_s,
         -32.5},
        {"text holding a number with a D exponent", u"VARCHAR(20)"_s, u"1D2"_s, 100},
        {"text that is no number", u"VARCHAR(20)"_s, u"abc"_s, 0, ErrorNumber::TypeMismatch},
        {"empty text", u"VARCHAR(20)"_s, u""_s, 0, ErrorNumber::TypeMismatch},
        {"text beyond a Double", u"VARCHAR(20)"_s, u"1E999"_s, 0, ErrorNumber::Overflow},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.what);
        createCxp(c.columnType);
        insert({{u"M1"_s, u"P1"_s, u"C1"_s, c.stored, c.stored}});
        const LookupCase expected{c.what, {}, {}, {}, {c.expected, c.expected}, c.error};
        CxpLimits limits(*cn);
        CxpLimits prefetched(*cn);
        prefetched.prefetch({{u"M1"_s, u"P1"_s, u"C1"_s}});
        expectCase(expected, limits.limits(u"M1"_s, u"P1"_s, u"C1"_s));
        run(u"DROP TABLE CXP"_s);
        // The prefetch read the value the same way (the table is gone now).
        expectCase(expected, prefetched.limits(u"M1"_s, u"P1"_s, u"C1"_s));
    }
}

TEST_P(CxpLimitsTest, AsksEachTripleOnce)
{
    createCxp();
    insert({{u"M1"_s, u"P1"_s, u"C1"_s, 1, 2}});
    CxpLimits limits(*cn);
    ASSERT_EQ(limits.limits(u"M1"_s, u"P1"_s, u"C1"_s).value(), (Limits{1, 2}));
    ASSERT_EQ(limits.limits(u"M2"_s, u"P1"_s, u"C1"_s).value(), kNoLimits);

    run(u"DROP TABLE CXP"_s);
    // Both triples come from memory, the missing limits too...
    const auto again = limits.limits(u"M1"_s, u"P1"_s, u"C1"_s);
    ASSERT_TRUE(again.ok()) << describe(again.error()).toStdString();
    EXPECT_EQ(again.value(), (Limits{1, 2}));
    const auto missingAgain = limits.limits(u"M2"_s, u"P1"_s, u"C1"_s);
    ASSERT_TRUE(missingAgain.ok()) << describe(missingAgain.error()).toStdString();
    EXPECT_EQ(missingAgain.value(), kNoLimits);
    // ...and a triple that differs in nothing but the split of its keys is
    // another triple, asked of the (now missing) table.
    EXPECT_FALSE(limits.limits(u"M"_s, u"1P1"_s, u"C1"_s).ok());
}

TEST_P(CxpLimitsTest, FindTellsNoRowFromARowHoldingTheDefaultLimits)
{
    createCxp();
    insert({{u"M1"_s, u"P1"_s, u"C1"_s, -999999, 999999}, {u"***"_s, u"P2"_s, u"C1"_s, 1, 2}});
    const QList<CxpLimits::Triple> triples = {
        {u"M1"_s, u"P1"_s, u"C1"_s}, {u"M9"_s, u"P9"_s, u"C1"_s}, {u"M9"_s, u"P2"_s, u"C1"_s}};
    // Looked up one at a time, then from a prefetch alone (the table gone).
    for (const bool prefetched : {false, true}) {
        SCOPED_TRACE(prefetched ? "prefetched" : "one at a time");
        CxpLimits limits(*cn);
        if (prefetched) {
            limits.prefetch(triples);
            run(u"DROP TABLE CXP"_s);
        }
        const auto defaults = limits.find(u"M1"_s, u"P1"_s, u"C1"_s);
        ASSERT_TRUE(defaults.ok()) << describe(defaults.error()).toStdString();
        ASSERT_TRUE(defaults.value().has_value());
        EXPECT_EQ(*defaults.value(), kNoLimits);
        const auto none = limits.find(u"M9"_s, u"P9"_s, u"C1"_s);
        ASSERT_TRUE(none.ok()) << describe(none.error()).toStdString();
        EXPECT_FALSE(none.value().has_value());
        const auto wildcard = limits.find(u"M9"_s, u"P2"_s, u"C1"_s);
        ASSERT_TRUE(wildcard.ok()) << describe(wildcard.error()).toStdString();
        EXPECT_EQ(wildcard.value(), std::optional<Limits>(Limits{1, 2}));
        // limits() gives the defaults for both, as it always has.
        EXPECT_EQ(limits.limits(u"M1"_s, u"P1"_s, u"C1"_s).value(), kNoLimits);
        EXPECT_EQ(limits.limits(u"M9"_s, u"P9"_s, u"C1"_s).value(), kNoLimits);
    }
}

TEST_P(CxpLimitsTest, FailingQueryIsTheEnginesError)
{
    // The engine's own error for a statement on the missing table.
    const auto plain = cn->exec(u"Select CXPLINFC from CXP"_s);
    ASSERT_FALSE(plain.ok());
    const Error expected = plain.error();

    CxpLimits limits(*cn);
    const auto missing = limits.limits(u"M1"_s, u"P1"_s, u"C1"_s);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, expected.number);
    EXPECT_EQ(missing.error().source, expected.source);
    EXPECT_TRUE(missing.error().description.contains(u"cxp"_s, Qt::CaseInsensitive))
        << describe(missing.error()).toStdString();

    // An error is not remembered: once the table exists the same triple
    // finds its row.
    createCxp();
    insert({{u"M1"_s, u"P1"_s, u"C1"_s, 1, 2}});
    const auto found = limits.limits(u"M1"_s, u"P1"_s, u"C1"_s);
    ASSERT_TRUE(found.ok()) << describe(found.error()).toStdString();
    EXPECT_EQ(found.value(), (Limits{1, 2}));

    // The prepared lookup fails when its table goes away under it.
    run(u"DROP TABLE CXP"_s);
    const auto dropped = limits.limits(u"M2"_s, u"P2"_s, u"C2"_s);
    ASSERT_FALSE(dropped.ok());
    EXPECT_EQ(dropped.error().number, expected.number);
    EXPECT_EQ(dropped.error().source, expected.source);

    // A closed connection answers as the connection does.
    cn->close();
    const auto closed = limits.limits(u"M3"_s, u"P3"_s, u"C3"_s);
    ASSERT_FALSE(closed.ok());
    EXPECT_EQ(closed.error().number, ErrorNumber::ObjectClosed);
    EXPECT_EQ(limits.limits(u"M1"_s, u"P1"_s, u"C1"_s).value(), (Limits{1, 2}));
}

TELVAR_INSTANTIATE_ENGINES(CxpLimitsTest);

} // namespace
