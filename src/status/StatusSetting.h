#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>

namespace telvar {

// The installation's wish for the status server, from TelvarService.ini in
// the installation's folder:
//
//   [status]
//   port=9464
//
// A missing file, a missing [status] section or port, and port=0 all leave
// the server off. The file is read as hostile: at most kMostBytes of it (a
// larger file is refused whole), names compared without regard to case,
// blank lines and lines starting with ';' or '#' skipped, and sections
// other than [status] left to whoever reads them. In [status] a line that
// is not name=value, a port that is not a whole number from 0 to 65535
// (digits only) and a port given twice are errors naming the file and the
// line; the server then stays off.
struct StatusSetting {
    static constexpr qint64 kMostBytes = 64 * 1024;

    // 0: off.
    quint16 port = 0;

    // The setting's file in an installation's folder.
    static QString pathForInstallation(const QString& appPath);
    // Reads path; texts of errors in the language idioma.
    static Result<StatusSetting> read(const QString& path, int idioma);
    // The same from the file's bytes (path only names it in errors).
    static Result<StatusSetting> parse(const QByteArray& bytes, const QString& path, int idioma);
};

} // namespace telvar
