#include "dialogs/widgets/TwipsPixels.h"

#include "common/Twips.h"

#include <QWidget>

namespace telvar {

QRect toPixels(const TwipsRect& rect, const QWidget& onScreen)
{
    const double dpiX = onScreen.logicalDpiX();
    const double dpiY = onScreen.logicalDpiY();
    return QRect(twipsToPixels(rect.left, dpiX), twipsToPixels(rect.top, dpiY),
                 twipsToPixels(rect.width, dpiX), twipsToPixels(rect.height, dpiY));
}

} // namespace telvar
