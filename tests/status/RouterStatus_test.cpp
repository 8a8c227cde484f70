#include "common/Modulo1.h"
#include "status/RouterStatus.h"
#include "support/ManualClock.h"

#include <QSignalSpy>
#include <chrono>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace telvar {
namespace {

using namespace std::chrono_literals;

// What happens to port 7 (on clock 3): polls at given moments after the
// start, each with a reading or without one.
struct Poll {
    std::chrono::seconds at;
    bool read;
};

struct StateCase {
    const char* name;
    bool acquiring;
    int intervalMinutes;
    std::vector<Poll> polls;
    // When the state is looked at, after the start.
    std::chrono::seconds lookAt;
    PortState state;
    int failuresInARow;
};

void PrintTo(const StateCase& c, std::ostream* os)
{
    *os << c.name;
}

const StateCase kStateCases[] = {
    // A 1-minute clock polls first one minute after the start.
    {"NotYetPolledWithinTwoIntervals", true, 1, {}, 120s, PortState::Ok, 0},
    {"NotPolledForMoreThanTwoIntervals", true, 1, {}, 121s, PortState::Late, 0},
    {"ReadingThenTwoIntervalsOfQuiet", true, 1, {{60s, true}}, 180s, PortState::Ok, 0},
    {"ReadingThenMoreThanTwoIntervals", true, 1, {{60s, true}}, 181s, PortState::Late, 0},
    {"OneFailedPoll", true, 5, {{300s, true}, {600s, false}}, 600s, PortState::Failing, 1},
    {"FailuresInARow",
     true,
     1,
     {{60s, false}, {120s, false}, {180s, false}},
     180s,
     PortState::Failing,
     3},
    {"AReadingEndsTheFailures", true, 1, {{60s, false}, {120s, true}}, 120s, PortState::Ok, 0},
    // Failing says more than late: why there is no reading.
    {"FailingOutranksLate", true, 1, {{60s, false}}, 3600s, PortState::Failing, 1},
    // A clock polled only by its button has no rhythm to be late to.
    {"ButtonClockIsNeverLate", true, 0, {}, 36000s, PortState::Ok, 0},
    {"NotAcquiring", false, 1, {{60s, true}, {120s, false}}, 180s, PortState::Stopped, 1},
};

class RouterStatusStates : public ::testing::TestWithParam<StateCase> {
protected:
    RouterStatusStates() { m.Idioma = 2; }

    static PortOutcome outcome(bool read, const QDateTime& at)
    {
        PortOutcome o;
        o.reloj = 3;
        o.element = 1;
        o.Puert = 7;
        o.result = read ? PortOutcome::Result::Read : PortOutcome::Result::NotFound;
        o.reading = read ? QStringLiteral("12.5") : QString();
        o.detail = read ? QString() : QStringLiteral("T= not found");
        o.at = at;
        return o;
    }

    Modulo1 m;
    test::ManualClock clock;
};

TEST_P(RouterStatusStates, StateAfterThePolls)
{
    const StateCase& c = GetParam();
    RouterStatus status(m, clock);
    status.setClockInterval(3, c.intervalMinutes);
    status.acquisitionStarted({{7, 3, QStringLiteral("Horno"), QStringLiteral("http://st/7")}});
    std::chrono::seconds now = 0s;
    for (const Poll& poll : c.polls) {
        clock.advance(poll.at - now);
        now = poll.at;
        status.portHandled(outcome(poll.read, clock.now()));
    }
    if (!c.acquiring)
        status.acquisitionStopped();
    clock.advance(c.lookAt - now);

    const PortStatus port = status.port(7);
    EXPECT_EQ(port.state, c.state);
    EXPECT_EQ(port.failuresInARow, c.failuresInARow);
    EXPECT_EQ(status.ports().size(), 1);
    EXPECT_EQ(status.ports().value(0).state, c.state);
    // What the port showed last stays, whatever the state.
    const QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(8, 0));
    QDateTime lastRead;
    QDateTime lastFailed;
    for (const Poll& poll : c.polls)
        (poll.read ? lastRead : lastFailed) = start.addSecs(poll.at.count());
    EXPECT_EQ(port.lastSuccessAt, lastRead);
    EXPECT_EQ(port.lastReadingAt, lastRead);
    EXPECT_EQ(port.lastReading, lastRead.isValid() ? QStringLiteral("12.5") : QString());
    EXPECT_EQ(port.lastFailureAt, lastFailed);
    EXPECT_EQ(port.lastError, lastFailed.isValid() ? QStringLiteral("T= not found") : QString());
    EXPECT_EQ(port.description, QStringLiteral("Horno"));
}

