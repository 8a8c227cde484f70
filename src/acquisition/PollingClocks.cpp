#include "acquisition/PollingClocks.h"

#include <algorithm>

namespace telvar {

PollingClocks::PollingClocks(const Clock& clock, QObject* parent) : QObject(parent), m_clock(clock)
{
    // A coarse timer may be late by a few percent of its interval, seconds
    // for a one-minute tick.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PollingClocks::processDueTicks);
}

bool PollingClocks::isClock(int reloj)
{
    return reloj >= FirstClock && reloj <= LastClock;
}

void PollingClocks::setInterval(int reloj, int minutes)
{
    if (isClock(reloj))
        state(reloj).interval = minutes;
}

int PollingClocks::interval(int reloj) const
{
    return isClock(reloj) ? state(reloj).interval : 0;
}

int PollingClocks::cuenta(int reloj) const
{
    return isClock(reloj) ? state(reloj).cuenta : 0;
}

bool PollingClocks::isEnabled(int reloj) const
{
    return isClock(reloj) && state(reloj).enabled;
}

bool PollingClocks::isInCycle(int reloj) const
{
    return isClock(reloj) && state(reloj).cyclesRunning > 0;
}

std::chrono::milliseconds PollingClocks::currentTime() const
{
    return m_handlingTickAt.value_or(m_clock.elapsed());
}

void PollingClocks::enable(int reloj)
{
    if (!isClock(reloj))
        return;
    ClockState& s = state(reloj);
    if (!s.enabled) {
        s.enabled = true;
        s.nextTick = currentTime() + TickInterval;
    }
    rearm();
}

void PollingClocks::disable(int reloj)
{
    if (!isClock(reloj))
        return;
    ClockState& s = state(reloj);
    s.enabled = false;
    s.enableAfterCycle = false;
    rearm();
}

void PollingClocks::disableAll()
{
    for (int reloj = FirstClock; reloj <= LastClock; ++reloj)
        disable(reloj);
}

void PollingClocks::press(int reloj)
{
    if (isClock(reloj))
        beginCycle(reloj);
}

void PollingClocks::cycleFinished(int reloj)
{
    if (!isClock(reloj))
        return;
    ClockState& s = state(reloj);
    if (s.cyclesRunning == 0)
        return;
    --s.cyclesRunning;
    if (s.cyclesRunning == 0 && s.enableAfterCycle) {
        s.enableAfterCycle = false;
        enable(reloj);
    }
}

void PollingClocks::beginCycle(int reloj)
{
    ClockState& s = state(reloj);
    s.enabled = false;
    s.enableAfterCycle = true;
    ++s.cyclesRunning;
    // Armed before the signal, so that other clocks keep ticking while a
    // handler of this one runs the event loop.
    rearm();
    emit cycleDue(reloj);
}

void PollingClocks::tick(int reloj)
{
    ClockState& s = state(reloj);
    ++s.cuenta;
    if (s.interval > 0 && s.cuenta >= s.interval) {
        s.cuenta = 0;
        beginCycle(reloj);
    }
}

void PollingClocks::processDueTicks()
{
    // A handler may run the event loop and land here again; the outer call
    // goes on with the time of its own tick afterwards.
    const std::optional<std::chrono::milliseconds> outerTick = m_handlingTickAt;
    const std::chrono::milliseconds now = m_clock.elapsed();
    for (;;) {
        int due = 0;
        for (int reloj = FirstClock; reloj <= LastClock; ++reloj) {
            const ClockState& s = state(reloj);
            if (s.enabled && s.nextTick <= now && (due == 0 || s.nextTick < state(due).nextTick))
                due = reloj;
        }
        if (due == 0)
            break;
        ClockState& s = state(due);
        m_handlingTickAt = s.nextTick;
        s.nextTick += TickInterval;
        tick(due);
    }
    m_handlingTickAt = outerTick;
    rearm();
}

std::optional<std::chrono::milliseconds> PollingClocks::nextTickAt() const
{
    std::optional<std::chrono::milliseconds> next;
    for (int reloj = FirstClock; reloj <= LastClock; ++reloj) {
        const ClockState& s = state(reloj);
        if (s.enabled && (!next || s.nextTick < *next))
            next = s.nextTick;
    }
    return next;
}

void PollingClocks::rearm()
{
    const std::optional<std::chrono::milliseconds> next = nextTickAt();
    if (!next) {
        m_timer.stop();
        return;
    }
    m_timer.start(std::max(std::chrono::milliseconds{0}, *next - m_clock.elapsed()));
}

} // namespace telvar
