#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// The report of a failed opening, as OpenDBOK shows it:
// "Module1. OpenDBOK." LF LF source LF number ".- " cause LF LF database
// LF LF, where the cause says what is wrong with the file or server
// (DatabaseDescription::explainOpenFailure) and database names it
// (DatabaseDescription::describe), in the language idioma.
QString openFailureReport(const Error& error, const QString& Conexion, int idioma);

// Shows report R for error number number the way OpenDBOK's table says
// (the rows that only report: 3706, -2147217843, -2147220999,
// -2147467259 and any other number). Avisa = false silences only
// -2147467259.
void showOpenFailure(const Modulo1& m, Interaccion& ui, long long number, QString R, bool Avisa);

} // namespace telvar
