#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QVariant>
#include <compare>
#include <optional>

namespace telvar {

// A date and time of day as a wall clock shows it, without a time zone: what
// the data tables keep in Fecha ("2026-10-25 2:30:00", or a timestamp
// column without time zone). Wall times compare and subtract by their fields
// alone, as if every day had 24 hours: the hour that occurs twice when the
// clocks go back shows each of its times once, and no conversion through the
// time zone ever picks one of the two instants for it.
class WallTime final {
public:
    // The wall time of date and time (milliseconds kept); nullopt when
    // either is invalid.
    static std::optional<WallTime> of(const QDate& date, const QTime& time);

    // What the local clock showed at instant, whatever its time spec. An
    // instant has exactly one wall time: this is the one conversion made,
    // and never the other way round.
    static WallTime at(const QDateTime& instant);

    // A row's stamp as a data table gives it: the text
    // "yyyy-mm-dd h:nn:ss" (a one- or two-digit hour, optional seconds and
    // fractions, "T" or a blank between date and time, blanks around it; a
    // date alone is its midnight) or a date-time or date value. A value that
    // carries an instant (an offset or "Z" in the text, a date-time in UTC
    // or at an offset) is the wall time of that instant; a date-time in
    // local time is taken by its fields as it stands. nullopt when it cannot
    // be read.
    static std::optional<WallTime> fromValue(const QVariant& value);
    static std::optional<WallTime> fromText(const QString& text);

    QDate date() const;
    QTime time() const;

    // "yyyy-mm-dd h:nn:ss": the hour without a leading zero, as rows are
    // stamped.
    QString toText() const;
    // "yyyy-mm-dd hh:nn:ss".
    QString toIsoText() const;

    // The seconds from this wall time to other, as the wall clock counts
    // them.
    double secsTo(const WallTime& other) const;

    auto operator<=>(const WallTime&) const = default;

private:
    explicit WallTime(qint64 msecs) : m_msecs(msecs) {}

    // The fields as milliseconds since 1970-01-01 0:00 counted on a clock
    // without time zone.
    qint64 m_msecs = 0;
};

} // namespace telvar
