#include "LocalTimeZone_fixture.h"
#include "recording/ChartScale.h"

#include <QDateTime>
#include <QSet>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using telvar::gapThreshold;
using telvar::placesOf;
using telvar::timeScale;
using telvar::TimeScale;
using telvar::valueScale;
using telvar::ValueScale;
using telvar::valueText;

namespace {

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// Whether step is 1, 2 or 5 times a power of ten.
bool round125(double step)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / magnitude;
    return std::abs(m - 1) < 1e-9 || std::abs(m - 2) < 1e-9 || std::abs(m - 5) < 1e-9;
}

bool isLimit(double at, const QList<double>& limits)
{
    return std::any_of(limits.cbegin(), limits.cend(), [&](double l) { return l == at; });
}

TEST(ChartScale, ValueTicksAreRoundCoverTheValuesWithRoomAndIncludeTheLimits)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        double low;
        double high;
        int mostTicks;
        QList<double> limits;
        std::vector<const char*> labelsExpected; // among the labels
    };
    const Case cases[] = {
        {"a port inside its limits", 24.90, 25.10, 8, {24.90, 25.10}, {"24.90", "25.10"}},
        {"limits off the round ticks", 10.37, 12.81, 8, {10.37, 12.81}, {"10.37", "12.81"}},
        {"a limit beside a round tick", 24.91, 25.10, 6, {24.91, 25.10}, {"24.91", "25.10"}},
        {"one reading of zero", 0, 0, 6, {}, {"0.0"}},
        {"one reading, no limits", 25, 25, 6, {}, {}},
        {"a reading cut a digit too far", 10, 140, 6, {10, 20}, {"10", "20"}},
        {"tiny values", 1e-7, 3e-7, 5, {}, {}},
        {"negative values", -3.25, -1.5, 6, {-3.0}, {"-3.0"}},
        {"equal limits", 5, 5, 6, {5, 5}, {"5.00"}},
        {"values as large as a double goes", -1e308, 1e308, 6, {}, {}},
        {"no value", nan, nan, 6, {}, {}},
        {"three ticks at most", -5, 100, 3, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ValueScale scale = valueScale(c.low, c.high, c.mostTicks, c.limits);
        ASSERT_TRUE(std::isfinite(scale.min) && std::isfinite(scale.max));
        ASSERT_TRUE(std::isfinite(scale.step) && scale.step > 0);
        EXPECT_TRUE(round125(scale.step)) << scale.step;
        if (std::isfinite(c.low) && std::abs(c.low) < 1e300) {
            // Room on both sides: no value lies on the axis' edge.
            EXPECT_LT(scale.min, c.low);
            EXPECT_GT(scale.max, c.high);
        }
        // The axis runs from round tick to round tick.
        EXPECT_NEAR(scale.min / scale.step, std::round(scale.min / scale.step), 1e-6);
        EXPECT_NEAR(scale.max / scale.step, std::round(scale.max / scale.step), 1e-6);
        EXPECT_LE(std::round((scale.max - scale.min) / scale.step) + 1, c.mostTicks);

        QSet<QString> labels;
        double before = -std::numeric_limits<double>::infinity();
        for (const telvar::ValueTick& tick : scale.ticks) {
            EXPECT_GT(tick.at, before) << "ticks ascend";
            before = tick.at;
            EXPECT_GE(tick.at, scale.min);
            EXPECT_LE(tick.at, scale.max);
            EXPECT_FALSE(labels.contains(tick.label)) << tick.label.toStdString() << " twice";
            labels.insert(tick.label);
            if (!isLimit(tick.at, c.limits)) {
                EXPECT_NEAR(tick.at / scale.step, std::round(tick.at / scale.step), 1e-6)
                    << tick.label.toStdString() << " is not a round tick";
                EXPECT_EQ(tick.label, valueText(tick.at, scale.decimals));
            }
        }
        for (const char* expected : c.labelsExpected)
            EXPECT_TRUE(labels.contains(QLatin1String(expected))) << expected;
        for (const double limit : c.limits) {
            EXPECT_TRUE(std::any_of(scale.ticks.cbegin(), scale.ticks.cend(),
                                    [&](const telvar::ValueTick& t) { return t.at == limit; }))
                << "limit " << limit << " is a tick";
        }
    }
    // The engineer's case in figures: ticks every 0.05 from 24.85 to 25.15.
    const ValueScale plant = valueScale(24.90, 25.10, 8, {24.90, 25.10});
    EXPECT_DOUBLE_EQ(plant.step, 0.05);
    EXPECT_EQ(plant.decimals, 2);
}

