#pragma once

#include <QString>

namespace telvar {

// The folder where an installation keeps the files of its running router
// (outbox, run state, status file, log of unrecorded readings): the
// installation's own folder when it can be written; otherwise a folder of
// the user's data directory named after the installation's path
// ("Telvar-" and 16 hexadecimal digits of its SHA-256), so that two
// installations run by one user never share those files. The folder is
// made when missing. Ends without a separator.
QString installationFolder(const QString& appPath);

// The folder of the user's data directory that stands for the installation
// at appPath (made when missing), whether or not appPath can be written.
QString installationDataFolder(const QString& appPath);

// The name of the data-directory folder that stands for the installation at
// appPath: "Telvar-" and the first 16 hexadecimal digits of the SHA-256 of
// its canonical path.
QString installationFolderName(const QString& appPath);

} // namespace telvar
