#include "portform/widgets/FormInteraccion.h"

#include <QPointer>
#include <QWidget>

namespace telvar {

namespace {

// Gives the focus back to had, in window, once a box has closed.
class FocusReturn final {
public:
    explicit FocusReturn(QWidget& window) : m_window(&window), m_had(window.focusWidget()) {}
    ~FocusReturn()
    {
        if (!m_window || !m_window->isVisible())
            return;
        m_window->activateWindow();
        if (m_had && m_had->isVisible() && m_had->isEnabled() && m_window->isAncestorOf(m_had))
            m_had->setFocus(Qt::ActiveWindowFocusReason);
    }
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_had;
};

} // namespace

template <typename Call> auto FormInteraccion::keepingFocus(Call call)
{
    const FocusReturn focusReturn(m_window);
    return call();
}

void FormInteraccion::messageBox(const QString& text, BoxKind kind)
{
    keepingFocus([&] { m_ui.messageBox(text, kind); });
}

void FormInteraccion::mensaBox(const QString& mensaje, BoxKind icono, double duracion)
{
    keepingFocus([&] { m_ui.mensaBox(mensaje, icono, duracion); });
}

bool FormInteraccion::questionBox(const QString& question)
{
    return keepingFocus([&] { return m_ui.questionBox(question); });
}

std::optional<QString> FormInteraccion::inputBox(const QString& prompt, InputEcho echo)
{
    return keepingFocus([&] { return m_ui.inputBox(prompt, echo); });
}

QString FormInteraccion::superListBox(const ListPickerRequest& request)
{
    return keepingFocus([&] { return m_ui.superListBox(request); });
}

} // namespace telvar