TEST(ChartScale, ValuesAreWrittenWithTheirOwnPlaces)
{
    struct Case {
        double value;
        int atLeast;
        int places;
        const char* text;
    };
    const Case cases[] = {
        {24.9, 2, 2, "24.90"},       {24.937, 1, 3, "24.937"},   {25, 0, 0, "25"},
        {1.0 / 3, 0, 6, "0.333333"}, {-0.0001, 2, 4, "-0.0001"}, {1e20, 0, 0, "1e+20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(placesOf(c.value, c.atLeast), c.places);
        EXPECT_EQ(valueText(c.value, placesOf(c.value, c.atLeast)), QLatin1String(c.text));
    }
    // A value that rounds to zero carries no sign.
    EXPECT_EQ(valueText(-0.001, 2), QStringLiteral("0.00"));
    EXPECT_EQ(valueText(-0.0, 0), QStringLiteral("0"));
}

TEST(ChartScale, TimeTicksFallOnRoundTimesWithLabelsThatNeverRepeat)
{
    const qint64 morning =
        QDateTime(QDate(2026, 3, 2), QTime(6, 3, 17)).toMSecsSinceEpoch(); // local
    struct Case {
        const char* what;
        qint64 span;
        int mostTicks;
        const char* format;
    };
    const Case cases[] = {
        {"three minutes", 3 * kMinute, 6, "HH:mm:ss"},
        {"twenty seconds", 20 * 1000, 5, "HH:mm:ss"},
        {"two hours", 2 * kHour, 6, "HH:mm"},
        {"most of a day", 20 * kHour, 6, "HH:mm"},
        {"three days", 3 * kDay, 10, "dd/MM HH:mm"},
        {"a week on a narrow chart", 7 * kDay, 6, "dd/MM"},
        {"forty days", 40 * kDay, 6, "dd/MM"},
        {"two years", 730 * kDay, 6, "dd/MM/yy"},
        {"three minutes on a narrow chart", 3 * kMinute, 2, "HH:mm:ss"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TimeScale scale = timeScale(morning, morning + c.span, c.mostTicks);
        EXPECT_EQ(scale.format, QLatin1String(c.format));
        EXPECT_GE(scale.ticks.size(), 1);
        EXPECT_LE(scale.ticks.size(), c.mostTicks);
        QSet<QString> labels;
        for (const telvar::TimeTick& tick : scale.ticks) {
            EXPECT_GE(tick.at, morning);
            EXPECT_LE(tick.at, morning + c.span);
            EXPECT_FALSE(labels.contains(tick.label)) << tick.label.toStdString() << " twice";
            labels.insert(tick.label);
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(tick.at);
            EXPECT_EQ(tick.label, local.toString(scale.format));
            // Round: a whole number of steps from its day's midnight.
            if (scale.step < kDay)
                EXPECT_EQ((tick.at - local.date().startOfDay().toMSecsSinceEpoch()) % scale.step, 0)
                    << tick.label.toStdString();
            else
                EXPECT_EQ(local.time(), QTime(0, 0));
        }
    }
}

TEST(ChartScale, TheRepeatedHourOfAClockChangeIsLabelledOnce)
{
    const telvar::test::LocalTimeZone madrid("Europe/Madrid");
    if (!telvar::test::LocalTimeZone::isMadrid())
        GTEST_SKIP() << "the Europe/Madrid time zone is not installed";
    // 25 October 2026: at 03:00 summer time the clocks go back to 02:00.
    const qint64 start =
        telvar::test::LocalTimeZone::wallAtOffset(QDate(2026, 10, 25), QTime(1, 30), 2)
            .toMSecsSinceEpoch();
    const TimeScale scale = timeScale(start, start + 3 * kHour, 12);
    EXPECT_EQ(scale.format, QStringLiteral("HH:mm"));
    QSet<QString> labels;
    for (const telvar::TimeTick& tick : scale.ticks) {
        EXPECT_FALSE(labels.contains(tick.label)) << tick.label.toStdString() << " twice";
        labels.insert(tick.label);
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("02:30")));
    EXPECT_TRUE(labels.contains(QStringLiteral("03:30")));
}

TEST(ChartScale, AStopIsAPauseOfThreeUsualSpacingsAndAtLeastFiveMinutes)
{
    struct Case {
        const char* what;
        std::vector<qint64> spacings;
        qint64 threshold;
    };
    const Case cases[] = {
        {"no spacing yet", {}, 5 * kMinute},
        {"a port read every minute, one stop",
         {kMinute, kMinute, kMinute, kHour, kMinute},
         5 * kMinute},
        {"a port read every ten minutes", {10 * kMinute, 10 * kMinute, 11 * kMinute}, 30 * kMinute},
        {"a fast port", {10'000, 10'000, 10'000, 10'000}, 5 * kMinute},
        {"spacings beyond any sense",
         {std::numeric_limits<qint64>::max()},
         std::numeric_limits<qint64>::max()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<qint64> spacings = c.spacings;
        EXPECT_EQ(gapThreshold(spacings), c.threshold);
    }
}

} // namespace
