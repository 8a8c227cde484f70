#pragma once

#include "database/Connection.h"

#include <QString>
#include <memory>

namespace telvar {

struct Modulo1;
class Interaccion;

// Opens cn on Conexion with the program's recovery policy: the password prompt
// for a rejected database password (the answer replaces the password field of
// Conexion and m.PassBD), compact and repair of a damaged file database, and
// one masked report per failure. False when opening failed and was reported
// (or the prompt was abandoned). Avisa = false silences only the report of
// error -2147467259.
bool OpenDBOK(Modulo1& m, Interaccion& ui, QString& Conexion, std::unique_ptr<Connection>& cn,
              bool Avisa);

// Conexion with its first password field ("Password=", or
// "Jet OLEDB:Database Password=" whose prefix stays) shown as
// "Password=***;", followed by what followed the ";" that closed the
// password. The password's end is read by the string's layout
// (ConnectionFields), so a password holding ";" or "Password=" is hidden
// whole, and a "Password=" inside another value is not taken for it.
QString maskPassword(const QString& Conexion);

} // namespace telvar
