#include "acquisition/PollingClocks.h"
#include "support/ManualClock.h"

#include <QCoreApplication>
#include <QTest>
#include <array>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using telvar::PollingClocks;
using telvar::test::ManualClock;

namespace {

struct Cycle {
    milliseconds at;
    int reloj;
    bool operator==(const Cycle&) const = default;
};

void PrintTo(const Cycle& c, std::ostream* os)
{
    *os << "clock " << c.reloj << " at " << c.at.count() << " ms";
}

// A scheduler on a manual clock that records every cycle it makes due and, for
// the clocks told so, ends the cycle at once (a cycle with nothing to poll).
class Harness {
public:
    Harness()
    {
        m_finishAtOnce.fill(true);
        QObject::connect(&m_clocks, &PollingClocks::cycleDue, &m_clocks, [this](int reloj) {
            m_cycles.push_back({m_time.elapsed(), reloj});
            if (m_finishAtOnce[static_cast<std::size_t>(reloj)])
                m_clocks.cycleFinished(reloj);
        });
    }

    // Moves time by `total` in steps of `step`, handling the ticks of each.
    void run(milliseconds total, milliseconds step = 1s)
    {
        for (milliseconds moved{0}; moved < total; moved += step) {
            m_time.advance(step);
            m_clocks.processDueTicks();
        }
    }

    void start(int reloj, int interval)
    {
        m_clocks.setInterval(reloj, interval);
        m_clocks.enable(reloj);
    }

    ManualClock m_time;
    PollingClocks m_clocks{m_time};
    std::vector<Cycle> m_cycles;
    std::array<bool, 11> m_finishAtOnce{};
};

struct IntervalCase {
    int interval;
    milliseconds runFor;
    std::vector<milliseconds> dueAt;
};

void PrintTo(const IntervalCase& c, std::ostream* os)
{
    *os << "interval " << c.interval;
}

class IntervalTest : public testing::TestWithParam<IntervalCase> {};

TEST_P(IntervalTest, ClockIsDueEveryIntervalFromItsStart)
{
    const IntervalCase& c = GetParam();
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj) {
        Harness h;
        h.start(reloj, c.interval);
        h.run(c.runFor);
        std::vector<Cycle> expected;
        for (milliseconds at : c.dueAt)
            expected.push_back({at, reloj});
        EXPECT_EQ(h.m_cycles, expected) << "clock " << reloj;
        EXPECT_TRUE(h.m_clocks.isEnabled(reloj));
    }
}

const IntervalCase intervalCases[] = {
    {1, 5min + 59s, {1min, 2min, 3min, 4min, 5min}},
    {2, 7min, {2min, 4min, 6min}},
    {3, 10min, {3min, 6min, 9min}},
    {10, 35min, {10min, 20min, 30min}},
    {60, 121min, {60min, 120min}},
    {0, 30min, {}},
    {-2, 30min, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, IntervalTest, testing::ValuesIn(intervalCases));

TEST(PollingClocksTest, ClockWithIntervalZeroCountsButIsNeverDue)
{
    Harness h;
    h.start(4, 0);
    h.run(12min);
    EXPECT_TRUE(h.m_cycles.empty());
    EXPECT_EQ(h.m_clocks.cuenta(4), 12);
}

TEST(PollingClocksTest, ButtonOfAClockWithIntervalZeroPollsAndSwitchesItsTimerOn)
{
    Harness h;
    h.m_finishAtOnce[3] = false;
    h.m_clocks.setInterval(3, 0);
    h.run(20s);
    h.m_clocks.press(3);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{20s, 3}}));
    EXPECT_FALSE(h.m_clocks.isEnabled(3));
    EXPECT_TRUE(h.m_clocks.isInCycle(3));
    h.run(40s);
    h.m_clocks.cycleFinished(3);
    EXPECT_TRUE(h.m_clocks.isEnabled(3));
    EXPECT_FALSE(h.m_clocks.isInCycle(3));
    EXPECT_EQ(h.m_clocks.nextTickAt(), 2min);
    h.run(10min);
    EXPECT_EQ(h.m_cycles.size(), 1u);
    EXPECT_EQ(h.m_clocks.cuenta(3), 10);
}

