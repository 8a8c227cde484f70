#pragma once

#include "common/Interaccion.h"

class QWidget;

namespace telvar {

// The boxes of one window: every call goes to ui, and when it returns the
// window is made active again with the focus back on the control that had
// it (a closed box must not leave the keyboard going nowhere). The focus
// comes back as a window's activation does (Qt::ActiveWindowFocusReason),
// so that it is no control newly taking the focus.
class FormInteraccion final : public Interaccion {
public:
    FormInteraccion(Interaccion& ui, QWidget& window) : m_ui(ui), m_window(window) {}

    void messageBox(const QString& text, BoxKind kind) override;
    void mensaBox(const QString& mensaje, BoxKind icono, double duracion) override;
    // Shown without waiting: the focus never leaves the window for it.
    void notice(const QString& text, BoxKind kind, double seconds) override
    {
        m_ui.notice(text, kind, seconds);
    }
    bool questionBox(const QString& question) override;
    std::optional<QString> inputBox(const QString& prompt,
                                    InputEcho echo = InputEcho::Normal) override;
    QString superListBox(const ListPickerRequest& request) override;
    void setMousePointer(PointerShape pointer) override { m_ui.setMousePointer(pointer); }
    void beep() override { m_ui.beep(); }

private:
    template <typename Call> auto keepingFocus(Call call);

    Interaccion& m_ui;
    QWidget& m_window;
};

} // namespace telvar
