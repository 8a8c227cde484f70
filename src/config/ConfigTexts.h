#pragma once

#include "common/Error.h"
#include "config/ConfigSchema.h"

#include <QString>
#include <array>

namespace telvar {

// The connection string of a configuration database, exactly as the program
// writes it: always a Jet file string, whatever engine the SPC database uses.
QString configConnectionString(const QString& path, const QString& passBD);

// The bare file name of a path: everything up to the last "\" (or "/") is
// dropped; a name without either stays whole.
QString bareFileName(const QString& path);

// The width check's report: one line per key column whose defined size
// (definedSizes, in the order of kKeyColumns) differs from its key width,
// naming the wanted width. "" when all six agree.
QString keyWidthReport(const std::array<int, 6>& definedSizes, const KeyWidths& widths);

// The text of the box that stops the program after a failed width check.
QString keyWidthStopMessage(const QString& configPath, const QString& report);

// The report of Reinicia's error handler: where, the error with what is
// wrong with the configuration file, and the file (never the connection
// string), in the language idioma. An empty connectionString (no database
// named yet) leaves the error as it is and the file line empty.
QString reiniciaReport(const Error& error, const QString& connectionString, int idioma);

// The main window's caption: Mensajes(76, 0), " v.", the major version, "."
// and the revision (the minor version is not shown).
QString telvarCaption(const QString& title, int majorVersion, int revision);

} // namespace telvar
