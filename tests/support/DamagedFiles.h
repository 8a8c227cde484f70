#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace telvar::test {

// SQLite "Jet" files in the states a real installation meets them. Each
// function fails the current test (gtest ADD_FAILURE) when it cannot build
// the file. The database's tests make whole files with these; the
// configuration's tests damage their own configuration databases with the
// recipes at the end.
namespace DamagedFiles {

// A password-protected data file with the table Datos (N AUTOINCREMENT,
// Fecha, Operador, DIAM) holding rows 1..rows, and an index on Fecha.
void makeDataFile(const QString& path, const QString& passBD, int rows);

// A text file under a database's name (a report saved as .MDB): not a
// database at all, and nothing in it to repair.
void makeTextFile(const QString& path);

// A data file (as makeDataFile) whose last pages were lost, where those
// pages held only free space: the rows of a large table dropped before.
// SQLite refuses it as malformed because its header counts more pages than
// the file has; every row of Datos is still there.
void makeFileWithLostFreeSpace(const QString& path, const QString& passBD, int rows);

// A data file cut to half its length: rows of Datos are lost with it.
void makeHalfFile(const QString& path, const QString& passBD, int rows);

// The demo configuration database (twelve HTMCONFI ports, ten HTMRELOJ
// clocks) cut to its first 16384 bytes: only a page of an index is lost,
// every row still reads, but the header counts more pages than the file
// holds, so SQLite refuses the file as malformed.
void makeConfigWithLostIndexPage(const QString& path, const QString& passBD);

// A data file (as makeDataFile, a few rows) whose schema also holds the
// planted entries (type, name, sql): a schema SQLite itself cannot parse,
// so opening the file fails as damaged.
struct PlantedEntry {
    QString type;
    QString name;
    QString sql;
};
void makeFileWithPlantedSchema(const QString& path, const QString& passBD,
                               const QList<PlantedEntry>& entries);

// The number of rows in Datos, opening the file directly (-1 on failure).
int countRows(const QString& path, const QString& passBD);

QByteArray contents(const QString& path);

// Recipes for a file database that exists, protected by passBD. Its rows
// stay intact and only SQLite's bookkeeping breaks, so that the compact and
// repair can mend it.

// The free pages at the end of the file are lost: a large table is added
// and dropped again, and the file is cut inside the pages it leaves free.
// The header then counts more pages than the file has, and SQLite refuses
// to open it.
void loseTrailingFreePages(const QString& path, const QString& passBD);

// Garbage over the root page of the index indexName: the file opens, and a
// statement that reads through the index fails as damaged.
void overwriteIndexRoot(const QString& path, const QString& passBD, const QString& indexName);

} // namespace DamagedFiles

} // namespace telvar::test
