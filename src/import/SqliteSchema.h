#pragma once

#include "import/JetSchema.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace telvar {

// How a Jet table is declared in the SQLite file the program opens. The
// declarations are those of the program's own SQLite files, so that it
// reads a converted table as it reads its own: a Text(n) column becomes
// VARCHAR(n), whose n is the defined size Connection::definedSize reads
// (and AmpliarTexto widens); dates become text in the form the program
// writes them.
namespace JetToSqlite {

// The declared type of column:
//   Text(n) VARCHAR(n)       Memo TEXT            Yes/No BOOLEAN (1/0)
//   Byte, Integer, Long Integer INTEGER           Single REAL
//   Double DOUBLE            Currency NUMERIC(19,4)
//   Decimal(p,s) NUMERIC(p,s)                     Date/Time DATETIME (text)
//   Binary, OLE Object BLOB  Replication ID VARCHAR(38) ("{...}")
QString declaredType(const JetColumn& column);

// CREATE TABLE for table. A primary key of one whole-number column is the
// table's INTEGER PRIMARY KEY (with AUTOINCREMENT for an AutoNumber, as the
// program's data tables number their rows), any other primary key a
// PRIMARY KEY constraint; required columns are NOT NULL.
QString createTable(const JetTable& table);

// CREATE [UNIQUE] INDEX for each index of table but its primary key. Index
// names are one namespace with the table names in SQLite, while Jet's are
// per table ("PrimaryKey" in every table): each is named <table>_<index>,
// made unique against taken (lower-case names, which it extends).
QStringList createIndexes(const JetTable& table, QSet<QString>& taken);

// INSERT of one row, a placeholder for each column in order.
QString insertRow(const JetTable& table);

// What of table's declaration SQLite cannot keep, one sentence each.
QStringList declarationNotes(const JetTable& table);

// Why a table cannot be named name in the SQLite file ("" when it can).
QString unusableTableName(const QString& name);

} // namespace JetToSqlite

} // namespace telvar
