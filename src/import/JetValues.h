#pragma once

#include <QString>
#include <optional>

namespace telvar {

// Conversions of Jet values into the forms the program's SQLite files keep.

// A Jet date (days since 1899-12-30, the fraction the time of day; before
// that day the fraction still counts forward from midnight, so -1.25 is
// 1899-12-29 06:00) as the program writes dates into its SQLite files:
// "yyyy-MM-dd H:mm:ss", the hour without a leading zero, to the nearest
// second. Nothing for a value outside Jet's range (years 100 to 9999) or
// not a number.
std::optional<QString> jetDateText(double value);

// A Single as the double with the shortest decimal form that reads back as
// the same Single (0.1f gives 0.1, not 0.100000001490116), which is what a
// person typed into the column.
double singleAsDouble(float value);

// A decimal number as libmdb writes it ("-1234.5600"); nothing when text is
// not one.
std::optional<double> decimalValue(const char* text);

} // namespace telvar
