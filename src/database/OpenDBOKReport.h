#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// The report of a failed opening, as OpenDBOK shows it:
// "Module1. OpenDBOK." LF LF source LF number ".- " description LF LF
// masked LF LF.
QString openFailureReport(const Error& error, const QString& masked);

// Shows report R for error number number the way OpenDBOK's table says
// (the rows that only report: 3706, -2147217843, -2147220999,
// -2147467259 and any other number). Avisa = false silences only
// -2147467259.
void showOpenFailure(const Modulo1& m, Interaccion& ui, long long number, QString R, bool Avisa);

} // namespace telvar
