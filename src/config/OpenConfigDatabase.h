#pragma once

#include "database/OpenDBOK.h"

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// OpenDBOK on a configuration database's connection string. The
// configuration database is always a file database, even when the SPC
// database lives on a server, so it is opened as one ("[JET4]"): the password
// prompt and the compact-and-repair of a damaged file apply to it whatever
// the SPC engine is. A typed password replaces m.PassBD, which the
// configuration database shares with the SPC database.
OpenDBOKResult openConfigDatabase(Modulo1& m, Interaccion& ui, const QString& connectionString,
                                  bool Avisa = true);

} // namespace telvar
