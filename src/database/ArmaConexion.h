#pragma once

#include <QString>

namespace telvar {

struct Modulo1;

// The connection string of the current engine (TipoBD) for a database file
// path ("[JET4]") or a database name (server engines); "" for an unknown tag.
QString ArmaConexion(const Modulo1& m, const QString& Ruta);

// True for the tags that name a server engine (three data fields each).
bool isServerTag(const QString& tag);
// True for every tag an entry of QLDirec.iau may start with.
bool isEngineTag(const QString& tag);

} // namespace telvar
