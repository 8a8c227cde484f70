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

// Conexion with its first "Password=" field shown as "Password=***;".
QString maskPassword(const QString& Conexion);

} // namespace telvar
