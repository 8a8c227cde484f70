#include "recording/ChartScale.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <array>
#include <cmath>

namespace telvar {

namespace {

// Values beyond this are clamped, so that the span of two of them is still a
// finite number (a reading cut far too long can be astronomically large).
constexpr double kLargest = 1e300;
constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// The spacings the time axis chooses from, finest first.
constexpr std::array<qint64, 27> kTimeSteps = {
    kSecond,     2 * kSecond, 5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond, kMinute,
    2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute, kHour,        2 * kHour,
    3 * kHour,   6 * kHour,   12 * kHour,   kDay,         2 * kDay,     7 * kDay,     14 * kDay,
    30 * kDay,   60 * kDay,   90 * kDay,    180 * kDay,   365 * kDay,   730 * kDay,
};

// The smallest step of 1, 2 or 5 times a power of ten that is at least raw.
double niceStepAtLeast(double raw)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * magnitude >= raw * (1 - 1e-12))
            return m * magnitude;
    }
    return 10 * magnitude;
}

// The next round step after step (1 -> 2 -> 5 -> 10).
double nextNiceStep(double step)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / magnitude;
    if (m < 1.5)
        return 2 * magnitude;
    if (m < 3.5)
        return 5 * magnitude;
    return 10 * magnitude;
}

} // namespace

QString valueText(double value, int decimals)
{
    QString text = std::abs(value) < 1e15 ? QString::number(value, 'f', decimals)
                                          : QString::number(value, 'g', 6);
    // A value that rounds to zero is written without its sign.
    if (text.startsWith(QLatin1Char('-')) &&
        std::all_of(text.cbegin() + 1, text.cend(),
                    [](QChar c) { return c == QLatin1Char('0') || c == QLatin1Char('.'); }))
        text.remove(0, 1);
    return text;
}

int placesOf(double value, int atLeast)
{
    atLeast = std::max(atLeast, 0);
    if (!std::isfinite(value) || std::abs(value) >= 1e15)
        return atLeast;
    for (int places = atLeast; places <= 6; ++places) {
        const double scale = std::pow(10.0, places);
        if (std::abs(std::round(value * scale) / scale - value) <=
            1e-9 * std::max(1.0, std::abs(value)))
            return places;
    }
    return std::max(atLeast, 6);
}

ValueScale valueScale(double low, double high, int mostTicks, const QList<double>& limits)
{
    // Three ticks at least: a span across zero cannot do with fewer.
    mostTicks = std::clamp(mostTicks, 3, 50);
    if (!std::isfinite(low) || !std::isfinite(high)) {
        low = 0;
        high = 1;
    }
    low = std::clamp(low, -kLargest, kLargest);
    high = std::clamp(high, -kLargest, kLargest);
    if (low > high)
        std::swap(low, high);
    if (!(high - low > std::abs(high) * 1e-12)) {
        // One value (or several equal): a small band around it.
        const double half = high != 0 ? std::abs(high) * 0.01 : 0.5;
        low -= half;
        high += half;
    }
    // A little room beyond the outermost values, so that their points show
    // whole and not on the axis' edge.
    const double pad = (high - low) * 0.05;
    const double from = low - pad;
    const double to = high + pad;

    ValueScale scale;
    double step = niceStepAtLeast((to - from) / (mostTicks - 1));
    double first = std::floor(from / step);
    double last = std::ceil(to / step);
    for (int widened = 0; last - first + 1 > mostTicks && widened < 64; ++widened) {
        step = nextNiceStep(step);
        first = std::floor(from / step);
        last = std::ceil(to / step);
    }
    scale.step = step;
    scale.min = first * step;
    scale.max = last * step;
    scale.decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 12);

    QList<ValueTick> limitTicks;
    for (const double limit : limits) {
        if (std::isfinite(limit) && limit >= scale.min && limit <= scale.max)
            limitTicks.append({limit, valueText(limit, placesOf(limit, scale.decimals))});
    }
    for (double k = first; k <= last; ++k) {
        const double at = k * step;
        const bool besideALimit =
            std::any_of(limitTicks.cbegin(), limitTicks.cend(),
                        [&](const ValueTick& l) { return std::abs(l.at - at) < 0.35 * step; });
        if (!besideALimit)
            scale.ticks.append({at, valueText(at, scale.decimals)});
    }
    scale.ticks.append(limitTicks);
    std::sort(scale.ticks.begin(), scale.ticks.end(),
              [](const ValueTick& a, const ValueTick& b) { return a.at < b.at; });
    // Two equal limits (or a limit written like a round tick) show once.
    QSet<QString> seen;
    scale.ticks.removeIf([&](const ValueTick& t) {
        if (seen.contains(t.label))
            return true;
        seen.insert(t.label);
        return false;
    });
    return scale;
}

TimeScale timeScale(qint64 start, qint64 end, int mostTicks)
{
    mostTicks = std::clamp(mostTicks, 2, 50);
    if (end <= start)
        end = start + kSecond;
    const qint64 span = end - start;
    TimeScale scale;
    scale.step = kTimeSteps.back();
    for (const qint64 step : kTimeSteps) {
        if (span / step + 1 <= mostTicks) {
            scale.step = step;
            break;
        }
    }
    if (scale.step >= kDay)
        scale.format = span > 300 * kDay ? QStringLiteral("dd/MM/yy") : QStringLiteral("dd/MM");
    else
        scale.format =
            QLatin1String(span > kDay ? "dd/MM " : "") +
            QLatin1String(scale.step < kMinute || span <= 10 * kMinute ? "HH:mm:ss" : "HH:mm");

    // Ticks at round local times: each day's ticks count from its own
    // midnight, so a clock change moves no tick off the hour.
    QList<qint64> at;
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(start).date();
    const QDate lastDay = QDateTime::fromMSecsSinceEpoch(end).date();
    if (scale.step < kDay) {
        for (QDate day = firstDay; day <= lastDay && at.size() <= mostTicks; day = day.addDays(1)) {
            const qint64 midnight = day.startOfDay().toMSecsSinceEpoch();
            const qint64 nextMidnight = day.addDays(1).startOfDay().toMSecsSinceEpoch();
            qint64 t = midnight;
            if (start > midnight)
                t += (start - midnight + scale.step - 1) / scale.step * scale.step;
            for (; t < nextMidnight && t <= end; t += scale.step)
                at.append(t);
        }
    } else {
        const qint64 days = scale.step / kDay;
        // A span of many years is cut short rather than walked day by day.
        const QDate stop = std::min(lastDay, firstDay.addDays(days * (mostTicks + 1)));
        for (QDate day = firstDay; day <= stop; day = day.addDays(1)) {
            if (day.toJulianDay() % days != 0)
                continue;
            const qint64 t = day.startOfDay().toMSecsSinceEpoch();
            if (t >= start && t <= end)
                at.append(t);
        }
    }
    QSet<QString> seen;
    for (const qint64 t : at) {
        const QString label = QDateTime::fromMSecsSinceEpoch(t).toString(scale.format);
        if (seen.contains(label))
            continue;
        seen.insert(label);
        scale.ticks.append({t, label});
    }
    return scale;
}

qint64 gapThreshold(std::vector<qint64>& spacings)
{
    constexpr qint64 kShortestStop = 5 * kMinute;
    if (spacings.empty())
        return kShortestStop;
    const auto middle = spacings.begin() + std::ptrdiff_t(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    const qint64 median = std::max<qint64>(*middle, 0);
    return median > std::numeric_limits<qint64>::max() / 3 ? std::numeric_limits<qint64>::max()
                                                           : std::max(3 * median, kShortestStop);
}

} // namespace telvar
