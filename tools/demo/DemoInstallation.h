#pragma once

#include "common/RuntimeError.h"

#include <QString>

namespace telvar::demo {

struct DemoInstallationOptions {
    // Directory of the built program; the installation goes into its IAu
    // subdirectory, the demo databases beside it.
    QString programDir;
    // The database password that protects the demo's file databases.
    QString passBD = QStringLiteral("Telvar26");
    // Rebuild the databases even when they exist (the installation's text
    // files are always rewritten).
    bool recreateDatabases = false;
};

// Lays out a complete demo installation beside the program.
Status buildDemoInstallation(const DemoInstallationOptions& options);

// The encoded form of a database password, as the installation's password
// file keeps it (the inverse of the decoding done at start-up).
Result<QByteArray> encodeInstallationPassword(const QString& password);

} // namespace telvar::demo
