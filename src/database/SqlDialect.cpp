#include "database/SqlDialect.h"

#include <QRegularExpression>
#include <algorithm>

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
QString rewrittenName(SqlDialect dialect, const QString& name)
{
    switch (dialect) {
    case SqlDialect::Sqlite:
        return quoted(name, QLatin1Char('`'));
    case SqlDialect::PostgreSql:
        return quoted(isPlainIdentifier(name) ? name.toLower() : name);
    case SqlDialect::Informix:
        return isPlainIdentifier(name) ? name : quoted(name);
    case SqlDialect::SqlServer:
    case SqlDialect::SqlAnywhere:
        break;
    }
    return name;
}

// Where the quoted text opened by the quote character at open ends: the
// index of its closing quote (a doubled quote stays inside), or the
// statement's length when it is never closed.
qsizetype closingQuote(const QString& s, qsizetype open)
{
    const QChar quote = s.at(open);
    qsizetype j = open + 1;
    while (j < s.size()) {
        if (s.at(j) == quote) {
            if (j + 1 < s.size() && s.at(j + 1) == quote) {
                j += 2;
                continue;
            }
            break;
        }
        ++j;
    }
    return j;
}

// Rewrites every [name] outside literals and quoted names.
QString rewriteBrackets(SqlDialect dialect, const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Copy a literal or quoted name whole.
            const qsizetype j = closingQuote(s, i);
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
            out += rewrittenName(dialect, name);
            i = j + 1;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// Where the statement's code ends: after its last character that is not a
// blank, a ";" or part of a comment ("-- ..." to the line's end,
// "/* ... */"). Quoted text ('...', "...", `...`) counts as code.
qsizetype codeEnd(const QString& s)
{
    qsizetype end = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s.at(i);
        const QChar next = i + 1 < s.size() ? s.at(i + 1) : QChar();
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            const qsizetype lineEnd = s.indexOf(QLatin1Char('\n'), i);
            i = lineEnd < 0 ? s.size() : lineEnd + 1;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype close = s.indexOf(QStringLiteral("*/"), i + 2);
            i = close < 0 ? s.size() : close + 2;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            i = std::min(closingQuote(s, i) + 1, s.size());
            end = i;
        } else {
            ++i;
            if (!c.isSpace() && c != QLatin1Char(';'))
                end = i;
        }
    }
    return end;
}

QString rewriteTop(SqlDialect dialect, const QString& s)
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
    if (dialect == SqlDialect::Informix)
        return head + QStringLiteral("FIRST ") + count + QLatin1Char(' ') + distinct + rest;
    const QString body = head + distinct + rest;
    // The limit goes after the statement's code: before a closing ";" and
    // a trailing comment, which would otherwise swallow it.
    const qsizetype end = codeEnd(body);
    return body.left(end) + QStringLiteral(" LIMIT ") + count + body.mid(end);
}

} // namespace

QString rewriteSql(SqlDialect dialect, const QString& statement)
{
    switch (dialect) {
    case SqlDialect::SqlServer:
    case SqlDialect::SqlAnywhere:
        return statement;
    case SqlDialect::Sqlite:
    case SqlDialect::PostgreSql:
    case SqlDialect::Informix:
        return rewriteTop(dialect, rewriteBrackets(dialect, statement));
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
