#pragma once

#include "common/RuntimeError.h"
#include "config/ConfigSchema.h"

#include <QString>
#include <array>

namespace telvar {

// The connection string of a configuration database, exactly as the program
// writes it: always a Jet file string, whatever engine the SPC database uses.
QString conexionConf(const QString& ruta, const QString& passBD);

// The bare file name of a path: everything up to the last "\" (or "/") is
// dropped; a name without either stays whole.
QString NombreArchivo(const QString& ruta);

// The width check's report: one line per key column whose defined size
// (definidos, in the order of kColumnasClave) differs from its key width,
// naming the wanted width. "" when all six agree.
QString reporteAnchos(const std::array<int, 6>& definidos, const AnchosClave& anchos);

// The text of the box that stops the program after a failed width check.
QString avisoAnchos(const QString& rutaConf, const QString& reporte);

// The report of Reinicia's error handler: where, the error, and the
// connection string with its password masked.
QString reporteReinicia(const RuntimeError& error, const QString& conexion);

// The main window's caption: Mensajes(76, 0), " v.", the major version, "."
// and the revision (the minor version is not shown).
QString captionTelvar(const QString& titulo, int mayor, int revision);

} // namespace telvar
