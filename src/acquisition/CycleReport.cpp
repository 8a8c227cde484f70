#include "acquisition/CycleReport.h"

#include <QStringList>

namespace telvar {

QString maskUrlPassword(const QString& url)
{
    // Only the part between "//" and the first "/", "?" or "#" after it can
    // hold credentials; an "@" there ends them, the first ":" before it
    // starts the password.
    const qsizetype scheme = url.indexOf(QLatin1String("//"));
    if (scheme < 0)
        return url;
    const qsizetype authorityStart = scheme + 2;
    qsizetype authorityEnd = url.size();
    for (const QChar end : {u'/', u'?', u'#'}) {
        const qsizetype at = url.indexOf(end, authorityStart);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const qsizetype at = url.lastIndexOf(u'@', authorityEnd - 1);
    if (at < authorityStart)
        return url;
    const qsizetype colon = url.indexOf(u':', authorityStart);
    if (colon < 0 || colon > at)
        return url;
    return url.left(colon + 1) + QLatin1String("***") + url.mid(at);
}

QString cycleReport(int reloj, const QString& puertoCaption, int puert, const TPuerto& port,
                    const RuntimeError& error)
{
    const QStringList lines{
        QLatin1String("Telvar. bReloj_Click(") + QString::number(reloj) + QLatin1String(") ") +
            puertoCaption + QLatin1Char(' ') + QString::number(puert),
        QLatin1String("Web Page: ") + maskUrlPassword(port.WebPg),
        QLatin1String("Identifier:  ") + port.Ident,
        QLatin1String("Start at: ") + QString::number(port.Inici),
        QLatin1String("Length: ") + QString::number(port.Longi),
        QString(),
        QString::number(error.numero) + QLatin1String(".- ") + error.descripcion,
    };
    return lines.join(QLatin1String("\r\n"));
}

} // namespace telvar
