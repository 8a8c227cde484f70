#include "app/widgets/ReadingChart.h"
#include "common/Modulo1.h"
#include "recording/ReadingHistory.h"
#include "recording/ReadingsModel.h"

#include <QLineSeries>
#include <QScatterSeries>
#include <gtest/gtest.h>

using telvar::ReadingChart;
using telvar::ReadingHistory;
using telvar::ReadingRow;

namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC);

ReadingRow reading(const QString& tag, int minute, double value, double low = 10, double high = 20)
{
    ReadingRow row;
    row.tag = tag;
    row.value = value;
    row.LimInf = low;
    row.LimSup = high;
    row.Marca = (value < low || value > high) ? QStringLiteral("?") : QString();
    row.arrivedAt = kStart.addSecs(60 * minute);
    return row;
}

class ReadingChartTest : public ::testing::Test {
protected:
    telvar::Modulo1 m;
    telvar::ReadingsModel model{m};
    ReadingHistory history{model};
    ReadingChart chart{history};
};

TEST_F(ReadingChartTest, DrawsTheSelectedPortsReadingsLimitsAndThoseOutside)
{
    const QString port = QStringLiteral(" 1/001");
    model.addReading(reading(port, 0, 12));
    model.addReading(reading(port, 1, 140)); // cut a digit too far: ten times as much
    model.addReading(reading(QStringLiteral(" 2/002"), 1, 99));
    chart.showPort(port, QStringLiteral("DIAM"));

    ASSERT_EQ(chart.values().count(), 2);
    EXPECT_EQ(chart.values().at(1).y(), 140);
    ASSERT_EQ(chart.outside().count(), 1);
    EXPECT_EQ(chart.outside().at(0).y(), 140);
    EXPECT_EQ(chart.lowerLimit().count(), 2);
    EXPECT_EQ(chart.upperLimit().at(0).y(), 20);

    // It follows its port as readings arrive, and no other.
    model.addReading(reading(port, 2, 13));
    EXPECT_EQ(chart.values().count(), 3);
    model.addReading(reading(QStringLiteral(" 2/002"), 2, 98));
    EXPECT_EQ(chart.values().count(), 3);

    chart.showPort(QStringLiteral(" 2/002"), QStringLiteral("PESO"));
    EXPECT_EQ(chart.values().count(), 2);
    chart.showPort(QString(), QString());
    EXPECT_EQ(chart.values().count(), 0);
}

TEST_F(ReadingChartTest, ASingleReadingAlreadyShowsItsLimitsAsLines)
{
    const QString port = QStringLiteral(" 4/004");
    model.addReading(reading(port, 0, 15));
    chart.showPort(port, QStringLiteral("DIAM"));
    ASSERT_EQ(chart.lowerLimit().count(), 2);
    EXPECT_GT(chart.lowerLimit().at(1).x(), chart.lowerLimit().at(0).x());
    EXPECT_EQ(chart.lowerLimit().at(1).y(), 10);
    EXPECT_EQ(chart.upperLimit().count(), 2);
}

TEST_F(ReadingChartTest, APortWithoutLimitsDrawsNoLimitLines)
{
    const QString port = QStringLiteral(" 3/003");
    model.addReading(reading(port, 0, 5, -999999, 999999));
    model.addReading(reading(port, 1, 6, -999999, 999999));
    chart.showPort(port, QStringLiteral("LARGO"));
    EXPECT_EQ(chart.values().count(), 2);
    EXPECT_EQ(chart.lowerLimit().count(), 0);
    EXPECT_EQ(chart.upperLimit().count(), 0);
    EXPECT_EQ(chart.outside().count(), 0);
}

} // namespace
