#pragma once

#include <QByteArray>
#include <QDateTime>

namespace telvar::test {

// Sets the process's local time zone (TZ) while it lives and restores the
// one before when it goes. Qt's local time follows the C library's, which
// reads TZ again at tzset().
class LocalTimeZone final {
public:
    explicit LocalTimeZone(const char* zone);
    ~LocalTimeZone();
    LocalTimeZone(const LocalTimeZone&) = delete;
    LocalTimeZone& operator=(const LocalTimeZone&) = delete;

    // Whether Qt's local time is the zone set: Europe/Madrid's offsets in
    // winter and summer (checked by the tests that set it).
    static bool isMadrid();

    // The instant, in local time, whose wall time at UTC offset
    // offsetHours is date and time: the way to name one pass of the hour
    // that occurs twice (a local QDateTime made from its fields may take
    // either).
    static QDateTime wallAtOffset(const QDate& date, const QTime& time, int offsetHours);

    // The instant seconds after at, in local time. (QDateTime's own
    // arithmetic on a local time counts on the wall clock, which in the
    // hour that occurs twice lands on the other pass.)
    static QDateTime instantAfter(const QDateTime& at, qint64 seconds);

private:
    bool m_hadZone = false;
    QByteArray m_previous;
};

} // namespace telvar::test
