#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <chrono>

namespace telvar {

// The time the acquisition runs on: a monotonic count for every duration it
// measures (clock ticks, page waits), and the local date and time that
// readings are stamped with. Tests replace it with a manual clock.
class Clock {
public:
    virtual ~Clock() = default;

    // Time since a fixed origin; never goes back, not even at midnight or
    // when the wall clock is set.
    virtual std::chrono::milliseconds elapsed() const = 0;
    // The local date and time.
    virtual QDateTime now() const = 0;

protected:
    Clock() = default;
    Clock(const Clock&) = default;
    Clock& operator=(const Clock&) = default;
};

// The machine's clocks: QElapsedTimer (monotonic) and QDateTime.
class SystemClock final : public Clock {
public:
    SystemClock();

    std::chrono::milliseconds elapsed() const override;
    QDateTime now() const override;

private:
    QElapsedTimer m_timer;
};

} // namespace telvar
