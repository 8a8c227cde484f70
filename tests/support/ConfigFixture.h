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
struct FixturePort {
    int puert;
    QString descr;
    QString estac;
    int clock;
};

// A temporary installation for the configuration tests: a program directory
// with its IAu folder, the program-wide state pointing at it (with a small
// message table and the key widths 8, 8, 8, 20, 8, 8), and helpers that
// build configuration databases protected by m.PassBD.
class ConfigFixture {
public:
    ConfigFixture();

    // The key widths the fixture's Modulo1 carries.
    static KeyWidths fixtureKeyWidths();
    // Fills the message table with the texts the configuration windows use.
    static void fillMessages(Modulo1& m);

    // A configuration database named name in the program directory: the
    // two tables with the given key widths, ten clocks (interval = clock
    // number) and the given ports. Returns its path.
    QString createConfig(const QString& name, const KeyWidths& widths,
                         const QList<FixturePort>& ports);
    QString createConfig(const QString& name);
    // A database with the password check but without the configuration tables.
    QString createEmptyDatabase(const QString& name);
    // A configuration database whose tables have no primary key, as a file
    // converted from another format may come: Puert is a plain whole number
    // that may repeat or be empty, and so may HTMRELOJ's CLAVE. filas gives
    // each port's Puert (null for none) and Descr; every port is on clock 1,
    // and HTMRELOJ holds clocks 1 to 3.
    QString createConfigWithoutKeys(const QString& name,
                                    const QList<std::pair<QVariant, QString>>& rows);

    // The damage recipes of DamagedFiles, on a file database of the
    // fixture.
    void loseFreeSpace(const QString& path) const;
    void damageIndex(const QString& path, const QString& indexName) const;

    // TLVDirec.IAU with these lines (CR LF after each).
    void writeTLVDirec(const QStringList& lines);
    QByteArray readTLVDirec() const;

    // An open connection to a file database of the fixture (password m.PassBD).
    std::unique_ptr<Connection> openDatabase(const QString& path) const;

    QTemporaryDir dir;
    Modulo1 m;
    RecordingInteraccion ui;
};

} // namespace telvar::test
