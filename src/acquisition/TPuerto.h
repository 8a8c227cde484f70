#pragma once

#include <QString>

namespace telvar {

// One active port as the polling cycle reads it: where its page is, where the
// reading lies in it, which markers name its format, machine and product, and
// which clock polls it. A row without a clock leaves every field empty.
struct TPuerto {
    QString WebPg;
    QString Ident;
    qint16 Inici = 0;
    qint16 Longi = 0;
    // The text after a leading "@" of the configured value, or empty when the
    // value is an ordinary key: the marker at which the page names it.
    QString Forma;
    QString Maqui;
    QString Produ;
    QString Reloj;

    // The configuration row's own Puert, carried along so that a reading is
    // always recorded for the port whose page it came from, however the
    // ports are numbered. 0 for an empty element.
    int Puert = 0;

    // The numeric value of Reloj; 0 when empty or not a whole number.
    int clockNumber() const;
};

} // namespace telvar