TEST(PollingClocksTest, LeftoverCountsBringTheFirstCycleAfterAStartForward)
{
    Harness h;
    h.start(6, 3);
    h.run(2min + 30s);
    EXPECT_EQ(h.m_clocks.cuenta(6), 2);
    h.m_clocks.disable(6);
    h.run(10min);
    EXPECT_EQ(h.m_clocks.cuenta(6), 2);
    EXPECT_FALSE(h.m_clocks.nextTickAt().has_value());
    h.m_clocks.enable(6);
    h.run(6min + 50s);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{13min + 30s, 6}, {16min + 30s, 6}}));
}

TEST(PollingClocksTest, SeveralClocksDueAtTheSameTickRunInTheOrderOfTheirNumbers)
{
    Harness h;
    h.start(7, 2);
    h.start(1, 2);
    h.start(4, 1);
    h.start(10, 3);
    h.run(3min);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{
                              {1min, 4}, {2min, 1}, {2min, 4}, {2min, 7}, {3min, 4}, {3min, 10}}));
}

TEST(PollingClocksTest, OwnTimerIsOffDuringItsCycleAndStartsANewMinuteAtItsEnd)
{
    Harness h;
    h.m_finishAtOnce[2] = false;
    h.start(2, 1);
    h.run(6min + 30s, 30s);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 2}}));
    EXPECT_EQ(h.m_clocks.cuenta(2), 0);
    EXPECT_FALSE(h.m_clocks.isEnabled(2));
    h.m_clocks.cycleFinished(2);
    h.run(1min + 30s, 30s);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 2}, {7min + 30s, 2}}));
}

TEST(PollingClocksTest, OtherClocksKeepTickingWhileOneCycleRuns)
{
    Harness h;
    h.m_finishAtOnce[1] = false;
    h.start(1, 1);
    h.start(2, 2);
    h.run(6min);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 1}, {2min, 2}, {4min, 2}, {6min, 2}}));
}

TEST(PollingClocksTest, StopDuringACycleLeavesTheTimerOffAfterIt)
{
    Harness h;
    h.m_finishAtOnce[5] = false;
    h.start(5, 1);
    h.run(1min + 30s);
    h.m_clocks.disableAll();
    h.m_clocks.cycleFinished(5);
    EXPECT_FALSE(h.m_clocks.isEnabled(5));
    EXPECT_FALSE(h.m_clocks.isInCycle(5));
    h.run(10min);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 5}}));
}

TEST(PollingClocksTest, StartAgainWhileAnOldCycleRunsKeepsTheNewMinute)
{
    Harness h;
    h.m_finishAtOnce[5] = false;
    h.start(5, 1);
    h.run(1min + 10s);
    h.m_clocks.disable(5);
    h.run(10s);
    h.m_clocks.enable(5); // ticks from 1:20
    h.run(30s);
    h.m_clocks.cycleFinished(5); // at 1:50: the timer is already on
    h.m_finishAtOnce[5] = true;
    h.run(1min);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 5}, {2min + 20s, 5}}));
}

TEST(PollingClocksTest, DisableAllSwitchesEveryTimerOff)
{
    Harness h;
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj)
        h.start(reloj, 1);
    h.run(30s);
    h.m_clocks.disableAll();
    h.run(5min);
    EXPECT_TRUE(h.m_cycles.empty());
    EXPECT_FALSE(h.m_clocks.nextTickAt().has_value());
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj)
        EXPECT_FALSE(h.m_clocks.isEnabled(reloj));
}

TEST(PollingClocksTest, SwitchingOnATimerThatIsOnKeepsItsMinute)
{
    Harness h;
    h.start(8, 1);
    h.run(30s);
    h.m_clocks.enable(8);
    h.run(30s);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 8}}));
}

TEST(PollingClocksTest, ButtonDoesNotClearTheCount)
{
    Harness h;
    h.start(9, 5);
    h.run(2min + 30s);
    h.m_clocks.press(9);
    h.run(3min + 30s);
    // Re-enabled at 2:30 with two ticks counted: 3:30, 4:30 and due at 5:30.
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{2min + 30s, 9}, {5min + 30s, 9}}));
}

