#pragma once

#include "common/Interaccion.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <functional>
#include <optional>

namespace telvar::test {

// An Interaccion that records every box and answers prompts and list pickers
// from queues the test fills beforehand (an empty queue answers Cancel / "").
class RecordingInteraccion final : public Interaccion {
public:
    struct Box {
        // Notice: a timed box shown without waiting (Interaccion::notice).
        enum class Type { MessageBox, MensaBox, Notice, QuestionBox, InputBox, ListPicker } type;
        QString text;
        BoxKind icono = BoxKind::Plain;
        double duracion = 0;
        InputEcho echo = InputEcho::Normal; // input boxes only
    };

    void messageBox(const QString& text, BoxKind kind) override;
    void mensaBox(const QString& mensaje, BoxKind icono, double duracion) override;
    // Recorded among the boxes; nothing runs "while it is open", as nothing
    // waits for it.
    void notice(const QString& text, BoxKind kind, double seconds) override;
    bool questionBox(const QString& question) override;
    std::optional<QString> inputBox(const QString& prompt,
                                    InputEcho echo = InputEcho::Normal) override;
    QString superListBox(const ListPickerRequest& request) override;
    void setMousePointer(PointerShape pointer) override;
    void beep() override { ++beeps; }

    // The notices among boxes.
    QList<Box> notices() const;

    QList<Box> boxes;
    QList<ListPickerRequest> pickerRequests;
    QList<PointerShape> pointerChanges;
    QQueue<std::optional<QString>> inputAnswers;
    // Answers to question boxes, true for Yes (an empty queue answers No).
    QList<bool> questionAnswers;
    QQueue<QString> pickerAnswers;
    PointerShape mousePointer = PointerShape::Default;
    int beeps = 0;
    // Runs while a message box, timed box or question box is open (after it is recorded),
    // as events do under a real modal box (not for a notice).
    std::function<void(const Box&)> whileBoxOpen;
};

} // namespace telvar::test
