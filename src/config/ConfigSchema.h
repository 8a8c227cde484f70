#pragma once

#include "common/Error.h"

#include <QString>
#include <array>

namespace telvar {

struct Modulo1;
class Connection;

// The six key widths that the configuration's key columns must have: the
// defined sizes of the master keys, in the order the width check reports them.
struct KeyWidths {
    int Opera = 0; // USU
    int Estac = 0; // EST
    int Maqui = 0; // MAQ
    int Produ = 0; // PRO
    int Forma = 0; // FRM
    int Carac = 0; // CAR

    static KeyWidths from(const Modulo1& m);
};

// One key column of HTMCONFI: its name, the line the width check writes for
// it, and the key width it must have.
struct KeyColumn {
    const char* column;
    const char* literal;
    int KeyWidths::*width;
};

// The key columns in the order the width check visits them.
inline constexpr std::array<KeyColumn, 6> kKeyColumns = {{
    {"Opera", "HTMCONFI.Opera Defined Size <> ", &KeyWidths::Opera},
    {"Estac", "HTMCONFI.Estac Defined Size <> ", &KeyWidths::Estac},
    {"Maqui", "HTMCONFI.Maqui Defined Size <> ", &KeyWidths::Maqui},
    {"Produ", "HTMCONFI.Produ Defined Size <> ", &KeyWidths::Produ},
    {"Forma", "HTMCONFI.Forma Defined Size <> ", &KeyWidths::Forma},
    {"Carac", "HTMCONFI.Carac Defined Size <> ", &KeyWidths::Carac},
}};

// The width the station column is widened to, when narrower, before the
// width check (Reinicia does it; no other column is widened).
inline constexpr int kWidenedEstacWidth = 8;

// The width check of a configuration database open on cn: the defined size
// of each key column of HTMCONFI against its key width. The report has one
// line per column that differs (keyWidthReport); "" when the file fits. A
// station column narrower than kWidenedEstacWidth counts as that wide, since
// Reinicia widens it before it checks: so the chooser, which only looks, and
// Reinicia, which has widened, judge a file alike. An error when a column's
// size cannot be read (a missing column, one that is not text).
Result<QString> checkKeyWidths(const Connection& cn, const KeyWidths& widths);

// Width of the free-text columns Descr, WebPg and Ident (the most a text
// column of the original file format holds).
inline constexpr int kFreeTextWidth = 255;

// Creates the tables HTMRELOJ and HTMCONFI (with an index on HTMCONFI.Reloj)
// in an empty configuration database, the key columns as wide as widths.
Status createConfigTables(const Connection& cn, const KeyWidths& widths);

} // namespace telvar
