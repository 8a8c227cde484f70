#include "acquisition/Clock.h"
#include "support/ManualClock.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using telvar::test::ManualClock;

namespace {

TEST(SystemClockTest, ElapsedNeverGoesBack)
{
    const telvar::SystemClock clock;
    std::chrono::milliseconds previous = clock.elapsed();
    EXPECT_GE(previous.count(), 0);
    for (int i = 0; i < 1000; ++i) {
        const std::chrono::milliseconds current = clock.elapsed();
        EXPECT_GE(current, previous);
        previous = current;
    }
    EXPECT_TRUE(clock.now().isValid());
}

TEST(ManualClockTest, AdvanceMovesBothClocksAcrossMidnight)
{
    ManualClock clock(QDateTime(QDate(2026, 3, 2), QTime(23, 59, 30)));
    clock.advance(45s);
    EXPECT_EQ(clock.elapsed(), 45s);
    EXPECT_EQ(clock.now(), QDateTime(QDate(2026, 3, 3), QTime(0, 0, 15)));
}

TEST(ManualClockTest, SettingTheWallClockLeavesElapsedTimeAlone)
{
    ManualClock clock;
    clock.advance(2min);
    clock.setNow(QDateTime(QDate(2025, 1, 1), QTime(6, 0)));
    EXPECT_EQ(clock.elapsed(), 2min);
    EXPECT_EQ(clock.now(), QDateTime(QDate(2025, 1, 1), QTime(6, 0)));
}

} // namespace
