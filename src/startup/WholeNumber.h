#pragma once

#include <QString>

namespace telvar {

// A text converted as a whole 16-bit number: blanks around it allowed, then an
// optional sign and decimal digits, nothing else.
struct WholeNumber {
    enum class Estado { Ok, NoNumerico, Desborde };
    Estado estado = Estado::NoNumerico;
    qint16 value = 0;
};

WholeNumber aEntero16(const QString& texto);

} // namespace telvar
