#pragma once

#include "common/Modulo1.h"
#include "config/ConfigSchema.h"
#include "database/Connection.h"
#include "support/RecordingInteraccion.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <utility>

namespace telvar::test {

// A port row for a fixture configuration database.
struct PuertoFixture {
    int puert;
    QString descr;
    QString estac;
    int reloj;
};

// A temporary installation for the configuration tests: a program directory
// with its IAu folder, the program-wide state pointing at it (with a small
// message table and the key widths 8, 8, 8, 20, 8, 8), and helpers that
// build configuration databases protected by m.PassBD.
class ConfigFixture {
public:
    ConfigFixture();

    // The key widths the fixture's Modulo1 carries.
    static AnchosClave anchosFixture();
    // Fills the message table with the texts the configuration windows use.
    static void llenaMensajes(Modulo1& m);

    // A configuration database named nombre in the program directory: the
    // two tables with the given key widths, ten clocks (interval = clock
    // number) and the given ports. Returns its path.
    QString creaConfig(const QString& nombre, const AnchosClave& anchos,
                       const QList<PuertoFixture>& puertos);
    QString creaConfig(const QString& nombre);
    // A database with the password check but without the configuration tables.
    QString creaBaseVacia(const QString& nombre);
    // A configuration database whose tables have no primary key, as a file
    // converted from another format may come: Puert is a plain whole number
    // that may repeat or be empty, and so may HTMRELOJ's CLAVE. filas gives
    // each port's Puert (null for none) and Descr; every port is on clock 1,
    // and HTMRELOJ holds clocks 1 to 3.
    QString creaConfigSinClave(const QString& nombre,
                               const QList<std::pair<QVariant, QString>>& filas);

    // Damage a file database in the two ways the compact and repair can mend
    // (rows intact, only SQLite's bookkeeping broken):
    // the free pages at the end of the file are lost, so that the header
    // counts more pages than the file has and SQLite refuses to open it;
    void pierdeEspacioLibre(const QString& ruta) const;
    // garbage over the root page of the index indice: the file opens, and a
    // statement that reads through the index fails as damaged.
    void danaIndice(const QString& ruta, const QString& indice) const;

    // TLVDirec.IAU with these lines (CR LF after each).
    void escribeTLVDirec(const QStringList& lineas);
    QByteArray leeTLVDirec() const;

    // An open connection to a file database of the fixture (password m.PassBD).
    std::unique_ptr<Connection> abre(const QString& ruta) const;

    QTemporaryDir dir;
    Modulo1 m;
    RecordingInteraccion ui;
};

} // namespace telvar::test
