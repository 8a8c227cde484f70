#include "acquisition/Puertos.h"

#include "common/ErrorNumbers.h"

#include <limits>

namespace telvar {

namespace {

Error overflow(const QString& what)
{
    return Error{ErrorNumber::Overflow, QStringLiteral("Telvar"),
                 QStringLiteral("Overflow: ") + what};
}

bool fitsInteger(int value)
{
    return value >= std::numeric_limits<qint16>::min() &&
           value <= std::numeric_limits<qint16>::max();
}

// The text after a leading "@", or empty for an ordinary value.
QString marker(const QString& value)
{
    return value.startsWith(u'@') ? value.mid(1) : QString();
}

} // namespace

int TPuerto::clockNumber() const
{
    bool ok = false;
    const int number = Reloj.trimmed().toInt(&ok);
    return ok ? number : 0;
}

Result<TPuerto> buildTPuerto(const ConfigRow& row)
{
    TPuerto port;
    if (row.Reloj <= 0)
        return port;
    if (!row.nulos.isEmpty())
        return Error{ErrorNumber::InvalidUseOfNull, QStringLiteral("Telvar"),
                     QStringLiteral("Invalid use of Null")};
    if (!fitsInteger(row.Inici) || !fitsInteger(row.Longi))
        return overflow(QStringLiteral("Inici or Longi of port ") + QString::number(row.Puert));
    port.WebPg = row.WebPg;
    port.Ident = row.Ident;
    port.Inici = static_cast<qint16>(row.Inici);
    port.Longi = static_cast<qint16>(row.Longi);
    port.Forma = marker(row.Forma);
    port.Maqui = marker(row.Maqui);
    port.Produ = marker(row.Produ);
    port.Reloj = QString::number(row.Reloj);
    port.Puert = row.Puert;
    return port;
}

Result<Puertos> buildPuertos(const QList<ConfigRow>& rows)
{
    if (rows.size() > std::numeric_limits<qint16>::max())
        return overflow(QStringLiteral("more than 32767 configuration rows"));
    Puertos puertos;
    puertos.reserve(rows.size() + 1);
    puertos.append(TPuerto{});
    for (const ConfigRow& row : rows) {
        Result<TPuerto> port = buildTPuerto(row);
        if (!port)
            return port.error();
        puertos.append(port.value());
    }
    return puertos;
}

int elementOfPuert(const Puertos& puertos, int puert)
{
    for (qsizetype k = 1; k < puertos.size(); ++k) {
        if (puertos[k].Puert == puert && !puertos[k].Reloj.isEmpty())
            return static_cast<int>(k);
    }
    return 0;
}

ClockPlan planClocks(const QList<ConfigRow>& rows)
{
    ClockPlan plan;
    for (const ConfigRow& row : rows) {
        if (row.Reloj <= 0)
            continue;
        if (row.Reloj >= static_cast<int>(plan.used.size())) {
            plan.error = Error{ErrorNumber::ControlArrayElementMissing, QStringLiteral("Telvar"),
                               QStringLiteral("Control array element '") +
                                   QString::number(row.Reloj) + QStringLiteral("' doesn't exist")};
            return plan;
        }
        const auto r = static_cast<std::size_t>(row.Reloj);
        plan.used[r] = true;
        plan.interval[r] = row.Inter.value_or(0);
    }
    return plan;
}

} // namespace telvar
