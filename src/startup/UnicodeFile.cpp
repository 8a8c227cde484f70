#include "startup/UnicodeFile.h"

namespace telvar {

QString UnicodeFile::OpenUnicode(const QString& Arch)
{
    close();
    m_file.setFileName(Arch);
    uchar b0 = 0;
    uchar b1 = 0;
    if (m_file.open(QIODevice::ReadOnly)) {
        readByte(b0);
        readByte(b1);
    }
    const int mark = b1 * 256 + b0;
    if (mark == 0xFEFF)
        return QStringLiteral("OK");
    return QString::number(mark);
}

bool UnicodeFile::readByte(uchar& byte)
{
    char c = 0;
    if (!m_file.isOpen() || !m_file.getChar(&c))
        return false;
    byte = static_cast<uchar>(c);
    return true;
}

QString UnicodeFile::LineInputUnicode()
{
    QString line;
    uchar low = 0;
    while (readByte(low)) {
        uchar high = 0;
        readByte(high);
        const auto unit = static_cast<char16_t>(high * 256 + low);
        if (unit == 10)
            break;
        if (unit != 13)
            line.append(QChar(unit));
    }
    return line;
}

bool UnicodeFile::atEnd() const
{
    return !m_file.isOpen() || m_file.atEnd();
}

void UnicodeFile::close()
{
    if (m_file.isOpen())
        m_file.close();
}

QByteArray unicodeFileBytes(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.reserve(2 + 2 * text.size());
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace telvar
