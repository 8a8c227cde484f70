#pragma once

#include "common/Modulo1.h"
#include "config/ConfigSchema.h"
#include "database/Connection.h"
#include "support/RecordingInteraccion.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

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
