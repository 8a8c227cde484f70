#include "config/SqliteSchemaEdit.h"

#include "common/ErrorNumbers.h"

#include <QStringList>

namespace telvar {

namespace {

RuntimeError errorEsquema(const QString& descripcion)
{
    return RuntimeError{ErrorNumber::ItemNotFound, QStringLiteral("Telvar"), descripcion};
}

bool esInicioIdentificador(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() >= 0x80;
}

bool esParteIdentificador(QChar c)
{
    return esInicioIdentificador(c) || c.isDigit() || c == QLatin1Char('$');
}

// Reads SQL text token by token, stepping over blanks and comments.
class Lector final {
public:
    explicit Lector(const QString& sql) : m_sql(sql) {}

    qsizetype pos() const { return m_pos; }
    void setPos(qsizetype pos) { m_pos = pos; }
    bool alFinal() const { return m_pos >= m_sql.size(); }
    QChar actual() const { return alFinal() ? QChar() : m_sql.at(m_pos); }

    void saltaBlancos()
    {
        while (!alFinal()) {
            const QChar c = actual();
            if (c.isSpace()) {
                ++m_pos;
            } else if (c == QLatin1Char('-') && m_pos + 1 < m_sql.size() &&
                       m_sql.at(m_pos + 1) == QLatin1Char('-')) {
                const qsizetype fin = m_sql.indexOf(QLatin1Char('\n'), m_pos);
                m_pos = fin < 0 ? m_sql.size() : fin + 1;
            } else if (c == QLatin1Char('/') && m_pos + 1 < m_sql.size() &&
                       m_sql.at(m_pos + 1) == QLatin1Char('*')) {
                const qsizetype fin = m_sql.indexOf(QStringLiteral("*/"), m_pos + 2);
                m_pos = fin < 0 ? m_sql.size() : fin + 2;
            } else {
                return;
            }
        }
    }

    // A quoted string or name ('...', "...", `...`, [...]) starting here;
    // false when the text does not start with a quote.
    bool saltaCitado()
    {
        const QChar abre = actual();
        QChar cierra;
        if (abre == QLatin1Char('\'') || abre == QLatin1Char('"') || abre == QLatin1Char('`'))
            cierra = abre;
        else if (abre == QLatin1Char('['))
            cierra = QLatin1Char(']');
        else
            return false;
        ++m_pos;
        while (!alFinal()) {
            if (actual() == cierra) {
                ++m_pos;
                // A doubled quote inside the text stands for itself.
                if (cierra != QLatin1Char(']') && actual() == cierra) {
                    ++m_pos;
                    continue;
                }
                return true;
            }
            ++m_pos;
        }
        return true;
    }

    // A name (bare or quoted) starting here, unquoted; "" when there is none.
    QString leeNombre()
    {
        const qsizetype inicio = m_pos;
        if (saltaCitado()) {
            QString nombre = m_sql.mid(inicio + 1, m_pos - inicio - 2);
            const QChar q = m_sql.at(inicio);
            if (q != QLatin1Char('['))
                nombre.replace(QString(2, q), QString(q));
            return nombre;
        }
        if (!esInicioIdentificador(actual()))
            return {};
        while (!alFinal() && esParteIdentificador(actual()))
            ++m_pos;
        return m_sql.mid(inicio, m_pos - inicio);
    }

