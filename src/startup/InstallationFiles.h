#pragma once

#include "common/Error.h"

#include <QString>
#include <QtGlobal>

namespace telvar {

// Size bounds of the installation's files. Real files hold a few hundred
// bytes (the company, password, database-directory and shift files); the
// bound keeps a damaged or hostile file from costing unbounded time and
// memory.
inline constexpr qint64 kMaxInstallationFileBytes = 1024 * 1024;
// The language file holds every message in every language: a few hundred
// kilobytes in practice. 16 MiB leaves room for a hundred sections of a
// hundred messages in eight languages of 1000 UTF-16 characters each.
inline constexpr qint64 kMaxLanguageFileBytes = 16 * 1024 * 1024;

// Ruta without surrounding blanks, ending in a path separator: the native
// separator is appended unless the last character is already ":", "\" or "/".
QString RutaConBarra(const QString& Ruta);

// The path of the entry called name in directory dir, matching the name
// case-insensitively as the installation's original file system did
// ("QLDIREC.IAU" finds QLDirec.iau). An exact match wins over other spellings;
// among several other spellings the first in sorted order is taken. When no
// entry matches, the path as written (dir + name) is returned, so that
// callers report the name they looked for. dir ends in a separator.
QString findInstallationFile(const QString& dir, const QString& name);

// Error 7 (FileTooLarge) when the file at path holds more than maxBytes;
// displayName names the file in the description. A missing file passes: its
// reader reports it.
Status checkFileSize(const QString& path, const QString& displayName, qint64 maxBytes);

} // namespace telvar
