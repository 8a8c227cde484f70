#include "acquisition/Clock.h"

namespace telvar {

SystemClock::SystemClock()
{
    m_timer.start();
}

std::chrono::milliseconds SystemClock::elapsed() const
{
    return std::chrono::milliseconds(m_timer.elapsed());
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

} // namespace telvar