    // Moves past a balanced parenthesis group starting here.
    bool saltaParentesis()
    {
        if (actual() != QLatin1Char('('))
            return false;
        int nivel = 0;
        while (!alFinal()) {
            saltaBlancos();
            if (saltaCitado())
                continue;
            const QChar c = actual();
            ++m_pos;
            if (c == QLatin1Char('('))
                ++nivel;
            else if (c == QLatin1Char(')') && --nivel == 0)
                return true;
        }
        return false;
    }

private:
    const QString& m_sql;
    qsizetype m_pos = 0;
};

// Words that end a column's type name: the start of its constraints.
bool iniciaRestriccion(const QString& palabra)
{
    static const QStringList palabras = {
        QStringLiteral("CONSTRAINT"), QStringLiteral("PRIMARY"), QStringLiteral("NOT"),
        QStringLiteral("NULL"),       QStringLiteral("UNIQUE"),  QStringLiteral("CHECK"),
        QStringLiteral("DEFAULT"),    QStringLiteral("COLLATE"), QStringLiteral("REFERENCES"),
        QStringLiteral("GENERATED"),  QStringLiteral("AS"),      QStringLiteral("AUTOINCREMENT"),
    };
    return palabras.contains(palabra, Qt::CaseInsensitive);
}

} // namespace

Result<QString> cambiaAnchoColumna(const QString& createSql, const QString& columna, int ancho,
                                   const QString& nuevoNombre)
{
    const QString enTabla =
        QStringLiteral(" in the table definition \"") + createSql + QStringLiteral("\"");
    Lector lector(createSql);

    // The column list is the first parenthesis group; the table's name lies
    // between the word TABLE and it.
    qsizetype finTable = -1;
    while (true) {
        lector.saltaBlancos();
        if (lector.alFinal() || lector.actual() == QLatin1Char('('))
            break;
        if (lector.saltaCitado())
            continue;
        if (esInicioIdentificador(lector.actual())) {
            const QString palabra = lector.leeNombre();
            if (finTable < 0 && palabra.compare(QStringLiteral("TABLE"), Qt::CaseInsensitive) == 0)
                finTable = lector.pos();
            continue;
        }
        lector.setPos(lector.pos() + 1);
    }
    if (lector.alFinal() || finTable < 0)
        return errorEsquema(QStringLiteral("No column list") + enTabla);
    const qsizetype inicioLista = lector.pos();
    lector.setPos(lector.pos() + 1);

    // The statement's head, renamed when asked.
    const auto conNombre = [&](QString sql) {
        if (nuevoNombre.isEmpty())
            return sql;
        QString citado = nuevoNombre;
        citado.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return sql.replace(finTable, inicioLista - finTable,
                           QStringLiteral(" \"") + citado + QStringLiteral("\" "));
    };

    // Each definition starts after "(" or a comma at the list's own level.
    while (!lector.alFinal()) {
        lector.saltaBlancos();
        const QString nombre = lector.leeNombre();
        if (nombre.compare(columna, Qt::CaseInsensitive) == 0) {
            lector.saltaBlancos();
            const qsizetype inicioTipo = lector.pos();
            qsizetype finNombreTipo = inicioTipo;
            QString tipo;
            while (esInicioIdentificador(lector.actual())) {
                const qsizetype antes = lector.pos();
                const QString palabra = lector.leeNombre();
                if (iniciaRestriccion(palabra)) {
                    lector.setPos(antes);
                    break;
                }
                finNombreTipo = lector.pos();
                lector.saltaBlancos();
            }
            tipo = createSql.mid(inicioTipo, finNombreTipo - inicioTipo);
            qsizetype finTipo = finNombreTipo;
            if (!tipo.isEmpty()) {
                lector.setPos(finNombreTipo);
                lector.saltaBlancos();
                if (lector.actual() == QLatin1Char('(')) {
                    if (!lector.saltaParentesis())
                        return errorEsquema(QStringLiteral("Unbalanced size of column ") + columna +
                                            enTabla);
                    finTipo = lector.pos();
                }
            }
            const QString nuevoTipo = (tipo.isEmpty() ? QStringLiteral("TEXT") : tipo) +
                                      QLatin1Char('(') + QString::number(ancho) + QLatin1Char(')');
            QString resultado = createSql;
            if (tipo.isEmpty())
                resultado.insert(inicioTipo, nuevoTipo + QLatin1Char(' '));
            else
                resultado.replace(inicioTipo, finTipo - inicioTipo, nuevoTipo);
            // The head lies before the column, so renaming it last keeps the
            // positions above valid.
            return conNombre(resultado);
        }
        // Skip the rest of this definition.
        int nivel = 0;
        while (!lector.alFinal()) {
            lector.saltaBlancos();
            if (lector.saltaCitado())
                continue;
            const QChar c = lector.actual();
            if (c == QLatin1Char('(')) {
                ++nivel;
            } else if (c == QLatin1Char(')')) {
                if (nivel == 0)
                    return errorEsquema(QStringLiteral("Item not found in this collection: "
                                                       "no column ") +
                                        columna + enTabla);
                --nivel;
            } else if (c == QLatin1Char(',') && nivel == 0) {
                lector.setPos(lector.pos() + 1);
                break;
            }
            lector.setPos(lector.pos() + 1);
        }
    }
    return errorEsquema(QStringLiteral("Item not found in this collection: no column ") + columna +
                        enTabla);
}

} // namespace telvar
