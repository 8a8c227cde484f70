#include "common/MessageTable.h"

namespace telvar {

MessageTable::MessageTable(int maxSection, int maxNumber, int languages)
    : m_maxSection(maxSection), m_maxNumber(maxNumber), m_languages(languages)
{
    const qsizetype size = qsizetype(maxSection + 1) * (maxNumber + 1) * (languages + 1);
    m_texts.resize(size > 0 ? size : 0);
}

bool MessageTable::contains(int section, int number, int language) const
{
    return section >= 0 && section <= m_maxSection && number >= 0 && number <= m_maxNumber &&
           language >= 0 && language <= m_languages;
}

qsizetype MessageTable::indexOf(int section, int number, int language) const
{
    return (qsizetype(section) * (m_maxNumber + 1) + number) * (m_languages + 1) + language;
}

QString MessageTable::text(int section, int number, int language) const
{
    if (!contains(section, number, language))
        return {};
    return m_texts.at(indexOf(section, number, language));
}

void MessageTable::setText(int section, int number, int language, const QString& text)
{
    if (contains(section, number, language))
        m_texts[indexOf(section, number, language)] = text;
}

} // namespace telvar
