#pragma once

#include <QString>

namespace telvar {

// A text converted as a whole 16-bit number: blanks around it allowed, then an
// optional sign and decimal digits, nothing else.
struct WholeNumber {
    enum class Outcome { Ok, NotANumber, Overflow };
    Outcome outcome = Outcome::NotANumber;
    qint16 value = 0;
};

WholeNumber parseWholeNumber16(const QString& text);

} // namespace telvar
