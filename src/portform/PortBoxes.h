#pragma once

#include <QSqlRecord>
#include <QString>

namespace telvar {

// The twelve boxes of the port form as texts, in the order the form fills
// them from the port's row.
struct PortBoxes {
    QString Descr;
    QString WebPg;
    QString Ident;
    QString Inici;
    QString Longi;
    QString Opera;
    QString Estac;
    QString Maqui;
    QString Produ;
    QString Forma;
    QString Carac;
    QString Reloj;

    // The boxes as a row of the configuration fills them: each column's
    // value as text, a null column as an empty box, a key as stored.
    static PortBoxes fromRecord(const QSqlRecord& record);

    bool operator==(const PortBoxes&) const = default;
};

} // namespace telvar
