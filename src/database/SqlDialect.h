#pragma once

#include "database/Connection.h"

#include <QString>

namespace telvar {

// The program's statement, written once in the form its own SQL uses
// ("Select Top 1 ... [order by ...]", [bracketed] names), rewritten for the
// engine:
// - "Select Top n": kept for SQL Server and SQL Anywhere; "Select First n"
//   for Informix; the statement without "Top n" and ending in " LIMIT n"
//   for SQLite and PostgreSQL.
// - [Name] (a "]" inside written "]]"): kept for SQL Server and SQL
//   Anywhere. SQLite has no way to write "]" inside brackets, so it gets
//   `Name` with a "`" inside doubled: its own quoting that keeps the case and,
//   unlike "Name", is never taken for a text value when no such column
//   exists (SQLite reads a double-quoted word it cannot resolve as a string).
//   PostgreSQL gets "name" for a plain identifier ([A-Za-z_][A-Za-z0-9_]*),
//   folded to lower case as PostgreSQL folds unquoted names, so that a
//   bracketed and an unquoted spelling reach the same column; any other name
//   (Datos_F1_M1_P-A) can only exist quoted and keeps its case: "Name".
//   Informix gets a plain identifier bare and any other name as "Name",
//   which it reads as a name with delimited identifiers on (DELIMIDENT=y,
//   set by the engine layer).
// Text inside string literals and double-quoted names is left alone.
QString rewriteSql(SqlDialect dialect, const QString& statement);

// name in brackets for a statement written in the program's form, with a
// "]" inside doubled as SQL Server expects.
QString bracketName(const QString& name);

} // namespace telvar
