#include "dialogs/widgets/MousePointer.h"

#include <QCursor>
#include <QGuiApplication>

namespace telvar {

MousePointer::~MousePointer()
{
    restore();
}

void MousePointer::set(PointerShape pointer)
{
    if (pointer == PointerShape::Default) {
        restore();
        m_pointer = PointerShape::Default;
        return;
    }
    if (!qGuiApp)
        return;
    const QCursor cursor(pointer == PointerShape::Hourglass ? Qt::WaitCursor : Qt::BusyCursor);
    if (m_held == 0) {
        QGuiApplication::setOverrideCursor(cursor);
        m_held = 1;
    } else if (m_pointer != pointer) {
        QGuiApplication::changeOverrideCursor(cursor);
    }
    m_pointer = pointer;
}

void MousePointer::restore()
{
    // Without an application there is no cursor stack left to touch.
    if (qGuiApp) {
        for (; m_held > 0; --m_held)
            QGuiApplication::restoreOverrideCursor();
    }
    m_held = 0;
}

} // namespace telvar
