#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// SQLite's own statement text, read and written token by token: quoting,
// the declarations of sqlite_master, and the checks a repair makes before it
// runs a statement it read from a damaged file.
namespace SqliteSql {

// name as a quoted SQLite identifier: "name", a double quote inside doubled.
QString quoteIdentifier(const QString& name);

// text as an SQL string literal: 'text', an apostrophe inside doubled.
QString quoteLiteral(const QString& text);

// The CREATE TABLE statement createSql (as SQLite keeps it in sqlite_master)
// with the declared type of column (matched case-insensitively) given the
// size width: "TEXT(6)" becomes "TEXT(8)", "VARCHAR(6)" becomes
// "VARCHAR(8)", a type without a size becomes "<type>(8)" and a column
// without a type gets "TEXT(8)". Everything else in the statement (other
// columns, constraints, quoting, comments) is kept as written. An error names
// the column when the statement has no such column or cannot be read. When
// newName is given, the statement creates the table under that name.
Result<QString> withColumnWidth(const QString& createSql, const QString& column, int width,
                                const QString& newName = {});

// True when sql is exactly one statement "CREATE [UNIQUE] <type> [IF NOT
// EXISTS] <name> ..." (type "table", "index", "view" or "trigger"; UNIQUE
// only for an index) whose object is named name, unqualified by a schema
// (so it can only be made in the database it runs on) and not temporary,
// with nothing after it but blanks, comments and one closing ";". A
// trigger's body, between its BEGIN and its final END, may hold the ";"s
// that end its statements. Anything else, such as two statements, a
// statement of another kind, another object's name, is refused.
bool isSingleCreate(const QString& sql, const QString& type, const QString& name);

} // namespace SqliteSql

} // namespace telvar
