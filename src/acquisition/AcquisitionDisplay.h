#pragma once

#include <QObject>
#include <QString>
#include <array>

namespace telvar {

// What a page box shows of a page: its first maxChars characters, long
// lines broken every maxLine characters (laying out one long line costs
// the square of its length), and a last line saying how much was left out.
// The page itself is kept whole by whoever read it.
QString pageExcerpt(const QString& page, qsizetype maxChars = 64 * 1024, qsizetype maxLine = 1024);

// The texts the acquisition shows in the main window: the page last read,
// the last reading, what the page's markers named and the status line. The
// window shows them; the acquisition writes them.
class AcquisitionDisplay final : public QObject {
    Q_OBJECT
public:
    enum class Field { lblStatus, lblDato, lblFormato, lblMaquina, lblProducto, txtSource };
    static constexpr std::size_t FieldCount = 6;

    using QObject::QObject;

    const QString& text(Field field) const { return m_texts[index(field)]; }
    // Sets a field; textChanged follows only when the text changes.
    void setText(Field field, const QString& text);

signals:
    void textChanged(telvar::AcquisitionDisplay::Field field, const QString& text);

private:
    static std::size_t index(Field field) { return static_cast<std::size_t>(field); }

    std::array<QString, FieldCount> m_texts;
};

} // namespace telvar
