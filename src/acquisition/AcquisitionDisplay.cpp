#include "acquisition/AcquisitionDisplay.h"

namespace telvar {

QString pageExcerpt(const QString& page, qsizetype maxChars, qsizetype maxLine)
{
    const QStringView shown = QStringView(page).left(maxChars);
    QString excerpt;
    excerpt.reserve(shown.size() + shown.size() / std::max<qsizetype>(maxLine, 1) + 80);
    qsizetype lineLength = 0;
    for (const QChar c : shown) {
        if (c == QLatin1Char('\n')) {
            lineLength = 0;
        } else if (lineLength == maxLine) {
            excerpt += QLatin1Char('\n');
            lineLength = 0;
        }
        excerpt += c;
        if (c != QLatin1Char('\n'))
            ++lineLength;
    }
    if (page.size() > shown.size())
        excerpt += QStringLiteral("\n[... ") + QString::number(page.size() - shown.size()) +
                   QStringLiteral(" more characters of the page are not shown]");
    return excerpt;
}

void AcquisitionDisplay::setText(Field field, const QString& text)
{
    QString& current = m_texts[index(field)];
    if (current == text)
        return;
    current = text;
    emit textChanged(field, text);
}

} // namespace telvar
