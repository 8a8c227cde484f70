#include "config/ConfigRow.h"

#include <QSqlField>
#include <QVariant>

namespace telvar {

namespace {

QVariant valor(const QSqlRecord& record, const char* nombre)
{
    const QString campo = QLatin1String(nombre);
    for (int i = 0; i < record.count(); ++i) {
        if (record.fieldName(i).compare(campo, Qt::CaseInsensitive) == 0)
            return record.value(i);
    }
    return {};
}

QString texto(const QSqlRecord& record, const char* nombre)
{
    const QVariant v = valor(record, nombre);
    return v.isNull() ? QString() : v.toString();
}

int entero(const QSqlRecord& record, const char* nombre)
{
    const QVariant v = valor(record, nombre);
    return v.isNull() ? 0 : v.toInt();
}

std::optional<int> enteroOpcional(const QSqlRecord& record, const char* nombre)
{
    const QVariant v = valor(record, nombre);
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

} // namespace

ConfigRow ConfigRow::desde(const QSqlRecord& record)
{
    ConfigRow fila;
    fila.Puert = entero(record, "Puert");
    fila.Descr = texto(record, "Descr");
    fila.WebPg = texto(record, "WebPg");
    fila.Ident = texto(record, "Ident");
    fila.Inici = entero(record, "Inici");
    fila.Longi = entero(record, "Longi");
    fila.Estac = texto(record, "Estac");
    fila.Maqui = texto(record, "Maqui");
    fila.Produ = texto(record, "Produ");
    fila.Forma = texto(record, "Forma");
    fila.Carac = texto(record, "Carac");
    fila.Opera = texto(record, "Opera");
    fila.Reloj = entero(record, "Reloj");
    fila.Clave = enteroOpcional(record, "Clave");
    fila.Inter = enteroOpcional(record, "Inter");
    return fila;
}

} // namespace telvar
