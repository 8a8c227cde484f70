#pragma once

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// Reads the defined sizes of the six master keys (USU, EST, MAQ, PRO, FRM,
// CAR) from the live database named by m.CadConexion into m.Ancho*, and
// checks that INS and the description columns exist. False when start-up
// must not go on: the database could not be opened (OpenDBOK reported it) or
// a table, column or width could not be read (reported here, naming them).
// A password typed at OpenDBOK's prompt replaces m.PassBD and the password
// in m.CadConexion. The engine of m.TipoBD decides whether a damaged file
// is repaired.
bool LeeAnchos(Modulo1& m, Interaccion& ui);

// Texto padded with blanks or cut so that it is exactly n characters long.
QString AjustaAncho(const QString& Texto, int n);

} // namespace telvar
