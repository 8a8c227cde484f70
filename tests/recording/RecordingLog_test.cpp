#include "recording/RecordingLog.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace telvar {
namespace {

TEST(RecordingLog, LinesArePaddedOrCutToTheirFixedWidth)
{
    RecordingLog log;
    log.setCapacity(5);
    const QString longMessage = QString(130, QLatin1Char('x')) + QStringLiteral("TAIL");
    log.append(QStringLiteral("short"));
    log.append(longMessage);
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_EQ(log.lines()[0], QStringLiteral("short") + QString(118, QLatin1Char(' ')));
    EXPECT_EQ(log.lines()[1], longMessage.left(123));
    EXPECT_EQ(log.text().size(), 2 * 125);
    EXPECT_TRUE(log.text().endsWith(QStringLiteral("x\r\n")));
}

TEST(RecordingLog, AFullBoxScrollsTheOldestLineOut)
{
    const struct {
        const char* name;
        int capacity;
        int appended;
        int kept;
        int oldestKept; // 1-based number of the oldest message still shown
    } cases[] = {
        {"UnderCapacity", 3, 2, 2, 1},
        {"AtCapacity", 3, 3, 3, 1},
        {"OverCapacity", 3, 5, 3, 3},
        {"ZeroCapacityKeepsTheNewest", 0, 4, 1, 4},
        {"NegativeCapacityKeepsTheNewest", -2, 2, 1, 2},
    };
    for (const auto& c : cases) {
        RecordingLog log;
        log.setCapacity(c.capacity);
        QSignalSpy appended(&log, &RecordingLog::lineAppended);
        for (int n = 1; n <= c.appended; ++n)
            log.append(QStringLiteral("line %1").arg(n));
        EXPECT_EQ(appended.size(), c.appended) << c.name;
        ASSERT_EQ(log.lines().size(), c.kept) << c.name;
        EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("line %1 ").arg(c.oldestKept)))
            << c.name;
    }
}

TEST(RecordingLog, AnEmptyMessageAddsNoLine)
{
    RecordingLog log;
    log.setCapacity(3);
    QSignalSpy appended(&log, &RecordingLog::lineAppended);
    log.append(QString());
    EXPECT_TRUE(log.lines().isEmpty());
    EXPECT_EQ(appended.size(), 0);
}

TEST(RecordingLog, CapacityComesFromTheBoxHeightInTwips)
{
    const struct {
        double twips;
        int lines;
    } cases[] = {{90, 0}, {284, 0}, {285, 1}, {2040, 10}, {2234, 10}, {0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(RecordingLog::capacityForHeight(c.twips), c.lines) << c.twips;
}

} // namespace
} // namespace telvar
