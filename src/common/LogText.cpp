#include "common/LogText.h"

namespace telvar {

namespace {

bool breaksALine(char16_t c)
{
    // C0 controls, DEL and the C1 controls (U+0085, next line, among them).
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return true;
    return c == 0x2028 || c == 0x2029;
}

} // namespace

QString logLineText(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (breaksALine(c.unicode()))
            c = QChar(QChar::ReplacementCharacter);
    }
    return line;
}

} // namespace telvar
