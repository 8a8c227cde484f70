#include "support/RecordingInteraccion.h"

namespace telvar::test {

void RecordingInteraccion::messageBox(const QString& text, BoxKind kind)
{
    boxes.append({Box::Type::MessageBox, text, static_cast<int>(kind), 0});
}

void RecordingInteraccion::mensaBox(const QString& mensaje, int icono, double duracion)
{
    boxes.append({Box::Type::MensaBox, mensaje, icono, duracion});
}

std::optional<QString> RecordingInteraccion::inputBox(const QString& prompt)
{
    boxes.append({Box::Type::InputBox, prompt, 0, 0});
    if (inputAnswers.isEmpty())
        return std::nullopt;
    return inputAnswers.dequeue();
}

QString RecordingInteraccion::superListBox(const ListPickerRequest& request)
{
    boxes.append({Box::Type::ListPicker, request.Lista, 0, 0});
    pickerRequests.append(request);
    if (pickerAnswers.isEmpty())
        return {};
    return pickerAnswers.dequeue();
}

void RecordingInteraccion::setMousePointer(int pointer)
{
    mousePointer = pointer;
    pointerChanges.append(pointer);
}

} // namespace telvar::test