INSTANTIATE_TEST_SUITE_P(Table, RouterStatusStates, ::testing::ValuesIn(kStateCases),
                         [](const ::testing::TestParamInfo<StateCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

class RouterStatusTest : public ::testing::Test {
protected:
    RouterStatusTest() { m.Idioma = 2; }
    Modulo1 m;
    test::ManualClock clock{QDateTime(QDate(2026, 3, 2), QTime(23, 58))};
};

TEST_F(RouterStatusTest, ReadingsRecordedTodayStartAgainAtLocalMidnight)
{
    RouterStatus status(m, clock);
    status.setClockInterval(1, 1);
    status.acquisitionStarted({{1, 1, {}, {}}, {2, 1, {}, {}}});
    status.readingsRecorded({1, 1, 2, 1});
    EXPECT_EQ(status.port(1).recordedToday, 3);
    EXPECT_EQ(status.port(2).recordedToday, 1);

    // Nothing recorded since midnight: the counts are of another day.
    clock.advance(3min);
    EXPECT_EQ(status.port(1).recordedToday, 0);
    EXPECT_EQ(status.ports().value(0).recordedToday, 0);
    status.readingsRecorded({2});
    EXPECT_EQ(status.port(1).recordedToday, 0);
    EXPECT_EQ(status.port(2).recordedToday, 1);
    // A port not polled (an earlier run's reading) is counted all the same.
    status.readingsRecorded({9});
    EXPECT_EQ(status.port(9).recordedToday, 1);
    EXPECT_EQ(status.port(9).state, PortState::Stopped);
}

TEST_F(RouterStatusTest, TimeAloneMakesAPortLateAndTellsTheGrid)
{
    RouterStatus status(m, clock);
    status.setClockInterval(2, 1);
    status.acquisitionStarted({{4, 2, {}, {}}});
    QSignalSpy changed(&status, &RouterStatus::changed);
    clock.advance(2min);
    status.review();
    EXPECT_EQ(changed.count(), 0);
    clock.advance(1s);
    status.review();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(status.port(4).state, PortState::Late);
    status.review();
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(RouterStatusTest, ARestartKeepsWhatIsKnownOfThePortsStillPolled)
{
    RouterStatus status(m, clock);
    status.setClockInterval(1, 1);
    status.acquisitionStarted({{1, 1, {}, {}}, {2, 1, {}, {}}});
    PortOutcome failed;
    failed.Puert = 1;
    failed.result = PortOutcome::Result::NotFound;
    failed.page = PageOutcome::TimedOut;
    failed.detail = QStringLiteral("T= not found");
    failed.at = clock.now();
    status.portHandled(failed);
    status.acquisitionStopped();
    EXPECT_EQ(status.port(1).state, PortState::Stopped);

    status.acquisitionStarted({{1, 1, QStringLiteral("nuevo"), {}}});
    ASSERT_EQ(status.ports().size(), 1);
    const PortStatus port = status.port(1);
    EXPECT_EQ(port.state, PortState::Failing);
    EXPECT_EQ(port.failuresInARow, 1);
    EXPECT_EQ(port.description, QStringLiteral("nuevo"));
    // An empty page says why it was empty.
    EXPECT_EQ(port.lastError, QStringLiteral("the page did not arrive in time (T= not found)"));
    EXPECT_EQ(status.port(2).state, PortState::Stopped);
    EXPECT_FALSE(status.port(2).lastPolledAt.isValid());
}

TEST_F(RouterStatusTest, TheDetailsAreTheProgramsOwnTextsInItsLanguage)
{
    RouterStatus status(m, clock);
    status.setClockInterval(1, 5);
    status.acquisitionStarted({{3, 1, {}, {}}});
    PortOutcome read;
    read.Puert = 3;
    read.result = PortOutcome::Result::Read;
    read.reading = QStringLiteral("<b>7</b>");
    read.at = clock.now();
    status.portHandled(read);
    status.readingsRecorded({3});
    EXPECT_EQ(
        status.details(status.port(3)),
        (QStringList{QStringLiteral("Port 3, clock 1 (every 5 min)"), QStringLiteral("Status: OK"),
                     QStringLiteral("Last reading: <b>7</b> (2026-03-02 23:58:00)"),
                     QStringLiteral("Last success: 2026-03-02 23:58:00"),
                     QStringLiteral("Failures in a row: 0"), QStringLiteral("Recorded today: 1")}));
    m.Idioma = 1;
    status.acquisitionStopped();
    const QStringList spanish = status.details(status.port(3));
    EXPECT_EQ(spanish.value(0), QStringLiteral("Puerto 3, reloj 1 (cada 5 min)"));
    EXPECT_EQ(spanish.value(1), QStringLiteral("Estado: Detenido: la adquisición está detenida"));
}

} // namespace
} // namespace telvar
