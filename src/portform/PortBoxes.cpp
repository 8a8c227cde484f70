#include "portform/PortBoxes.h"

#include <QVariant>

namespace telvar {

namespace {

QString boxText(const QSqlRecord& record, const char* column)
{
    const int index = record.indexOf(QLatin1String(column));
    if (index < 0)
        return {};
    const QVariant value = record.value(index);
    if (value.isNull())
        return {};
    // A whole number stored by an engine as a floating-point value shows as
    // its plain decimal text ("12", not "12.0").
    if (value.typeId() == QMetaType::Double) {
        const double number = value.toDouble();
        return QString::number(number, 'g', 15);
    }
    return value.toString();
}

} // namespace

PortBoxes PortBoxes::fromRecord(const QSqlRecord& record)
{
    PortBoxes boxes;
    boxes.Descr = boxText(record, "Descr");
    boxes.WebPg = boxText(record, "WebPg");
    boxes.Ident = boxText(record, "Ident");
    boxes.Inici = boxText(record, "Inici");
    boxes.Longi = boxText(record, "Longi");
    boxes.Opera = boxText(record, "Opera");
    boxes.Estac = boxText(record, "Estac");
    boxes.Maqui = boxText(record, "Maqui");
    boxes.Produ = boxText(record, "Produ");
    boxes.Forma = boxText(record, "Forma");
    boxes.Carac = boxText(record, "Carac");
    boxes.Reloj = boxText(record, "Reloj");
    return boxes;
}

} // namespace telvar
