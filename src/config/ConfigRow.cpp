#include "config/ConfigRow.h"

#include <QVariant>

namespace telvar {

namespace {

QVariant value(const QSqlRecord& record, const char* name)
{
    // QSqlRecord finds a field by name case-insensitively, without copying
    // the fields it passes.
    const int index = record.indexOf(QLatin1String(name));
    return index < 0 ? QVariant() : record.value(index);
}

QString text(const QSqlRecord& record, const char* name)
{
    const QVariant v = value(record, name);
    return v.isNull() ? QString() : v.toString();
}

int wholeNumber(const QSqlRecord& record, const char* name)
{
    const QVariant v = value(record, name);
    return v.isNull() ? 0 : v.toInt();
}

std::optional<int> optionalWholeNumber(const QSqlRecord& record, const char* name)
{
    const QVariant v = value(record, name);
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

} // namespace

ConfigRow ConfigRow::fromRecord(const QSqlRecord& record)
{
    ConfigRow row;
    row.Puert = wholeNumber(record, "Puert");
    row.Descr = text(record, "Descr");
    row.WebPg = text(record, "WebPg");
    row.Ident = text(record, "Ident");
    row.Inici = wholeNumber(record, "Inici");
    row.Longi = wholeNumber(record, "Longi");
    row.Estac = text(record, "Estac");
    row.Maqui = text(record, "Maqui");
    row.Produ = text(record, "Produ");
    row.Forma = text(record, "Forma");
    row.Carac = text(record, "Carac");
    row.Opera = text(record, "Opera");
    row.Reloj = wholeNumber(record, "Reloj");
    for (const char* name : {"WebPg", "Ident", "Inici", "Longi"}) {
        if (value(record, name).isNull())
            row.nulos.append(QLatin1String(name));
    }
    row.Clave = optionalWholeNumber(record, "Clave");
    row.Inter = optionalWholeNumber(record, "Inter");
    return row;
}

} // namespace telvar
