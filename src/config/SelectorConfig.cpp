#include "config/SelectorConfig.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/OpenConfigDatabase.h"
#include "config/TLVDirec.h"
#include "database/Connection.h"

namespace telvar {

QStringList SelectorConfig::cargaLista()
{
    Result<QStringList> rutas = leeRutasConf(m_m);
    if (!rutas) {
        m_ui.messageBox(reporteCarga(rutas.error()), BoxKind::Exclamation);
        return {};
    }
    return rutas.value();
}

QString SelectorConfig::rutaElegida(const QString& texto, const QString& RutaApp)
{
    if (texto.right(4).toUpper() == QLatin1String(".MDB"))
        return texto;
    return RutaApp + QStringLiteral("TLVConf.mdb");
}

QStringList SelectorConfig::nuevoOrden(const QString& ruta, const QStringList& items)
{
    QStringList orden{ruta};
    QStringList vistos{ruta.toUpper()};
    for (const QString& item : items) {
        const QString clave = item.toUpper();
        if (vistos.contains(clave))
            continue;
        vistos.append(clave);
        orden.append(item);
    }
    return orden;
}

std::optional<QString> SelectorConfig::acepta(const QString& texto, const QStringList& items)
{
    const QString ruta = rutaElegida(texto, m_m.RutaApp);

    // A path TLVDirec.IAU cannot hold would come back as another path.
    const QString motivo = motivoRutaNoAlmacenable(ruta);
    if (!motivo.isEmpty()) {
        avisa(RuntimeError{ErrorNumber::InvalidProcedureCall, QStringLiteral("Telvar"),
                           QStringLiteral("The path \"") + ruta + QStringLiteral("\" ") + motivo +
                               QStringLiteral(": TLVDirec.IAU cannot keep it. Rename the file or "
                                              "its folder and choose it again.")});
        return std::nullopt;
    }

    OpenDBOKResult opened = openConfigDatabase(m_m, m_ui, conexionConf(ruta, m_m.PassBD));
    if (!opened)
        return std::nullopt;
    std::unique_ptr<Connection> cn = std::move(opened.cn);

    // A configuration database holds both tables.
    for (const QString& consulta :
         {QStringLiteral("Select * from HTMRELOJ"), QStringLiteral("Select * from HTMCONFI")}) {
        Result<QSqlQuery> leido = cn->exec(consulta);
        if (!leido) {
            avisa(leido.error());
            return std::nullopt;
        }
    }
    // ...whose key columns fit the master keys, as Reinicia will check next:
    // a file it refuses would end the program now and at every later start,
    // since TLVDirec.IAU would name it.
    Result<QString> reporte = revisaAnchos(*cn, AnchosClave::de(m_m));
    cn.reset();
    if (!reporte) {
        avisa(reporte.error());
        return std::nullopt;
    }
    if (!reporte.value().isEmpty()) {
        m_ui.mensaBox(reporteAnchosAcepta(ruta, reporte.value()), BoxKind::Exclamation, 5);
        return std::nullopt;
    }

    if (Status escrito = escribeRutasConf(m_m, nuevoOrden(ruta, items)); !escrito) {
        avisa(escrito.error());
        return std::nullopt;
    }
    return ruta;
}

QString SelectorConfig::reporteAcepta(const RuntimeError& error)
{
    return errorReport(QStringLiteral("TelvarConfig. bAceptar_Click."), error);
}

QString SelectorConfig::reporteAnchosAcepta(const QString& ruta, const QString& reporte)
{
    return QStringLiteral("TelvarConfig. bAceptar_Click.") + QLatin1Char('\n') + ruta +
           QStringLiteral("\n\n") + reporte;
}

QString SelectorConfig::reporteCarga(const RuntimeError& error)
{
    return errorReport(QStringLiteral("TelvarConfig (Form_Load)"), error);
}

void SelectorConfig::avisa(const RuntimeError& error)
{
    m_ui.mensaBox(reporteAcepta(error), BoxKind::Exclamation, 5);
}

} // namespace telvar
