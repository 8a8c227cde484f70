#pragma once

#include "common/Error.h"
#include "database/Connection.h"

#include <QString>
#include <QStringList>

// The demo installation's Qualitra SPC database and its data files.
//
// The tables and rows are defined once, in qualitra.sql (compiled in as the
// resource :/demo/qualitra.sql), and loaded through a Connection, so the
// same data goes into a SQLite file or a PostgreSQL database.
//
// Configurators and their clear passwords (one per stored form):
//   ADMIN  "admin2026"  bcrypt "$2a$" hash (computed when loading)
//   JEFE   "jefe"       encoded digits, key digit 5 ("1411321211165")
//   SUPER  "super"      plain text
//   BAJA   "baja"       plain text, inactive configurator (never accepted)
// Operators: OPER01 ("oper01"), OPER02 (no password).
namespace telvar::demo {

struct DemoUser {
    const char* key;
    const char* password;
    const char* storedAs; // "bcrypt", "encoded", "plain"
    bool activeConfigurator;
};

inline constexpr DemoUser kConfigurators[] = {
    {"ADMIN", "admin2026", "bcrypt", true},
    {"JEFE", "jefe", "encoded", true},
    {"SUPER", "super", "plain", true},
    {"BAJA", "baja", "plain", false},
};

// The bcrypt cost of ADMIN's stored hash.
inline constexpr int kBcryptCost = 10;

// The statements of qualitra.sql, comments removed, in order.
Result<QStringList> qualitraStatements();

// Creates and fills the Qualitra tables on an open connection (which must
// not have them yet), inside one transaction.
Status loadQualitraDemo(const Connection& cn);

// A new SQLite "Jet" file at mdbPath, protected by passBD, holding the
// demo's Qualitra database. Refuses to replace an existing file.
Status createQualitraDemoFile(const QString& mdbPath, const QString& passBD);

// The Jet data files of the demo: <dataPath>/<FRM>/<MAQ>/<PRO>.MDB for
// every format, machine and product the assignment chain links (machine ->
// product in PXM, product -> format in FXP), each a SQLite file protected by
// passBD with the table Datos (N, Fecha, Turno, Operador and one column per
// characteristic of the format, numeric or text by CAR.CARTIPO).
// Refuses to replace an existing file.
Status createDemoDataFiles(const QString& dataPath, const QString& passBD);
// The same, following the chain of an already loaded Qualitra database.
Status createDemoDataFiles(const Connection& qualitra, const QString& dataPath,
                           const QString& passBD);

// The server engines' data tables in the data database `data`:
// "Datos_" + format + "_" + machine + "_" + product, same columns.
Status createDemoDataTables(const Connection& qualitra, const Connection& data);

// The format/machine/product triples the chain links, in key order.
struct DataTarget {
    QString format;
    QString machine;
    QString product;
};
Result<QList<DataTarget>> demoDataTargets(const Connection& qualitra);

} // namespace telvar::demo
