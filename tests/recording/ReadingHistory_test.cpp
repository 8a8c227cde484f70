#include "common/Modulo1.h"
#include "recording/ReadingHistory.h"
#include "recording/ReadingsModel.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using telvar::ReadingHistory;
using telvar::ReadingRow;
using telvar::ReadingsModel;

namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC);

ReadingRow reading(const QString& tag, int minute, double value, bool outside = false)
{
    ReadingRow row;
    row.tag = tag;
    row.reading = QString::number(value);
    row.Marca = outside ? QStringLiteral("?") : QString();
    row.value = value;
    row.LimInf = 10;
    row.LimSup = 20;
    row.arrivedAt = kStart.addSecs(60 * minute);
    return row;
}

TEST(ReadingHistory, KeepsEachPortsReadingsFromTheGridsModelInOrder)
{
    telvar::Modulo1 m;
    ReadingsModel model(m);
    ReadingHistory history(model);
    QSignalSpy added(&history, &ReadingHistory::pointAdded);
    model.addReading(reading(QStringLiteral(" 1/001"), 0, 12));
    model.addReading(reading(QStringLiteral(" 2/002"), 0, 150, true));
    model.addReading(reading(QStringLiteral(" 1/001"), 1, 13));

    const auto& first = history.points(QStringLiteral(" 1/001"));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].value, 12);
    EXPECT_EQ(first[1].value, 13);
    EXPECT_EQ(first[1].at(), kStart.addSecs(60));
    EXPECT_EQ(first[1].LimInf, 10);
    EXPECT_EQ(first[1].LimSup, 20);
    const auto& second = history.points(QStringLiteral(" 2/002"));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[0].outside);
    EXPECT_TRUE(history.points(QStringLiteral(" 9/999")).empty());
    ASSERT_EQ(added.size(), 3);
    EXPECT_EQ(added[1].at(0).toString(), QStringLiteral(" 2/002"));
}

TEST(ReadingHistory, StaysBoundedPerPortAndInPorts)
{
    telvar::Modulo1 m;
    ReadingsModel model(m);
    ReadingHistory history(model);
    const int readings = int(ReadingHistory::kPointsPerPort) + 50;
    for (int i = 0; i < readings; ++i)
        history.add(reading(QStringLiteral(" 1/001"), i, i));
    const auto& kept = history.points(QStringLiteral(" 1/001"));
    ASSERT_EQ(kept.size(), ReadingHistory::kPointsPerPort);
    // The oldest went first.
    EXPECT_EQ(kept.front().value, 50);
    EXPECT_EQ(kept.back().value, readings - 1);

    // Beyond the bound in ports, the port heard from longest ago goes.
    for (int p = 0; p < ReadingHistory::kMostPorts + 10; ++p)
        history.add(reading(QStringLiteral("P") + QString::number(p), 0, p));
    EXPECT_EQ(history.portCount(), ReadingHistory::kMostPorts);
    EXPECT_TRUE(history.points(QStringLiteral(" 1/001")).empty());
    EXPECT_TRUE(history.points(QStringLiteral("P0")).empty());
    EXPECT_EQ(history.points(QStringLiteral("P4105")).size(), 1u);
}

} // namespace
