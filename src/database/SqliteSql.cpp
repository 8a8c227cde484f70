#include "database/SqliteSql.h"

#include "common/ErrorNumbers.h"

#include <QStringList>

namespace telvar::SqliteSql {

namespace {

Error schemaError(const QString& description)
{
    return Error{ErrorNumber::ItemNotFound, QStringLiteral("Telvar"), description};
}

bool isIdentifierStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() >= 0x80;
}

// SQLite's own blanks. Other characters that Unicode counts as spaces (a
// no-break space, say) are part of a name to SQLite, as every character
// beyond ASCII is.
bool isSqlBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\f') || c == QLatin1Char('\r');
}

bool isIdentifierPart(QChar c)
{
    return isIdentifierStart(c) || c.isDigit() || c == QLatin1Char('$');
}

// Reads SQL text token by token, stepping over blanks and comments.
class SqlReader final {
public:
    explicit SqlReader(const QString& sql) : m_sql(sql) {}

    qsizetype pos() const { return m_pos; }
    void setPos(qsizetype pos) { m_pos = pos; }
    bool atEnd() const { return m_pos >= m_sql.size(); }
    QChar current() const { return atEnd() ? QChar() : m_sql.at(m_pos); }

    void skipBlanks()
    {
        while (!atEnd()) {
            const QChar c = current();
            if (isSqlBlank(c)) {
                ++m_pos;
            } else if (c == QLatin1Char('-') && m_pos + 1 < m_sql.size() &&
                       m_sql.at(m_pos + 1) == QLatin1Char('-')) {
                const qsizetype end = m_sql.indexOf(QLatin1Char('\n'), m_pos);
                m_pos = end < 0 ? m_sql.size() : end + 1;
            } else if (c == QLatin1Char('/') && m_pos + 1 < m_sql.size() &&
                       m_sql.at(m_pos + 1) == QLatin1Char('*')) {
                const qsizetype end = m_sql.indexOf(QStringLiteral("*/"), m_pos + 2);
                m_pos = end < 0 ? m_sql.size() : end + 2;
            } else {
                return;
            }
        }
    }

    // A quoted string or name ('...', "...", `...`, [...]) starting here;
    // false when the text does not start with a quote.
    bool skipQuoted()
    {
        const QChar open = current();
        QChar close;
        if (open == QLatin1Char('\'') || open == QLatin1Char('"') || open == QLatin1Char('`'))
            close = open;
        else if (open == QLatin1Char('['))
            close = QLatin1Char(']');
        else
            return false;
        ++m_pos;
        while (!atEnd()) {
            if (current() == close) {
                ++m_pos;
                // A doubled quote inside the text stands for itself.
                if (close != QLatin1Char(']') && current() == close) {
                    ++m_pos;
                    continue;
                }
                return true;
            }
            ++m_pos;
        }
        return true;
    }

    // True when the token starting here is quoted (a name or a string).
    bool atQuote() const
    {
        const QChar c = current();
        return c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
               c == QLatin1Char('[');
    }

    // A name (bare or quoted) starting here, unquoted; "" when there is none.
    QString readName()
    {
        const qsizetype start = m_pos;
        if (skipQuoted()) {
            QString name = m_sql.mid(start + 1, m_pos - start - 2);
            const QChar q = m_sql.at(start);
            if (q != QLatin1Char('['))
                name.replace(QString(2, q), QString(q));
            return name;
        }
        if (!isIdentifierStart(current()))
            return {};
        while (!atEnd() && isIdentifierPart(current()))
            ++m_pos;
        return m_sql.mid(start, m_pos - start);
    }

    // The next bare word, upper-cased, after blanks; "" when the next token
    // is not one (the position then stays before that token).
    QString nextWord()
    {
        skipBlanks();
        if (atQuote() || !isIdentifierStart(current()))
            return {};
        return readName().toUpper();
    }

