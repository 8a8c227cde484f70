#pragma once

// How the benchmarks time and sum up what they measure.

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <algorithm>
#include <vector>

namespace telvar::bench {

inline double millis(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// The first three fields of /proc/loadavg.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace telvar::bench
