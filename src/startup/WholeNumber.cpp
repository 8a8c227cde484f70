#include "startup/WholeNumber.h"

namespace telvar {

WholeNumber parseWholeNumber16(const QString& text)
{
    const QString trimmed = text.trimmed();
    WholeNumber result;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        const bool sign =
            i == 0 && trimmed.size() > 1 && (c == QLatin1Char('+') || c == QLatin1Char('-'));
        if (!sign && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return result;
    }
    if (trimmed.isEmpty())
        return result;
    bool fits = false;
    const qlonglong value = trimmed.toLongLong(&fits);
    if (!fits || value < -32768 || value > 32767) {
        result.outcome = WholeNumber::Outcome::Overflow;
        return result;
    }
    result.outcome = WholeNumber::Outcome::Ok;
    result.value = qint16(value);
    return result;
}

} // namespace telvar
