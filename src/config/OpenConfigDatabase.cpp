#include "config/OpenConfigDatabase.h"

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"

namespace telvar {

OpenDBOKResult openConfigDatabase(Modulo1& m, Interaccion& ui, const QString& connectionString,
                                  bool Avisa)
{
    return OpenDBOK(m, ui, m.PassBD, {connectionString, QLatin1String(kJetTag), Avisa});
}

} // namespace telvar
