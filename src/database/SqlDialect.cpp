#include "database/SqlDialect.h"

#include <QRegularExpression>

namespace telvar {

namespace {

bool isPlainIdentifier(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return plain.match(name).hasMatch();
}

// name between quote characters, a quote inside doubled.
QString quoted(const QString& name, QChar quote = QLatin1Char('"'))
{
    QString inner = name;
    inner.replace(QString(quote), QString(2, quote));
    return quote + inner + quote;
}

// A bracketed name as the engine writes it.
QString rewrittenName(Dialecto dialecto, const QString& name)
{
    switch (dialecto) {
    case Dialecto::Sqlite:
        return quoted(name, QLatin1Char('`'));
    case Dialecto::PostgreSql:
        return quoted(isPlainIdentifier(name) ? name.toLower() : name);
    case Dialecto::Informix:
        return isPlainIdentifier(name) ? name : quoted(name);
    case Dialecto::SqlServer:
    case Dialecto::SqlAnywhere:
        break;
    }
    return name;
}

// Rewrites every [name] outside literals and quoted names.
QString rewriteBrackets(Dialecto dialecto, const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Copy a literal or quoted name whole; a doubled quote stays inside.
            qsizetype j = i + 1;
            while (j < s.size()) {
                if (s.at(j) == c) {
                    if (j + 1 < s.size() && s.at(j + 1) == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += s.mid(i, j - i + 1);
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('[')) {
            // The name runs to the next "]" that is not doubled.
            QString name;
            qsizetype j = i + 1;
            bool closed = false;
            while (j < s.size()) {
                if (s.at(j) == QLatin1Char(']')) {
                    if (j + 1 < s.size() && s.at(j + 1) == QLatin1Char(']')) {
                        name += QLatin1Char(']');
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                name += s.at(j);
                ++j;
            }
            if (!closed) {
                out += s.mid(i);
                break;
            }
            out += rewrittenName(dialecto, name);
            i = j + 1;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QString rewriteTop(Dialecto dialecto, const QString& s)
{
    static const QRegularExpression top(
        QStringLiteral("^(\\s*select\\s+)(distinct\\s+)?top\\s+(\\d+)\\s+"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = top.match(s);
    if (!match.hasMatch())
        return s;
    const QString head = match.captured(1);
    const QString distinct = match.captured(2);
    const QString count = match.captured(3);
    const QString rest = s.mid(match.capturedEnd(0));
    if (dialecto == Dialecto::Informix)
        return head + QStringLiteral("FIRST ") + count + QLatin1Char(' ') + distinct + rest;
    QString body = head + distinct + rest;
    // The limit goes after everything else, a closing ";" included.
    qsizetype end = body.size();
    while (end > 0 && (body.at(end - 1).isSpace() || body.at(end - 1) == QLatin1Char(';')))
        --end;
    const QString tail = body.mid(end).contains(QLatin1Char(';')) ? QStringLiteral(";") : QString();
    return body.left(end) + QStringLiteral(" LIMIT ") + count + tail;
}

} // namespace

QString rewriteSql(Dialecto dialecto, const QString& statement)
{
    switch (dialecto) {
    case Dialecto::SqlServer:
    case Dialecto::SqlAnywhere:
        return statement;
    case Dialecto::Sqlite:
    case Dialecto::PostgreSql:
    case Dialecto::Informix:
        return rewriteTop(dialecto, rewriteBrackets(dialecto, statement));
    }
    return statement;
}

QString bracketName(const QString& name)
{
    QString inner = name;
    inner.replace(QLatin1String("]"), QLatin1String("]]"));
    return QLatin1Char('[') + inner + QLatin1Char(']');
}

} // namespace telvar
