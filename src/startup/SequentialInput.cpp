#include "startup/SequentialInput.h"

#include "common/ErrorNumbers.h"
#include "startup/WholeNumber.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace telvar {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isValidUtf8(const QByteArray& data)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(data);
    return !decoder.hasError();
}

Error inputError(long long number, const QString& description)
{
    return Error{number, QStringLiteral("Telvar"), description};
}

} // namespace

Result<SequentialInput> SequentialInput::open(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return inputError(ErrorNumber::FileNotFound, QStringLiteral("File not found: ") + path);
    if (const Status size = checkFileSize(path, path, maxBytes); !size)
        return size.error();
    if (!file.open(QIODevice::ReadOnly))
        return inputError(ErrorNumber::PathFileAccess,
                          QStringLiteral("Path/File access error: ") + path + QStringLiteral(" (") +
                              file.errorString() + QStringLiteral(")"));
    // The size may change between the check and the reading: never read past the bound.
    const QByteArray data = file.read(maxBytes + 1);
    if (data.size() > maxBytes)
        return inputError(ErrorNumber::FileTooLarge,
                          QStringLiteral("File too large: ") + path +
                              QStringLiteral(" holds more than ") + QString::number(maxBytes) +
                              QStringLiteral(" bytes, the most allowed for it"));
    return SequentialInput(data, path);
}

SequentialInput::SequentialInput(const QByteArray& data, const QString& path)
    : m_data(data), m_path(path), m_utf8(isValidUtf8(data))
{
}

bool SequentialInput::atSeparator() const
{
    const char c = m_data.at(m_pos);
    return c == ',' || c == '\r' || c == '\n';
}

void SequentialInput::skipBlanks()
{
    while (!atEnd() && isBlank(m_data.at(m_pos)))
        ++m_pos;
}

// Consumes the separator at the current position: a comma, or one line end
// (CR LF counts as one).
void SequentialInput::skipSeparator()
{
    if (atEnd())
        return;
    const char c = m_data.at(m_pos++);
    if (c == '\r') {
        if (!atEnd() && m_data.at(m_pos) == '\n')
            ++m_pos;
        ++m_line;
    } else if (c == '\n') {
        ++m_line;
    }
}

Result<QString> SequentialInput::next()
{
    if (atEnd())
        return inputError(ErrorNumber::InputPastEndOfFile,
                          QStringLiteral("Input past end of file: ") + m_path +
                              QStringLiteral(" has no field ") +
                              QString::number(m_fieldNumber + 1));
    ++m_fieldNumber;
    m_fieldLine = m_line;
    skipBlanks();

    QByteArray field;
    if (!atEnd() && m_data.at(m_pos) == '"') {
        ++m_pos;
        const qsizetype close = m_data.indexOf('"', m_pos);
        const qsizetype end = close < 0 ? m_data.size() : close;
        field = m_data.mid(m_pos, end - m_pos);
        m_line += int(field.count('\n')) + int(field.count('\r')) - int(field.count("\r\n"));
        m_pos = close < 0 ? end : end + 1;
        while (!atEnd() && !atSeparator())
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (!atEnd() && !atSeparator())
            ++m_pos;
        field = m_data.mid(start, m_pos - start);
        qsizetype length = field.size();
        while (length > 0 && isBlank(field.at(length - 1)))
            --length;
        field.truncate(length);
    }
    skipSeparator();
    return m_utf8 ? QString::fromUtf8(field) : QString::fromLatin1(field);
}

Result<qint16> SequentialInput::nextInteger()
{
    Result<QString> field = next();
    if (!field)
        return field.error();
    const QString where = QStringLiteral("field ") + QString::number(m_fieldNumber) +
                          QStringLiteral(" (line ") + QString::number(m_fieldLine) +
                          QStringLiteral(") of ") + m_path;
    const WholeNumber number = parseWholeNumber16(field.value());
    switch (number.outcome) {
    case WholeNumber::Outcome::Ok:
        break;
    case WholeNumber::Outcome::NotANumber:
        return inputError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch: ") + where +
                                                         QStringLiteral(" is \"") + field.value() +
                                                         QStringLiteral("\", not a whole number"));
    case WholeNumber::Outcome::Overflow:
        return inputError(ErrorNumber::Overflow,
                          QStringLiteral("Overflow: ") + where + QStringLiteral(" is ") +
                              field.value().trimmed() + QStringLiteral(", outside -32768..32767"));
    }
    return number.value;
}

} // namespace telvar