    // Moves past a balanced parenthesis group starting here.
    bool skipParentheses()
    {
        if (current() != QLatin1Char('('))
            return false;
        int depth = 0;
        while (!atEnd()) {
            skipBlanks();
            if (skipQuoted())
                continue;
            const QChar c = current();
            ++m_pos;
            if (c == QLatin1Char('('))
                ++depth;
            else if (c == QLatin1Char(')') && --depth == 0)
                return true;
        }
        return false;
    }

private:
    const QString& m_sql;
    qsizetype m_pos = 0;
};

// Words that end a column's type name: the start of its constraints.
bool startsConstraint(const QString& word)
{
    static const QStringList words = {
        QStringLiteral("CONSTRAINT"), QStringLiteral("PRIMARY"), QStringLiteral("NOT"),
        QStringLiteral("NULL"),       QStringLiteral("UNIQUE"),  QStringLiteral("CHECK"),
        QStringLiteral("DEFAULT"),    QStringLiteral("COLLATE"), QStringLiteral("REFERENCES"),
        QStringLiteral("GENERATED"),  QStringLiteral("AS"),      QStringLiteral("AUTOINCREMENT"),
    };
    return words.contains(word, Qt::CaseInsensitive);
}

} // namespace

QString quoteIdentifier(const QString& name)
{
    QString inner = name;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString quoteLiteral(const QString& text)
{
    QString inner = text;
    inner.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

Result<QString> withColumnWidth(const QString& createSql, const QString& column, int width,
                                const QString& newName)
{
    const QString inTable =
        QStringLiteral(" in the table definition \"") + createSql + QStringLiteral("\"");
    SqlReader reader(createSql);

    // The column list is the first parenthesis group; the table's name lies
    // between the word TABLE and it.
    qsizetype tableEnd = -1;
    while (true) {
        reader.skipBlanks();
        if (reader.atEnd() || reader.current() == QLatin1Char('('))
            break;
        if (reader.skipQuoted())
            continue;
        if (isIdentifierStart(reader.current())) {
            const QString word = reader.readName();
            if (tableEnd < 0 && word.compare(QStringLiteral("TABLE"), Qt::CaseInsensitive) == 0)
                tableEnd = reader.pos();
            continue;
        }
        reader.setPos(reader.pos() + 1);
    }
    if (reader.atEnd() || tableEnd < 0)
        return schemaError(QStringLiteral("No column list") + inTable);
    const qsizetype listStart = reader.pos();
    reader.setPos(reader.pos() + 1);

    // The statement's head, renamed when asked.
    const auto withName = [&](QString sql) {
        if (newName.isEmpty())
            return sql;
        return sql.replace(tableEnd, listStart - tableEnd,
                           QLatin1Char(' ') + quoteIdentifier(newName) + QLatin1Char(' '));
    };

    // Each definition starts after "(" or a comma at the list's own level.
    while (!reader.atEnd()) {
        reader.skipBlanks();
        const QString name = reader.readName();
        if (name.compare(column, Qt::CaseInsensitive) == 0) {
            reader.skipBlanks();
            const qsizetype typeStart = reader.pos();
            qsizetype typeNameEnd = typeStart;
            while (isIdentifierStart(reader.current())) {
                const qsizetype before = reader.pos();
                const QString word = reader.readName();
                if (startsConstraint(word)) {
                    reader.setPos(before);
                    break;
                }
                typeNameEnd = reader.pos();
                reader.skipBlanks();
            }
            const QString type = createSql.mid(typeStart, typeNameEnd - typeStart);
            qsizetype typeEnd = typeNameEnd;
            if (!type.isEmpty()) {
                reader.setPos(typeNameEnd);
                reader.skipBlanks();
                if (reader.current() == QLatin1Char('(')) {
                    if (!reader.skipParentheses())
                        return schemaError(QStringLiteral("Unbalanced size of column ") + column +
                                           inTable);
                    typeEnd = reader.pos();
                }
            }
            const QString newType = (type.isEmpty() ? QStringLiteral("TEXT") : type) +
                                    QLatin1Char('(') + QString::number(width) + QLatin1Char(')');
            QString result = createSql;
            if (type.isEmpty())
                result.insert(typeStart, newType + QLatin1Char(' '));
            else
                result.replace(typeStart, typeEnd - typeStart, newType);
            // The head lies before the column, so renaming it last keeps the
            // positions above valid.
            return withName(result);
        }
        // Skip the rest of this definition.
        int depth = 0;
        while (!reader.atEnd()) {
            reader.skipBlanks();
            if (reader.skipQuoted())
                continue;
            const QChar c = reader.current();
            if (c == QLatin1Char('(')) {
                ++depth;
            } else if (c == QLatin1Char(')')) {
                if (depth == 0)
                    return schemaError(QStringLiteral("Item not found in this collection: "
                                                      "no column ") +
                                       column + inTable);
                --depth;
            } else if (c == QLatin1Char(',') && depth == 0) {
                reader.setPos(reader.pos() + 1);
                break;
            }
            reader.setPos(reader.pos() + 1);
        }
    }
    return schemaError(QStringLiteral("Item not found in this collection: no column ") + column +
                       inTable);
}

bool isSingleCreate(const QString& sql, const QString& type, const QString& name)
{
    const QString wantedType = type.toUpper();
    if (wantedType != QLatin1String("TABLE") && wantedType != QLatin1String("INDEX") &&
        wantedType != QLatin1String("VIEW") && wantedType != QLatin1String("TRIGGER"))
        return false;
    SqlReader reader(sql);
    if (reader.nextWord() != QLatin1String("CREATE"))
        return false;
    QString word = reader.nextWord();
    if (word == QLatin1String("UNIQUE") && wantedType == QLatin1String("INDEX"))
        word = reader.nextWord();
    if (word != wantedType)
        return false;

    // IF NOT EXISTS, then the object's own name, without a schema before it.
    reader.skipBlanks();
    qsizetype beforeName = reader.pos();
    if (reader.nextWord() == QLatin1String("IF")) {
        if (reader.nextWord() != QLatin1String("NOT") ||
            reader.nextWord() != QLatin1String("EXISTS"))
            return false;
        reader.skipBlanks();
        beforeName = reader.pos();
    } else {
        reader.setPos(beforeName);
    }
    const QString objectName = reader.readName();
    if (objectName.isEmpty() || objectName.compare(name, Qt::CaseInsensitive) != 0)
        return false;
    reader.skipBlanks();
    if (reader.current() == QLatin1Char('.'))
        return false;

    // The rest, up to the end: no second statement. A trigger's statements
    // end in ";" inside its body, which runs from BEGIN to the END that
    // closes it (CASE expressions inside have an END of their own).
    const bool trigger = wantedType == QLatin1String("TRIGGER");
    int depth = 0;
    bool bodyClosed = false;
    while (true) {
        reader.skipBlanks();
        if (reader.atEnd())
            return !trigger || bodyClosed;
        if (reader.skipQuoted())
            continue;
        const QChar c = reader.current();
        if (isIdentifierStart(c)) {
            if (bodyClosed)
                return false;
            const QString keyword = reader.readName().toUpper();
            if (!trigger)
                continue;
            if (keyword == QLatin1String("BEGIN") && depth == 0)
                depth = 1;
            else if (keyword == QLatin1String("CASE") && depth > 0)
                ++depth;
            else if (keyword == QLatin1String("END") && depth > 0 && --depth == 0)
                bodyClosed = true;
            continue;
        }
        if (c == QLatin1Char(';') && depth == 0) {
            // Only blanks and comments may follow the statement's one ";".
            reader.setPos(reader.pos() + 1);
            reader.skipBlanks();
            return reader.atEnd() && (!trigger || bodyClosed);
        }
        if (bodyClosed)
            return false;
        reader.setPos(reader.pos() + 1);
    }
}

} // namespace telvar::SqliteSql
