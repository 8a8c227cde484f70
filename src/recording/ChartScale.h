#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace telvar {

// The scales of a port's readings chart, worked out apart from any window so
// that their rules can be checked on their own: round value ticks, time
// ticks at round times with labels that never repeat, and where a pause in
// the readings is long enough to be a stop rather than the port's rhythm.

// A tick of the value axis: where it is and what it says.
struct ValueTick {
    double at = 0;
    QString label;
};

// The value axis: from min to max, with ticks every step (1, 2 or 5 times a
// power of ten) and the limits as ticks of their own.
struct ValueScale {
    double min = 0;
    double max = 1;
    double step = 0;
    int decimals = 0;
    QList<ValueTick> ticks; // ascending
};

// The scale for values from low to high with at most mostTicks (3 or more)
// round ticks: the range is padded a little beyond the values so that none
// lies on an edge, then widened to whole steps. Values that are not finite
// give the scale of 0 to 1; huge ones are clamped. limits (finite ones,
// within the range) become ticks labelled with their own value; a round
// tick too close to a limit to be read beside it gives way.
ValueScale valueScale(double low, double high, int mostTicks, const QList<double>& limits = {});

// A value as the axis writes it: decimals places, no "-0".
QString valueText(double value, int decimals);
// The fewest places (at least atLeast, at most 6) that write value exactly.
int placesOf(double value, int atLeast);

// A tick of the time axis, in milliseconds since the epoch, labelled in
// local time.
struct TimeTick {
    qint64 at = 0;
    QString label;
};

struct TimeScale {
    qint64 step = 0; // ms between ticks
    QString format;  // QDateTime format of the labels
    QList<TimeTick> ticks;
};

// The ticks of the span from start to end (ms since the epoch, start < end),
// at most mostTicks of them, at round local times (every 1, 2, 5, 10, 15, 30
// seconds or minutes, 1, 2, 3, 6, 12 hours, days...). The labels carry the
// seconds over a few minutes (ten at most) or when the ticks are less than
// a minute apart ("HH:mm:ss"), the date when the span is longer than a day
// ("dd/MM HH:mm", "dd/MM" for ticks a day or more apart), else "HH:mm"; no
// two labels are the same (the repeated hour of a clock change keeps its
// first).
TimeScale timeScale(qint64 start, qint64 end, int mostTicks);

// The shortest pause between two readings that counts as a stop: three
// times the median of the spacings given, and never under five minutes (a
// late page of a fast port is not a stop). spacings are in ms and may be
// reordered.
qint64 gapThreshold(std::vector<qint64>& spacings);

} // namespace telvar
