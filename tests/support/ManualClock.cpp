#include "support/ManualClock.h"

#include <utility>

namespace telvar::test {

ManualClock::ManualClock(QDateTime start) : m_now(std::move(start)) {}

void ManualClock::advance(std::chrono::milliseconds by)
{
    m_elapsed += by;
    m_now = m_now.addMSecs(by.count());
}

} // namespace telvar::test
