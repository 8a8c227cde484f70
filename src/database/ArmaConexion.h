#pragma once

#include <QString>

namespace telvar {

struct Modulo1;

// What a connection string is built from besides the database's path or
// name: the engine tag and the entry's server, user and password.
struct ConnectionTarget {
    QString TipoBD;
    QString Servidor;
    QString UsuarioBD;
    QString PassBD;
};

// The engine tag of the program's file databases.
inline constexpr const char* kJetTag = "[JET4]";

// The connection string of a file database: the one place it is spelt.
QString jetConnectionString(const QString& path, const QString& passBD);

// The connection string of target's engine for a database file path
// ("[JET4]") or a database name (server engines); "" for an unknown tag.
QString ArmaConexion(const ConnectionTarget& target, const QString& Ruta);

// The same, with the engine and fields start-up left in m.
QString ArmaConexion(const Modulo1& m, const QString& Ruta);

// True for the tags that name a server engine (three data fields each).
bool isServerTag(const QString& tag);
// True for every tag an entry of QLDirec.iau may start with.
bool isEngineTag(const QString& tag);

} // namespace telvar
