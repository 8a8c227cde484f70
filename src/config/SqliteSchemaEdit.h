#pragma once

#include "common/RuntimeError.h"

#include <QString>

namespace telvar {

// The CREATE TABLE statement createSql (as SQLite keeps it in sqlite_master)
// with the declared type of column columna (matched case-insensitively)
// given the size ancho: "TEXT(6)" becomes "TEXT(8)", "VARCHAR(6)" becomes
// "VARCHAR(8)", a type without a size becomes "<type>(8)" and a column
// without a type gets "TEXT(8)". Everything else in the statement (other
// columns, constraints, quoting, comments) is kept as written. An error names
// the column when the statement has no such column or cannot be read. When
// nuevoNombre is given, the statement creates the table under that name.
Result<QString> cambiaAnchoColumna(const QString& createSql, const QString& columna, int ancho,
                                   const QString& nuevoNombre = {});

} // namespace telvar
