#include "acquisition/Puertos.h"
#include "common/ErrorNumbers.h"

#include <gtest/gtest.h>
#include <ostream>

using namespace Qt::Literals::StringLiterals;
using telvar::ConfigRow;
using telvar::Puertos;
using telvar::Result;
using telvar::TPuerto;

namespace {

ConfigRow row(int puert, int reloj, std::optional<int> inter = 1)
{
    ConfigRow r;
    r.Puert = puert;
    r.Descr = u"Port "_s + QString::number(puert);
    r.WebPg = u"http://127.0.0.1:8080/p"_s + QString::number(puert);
    r.Ident = u"T"_s + QString::number(puert) + u'=';
    r.Inici = 1;
    r.Longi = 4;
    r.Estac = u"E01"_s;
    r.Maqui = u"M01"_s;
    r.Produ = u"P01"_s;
    r.Forma = u"F01"_s;
    r.Carac = u"C01"_s;
    r.Opera = u"OP1"_s;
    r.Reloj = reloj;
    if (reloj > 0) {
        r.Clave = reloj;
        r.Inter = inter;
    }
    return r;
}

bool isEmptyElement(const TPuerto& p)
{
    return p.WebPg.isEmpty() && p.Ident.isEmpty() && p.Inici == 0 && p.Longi == 0 &&
           p.Forma.isEmpty() && p.Maqui.isEmpty() && p.Produ.isEmpty() && p.Reloj.isEmpty() &&
           p.Puert == 0;
}

TEST(PuertosTest, EmptyConfigurationLeavesOnlyElementZero)
{
    const Result<Puertos> puertos = telvar::buildPuertos({});
    ASSERT_TRUE(puertos.ok());
    ASSERT_EQ(puertos.value().size(), 1);
    EXPECT_TRUE(isEmptyElement(puertos.value()[0]));
}

TEST(PuertosTest, ElementsFollowTheRowsAndKeepTheirOwnPortNumbers)
{
    const Result<Puertos> built = telvar::buildPuertos({row(3, 1), row(7, 0), row(12, 2)});
    ASSERT_TRUE(built.ok());
    const Puertos& puertos = built.value();
    ASSERT_EQ(puertos.size(), 4);
    EXPECT_TRUE(isEmptyElement(puertos[0]));
    EXPECT_EQ(puertos[1].Puert, 3);
    EXPECT_EQ(puertos[1].WebPg, u"http://127.0.0.1:8080/p3"_s);
    EXPECT_EQ(puertos[1].Ident, u"T3="_s);
    EXPECT_EQ(puertos[1].Inici, 1);
    EXPECT_EQ(puertos[1].Longi, 4);
    EXPECT_EQ(puertos[1].Reloj, u"1"_s);
    EXPECT_EQ(puertos[1].clockNumber(), 1);
    // A port without a clock keeps its element, empty.
    EXPECT_TRUE(isEmptyElement(puertos[2]));
    EXPECT_EQ(puertos[3].Puert, 12);
    EXPECT_EQ(puertos[3].Reloj, u"2"_s);

    EXPECT_EQ(telvar::elementOfPuert(puertos, 3), 1);
    EXPECT_EQ(telvar::elementOfPuert(puertos, 12), 3);
    EXPECT_EQ(telvar::elementOfPuert(puertos, 7), 0);
    EXPECT_EQ(telvar::elementOfPuert(puertos, 2), 0);
    EXPECT_EQ(telvar::elementOfPuert(puertos, 0), 0);
}

struct MarkerCase {
    const char* name;
    QString column;
    QString field;
};

void PrintTo(const MarkerCase& c, std::ostream* os)
{
    *os << c.name;
}

class MarkerColumnTest : public testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerColumnTest, OnlyAValueBeginningWithTheSignNamesAMarker)
{
    const MarkerCase& c = GetParam();
    ConfigRow r = row(1, 1);
    r.Forma = c.column;
    r.Maqui = c.column;
    r.Produ = c.column;
    const Result<Puertos> puertos = telvar::buildPuertos({r});
    ASSERT_TRUE(puertos.ok());
    EXPECT_EQ(puertos.value()[1].Forma, c.field);
    EXPECT_EQ(puertos.value()[1].Maqui, c.field);
    EXPECT_EQ(puertos.value()[1].Produ, c.field);
}

