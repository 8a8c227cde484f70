#pragma once

#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

// One row of the configuration query: a port of HTMCONFI with its clock's
// HTMRELOJ columns. Null text columns read as "", null whole numbers as 0;
// Clave and Inter are empty when the port's clock has no HTMRELOJ row.
struct ConfigRow {
    int Puert = 0;
    QString Descr;
    QString WebPg;
    QString Ident;
    int Inici = 0;
    int Longi = 0;
    QString Estac;
    QString Maqui;
    QString Produ;
    QString Forma;
    QString Carac;
    QString Opera;
    int Reloj = 0;
    std::optional<int> Clave;
    std::optional<int> Inter;
    // The columns among WebPg, Ident, Inici and Longi that are null (an
    // active port cannot be polled without them).
    QStringList nulos;

    // The row's values from a record of the configuration query (column names
    // matched case-insensitively; a column the record lacks reads as null).
    static ConfigRow fromRecord(const QSqlRecord& record);
};

} // namespace telvar
