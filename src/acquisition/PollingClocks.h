#pragma once

#include "acquisition/Clock.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <optional>

namespace telvar {

// The ten clocks `Reloj(1..10)` as one scheduler. Each clock, while its timer
// is on, ticks once a minute from the moment the timer was switched on; a
// tick adds one to the clock's count (`Cuenta`), and when the count reaches
// the clock's interval (`Intervalo`, minutes, above 0) the count goes back to
// 0 and the clock's cycle is due. Counts are never cleared by switching a
// timer on or off, so a clock switched on again may be due before a whole
// interval has passed.
//
// A cycle (due by a tick or asked for by the clock's button) switches the
// clock's timer off until cycleFinished(); its end switches the timer on
// again, starting a new minute, even for a clock with interval 0 whose button
// was pressed, unless the timer was switched off while the cycle ran (the
// acquisition's stop), in which case it stays off.
//
// Time comes from the injected Clock; one timer wakes the scheduler at the
// next tick, and processDueTicks() (which that timer calls) handles every tick
// due by the Clock's time, in time order, clocks of the same minute in the
// order of their numbers. Tests move a manual clock and call processDueTicks().
class PollingClocks final : public QObject {
    Q_OBJECT

public:
    static constexpr int FirstClock = 1;
    static constexpr int LastClock = 10;
    static constexpr std::chrono::milliseconds TickInterval{60000};

    explicit PollingClocks(const Clock& clock, QObject* parent = nullptr);

    // Whether reloj names one of the ten clocks. Every other call ignores a
    // number outside 1..10 (and reads 0 or false for it).
    static bool isClock(int reloj);

    // Intervalo(reloj), in minutes; 0 or below never makes the clock due.
    void setInterval(int reloj, int minutes);
    int interval(int reloj) const;
    // Cuenta(reloj): ticks since the clock's last due cycle.
    int cuenta(int reloj) const;

    // Switches the clock's timer on; its first tick comes one minute later.
    // A timer that is already on keeps its minute.
    void enable(int reloj);
    // Switches the clock's timer off; a cycle running for it then leaves it
    // off at its end.
    void disable(int reloj);
    // Every timer off (the acquisition's stop).
    void disableAll();
    bool isEnabled(int reloj) const;
    // Whether a cycle of the clock has begun and not yet finished.
    bool isInCycle(int reloj) const;

    // The clock's button: its cycle is due at once, whatever its interval
    // and whether or not its timer is on.
    void press(int reloj);
    // The end of a cycle that cycleDue began. Calls beyond the cycles begun
    // are ignored.
    void cycleFinished(int reloj);

    // The Clock's time of the next tick of any clock; empty when every timer
    // is off.
    std::optional<std::chrono::milliseconds> nextTickAt() const;

    // Handles every tick due by the Clock's time. The timer calls it; tests
    // call it after moving their clock.
    void processDueTicks();

signals:
    // The cycle of reloj is to run now; the clock's timer is off until
    // cycleFinished(reloj).
    void cycleDue(int reloj);

private:
    struct ClockState {
        int interval = 0;
        int cuenta = 0;
        bool enabled = false;
        std::chrono::milliseconds nextTick{0};
        int cyclesRunning = 0;
        bool enableAfterCycle = false;
    };

    ClockState& state(int reloj) { return m_clocks[static_cast<std::size_t>(reloj)]; }
    const ClockState& state(int reloj) const { return m_clocks[static_cast<std::size_t>(reloj)]; }
    std::chrono::milliseconds currentTime() const;
    void beginCycle(int reloj);
    void tick(int reloj);
    void rearm();

    const Clock& m_clock;
    // Index 0 is never used, so that clock r is element r.
    std::array<ClockState, LastClock + 1> m_clocks{};
    QTimer m_timer;
    // While ticks are handled, the time of the tick being handled: a timer
    // switched on by a handler of that tick starts its minute then, so that
    // moving time by an hour at once gives what moving it minute by minute
    // gives.
    std::optional<std::chrono::milliseconds> m_handlingTickAt;
};

} // namespace telvar
