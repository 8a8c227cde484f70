#pragma once

#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "database/Connection.h"

#include <QSqlError>
#include <QString>

namespace telvar {

// When an engine error happened: while connecting, or running a statement
// on an open connection.
enum class ErrorPhase { Connect, Statement };

// The component named as an error's source in reports.
QString errorSource(SqlDialect dialect);

// A Qt SQL error of the given engine translated to the program's numbering.
// The description is the engine's own text.
Error engineError(SqlDialect dialect, const QSqlError& error, ErrorPhase phase);

// An error the engine layer raises itself (before or around the engine).
Error layerError(long long number, const QString& source, const QString& description);

// The source of errors raised before any engine is involved.
QString engineLayerSource();

} // namespace telvar
