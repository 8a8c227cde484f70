#pragma once

namespace telvar {

// A control's place in its window, in twips (see common/Twips.h).
struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    double right() const { return left + width; }
    double bottom() const { return top + height; }

    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

} // namespace telvar
