#pragma once

#include <cmath>

namespace telvar {

// Lengths in the windows' design unit: 1440 twips to the inch, so 15 twips
// per pixel at 96 dpi. Screens with another logical dpi scale accordingly.
inline int twipsToPixels(double twips, double logicalDpi = 96.0)
{
    return static_cast<int>(std::lround(twips / 15.0 * logicalDpi / 96.0));
}

inline double pixelsToTwips(double pixels, double logicalDpi = 96.0)
{
    return pixels * 15.0 * 96.0 / logicalDpi;
}

} // namespace telvar
