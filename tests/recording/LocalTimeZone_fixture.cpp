#include "recording/LocalTimeZone_fixture.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtGlobal>
#include <ctime>

namespace telvar::test {

LocalTimeZone::LocalTimeZone(const char* zone)
    : m_hadZone(qEnvironmentVariableIsSet("TZ")), m_previous(qgetenv("TZ"))
{
    qputenv("TZ", zone);
    tzset();
}

LocalTimeZone::~LocalTimeZone()
{
    if (m_hadZone)
        qputenv("TZ", m_previous);
    else
        qunsetenv("TZ");
    tzset();
}

bool LocalTimeZone::isMadrid()
{
    return QDateTime(QDate(2026, 1, 15), QTime(12, 0)).offsetFromUtc() == 3600 &&
           QDateTime(QDate(2026, 7, 15), QTime(12, 0)).offsetFromUtc() == 7200;
}

QDateTime LocalTimeZone::wallAtOffset(const QDate& date, const QTime& time, int offsetHours)
{
    const QDateTime utc(date, time, QTimeZone::utc());
    return QDateTime::fromMSecsSinceEpoch(utc.toMSecsSinceEpoch() -
                                          qint64{offsetHours} * 3600 * 1000);
}

QDateTime LocalTimeZone::instantAfter(const QDateTime& at, qint64 seconds)
{
    return QDateTime::fromMSecsSinceEpoch(at.toMSecsSinceEpoch() + seconds * 1000);
}

} // namespace telvar::test
