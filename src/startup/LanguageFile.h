#pragma once

#include "common/Error.h"
#include "common/MessageTable.h"

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// What the language file gives the program: the language column in use and
// the message table (section, number, language).
struct LanguageTable {
    qint16 Idioma = 0;
    MessageTable Mensajes;
};

// Largest message table a language file may ask for, in entries
// (sections x numbers x languages): far above any real installation, low
// enough that a damaged header cannot exhaust memory.
inline constexpr qint64 kMaxLanguageTableEntries = 1000000;

// Reads the language file at path; reports name it RutaIAU + "QLLang.IAU". CodProducto chooses the
// message variant: a code beginning "QL" keeps only the groups tagged QL; any other code keeps
// every group and lets an RV group replace the one before it. A file above kMaxLanguageFileBytes
// is refused unread. On failure the error's description is the complete text of the report to show.
Result<LanguageTable> readLanguageFile(const QString& path, const QString& RutaIAU,
                                       const QString& CodProducto);

// Loads RutaIAU + "QLLang.IAU" into m.Idioma and m.messageTable. A file that
// cannot be used is reported as a critical box through ui; the result is then
// false and m is left unchanged.
bool InitIdioma(Modulo1& m, Interaccion& ui);

// The numeric value of a text as the classic Val reads it: leading blanks
// skipped, then the longest leading decimal number (sign, digits, fraction,
// exponent); 0 when the text does not begin with a number.
double classicVal(const QString& text);

} // namespace telvar
