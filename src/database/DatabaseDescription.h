#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// A database as a person at the plant knows it, read from the connection
// string that names it: the file of a file database, or the database, server
// and engine (and user) of a server database. The connection string itself
// is the program's identity of a database, not something to show: it names
// providers of another platform and carries the password. Nothing here ever
// shows a password, and server messages that would echo it are masked.
namespace DatabaseDescription {

// The line that names Conexion's database, in the language idioma (2
// English, any other Spanish).
QString describe(const QString& Conexion, int idioma);

// error, a failure to open Conexion's database, with its description saying
// what is wrong and where, in the language idioma: the file that does not
// exist, cannot be read, is not a database or is damaged; the server that
// cannot be reached or refuses the user, with the server's own message. The
// number and source stay as they are. An error without a known cause keeps
// the engine's description.
Error explainOpenFailure(const Error& error, const QString& Conexion, int idioma);

// text with every occurrence of Conexion's password replaced by "***"
// (passwords shorter than three characters are not searched for: they would
// match ordinary words).
QString withoutPassword(const QString& text, const QString& Conexion);

} // namespace DatabaseDescription

} // namespace telvar
