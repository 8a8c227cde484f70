#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar::demo {

// Draws the demo's cover picture (CARATULA<n>.JPG): a small control chart
// under title and subtitle, saved as a JPEG at path. Fonts need a
// QGuiApplication (no screen: the offscreen platform will do).
Status drawDemoCover(const QString& path, const QString& title, const QString& subtitle);

} // namespace telvar::demo
