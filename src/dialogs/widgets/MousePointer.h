#pragma once

#include "common/Interaccion.h"

namespace telvar {

// The screen's mouse pointer as the program sets it (hourglass, arrow and
// hourglass, or the default). It is a state, not a stack:
// setting the hourglass twice and the default once leaves the default. It
// only ever removes the application override cursors that it put up itself,
// and removes them all when destroyed.
class MousePointer final {
public:
    MousePointer() = default;
    ~MousePointer();
    MousePointer(const MousePointer&) = delete;
    MousePointer& operator=(const MousePointer&) = delete;

    void set(PointerShape pointer);
    PointerShape current() const { return m_pointer; }
    // How many override cursors of ours are up (0 or 1).
    int overridesHeld() const { return m_held; }

private:
    void restore();

    PointerShape m_pointer = PointerShape::Default;
    int m_held = 0;
};

} // namespace telvar
