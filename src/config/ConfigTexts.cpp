#include "config/ConfigTexts.h"

#include "common/ErrorReport.h"
#include "database/ArmaConexion.h"
#include "database/OpenDBOK.h"

#include <algorithm>

namespace telvar {

QString conexionConf(const QString& ruta, const QString& passBD)
{
    return jetConnectionString(ruta, passBD);
}

QString NombreArchivo(const QString& ruta)
{
    const qsizetype corte =
        std::max(ruta.lastIndexOf(QLatin1Char('\\')), ruta.lastIndexOf(QLatin1Char('/')));
    return ruta.mid(corte + 1);
}

QString reporteAnchos(const std::array<int, 6>& definidos, const AnchosClave& anchos)
{
    QString reporte;
    for (std::size_t i = 0; i < kColumnasClave.size(); ++i) {
        const int ancho = anchos.*kColumnasClave[i].ancho;
        if (definidos[i] != ancho)
            reporte += QLatin1String(kColumnasClave[i].literal) + QString::number(ancho) +
                       QLatin1Char('\n');
    }
    return reporte;
}

QString avisoAnchos(const QString& rutaConf, const QString& reporte)
{
    return QStringLiteral("Telvar") + QStringLiteral(". Reinicia.") + QLatin1Char('\n') + rutaConf +
           QStringLiteral("\n\n") + reporte;
}

QString reporteReinicia(const RuntimeError& error, const QString& conexion)
{
    return errorReport(QStringLiteral("Telvar. Reinicia."), error, SourceLine::Shown,
                       maskPassword(conexion));
}

QString captionTelvar(const QString& titulo, int mayor, int revision)
{
    return titulo + QStringLiteral(" v.") + QString::number(mayor) + QLatin1Char('.') +
           QString::number(revision);
}

} // namespace telvar
