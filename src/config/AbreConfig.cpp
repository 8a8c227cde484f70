#include "config/AbreConfig.h"

#include "common/Modulo1.h"
#include "database/OpenDBOK.h"

namespace telvar {

namespace {

// While the configuration database is opened, the engine tag is the file
// engine's.
class TipoBDArchivo final {
public:
    explicit TipoBDArchivo(Modulo1& m) : m_m(m), m_anterior(m.TipoBD)
    {
        m_m.TipoBD = QStringLiteral("[JET4]");
    }
    ~TipoBDArchivo() { m_m.TipoBD = m_anterior; }
    TipoBDArchivo(const TipoBDArchivo&) = delete;
    TipoBDArchivo& operator=(const TipoBDArchivo&) = delete;

private:
    Modulo1& m_m;
    QString m_anterior;
};

} // namespace

bool abreConfig(Modulo1& m, Interaccion& ui, QString& conexion, std::unique_ptr<Connection>& cn)
{
    TipoBDArchivo archivo(m);
    return OpenDBOK(m, ui, conexion, cn, true);
}

} // namespace telvar
