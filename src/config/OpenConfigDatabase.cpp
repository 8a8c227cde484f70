#include "config/OpenConfigDatabase.h"

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"

namespace telvar {

OpenDBOKResult openConfigDatabase(Modulo1& m, Interaccion& ui, const QString& connectionString,
                                  bool Avisa)
{
    OpenDBOKResult opened = OpenDBOK(m, ui, {connectionString, QLatin1String(kJetTag), Avisa});
    keepTypedPassword(m, opened);
    return opened;
}

} // namespace telvar
