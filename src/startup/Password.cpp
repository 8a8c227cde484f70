#include "startup/Password.h"

#include <QFile>

namespace telvar {

namespace {

// What stands at one end of the line where a double quote belongs, without
// showing a character that may belong to the code.
QString describeEnd(char c)
{
    const uchar code = static_cast<uchar>(c);
    if (code == ' ' || code == '\t')
        return QStringLiteral("a blank");
    if (code < 33 || code > 126)
        return QStringLiteral("the control or non-ASCII code ") + QString::number(code);
    return QStringLiteral("another character");
}

} // namespace

PasswordDecoding decodePassword(const QByteArray& line, const QString& displayName)
{
    PasswordDecoding result;
    if (line.size() < 2) {
        result.error = displayName + QStringLiteral("\n\nThe first line holds ") +
                       QString::number(line.size()) +
                       QStringLiteral(" character(s); the password must stand between two "
                                      "double quotes.");
        return result;
    }
    for (const auto& [position, name] :
         {std::pair{qsizetype(0), "begin"}, {line.size() - 1, "end"}}) {
        if (line.at(position) != '"') {
            result.error = displayName +
                           QStringLiteral("\n\nThe first line must hold the password between "
                                          "two double quotes, but it does not ") +
                           QLatin1String(name) + QStringLiteral(" with one: it ") +
                           QLatin1String(name) + QStringLiteral("s with ") +
                           describeEnd(line.at(position)) + QStringLiteral(".");
            return result;
        }
    }
    const QByteArray code = line.mid(1, line.size() - 2);
    for (qsizetype index = 0; index < code.size(); ++index) {
        const int i = static_cast<int>(index) + 1;
        const int a = static_cast<uchar>(code.at(index));
        const QChar c = QChar(static_cast<char16_t>(a));
        if (a < 33 || a > 126)
            result.warnings.append(QStringLiteral("Character [") + c +
                                   QStringLiteral("] is not allowed"));
        int d = a - 2 * i;
        if (d < 33)
            d += 94;
        if (i >= kFirstUndecodablePosition && (d < 33 || d > 126)) {
            result.error = displayName +
                           QStringLiteral("\n\nThe password is too long to decode: "
                                          "character ") +
                           QString::number(i) + QStringLiteral(" decodes to code ") +
                           QString::number(d) + QStringLiteral(", outside 33..126.");
            result.PassBD.clear();
            return result;
        }
        result.PassBD.append(QChar(static_cast<char16_t>(d)));
    }
    return result;
}

std::optional<QByteArray> readFirstLine(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.read(maxBytes);
    qsizetype end = 0;
    while (end < data.size() && data.at(end) != '\r' && data.at(end) != '\n')
        ++end;
    return data.left(end);
}

std::optional<QByteArray> encodePassword(const QString& PassBD)
{
    QByteArray line("\"");
    for (qsizetype index = 0; index < PassBD.size(); ++index) {
        const int i = static_cast<int>(index) + 1;
        const int d = PassBD.at(index).unicode();
        if (d < 33 || d > 126)
            return std::nullopt;
        int a = d + 2 * i;
        if (a > 126)
            a -= 94;
        if (a < 33 || a > 126)
            return std::nullopt;
        line.append(static_cast<char>(a));
    }
    return line + "\"";
}

} // namespace telvar
