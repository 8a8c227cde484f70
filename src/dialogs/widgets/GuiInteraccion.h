#pragma once

#include "common/Interaccion.h"
#include "dialogs/widgets/MousePointer.h"

#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

namespace telvar {

struct Modulo1;
class MensaBox;

// The program's Interaccion on screen: message boxes, the timed message box,
// input boxes, the list picker and the busy pointer. Boxes open over the
// active window and carry the application's title: the one given here, or
// else QApplication::applicationDisplayName() at the time of the box.
// Create it after the QApplication and destroy it before; it must outlive
// every box it opens. modulo supplies the list picker's captions and is read
// when a picker opens, so a language loaded later applies.
//
// A notice is the timed box shown without modality and without waiting: the
// window under it keeps taking presses. It opens over the main window it
// finds (not over another box, which would take it along when it closes)
// without taking the keyboard from it, and is deleted once closed. While it
// is shown, a further notice joins it (the newest MaxNoticeTexts texts, the
// newest last) and starts its count-down again.
class GuiInteraccion final : public Interaccion {
public:
    static constexpr int MaxNoticeTexts = 10;

    explicit GuiInteraccion(const Modulo1& modulo, QString title = QString());
    ~GuiInteraccion() override;
    GuiInteraccion(const GuiInteraccion&) = delete;
    GuiInteraccion& operator=(const GuiInteraccion&) = delete;

    void messageBox(const QString& text, BoxKind kind) override;
    void mensaBox(const QString& mensaje, BoxKind icono, double duracion) override;
    void notice(const QString& text, BoxKind kind, double seconds) override;
    bool questionBox(const QString& question) override;
    std::optional<QString> inputBox(const QString& prompt,
                                    InputEcho echo = InputEcho::Normal) override;
    QString superListBox(const ListPickerRequest& request) override;
    void setMousePointer(PointerShape pointer) override;
    void beep() override;

    PointerShape mousePointer() const { return m_pointer.current(); }
    // The notice shown now, or null.
    MensaBox* shownNotice() const;

private:
    QString title() const;

    const Modulo1& m_modulo;
    QString m_title;
    MousePointer m_pointer;
    QPointer<MensaBox> m_notice;
    // The texts the shown notice holds, oldest first, and its icon.
    QStringList m_noticeTexts;
    BoxKind m_noticeKind = BoxKind::Plain;
};

} // namespace telvar
