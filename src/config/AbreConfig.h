#pragma once

#include "database/Connection.h"

#include <QString>
#include <memory>

namespace telvar {

struct Modulo1;
class Interaccion;

// OpenDBOK on a configuration database's connection string. The
// configuration database is always a file database, even when the SPC
// database lives on a server, so it is opened as one: the password prompt and
// the compact-and-repair of a damaged file apply to it whatever the SPC
// engine is. m.TipoBD is the same afterwards.
bool abreConfig(Modulo1& m, Interaccion& ui, QString& conexion, std::unique_ptr<Connection>& cn);

} // namespace telvar
