#include "common/NumericValue.h"

#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <system_error>

namespace telvar {

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The ASCII digits of text from i on; i moves past them.
std::string digitsFrom(const QString& text, qsizetype& i)
{
    std::string digits;
    while (i < text.size() && isAsciiDigit(text.at(i)))
        digits += text.at(i++).toLatin1();
    return digits;
}

// The power of ten of the first non-zero digit of integer.fraction
// (2 for "123", -3 for "0.00123"); nullopt when every digit is zero.
std::optional<long long> leadingPower(const std::string& integer, const std::string& fraction)
{
    const auto first = integer.find_first_not_of('0');
    if (first != std::string::npos)
        return static_cast<long long>(integer.size() - first) - 1;
    const auto inFraction = fraction.find_first_not_of('0');
    if (inFraction != std::string::npos)
        return -static_cast<long long>(inFraction) - 1;
    return std::nullopt;
}

} // namespace

double numericValue(const QString& text)
{
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && text.at(i).isSpace())
        ++i;

    bool negative = false;
    if (i < size && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }

    const std::string integer = digitsFrom(text, i);
    std::string fraction;
    if (i < size && text.at(i) == QLatin1Char('.')) {
        ++i;
        fraction = digitsFrom(text, i);
    }
    if (integer.empty() && fraction.empty())
        return 0;
    const auto power = leadingPower(integer, fraction);
    if (!power)
        return 0;

    long long exponent = 0;
    if (i < size && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        bool exponentNegative = false;
        if (j < size && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-'))) {
            exponentNegative = text.at(j) == QLatin1Char('-');
            ++j;
        }
        const std::string digits = digitsFrom(text, j);
        if (!digits.empty()) {
            // Beyond twelve digits the value is 0 or infinite anyway.
            const auto significant = digits.find_first_not_of('0');
            const std::string kept =
                significant == std::string::npos ? std::string("0") : digits.substr(significant);
            exponent = kept.size() > 12 ? 999999999999LL : std::stoll(kept);
            if (exponentNegative)
                exponent = -exponent;
        }
    }

    // The number in the form from_chars reads: it takes no "+" and no
    // locale, so the decimal point is "." whatever the machine's settings.
    std::string number = integer.empty() ? std::string("0") : integer;
    if (!fraction.empty())
        number += '.' + fraction;
    if (exponent != 0)
        number += 'e' + std::to_string(exponent);

    double value = 0;
    const auto converted = std::from_chars(number.data(), number.data() + number.size(), value);
    if (converted.ec == std::errc::result_out_of_range)
        value = *power + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

} // namespace telvar
