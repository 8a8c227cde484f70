#pragma once

#include "common/Interaccion.h"
#include "dialogs/widgets/MousePointer.h"

#include <QString>

class QWidget;

namespace telvar {

struct Modulo1;

// The program's Interaccion on screen: message boxes, the timed message box,
// input boxes, the list picker and the busy pointer. Boxes open over the
// active window and carry the application's title: the one given here, or
// else QApplication::applicationDisplayName() at the time of the box.
// Create it after the QApplication and destroy it before; it must outlive
// every box it opens. modulo supplies the list picker's captions and is read
// when a picker opens, so a language loaded later applies.
class GuiInteraccion final : public Interaccion {
public:
    explicit GuiInteraccion(const Modulo1& modulo, QString title = QString());

    void messageBox(const QString& text, BoxKind kind) override;
    void mensaBox(const QString& mensaje, BoxKind icono, double duracion) override;
    bool questionBox(const QString& question) override;
    std::optional<QString> inputBox(const QString& prompt,
                                    InputEcho echo = InputEcho::Normal) override;
    QString superListBox(const ListPickerRequest& request) override;
    void setMousePointer(PointerShape pointer) override;
    void beep() override;

    PointerShape mousePointer() const { return m_pointer.current(); }

private:
    QString title() const;

    const Modulo1& m_modulo;
    QString m_title;
    MousePointer m_pointer;
};

} // namespace telvar
