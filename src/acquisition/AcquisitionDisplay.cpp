#include "acquisition/AcquisitionDisplay.h"

namespace telvar {

void AcquisitionDisplay::setText(Field field, const QString& text)
{
    QString& current = m_texts[index(field)];
    if (current == text)
        return;
    current = text;
    emit textChanged(field, text);
}

} // namespace telvar
