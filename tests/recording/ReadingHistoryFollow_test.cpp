#include "common/Modulo1.h"
#include "recording/ReadingHistory.h"
#include "recording/ReadingsModel.h"

#include <gtest/gtest.h>

using telvar::ReadingHistory;
using telvar::ReadingRow;

namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC);

ReadingRow reading(const QString& tag, int minute, double value)
{
    ReadingRow row;
    row.tag = tag;
    row.value = value;
    row.LimInf = 10;
    row.LimSup = 20;
    row.arrivedAt = kStart.addSecs(60 * minute);
    return row;
}

class ReadingHistoryFollow : public ::testing::Test {
protected:
    void feed(const QString& tag, int count)
    {
        for (int i = 0; i < count; ++i, ++m_minute)
            history.add(reading(tag, m_minute, m_minute));
    }

    telvar::Modulo1 m;
    telvar::ReadingsModel model{m};
    ReadingHistory history{model};
    int m_minute = 0;
};

TEST_F(ReadingHistoryFollow, AFollowedPortKeepsItsDeepBoundAndGivesItBackWhenLeft)
{
    const QString port = QStringLiteral(" 1/001");
    const ReadingHistory& reader = history;
    ASSERT_TRUE(reader.follow(port));
    ASSERT_TRUE(reader.follow(port)); // a second reader of the same port
    feed(port, int(ReadingHistory::kPointsPerFollowedPort) + 25);
    const auto& kept = history.points(port);
    ASSERT_EQ(kept.size(), ReadingHistory::kPointsPerFollowedPort);
    EXPECT_EQ(kept.front().value, 25);
    EXPECT_EQ(kept.back().value, m_minute - 1);

    // One reader left: still followed.
    reader.unfollow(port);
    feed(QStringLiteral(" 2/002"), 1);
    EXPECT_EQ(history.points(port).size(), ReadingHistory::kPointsPerFollowedPort);
    // The last one left: its extra points go with the next reading of any
    // port, the newest kept.
    reader.unfollow(port);
    EXPECT_FALSE(history.followed(port));
    feed(QStringLiteral(" 2/002"), 1);
    ASSERT_EQ(history.points(port).size(), ReadingHistory::kPointsPerPort);
    EXPECT_EQ(history.points(port).back().value, kept.back().value);
    // An unfollow too many changes nothing.
    reader.unfollow(port);
    EXPECT_FALSE(history.followed(port));
}

TEST_F(ReadingHistoryFollow, FollowedPortsAreBoundedAndNotForgottenForSilence)
{
    const ReadingHistory& reader = history;
    for (int p = 0; p < ReadingHistory::kMostFollowed; ++p)
        EXPECT_TRUE(reader.follow(QStringLiteral("F") + QString::number(p)));
    EXPECT_FALSE(reader.follow(QStringLiteral("one too many")));
    EXPECT_FALSE(history.followed(QStringLiteral("one too many")));

    // A followed port heard from first outlasts the silent ports that go.
    feed(QStringLiteral("F0"), 1);
    for (int p = 0; p < ReadingHistory::kMostPorts + 10; ++p)
        history.add(reading(QStringLiteral("P") + QString::number(p), 0, p));
    EXPECT_EQ(history.portCount(), ReadingHistory::kMostPorts);
    EXPECT_EQ(history.points(QStringLiteral("F0")).size(), 1u);
}

} // namespace
