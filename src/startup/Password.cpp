#include "startup/Password.h"

#include <QFile>

namespace telvar {

PasswordDecoding decodificaPassword(const QByteArray& linea, const QString& nombre)
{
    PasswordDecoding result;
    if (linea.size() < 2) {
        result.error = nombre + QStringLiteral("\n\nThe first line holds ") +
                       QString::number(linea.size()) +
                       QStringLiteral(" character(s); the password must stand between two "
                                      "enclosing characters.");
        return result;
    }
    const QByteArray code = linea.mid(1, linea.size() - 2);
    for (qsizetype index = 0; index < code.size(); ++index) {
        const int i = int(index) + 1;
        const int a = uchar(code.at(index));
        const QChar c = QChar(char16_t(a));
        if (a < 33 || a > 126)
            result.avisos.append(QStringLiteral("Character [") + c +
                                 QStringLiteral("] is not allowed"));
        int d = a - 2 * i;
        if (d < 33)
            d += 94;
        if (i >= kFirstUndecodablePosition && (d < 33 || d > 126)) {
            result.error = nombre +
                           QStringLiteral("\n\nThe password is too long to decode: "
                                          "character ") +
                           QString::number(i) + QStringLiteral(" [") + c +
                           QStringLiteral("] decodes to code ") + QString::number(d) +
                           QStringLiteral(", outside 33..126.");
            result.PassBD.clear();
            return result;
        }
        result.PassBD.append(QChar(char16_t(d)));
    }
    return result;
}

std::optional<QByteArray> leePrimeraLinea(const QString& ruta)
{
    QFile file(ruta);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    qsizetype end = 0;
    while (end < data.size() && data.at(end) != '\r' && data.at(end) != '\n')
        ++end;
    return data.left(end);
}

std::optional<QByteArray> codificaPassword(const QString& PassBD)
{
    QByteArray linea("\"");
    for (qsizetype index = 0; index < PassBD.size(); ++index) {
        const int i = int(index) + 1;
        const int d = PassBD.at(index).unicode();
        if (d < 33 || d > 126)
            return std::nullopt;
        int a = d + 2 * i;
        if (a > 126)
            a -= 94;
        if (a < 33 || a > 126)
            return std::nullopt;
        linea.append(char(a));
    }
    return linea + "\"";
}

} // namespace telvar
