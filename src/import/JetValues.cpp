#include "import/JetValues.h"

#include <QDate>
#include <QTime>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace telvar {

namespace {

// Jet's own range: 100-01-01 and the last second of 9999-12-31.
constexpr double kFirstJetDay = -657434.0;
constexpr double kLastJetDay = 2958465.0;
constexpr qint64 kSecondsPerDay = 86400;

} // namespace

std::optional<QString> jetDateText(double value)
{
    if (!std::isfinite(value) || value < kFirstJetDay || value >= kLastJetDay + 1.0)
        return std::nullopt;
    double whole = 0;
    const double fraction = std::modf(value, &whole);
    qint64 day = static_cast<qint64>(whole);
    qint64 seconds = std::llround(std::fabs(fraction) * static_cast<double>(kSecondsPerDay));
    if (seconds >= kSecondsPerDay) {
        // Rounded up to the next midnight, forward in time on either side of
        // 1899-12-30.
        seconds -= kSecondsPerDay;
        ++day;
    }
    const QDate date = QDate(1899, 12, 30).addDays(day);
    if (!date.isValid() || date.year() > 9999)
        return std::nullopt;
    const QTime time = QTime(0, 0).addSecs(static_cast<int>(seconds));
    return date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           time.toString(QStringLiteral("H:mm:ss"));
}

double singleAsDouble(float value)
{
    if (!std::isfinite(value))
        return static_cast<double>(value);
    std::array<char, 64> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
    double result = static_cast<double>(value);
    std::from_chars(text.data(), written.ptr, result);
    return result;
}

std::optional<double> decimalValue(const char* text)
{
    if (!text)
        return std::nullopt;
    const char* end = text + std::strlen(text);
    // from_chars takes no leading '+'; libmdb writes none.
    double result = 0;
    const auto [ptr, error] = std::from_chars(text, end, result);
    if (error != std::errc() || ptr != end || ptr == text)
        return std::nullopt;
    return result;
}

} // namespace telvar
