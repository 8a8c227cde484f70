#include "database/ConnectionString.h"

namespace telvar {

namespace {

bool isQuote(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

// Reads the value starting at pos (just after "="); returns it unquoted and
// moves pos past the value's closing ";" (or to the end).
QString readValue(const QString& text, qsizetype& pos)
{
    const qsizetype start = pos;
    const qsizetype end = fieldValueEnd(text, start);
    QString value;
    if (start < text.size() && isQuote(text.at(start))) {
        const QChar quote = text.at(start);
        // Between the opening quote and the closing one; doubled quotes stand
        // for one.
        const qsizetype closing =
            end > start + 1 && end - 1 < text.size() && text.at(end - 1) == quote ? end - 1 : end;
        value = text.mid(start + 1, closing - start - 1);
        value.replace(QString(2, quote), QString(quote));
    } else {
        value = text.mid(start, end - start);
    }
    pos = end;
    // Skip what follows a quoted value up to and including the ";".
    while (pos < text.size() && text.at(pos) != QLatin1Char(';'))
        ++pos;
    if (pos < text.size())
        ++pos;
    return value;
}

} // namespace

qsizetype fieldValueEnd(const QString& text, qsizetype valueStart)
{
    if (valueStart < text.size() && isQuote(text.at(valueStart))) {
        const QChar quote = text.at(valueStart);
        qsizetype i = valueStart + 1;
        while (i < text.size()) {
            if (text.at(i) == quote) {
                if (i + 1 < text.size() && text.at(i + 1) == quote) {
                    i += 2;
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return text.size();
    }
    const qsizetype semi = text.indexOf(QLatin1Char(';'), valueStart);
    return semi < 0 ? text.size() : semi;
}

ConnectionFields ConnectionFields::parse(const QString& connectionString)
{
    ConnectionFields result;
    qsizetype pos = 0;
    const QString& s = connectionString;
    while (pos < s.size()) {
        const qsizetype eq = s.indexOf(QLatin1Char('='), pos);
        const qsizetype semi = s.indexOf(QLatin1Char(';'), pos);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            // A field without "=": kept as a key with an empty value.
            const qsizetype end = semi < 0 ? s.size() : semi;
            const QString key = s.mid(pos, end - pos).trimmed();
            if (!key.isEmpty())
                result.m_fields.append({key, QString()});
            pos = end + 1;
            continue;
        }
        const QString key = s.mid(pos, eq - pos).trimmed();
        pos = eq + 1;
        const QString value = readValue(s, pos);
        result.m_fields.append({key, value});
    }
    return result;
}

std::optional<QString> ConnectionFields::value(const QString& key) const
{
    const QString wanted = key.trimmed();
    for (const auto& [k, v] : m_fields) {
        if (k.compare(wanted, Qt::CaseInsensitive) == 0)
            return v;
    }
    return std::nullopt;
}

QString replacePasswordField(const QString& Conexion, const QString& password)
{
    static const QString kPassword = QStringLiteral("Password=");
    const qsizetype p = Conexion.indexOf(kPassword);
    if (p < 0)
        return Conexion;
    const qsizetype valueStart = p + kPassword.size();
    const qsizetype valueEnd = fieldValueEnd(Conexion, valueStart);
    QString value = password;
    if (value.contains(QLatin1Char(';')) || (!value.isEmpty() && isQuote(value.at(0))) ||
        (!value.isEmpty() && value.at(0).isSpace())) {
        value.replace(QLatin1String("\""), QLatin1String("\"\""));
        value = QLatin1Char('"') + value + QLatin1Char('"');
    }
    return Conexion.left(valueStart) + value + Conexion.mid(valueEnd);
}

} // namespace telvar
