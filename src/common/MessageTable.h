#pragma once

#include <QString>
#include <QStringList>

namespace telvar {

// The three-dimensional message table (section, number, language), each
// index from 0. Entries never written, and lookups outside the table, are "".
class MessageTable final {
public:
    MessageTable() = default;
    MessageTable(int maxSection, int maxNumber, int languages);

    int maxSection() const { return m_maxSection; }
    int maxNumber() const { return m_maxNumber; }
    int languages() const { return m_languages; }

    bool contains(int section, int number, int language) const;
    QString text(int section, int number, int language) const;
    void setText(int section, int number, int language, const QString& text);

private:
    qsizetype indexOf(int section, int number, int language) const;

    int m_maxSection = -1;
    int m_maxNumber = -1;
    int m_languages = -1;
    QStringList m_texts;
};

} // namespace telvar
