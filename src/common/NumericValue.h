#pragma once

#include <QString>

namespace telvar {

// The numeric value of a reading's text, as the limit check and the
// recording into a numeric column both take it: the number the text begins
// with, "." being the decimal point.
//
// Blanks before the number are skipped; then an optional sign, digits with
// an optional "." and fraction (".5" is 0.5), and an optional exponent
// ("1.5e3"; an "e" without digits after it is not part of the number). The
// first character that cannot continue the number ends it, so "12,5" gives
// 12 and "7 kg" gives 7; text that does not begin with a number ("abc", "",
// "-", ".") gives 0. Only the ASCII digits count.
//
// A number beyond the range of a double gives plus or minus infinity (one
// too small for it gives 0): callers that store the value refuse an
// infinite one.
double numericValue(const QString& text);

} // namespace telvar