const MarkerCase markerCases[] = {
    {"SignThenMarker", u"@FMT"_s, u"FMT"_s},
    {"OrdinaryKey", u"F01"_s, {}},
    {"SignAlone", u"@"_s, {}},
    {"EmptyColumn", {}, {}},
    {"BlankBeforeTheSign", u" @FMT"_s, {}},
    {"SignInsideTheValue", u"F@1"_s, {}},
    {"MarkerKeepsASecondSignAndItsBlanks", u"@@M: "_s, u"@M: "_s},
};

INSTANTIATE_TEST_SUITE_P(Cases, MarkerColumnTest, testing::ValuesIn(markerCases),
                         [](const testing::TestParamInfo<MarkerCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

struct RangeCase {
    const char* name;
    int inici;
    int longi;
    int reloj;
    bool ok;
};

void PrintTo(const RangeCase& c, std::ostream* os)
{
    *os << c.name;
}

class RangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(RangeTest, StartAndLengthMustFitSixteenBits)
{
    const RangeCase& c = GetParam();
    ConfigRow r = row(1, c.reloj);
    r.Inici = c.inici;
    r.Longi = c.longi;
    const Result<Puertos> puertos = telvar::buildPuertos({row(2, 1), r});
    ASSERT_EQ(puertos.ok(), c.ok);
    if (c.ok) {
        EXPECT_EQ(puertos.value()[2].Inici, c.reloj > 0 ? c.inici : 0);
        EXPECT_EQ(puertos.value()[2].Longi, c.reloj > 0 ? c.longi : 0);
    } else {
        EXPECT_EQ(puertos.error().number, telvar::ErrorNumber::Overflow);
    }
}

const RangeCase rangeCases[] = {
    {"Largest", 32767, 32767, 1, true},     {"Smallest", -32768, -32768, 1, true},
    {"StartTooLarge", 32768, 4, 1, false},  {"StartTooSmall", -32769, 4, 1, false},
    {"LengthTooLarge", 1, 40000, 1, false}, {"NotReadWithoutAClock", 100000, -100000, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, RangeTest, testing::ValuesIn(rangeCases),
                         [](const testing::TestParamInfo<RangeCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST(PuertosTest, MoreRowsThanASixteenBitCountHoldsIsAnOverflow)
{
    QList<ConfigRow> rows(32767, row(1, 0));
    EXPECT_TRUE(telvar::buildPuertos(rows).ok());
    rows.append(row(2, 0));
    const Result<Puertos> puertos = telvar::buildPuertos(rows);
    ASSERT_FALSE(puertos.ok());
    EXPECT_EQ(puertos.error().number, telvar::ErrorNumber::Overflow);
}

TEST(PuertosTest, ClockNumberOfTheElementReadsItsText)
{
    const std::pair<QString, int> cases[] = {
        {u"7"_s, 7}, {u"10"_s, 10}, {u""_s, 0}, {u"x"_s, 0}, {u" 3"_s, 3}};
    for (const auto& [text, number] : cases) {
        TPuerto p;
        p.Reloj = text;
        EXPECT_EQ(p.clockNumber(), number) << text.toStdString();
    }
}

TEST(ClockPlanTest, UsedClocksWithTheirIntervals)
{
    const telvar::ClockPlan plan = telvar::planClocks(
        {row(1, 2, 5), row(2, 0), row(3, 2, 5), row(4, 10, 0), row(5, 4, std::nullopt)});
    EXPECT_FALSE(plan.error.has_value());
    for (int r = 0; r <= 10; ++r) {
        const auto i = static_cast<std::size_t>(r);
        EXPECT_EQ(plan.used[i], r == 2 || r == 4 || r == 10) << r;
    }
    EXPECT_EQ(plan.interval[2], 5);
    EXPECT_EQ(plan.interval[10], 0);
    // A clock without its HTMRELOJ row counts as interval 0: button only.
    EXPECT_EQ(plan.interval[4], 0);
}

TEST(ClockPlanTest, ClockAboveTenStopsThePlanAndKeepsTheClocksBeforeIt)
{
    const telvar::ClockPlan plan = telvar::planClocks({row(1, 3, 2), row(2, 11, 1), row(3, 5, 4)});
    ASSERT_TRUE(plan.error.has_value());
    EXPECT_EQ(plan.error->number, 340);
    EXPECT_TRUE(plan.used[3]);
    EXPECT_EQ(plan.interval[3], 2);
    EXPECT_FALSE(plan.used[5]);
}

} // namespace
