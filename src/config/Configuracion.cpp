#include "config/Configuracion.h"

#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/AbreConfig.h"
#include "config/AmpliarTexto.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/TLVDirec.h"
#include "database/CompactRepair.h"
#include "database/ConnectionString.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"

namespace telvar {

QString Configuracion::recordSourceCompleto()
{
    return QStringLiteral("Select * from HTMCONFI left join HTMRELOJ") +
           QStringLiteral(" ON HTMCONFI.RELOJ=HTMRELOJ.CLAVE order by PUERT");
}

Configuracion::Configuracion(Modulo1& m, Interaccion& ui)
    : m_m(m), m_ui(ui), m_rsConf(std::make_unique<ConfigGridModel>(ui)), m_rsConfBusca(*m_rsConf),
      m_abridorData1(&EngineLayer::open)
{
}

Configuracion::~Configuracion() = default;

void Configuracion::setAbridorData1(AbridorData1 abridor)
{
    m_abridorData1 = std::move(abridor);
}

ResultadoReinicia Configuracion::Reinicia()
{
    const auto resultado = [](Accion accion) {
        return accion == Accion::Terminar ? ResultadoReinicia::TerminarPrograma
                                          : ResultadoReinicia::Abandonado;
    };
    bool reparado = false;

    // 1. The configuration database's path: the first field of TLVDirec.IAU.
    Result<QString> ruta = leeRutaConf(m_m);
    if (!ruta)
        return resultado(manejaError(ruta.error(), m_conexionData1, nullptr));
    m_m.RutaConf = ruta.value();

    // 2. Its connection string.
    QString conexion = conexionConf(m_m.RutaConf, m_m.PassBD);

    // 3. Open it. The opener reports its own failures (and asks for the
    // password or repairs the file where it can); nothing is left to add.
    std::unique_ptr<Connection> cn;
    if (!abreConfig(m_m, m_ui, conexion, cn))
        return ResultadoReinicia::Abandonado;

    // 4. The station column is widened automatically.
    if (Status s = AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"),
                                kAnchoEstacAmpliado);
        !s)
        return resultado(manejaError(s.error(), conexion, nullptr));

    // 5, 6. The key columns must be exactly as wide as the master keys.
    Result<QString> reporte = revisaAnchos(*cn, AnchosClave::de(m_m));
    if (!reporte)
        return resultado(manejaError(reporte.error(), conexion, nullptr));

    // 7.
    cn.reset();

    // 8. A configuration that does not fit the master data stops the program.
    if (!reporte.value().isEmpty()) {
        m_ui.messageBox(avisoAnchos(m_m.RutaConf, reporte.value()), BoxKind::Critical);
        return ResultadoReinicia::TerminarPrograma;
    }

    // 9, 10. Bind the grid's rows (RsConf); the lookup (RsConfBusca) sees them.
    m_conexionData1 = conexion;
    while (true) {
        Result<std::unique_ptr<Connection>> data1 = m_abridorData1(m_conexionData1);
        Status enlazado = data1 ? m_rsConf->bind(std::move(data1.value()), recordSourceCompleto())
                                : Status(data1.error());
        if (enlazado)
            break;
        const Accion accion = manejaError(enlazado.error(), m_conexionData1, &reparado);
        if (accion != Accion::Reintentar)
            return resultado(accion);
    }

    // 11. The bare file name on bArchConf.
    m_nombreArchConf = NombreArchivo(m_m.RutaConf);
    return ResultadoReinicia::Hecho;
}

Configuracion::Accion Configuracion::manejaError(const RuntimeError& error, const QString& conexion,
                                                 bool* reparado)
{
    m_ui.setMousePointer(PointerShape::Default);
    const QString reporte = reporteReinicia(error, conexion);
    // Only the data control's opening can be repeated; the steps before it
    // run on a connection the opener has already recovered.
    const bool repetible = reparado != nullptr;
    const bool pideRepetir = error.numero == ErrorNumber::WrongPassword ||
                             error.numero == ErrorNumber::DamagedFile ||
                             error.numero == ErrorNumber::NotADatabase;
    switch (pideRepetir && !repetible ? 0 : error.numero) {
    case ErrorNumber::WrongPassword: {
        const std::optional<QString> respuesta = m_ui.inputBox(
            QLatin1Char('\n') + m_m.Mensajes(Mensaje::EscribaContrasena), InputEcho::Password);
        if (!respuesta || respuesta->isEmpty())
            return Accion::Abandonar;
        m_m.PassBD = *respuesta;
        m_conexionData1 = replacePasswordField(m_conexionData1, *respuesta);
        return Accion::Reintentar;
    }
    case ErrorNumber::DamagedFile:
    case ErrorNumber::NotADatabase: {
        // The configuration file is repaired in place once, as the opener
        // repairs a damaged file database; a file still failing is reported.
        if (*reparado)
            break;
        *reparado = true;
        m_ui.setMousePointer(PointerShape::Hourglass);
        Result<QString> reparacion = compactAndRepair(m_m.RutaConf);
        m_ui.setMousePointer(PointerShape::Default);
        if (reparacion)
            return Accion::Reintentar;
        RuntimeError fallo = error;
        fallo.descripcion += QLatin1Char(' ') + reparacion.error().descripcion;
        m_ui.messageBox(reporteReinicia(fallo, conexion), BoxKind::Exclamation);
        return Accion::Abandonar;
    }
    case ErrorNumber::ErrorInDll:
        m_ui.messageBox(reporte + m_m.Mensajes(Mensaje::RevisarComponentes) +
                            QStringLiteral("\n\n"),
                        BoxKind::Exclamation);
        return Accion::Abandonar;
    case ErrorNumber::UnspecifiedFailure:
        m_ui.messageBox(
            reporte +
                QStringLiteral("Si la ruta de acceso está equivocada por favor corrijala "
                               "en el archivo ") +
                m_m.RutaIAU + QStringLiteral("TLVDirec.IAU") + QLatin1Char('\n'),
            BoxKind::Critical);
        return Accion::Terminar;
    default:
        break;
    }
    m_ui.messageBox(reporte, BoxKind::Exclamation);
    return Accion::Abandonar;
}

} // namespace telvar
