#include "simulator/StationPages.h"

#include <QString>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace telvar::simulator {
namespace {

// The cut the acquisition makes: length characters from start (1 = right
// after the identifier), or nothing when the identifier is absent.
std::optional<QByteArray> cut(const QByteArray& page, QByteArrayView identifier, int start = 1,
                              int length = kValueWidth)
{
    const qsizetype pos = page.indexOf(identifier);
    if (pos < 0)
        return std::nullopt;
    return page.mid(pos + identifier.size() + start - 1, length);
}

struct FormatCase {
    double value;
    QByteArray expected;
};

TEST(StationPages, ValuesFillTheCutWidth)
{
    const FormatCase cases[] = {
        {25.0031, "25.003"}, {120.044, "120.04"}, {9.87654, "9.8765"},
        {49.9999, "50.000"}, {99.9999, "100.00"}, {123456.4, "123456"},
        {70.0, "70.000"},    {0.5, "0.5000"},     {-1.25, "-1.250"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(formatValue(c.value), c.expected) << c.value;
    EXPECT_EQ(formatValue(1234567.0), "1234567") << "a value too wide is never cut";
    EXPECT_EQ(padKey("MAQ01"), "MAQ01 ");
    EXPECT_EQ(padKey("PROD-A"), "PROD-A");
}

struct DemoRead {
    const char* page;
    const char* identifier;
    double lower;
    double upper;
};

// The demo configuration's twelve ports (page and identifier, start 1,
// length 6) with the limits of their machine, product and characteristic.
const DemoRead kDemoReads[] = {
    {"/estacion1.html", "DIAM=", 24.95, 25.05},  {"/estacion1.html", "LARGO=", 119.5, 120.5},
    {"/estacion2.html", "PESO=", 48, 52},        {"/estacion2.html", "TEMP=", 60, 80},
    {"/estacion2b.html", "DIAM=", 24.95, 25.05}, {"/estacion2b.html", "LARGO=", 119.5, 120.5},
    {"/estacion1b.html", "PESO=", 45, 55},       {"/estacion1b.html", "TEMP=", 60, 80},
    {"/estacion3.html", "DIAM=", 24.95, 25.05},  {"/estacion3.html", "LARGO=", 119.5, 120.5},
    {"/estacion4.html", "PESO=", 48, 52},        {"/estacion5.html", "DIAM=", 24.95, 25.05},
};

TEST(StationPages, DemoReadingsSitMostlyInsideTheirLimitsAndSometimesOutside)
{
    constexpr int kSamples = 2000;
    for (const DemoRead& read : kDemoReads) {
        const std::optional<StationProfile> profile = demoProfile(read.page);
        ASSERT_TRUE(profile) << read.page;
        int inside = 0;
        std::set<QByteArray> distinct;
        for (quint64 tick = 0; tick < kSamples; ++tick) {
            const QByteArray page = stationPage(*profile, read.page, 1, tick);
            const std::optional<QByteArray> value = cut(page, read.identifier);
            ASSERT_TRUE(value) << read.page << ' ' << read.identifier;
            ASSERT_EQ(value->size(), kValueWidth);
            EXPECT_EQ(value->trimmed(), *value) << "the cut is the whole value";
            bool ok = false;
            const double number = value->toDouble(&ok);
            ASSERT_TRUE(ok) << value->constData();
            const double half = (read.upper - read.lower) / 2;
            ASSERT_GT(number, read.lower - 2 * half);
            ASSERT_LT(number, read.upper + 2 * half);
            if (number >= read.lower && number <= read.upper)
                ++inside;
            distinct.insert(*value);
        }
        EXPECT_GT(inside, kSamples * 9 / 10) << read.page << ' ' << read.identifier;
        EXPECT_LT(inside, kSamples) << read.page << ' ' << read.identifier << " never outside";
        EXPECT_GT(distinct.size(), 20u) << "readings move";
    }
}

TEST(StationPages, MarkersGiveTheDemoKeysAtTheReadingsOffsetAndLength)
{
    const QByteArray page = stationPage(*demoProfile("/estacion5.html"), "/estacion5.html", 1, 0);
    EXPECT_EQ(cut(page, "@MAQ:"), QByteArray("MAQ01 "));
    EXPECT_EQ(cut(page, "@PROD:"), QByteArray("PROD-A"));
    EXPECT_EQ(cut(page, "@FRM:"), QByteArray("FRM01 "));
    // Each identifier and marker appears once: the first match is the reading.
    for (QByteArrayView needle : {"DIAM=", "LARGO=", "@MAQ:", "@PROD:", "@FRM:"})
        EXPECT_EQ(page.count(needle), 1) << needle.toByteArray().constData();
}

TEST(StationPages, ReadingsAreAFunctionOfSeedPageAndTick)
{
    const StationProfile profile = genericProfile(3);
    const QByteArray a = stationPage(profile, "/station/3.html", 7, 11);
    EXPECT_EQ(a, stationPage(profile, "/station/3.html", 7, 11));
    EXPECT_NE(a, stationPage(profile, "/station/3.html", 8, 11));
    EXPECT_NE(a, stationPage(profile, "/station/3.html", 7, 12));
    EXPECT_NE(a, stationPage(profile, "/station/4.html", 7, 11));
}

TEST(StationPages, GenericStationsCarryAllCharacteristicsAndDemoKeys)
{
    for (quint64 n : {0u, 1u, 2u, 3u, 999999u}) {
        const QByteArray page = stationPage(genericProfile(n), "/station/n.html", 1, n);
        for (QByteArrayView identifier : {"DIAM=", "LARGO=", "PESO=", "TEMP="})
            EXPECT_TRUE(cut(page, identifier)) << n;
        const QByteArray machine = cut(page, "@MAQ:").value_or("").trimmed();
        EXPECT_TRUE(machine == "MAQ01" || machine == "MAQ02") << machine.constData();
    }
}

TEST(StationPages, Latin1PageIsNotUtf8)
{
    const QByteArray page = latin1StationPage(1, 0);
    EXPECT_TRUE(page.contains("Estaci\xf3n"));
    EXPECT_FALSE(page.contains("\xc3\xb3"));
    bool ok = false;
    cut(page, "TEMP=").value_or("").toDouble(&ok);
    EXPECT_TRUE(ok);
}

TEST(StationPages, FillerIsContinuousAcrossChunks)
{
    const QByteArray whole = fillerBytes(0, 1000);
    ASSERT_EQ(whole.size(), 1000);
    EXPECT_EQ(fillerBytes(0, 377) + fillerBytes(377, 623), whole);
    EXPECT_TRUE(fillerBytes(5, 0).isEmpty());
    EXPECT_FALSE(garbageBytes().startsWith("HTTP/"));
}

} // namespace
} // namespace telvar::simulator
