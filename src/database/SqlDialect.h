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
// - [Name]: kept for SQLite, SQL Server and SQL Anywhere; "name" for
//   PostgreSQL (folded to lower case as PostgreSQL folds unquoted names, so a
//   bracketed and an unquoted spelling reach the same column); a plain name
//   (or "Name" when it is not a plain identifier) for Informix.
// Text inside string literals and double-quoted names is left alone.
QString rewriteSql(Dialecto dialecto, const QString& statement);

// name in brackets for a statement written in the program's form, with a
// "]" inside doubled as SQL Server expects.
QString bracketName(const QString& name);

} // namespace telvar
