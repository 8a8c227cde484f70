#pragma once

#include "dialogs/TwipsRect.h"

#include <QRect>

class QWidget;

namespace telvar {

// A rectangle in twips as pixels on the screen that shows the widget (its
// logical dpi, horizontally and vertically).
QRect toPixels(const TwipsRect& rect, const QWidget& onScreen);

} // namespace telvar
