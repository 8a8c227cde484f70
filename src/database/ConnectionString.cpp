#include "database/ConnectionString.h"

#include <QStringList>

namespace telvar {

namespace {

const QString kProvider = QStringLiteral("Provider");

// Every key the program's connection strings use.
const QStringList& knownKeys()
{
    static const QStringList keys = {
        QStringLiteral("Provider"),
        QStringLiteral("Persist Security Info"),
        QStringLiteral("Data Source"),
        QStringLiteral("Initial Catalog"),
        QStringLiteral("User ID"),
        QStringLiteral("Password"),
        QStringLiteral("Integrated Security"),
        QStringLiteral("ENG"),
        QStringLiteral("DBN"),
        QStringLiteral("Links"),
        QStringLiteral("Host"),
        QStringLiteral("Database"),
        QStringLiteral("Jet OLEDB:Database Password"),
        QStringLiteral("Jet OLEDB:Engine Type"),
    };
    return keys;
}

// The field sequences ArmaConexion writes for a provider (the repair's
// "Jet OLEDB:Engine Type" appended to a Jet string included); empty for a
// provider it does not write.
QList<QStringList> layoutsOf(const QString& provider)
{
    const QString p = provider.trimmed().toLower();
    const QString source = QStringLiteral("Data Source");
    const QString user = QStringLiteral("User ID");
    const QString password = QStringLiteral("Password");
    if (p == QLatin1String("microsoft.jet.oledb.4.0")) {
        const QStringList jet = {kProvider, source, QStringLiteral("Jet OLEDB:Database Password")};
        return {jet, jet + QStringList{QStringLiteral("Jet OLEDB:Engine Type")}};
    }
    if (p.startsWith(QLatin1String("sqloledb")) || p.startsWith(QLatin1String("msoledbsql"))) {
        const QStringList head = {kProvider, QStringLiteral("Persist Security Info"), source,
                                  QStringLiteral("Initial Catalog")};
        return {head + QStringList{user, password},
                head + QStringList{QStringLiteral("Integrated Security")}};
    }
    if (p.startsWith(QLatin1String("ifxoledbc")))
        return {{kProvider, source, user, password}};
    if (p.startsWith(QLatin1String("asaprov")))
        return {{kProvider, QStringLiteral("ENG"), user, password, QStringLiteral("DBN"),
                 QStringLiteral("Links")}};
    if (p == QLatin1String("postgresql"))
        return {{kProvider, QStringLiteral("Host"), QStringLiteral("Database"), user, password}};
    return {};
}

// The provider named by the string's first field, "" when it names none.
// No provider name holds a ";".
QString providerOf(const QString& s)
{
    const qsizetype eq = s.indexOf(QLatin1Char('='));
    const qsizetype semi = s.indexOf(QLatin1Char(';'));
    if (eq < 0 || (semi >= 0 && semi < eq))
        return QString();
    if (s.left(eq).trimmed().compare(kProvider, Qt::CaseInsensitive) != 0)
        return QString();
    const qsizetype end = semi < 0 ? s.size() : semi;
    return s.mid(eq + 1, end - eq - 1);
}

qsizetype indexOfKey(const QStringList& keys, const QString& key)
{
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys.at(i).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool isPasswordKey(const QString& key)
{
    return key.endsWith(QLatin1String("Password"), Qt::CaseInsensitive);
}

// True when s holds, at the ";" at i, one of keys (blanks around it
// allowed) followed by "=".
bool startsField(const QString& s, qsizetype i, const QStringList& keys)
{
    if (s.at(i) != QLatin1Char(';'))
        return false;
    qsizetype j = i + 1;
    while (j < s.size() && s.at(j) == QLatin1Char(' '))
        ++j;
    for (const QString& key : keys) {
        if (QStringView(s).mid(j, key.size()).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        qsizetype k = j + key.size();
        while (k < s.size() && s.at(k) == QLatin1Char(' '))
            ++k;
        if (k < s.size() && s.at(k) == QLatin1Char('='))
            return true;
    }
    return false;
}

qsizetype firstFieldStart(const QString& s, qsizetype from, const QStringList& keys)
{
    for (qsizetype i = from; i < s.size(); ++i) {
        if (startsField(s, i, keys))
            return i;
    }
    return -1;
}

qsizetype lastFieldStart(const QString& s, qsizetype from, const QStringList& keys)
{
    for (qsizetype i = s.size() - 1; i >= from; --i) {
        if (startsField(s, i, keys))
            return i;
    }
    return -1;
}

// The string's final ";" when it ends in one at or after from, else its end.
qsizetype finalEnd(const QString& s, qsizetype from)
{
    return s.endsWith(QLatin1Char(';')) && s.size() - 1 >= from ? s.size() - 1 : s.size();
}

// The end (exclusive) of the value of key that starts at start.
qsizetype valueEnd(const QString& s, const QString& key, qsizetype start,
                   const QList<QStringList>& layouts)
{
    QStringList next;
    bool inLayout = false;
    bool mayBeLast = false;
    for (const QStringList& sequence : layouts) {
        const qsizetype at = indexOfKey(sequence, key);
        if (at < 0)
            continue;
        inLayout = true;
        if (at + 1 < sequence.size())
            next.append(sequence.at(at + 1));
        else
            mayBeLast = true;
    }
    if (inLayout) {
        if (!next.isEmpty()) {
            const qsizetype end = isPasswordKey(key) ? lastFieldStart(s, start, next)
                                                     : firstFieldStart(s, start, next);
            if (end >= 0)
                return end;
        }
        if (mayBeLast)
            return finalEnd(s, start);
    }
    const qsizetype end = firstFieldStart(s, start, knownKeys());
    return end >= 0 ? end : finalEnd(s, start);
}

} // namespace

ConnectionFields ConnectionFields::parse(const QString& connectionString)
{
    ConnectionFields result;
    const QString& s = connectionString;
    const QList<QStringList> layouts = layoutsOf(providerOf(s));
    qsizetype pos = 0;
    while (pos < s.size()) {
        const qsizetype eq = s.indexOf(QLatin1Char('='), pos);
        const qsizetype semi = s.indexOf(QLatin1Char(';'), pos);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            // A field without "=": kept as a key with an empty value.
            const qsizetype end = semi < 0 ? s.size() : semi;
            const QString key = s.mid(pos, end - pos).trimmed();
            if (!key.isEmpty())
                result.m_fields.append({key, QString(), pos, end, end});
            pos = end + 1;
            continue;
        }
        ConnectionField field;
        field.key = s.mid(pos, eq - pos).trimmed();
        field.keyStart = pos;
        field.valueStart = eq + 1;
        field.valueEnd = valueEnd(s, field.key, field.valueStart, layouts);
        field.value = s.mid(field.valueStart, field.valueEnd - field.valueStart);
        if (!result.m_masked && s.mid(pos, eq - pos).endsWith(QLatin1String("Password")))
            result.m_masked = result.m_fields.size();
        result.m_fields.append(field);
        pos = field.valueEnd + 1;
    }
    return result;
}

std::optional<QString> ConnectionFields::value(const QString& key) const
{
    const QString wanted = key.trimmed();
    for (const ConnectionField& field : m_fields) {
        if (field.key.compare(wanted, Qt::CaseInsensitive) == 0)
            return field.value;
    }
    return std::nullopt;
}

const ConnectionField* ConnectionFields::maskedPasswordField() const
{
    return m_masked ? &m_fields.at(*m_masked) : nullptr;
}

QString replacePasswordField(const QString& Conexion, const QString& password)
{
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    const ConnectionField* field = fields.maskedPasswordField();
    if (!field)
        return Conexion;
    return Conexion.left(field->valueStart) + password + Conexion.mid(field->valueEnd);
}

} // namespace telvar
