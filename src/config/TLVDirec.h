#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

struct Modulo1;

// TLVDirec.IAU, in the installation directory, names the configuration
// database in use (its first field) and keeps the ones used before (the
// fields after it), one path per line.

// The file's path: the installation entry matching "TLVDirec.IAU" in any
// spelling, or RutaIAU + "TLVDirec.IAU" when there is none yet.
QString tlvDirecPath(const Modulo1& m);

// The first field: the path of the configuration database in use.
Result<QString> readConfigPath(const Modulo1& m);

// Every field in file order (blank lines, which name no database, are left out).
Result<QStringList> readConfigPaths(const Modulo1& m);

// Why path cannot be kept in the file ("" when it can): the file is read
// field by field, so a comma would split the path in two, a double quote
// would start a quoted field, a line break would end it early, and blanks
// around it would be dropped.
QString unstorablePathReason(const QString& path);
// The same reason in the language idioma (2 English, any other Spanish), for
// the chooser's boxes.
QString unstorablePathReason(const QString& path, int idioma);

// The line that holds path so that the file's reader gives it back whole:
// the path itself, or the path in double quotes where the reader would split
// or trim it unquoted (a comma, a line break, blanks around it). Nothing
// when neither form reads back (a path that needs quoting and holds a double
// quote); the reader never gives such a path.
std::optional<QByteArray> configPathLine(const QString& path);

// Replaces the file with paths, one per line. The first, the path in use, is
// written unquoted and refused (error 5) when unstorablePathReason finds a
// reason; each of the others is written as configPathLine gives it (empty
// ones are left out), so that an older path read from a quoted field goes
// back quoted. The contents are read back before they are written. They go
// to a temporary file in the same directory that then takes the file's place,
// so the file is either the old one or the new one, never half written.
Status writeConfigPaths(const Modulo1& m, const QStringList& paths);

} // namespace telvar
