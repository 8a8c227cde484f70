#include "recording/WallTime.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace telvar {

namespace {

// The fields of a wall time are kept in a QDateTime in UTC, which has no
// clock changes: it stands for "no time zone" and is never converted.
QDateTime fieldsOf(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

// "Z" or "+hh", "+hhmm", "+hh:mm" as seconds ahead of UTC.
int offsetSeconds(const QString& offset)
{
    if (offset == QLatin1String("Z"))
        return 0;
    const int sign = offset.startsWith(QLatin1Char('-')) ? -1 : 1;
    const QString digits = offset.mid(1).remove(QLatin1Char(':'));
    const int hours = digits.left(2).toInt();
    const int minutes = digits.size() > 2 ? digits.mid(2, 2).toInt() : 0;
    return sign * (hours * 3600 + minutes * 60);
}

} // namespace

std::optional<WallTime> WallTime::of(const QDate& date, const QTime& time)
{
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return WallTime(QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch());
}

WallTime WallTime::at(const QDateTime& instant)
{
    const QDateTime local = instant.toLocalTime();
    return WallTime(QDateTime(local.date(), local.time(), QTimeZone::utc()).toMSecsSinceEpoch());
}

std::optional<WallTime> WallTime::fromText(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2})(?:[ T]+(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d+))?)?)?"
        "\\s*(Z|[+-]\\d{2}(?::?\\d{2})?)?$"));
    const auto match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
    QTime time(0, 0);
    if (match.hasCaptured(2)) {
        // Fractions of a second beyond the milliseconds are dropped.
        const QString fraction = (match.captured(5) + QStringLiteral("000")).left(3);
        time = QTime(match.captured(2).toInt(), match.captured(3).toInt(),
                     match.hasCaptured(4) ? match.captured(4).toInt() : 0, fraction.toInt());
    }
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    if (!match.hasCaptured(6))
        return of(date, time);
    const QDateTime instant(date, time, QTimeZone(offsetSeconds(match.captured(6))));
    if (!instant.isValid())
        return std::nullopt;
    return at(instant);
}

std::optional<WallTime> WallTime::fromValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    switch (value.metaType().id()) {
    case QMetaType::QDateTime: {
        const QDateTime stamp = value.toDateTime();
        if (!stamp.isValid())
            return std::nullopt;
        if (stamp.timeSpec() == Qt::LocalTime)
            return of(stamp.date(), stamp.time());
        return at(stamp);
    }
    case QMetaType::QDate:
        return of(value.toDate(), QTime(0, 0));
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return fromText(value.toString());
    default:
        return std::nullopt;
    }
}

QDate WallTime::date() const
{
    return fieldsOf(m_msecs).date();
}

QTime WallTime::time() const
{
    return fieldsOf(m_msecs).time();
}

QString WallTime::toText() const
{
    return fieldsOf(m_msecs).toString(QStringLiteral("yyyy-MM-dd H:mm:ss"));
}

QString WallTime::toIsoText() const
{
    return fieldsOf(m_msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

double WallTime::secsTo(const WallTime& other) const
{
    return static_cast<double>(other.m_msecs - m_msecs) / 1000.0;
}

} // namespace telvar