TEST(PollingClocksTest, AnHourAtOnceGivesWhatMinuteByMinuteGives)
{
    const std::array<std::pair<int, int>, 4> setup{{{1, 7}, {2, 3}, {3, 1}, {10, 0}}};
    Harness stepped;
    Harness atOnce;
    for (const auto& [reloj, interval] : setup) {
        stepped.start(reloj, interval);
        atOnce.start(reloj, interval);
    }
    stepped.run(60min, 1min);
    atOnce.run(60min, 60min);
    std::vector<int> steppedOrder;
    std::vector<int> atOnceOrder;
    for (const Cycle& c : stepped.m_cycles)
        steppedOrder.push_back(c.reloj);
    for (const Cycle& c : atOnce.m_cycles)
        atOnceOrder.push_back(c.reloj);
    EXPECT_EQ(atOnceOrder, steppedOrder);
    EXPECT_EQ(steppedOrder.size(), 8u + 20u + 60u);
    for (const auto& [reloj, interval] : setup)
        EXPECT_EQ(atOnce.m_clocks.cuenta(reloj), stepped.m_clocks.cuenta(reloj));
    EXPECT_EQ(atOnce.m_clocks.cuenta(1), 4);
    EXPECT_EQ(atOnce.m_clocks.nextTickAt(), 61min);
}

TEST(PollingClocksTest, NumbersOutsideOneToTenAreIgnored)
{
    Harness h;
    for (int reloj : {0, 11, -1}) {
        h.m_clocks.setInterval(reloj, 1);
        h.m_clocks.enable(reloj);
        h.m_clocks.press(reloj);
        h.m_clocks.cycleFinished(reloj);
        EXPECT_FALSE(h.m_clocks.isEnabled(reloj));
        EXPECT_EQ(h.m_clocks.interval(reloj), 0);
    }
    h.run(3min);
    EXPECT_TRUE(h.m_cycles.empty());
    EXPECT_FALSE(h.m_clocks.nextTickAt().has_value());
}

TEST(PollingClocksTest, EndOfACycleThatNeverBeganIsIgnored)
{
    Harness h;
    h.m_clocks.setInterval(2, 1);
    h.m_clocks.cycleFinished(2);
    EXPECT_FALSE(h.m_clocks.isEnabled(2));
    h.run(3min);
    EXPECT_TRUE(h.m_cycles.empty());
}

TEST(PollingClocksTest, ItsTimerHandlesTicksThatAreDue)
{
    Harness h;
    h.start(1, 1);
    h.m_time.advance(1min);
    // Switching another clock on arms the timer again, now for a tick that
    // is already due.
    h.start(2, 5);
    for (int round = 0; round < 1000 && h.m_cycles.empty(); ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(h.m_cycles, (std::vector<Cycle>{{1min, 1}}));
}

TEST(PollingClocksTest, ItsTimerKeepsTickingThroughTicksThatStartNoCycle)
{
    // Only the scheduler's own timer handles ticks here. It is armed for the
    // Clock's time of the next tick, so with the manual clock held one
    // millisecond short of that tick the real timer fires a millisecond
    // later, finds nothing due and arms itself again; once the test moves the
    // clock past the tick, the next firing handles it. A tick that does not
    // reach the interval must leave the timer armed too, or a clock of two
    // minutes or more counts once and never polls.
    for (const int interval : {2, 3, 5}) {
        SCOPED_TRACE("interval " + std::to_string(interval));
        ManualClock time;
        PollingClocks clocks(time);
        int cycles = 0;
        QObject::connect(&clocks, &PollingClocks::cycleDue, &clocks, [&](int reloj) {
            ++cycles;
            clocks.cycleFinished(reloj);
        });
        clocks.setInterval(4, interval);
        clocks.enable(4); // ticks at 1:00, 2:00, ...
        time.advance(2min - 1ms);
        // Switching on a timer that is on keeps its minute; the timer is
        // armed again, for the tick of 1:00 that is due.
        clocks.enable(4);
        for (int tick = 1; tick <= 2 * interval; ++tick) {
            const bool handled =
                QTest::qWaitFor([&] { return cycles * interval + clocks.cuenta(4) >= tick; });
            ASSERT_TRUE(handled) << "tick " << tick << " was never handled";
            EXPECT_EQ(cycles, tick / interval) << "after tick " << tick;
            EXPECT_EQ(clocks.cuenta(4), tick % interval) << "after tick " << tick;
            EXPECT_TRUE(clocks.isEnabled(4));
            time.advance(1min);
        }
    }
}

} // namespace
