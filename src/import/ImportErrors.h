#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// The source line of every error the Jet import reports.
QString jetImportSource();

// An error of the import of file: its description names the file and, when
// known, the table ("<file>, table <table>: <what>").
Error jetImportError(long long number, const QString& file, const QString& table,
                     const QString& what);

} // namespace telvar
