#pragma once

namespace telvar {

// The screen's mouse pointer as the program sets it (11 hourglass, 13 arrow
// and hourglass, anything else the default). It is a state, not a stack:
// setting the hourglass twice and the default once leaves the default. It
// only ever removes the application override cursors that it put up itself,
// and removes them all when destroyed.
class MousePointer final {
public:
    MousePointer() = default;
    ~MousePointer();
    MousePointer(const MousePointer&) = delete;
    MousePointer& operator=(const MousePointer&) = delete;

    void set(int pointer);
    int current() const { return m_pointer; }
    // How many override cursors of ours are up (0 or 1).
    int overridesHeld() const { return m_held; }

private:
    void restore();

    int m_pointer = 0;
    int m_held = 0;
};

} // namespace telvar
