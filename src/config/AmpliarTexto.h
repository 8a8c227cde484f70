#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

class Connection;

// Widens the text column Campiux of table Tabliux to NewAnchiux characters
// when its defined size is smaller; a column already as wide or wider is left
// alone (never narrowed). SQLite cannot alter a column, so the table is
// rebuilt with the wider declaration inside one transaction: every row and
// value, every index and trigger of the table, the AUTOINCREMENT counter, and
// the views and other tables' triggers that name it are kept.
// Errors (a missing table or column, a failed statement) come back as values
// and leave the database as it was.
Status AmpliarTexto(const Connection& TLVConf, const QString& Tabliux, const QString& Campiux,
                    int NewAnchiux);

} // namespace telvar
