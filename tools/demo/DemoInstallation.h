#pragma once

#include "common/Error.h"

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

} // namespace telvar::demo
