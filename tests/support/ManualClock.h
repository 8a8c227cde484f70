#pragma once

#include "acquisition/Clock.h"

#include <QDateTime>
#include <chrono>

namespace telvar::test {

// A Clock that stands still until the test moves it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(8, 0)));

    std::chrono::milliseconds elapsed() const override { return m_elapsed; }
    QDateTime now() const override { return m_now; }

    // Moves both the monotonic count and the wall clock forward.
    void advance(std::chrono::milliseconds by);
    // Sets the wall clock alone, as when the machine's clock is changed: the
    // monotonic count does not move.
    void setNow(const QDateTime& now) { m_now = now; }

private:
    std::chrono::milliseconds m_elapsed{0};
    QDateTime m_now;
};

} // namespace telvar::test
