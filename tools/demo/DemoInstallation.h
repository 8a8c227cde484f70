#pragma once

#include "common/Error.h"

#include <QString>
#include <functional>

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

// Draws a cover picture with its title and subtitle into path (the demo's
// own is drawDemoCover, in telvar_demo_covers: drawing needs QtGui).
using CoverPainter =
    std::function<Status(const QString& path, const QString& title, const QString& subtitle)>;

// Lays out a complete demo installation beside the program, its cover
// pictures drawn by drawCover.
Status buildDemoInstallation(const DemoInstallationOptions& options, const CoverPainter& drawCover);

} // namespace telvar::demo
