#pragma once

#include <QString>

namespace telvar {

// Ruta without surrounding blanks, ending in a path separator: the native
// separator is appended unless the last character is already ":", "\" or "/".
QString RutaConBarra(const QString& Ruta);

// The path of the entry called nombre in directory dir, matching the name
// case-insensitively as the installation's original file system did
// ("QLDIREC.IAU" finds QLDirec.iau). An exact match wins over other spellings;
// among several other spellings the first in sorted order is taken. When no
// entry matches, the path as written (dir + nombre) is returned, so that
// callers report the name they looked for. dir ends in a separator.
QString findInstallationFile(const QString& dir, const QString& nombre);

} // namespace telvar
