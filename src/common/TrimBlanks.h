#pragma once

#include <QString>

namespace telvar {

// The classic Trim: blanks only, on both sides (keys are padded with blanks;
// tabs and line ends are text to it).
inline QString trimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.sliced(first, last - first);
}

} // namespace telvar
