#include "acquisition/CycleReport.h"

#include "acquisition/SendRequest.h"

#include <QStringList>

namespace telvar {

QString cycleReport(int reloj, const QString& portCaption, int puert, const TPuerto& port,
                    const Error& error)
{
    const QStringList lines{
        QLatin1String("Telvar. bReloj_Click(") + QString::number(reloj) + QLatin1String(") ") +
            portCaption + QLatin1Char(' ') + QString::number(puert),
        QLatin1String("Web Page: ") + maskUrlPassword(port.WebPg),
        QLatin1String("Identifier:  ") + port.Ident,
        QLatin1String("Start at: ") + QString::number(port.Inici),
        QLatin1String("Length: ") + QString::number(port.Longi),
        QString(),
        QString::number(error.number) + QLatin1String(".- ") + error.description,
    };
    return lines.join(QLatin1String("\r\n"));
}

} // namespace telvar
