#include "support/RecordingInteraccion.h"

namespace telvar::test {

void RecordingInteraccion::messageBox(const QString& text, BoxKind kind)
{
    boxes.append({Box::Type::MessageBox, text, kind, 0});
    if (whileBoxOpen)
        whileBoxOpen(boxes.back());
}

void RecordingInteraccion::mensaBox(const QString& mensaje, BoxKind icono, double duracion)
{
    boxes.append({Box::Type::MensaBox, mensaje, icono, duracion});
    if (whileBoxOpen)
        whileBoxOpen(boxes.back());
}

void RecordingInteraccion::notice(const QString& text, BoxKind kind, double seconds)
{
    boxes.append({Box::Type::Notice, text, kind, seconds});
}

QList<RecordingInteraccion::Box> RecordingInteraccion::notices() const
{
    QList<Box> found;
    for (const Box& box : boxes) {
        if (box.type == Box::Type::Notice)
            found.append(box);
    }
    return found;
}

bool RecordingInteraccion::questionBox(const QString& question)
{
    boxes.append({Box::Type::QuestionBox, question, BoxKind::Question, 0});
    if (whileBoxOpen)
        whileBoxOpen(boxes.back());
    return !questionAnswers.isEmpty() && questionAnswers.takeFirst();
}

std::optional<QString> RecordingInteraccion::inputBox(const QString& prompt, InputEcho echo)
{
    boxes.append({Box::Type::InputBox, prompt, BoxKind::Plain, 0, echo});
    if (inputAnswers.isEmpty())
        return std::nullopt;
    return inputAnswers.dequeue();
}

QString RecordingInteraccion::superListBox(const ListPickerRequest& request)
{
    boxes.append({Box::Type::ListPicker, request.Lista, BoxKind::Plain, 0});
    pickerRequests.append(request);
    if (pickerAnswers.isEmpty())
        return {};
    return pickerAnswers.dequeue();
}

void RecordingInteraccion::setMousePointer(PointerShape pointer)
{
    mousePointer = pointer;
    pointerChanges.append(pointer);
}

} // namespace telvar::test
