#include "acquisition/CxpLimits.h"

#include "common/ErrorNumbers.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QVariant>
#include <array>
#include <cmath>
#include <optional>

namespace telvar {

namespace {

// The four lookups in one statement. Each branch is one of them with the
// same conditions, tagged with its place in the order, so the engine
// compares the keys exactly as it would in the four separate queries (its
// own case rules, trailing blanks and collation), and the first row in tag
// order is the row the first query that finds any would have returned
// (several rows of one branch come in the engine's order, as they would
// from that query). A machine or product that is itself "***" makes two
// branches find the same rows; the lower tag comes first, as the earlier
// query would have won.
//
// The values are bound only in comparisons with a column in WHERE, never in
// the select list: PostgreSQL infers each parameter's type from its column,
// and ODBC engines (SQL Server, Informix) take markers there without
// needing a type for an expression. The ORDER BY names the tag by position,
// which every engine accepts after a UNION. Each branch is a lookup on the
// table's whole primary key.
const QString kLookup = QStringLiteral("Select CXPLINFC, CXPLSUPC, 0 from CXP"
                                       " where CXPMAQUI=? and CXPPRODU=? and CXPCARAC=?"
                                       " union all Select CXPLINFC, CXPLSUPC, 1 from CXP"
                                       " where CXPMAQUI='***' and CXPPRODU=? and CXPCARAC=?"
                                       " union all Select CXPLINFC, CXPLSUPC, 2 from CXP"
                                       " where CXPMAQUI=? and CXPPRODU='***' and CXPCARAC=?"
                                       " union all Select CXPLINFC, CXPLSUPC, 3 from CXP"
                                       " where CXPMAQUI='***' and CXPPRODU='***' and CXPCARAC=?"
                                       " order by 3");

// Triples asked by one statement of prefetch(): 8 bound values and 4
// branches each, 80 and 40 in all (far within SQLite's 999 values and 500
// compound terms, and SQL Server's 2100 parameters). Larger statements cost
// more than they save on PostgreSQL, which plans the first five executions
// of a prepared statement for their values: measured on 1000 triples, the
// server's time was 34 ms one triple at a time, 31-43 ms with 5-10 triples
// a statement, 170-200 ms with 20-50 (planning a 200-branch statement takes
// about 25 ms). Ten triples a statement send a tenth of the round trips.
constexpr qsizetype kBatchTriples = 10;

// The conditions of the four lookups in their order, as in kLookup (the
// values they bind, in this order, are lookupValues()).
constexpr const char* kBranchConditions[] = {
    "CXPMAQUI=? and CXPPRODU=? and CXPCARAC=?",
    "CXPMAQUI='***' and CXPPRODU=? and CXPCARAC=?",
    "CXPMAQUI=? and CXPPRODU='***' and CXPCARAC=?",
    "CXPMAQUI='***' and CXPPRODU='***' and CXPCARAC=?",
};

// The four lookups of `triples` triples in one statement: the branches of
// kLookup, each also selecting its triple's place in the statement as a
// constant (never a bound value, for the engines' parameter typing), in
// rows ordered by that place and then by the tag.
QString batchLookup(qsizetype triples)
{
    QString statement;
    for (qsizetype index = 0; index < triples; ++index) {
        for (int tag = 0; tag < 4; ++tag) {
            if (!statement.isEmpty())
                statement += QStringLiteral(" union all ");
            statement += QStringLiteral("Select CXPLINFC, CXPLSUPC, %1, %2 from CXP where ")
                             .arg(index)
                             .arg(tag) +
                         QLatin1StringView(kBranchConditions[tag]);
        }
    }
    return statement + QStringLiteral(" order by 3, 4");
}

Error runtimeError(long long number, const QString& description)
{
    return Error{number, QStringLiteral("Telvar"), description};
}

// The three keys as one unambiguous text: each is preceded by its length.
QString tripleKey(const QString& machine, const QString& product, const QString& characteristic)
{
    QString key;
    for (const QString* text : {&machine, &product, &characteristic}) {
        key += QString::number(text->size());
        key += QLatin1Char(':');
        key += *text;
    }
    return key;
}

// A key as the bound value: a null text is the empty text the configuration
// column holds, not an SQL NULL (which would match no row at all).
QVariant keyValue(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

// A text limit read as a number: blanks around it, an optional sign, digits
// with an optional decimal point, an optional exponent ("E" or "D").
Result<double> numberFromText(const QString& text)
{
    static const QRegularExpression number(QStringLiteral(
        "^[ \\t]*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+))(?:[eEdD]([+-]?[0-9]+))?[ \\t]*$"));
    const auto match = number.match(text);
    if (!match.hasMatch())
        return runtimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    QString normalized = match.captured(1);
    if (match.hasCaptured(2))
        normalized += QLatin1Char('e') + match.captured(2);
    const double value = normalized.toDouble();
    if (!std::isfinite(value))
        return runtimeError(ErrorNumber::Overflow, QStringLiteral("Overflow"));
    return value;
}

// The values of one triple's four branches, in their order.
std::array<QVariant, 8> lookupValues(const QString& machine, const QString& product,
                                     const QString& characteristic)
{
    const QVariant m = keyValue(machine);
    const QVariant p = keyValue(product);
    const QVariant c = keyValue(characteristic);
    return {m, p, c, p, c, m, c, c};
}

// Column `index` of the current row stored into a Double: a number as it
// is, True as -1 and False as 0, a text that reads as a number as that
// number (SQLite keeps "12.5" as text in a column without numeric
// affinity); Null is the invalid-use-of-Null error, anything else a type
// mismatch.
Result<double> asDouble(const QSqlQuery& query, int index)
{
    if (query.isNull(index))
        return runtimeError(ErrorNumber::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
    const QVariant value = query.value(index);
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return value.toDouble();
    case QMetaType::Bool:
        return value.toBool() ? -1.0 : 0.0;
    case QMetaType::QString:
        return numberFromText(value.toString());
    default:
        return runtimeError(ErrorNumber::TypeMismatch, QStringLiteral("Type mismatch"));
    }
}

} // namespace

CxpLimits::CxpLimits(const Connection& cn) : m_cn(cn) {}

Result<Limits> CxpLimits::limits(const QString& machine, const QString& product,
                                 const QString& characteristic)
{
    Result<std::optional<Limits>> found = find(machine, product, characteristic);
    if (!found)
        return found.error();
    return found.value().value_or(Limits{});
}

Result<std::optional<Limits>> CxpLimits::find(const QString& machine, const QString& product,
                                              const QString& characteristic)
{
    const QString key = tripleKey(machine, product, characteristic);
    if (const auto known = m_known.constFind(key); known != m_known.cend())
        return known.value();
    if (const auto failed = m_prefetchedErrors.find(key); failed != m_prefetchedErrors.end()) {
        Error error = std::move(failed.value());
        m_prefetchedErrors.erase(failed);
        return error;
    }

    // A closed connection answers as it answers any statement.
    if (!m_cn.isOpen())
        return m_cn.exec(kLookup).error();
    if (!m_lookup) {
        QSqlQuery prepared(m_cn.database());
        prepared.setForwardOnly(true);
        if (!prepared.prepare(m_cn.sql(kLookup)))
            return engineError(m_cn.dialect(), prepared.lastError(), ErrorPhase::Statement);
        m_lookup.emplace(std::move(prepared));
    }
    QSqlQuery& query = *m_lookup;

    int position = 0;
    for (const QVariant& value : lookupValues(machine, product, characteristic))
        query.bindValue(position++, value);
    // A server that stops answering costs the connection, not the thread.
    const auto wait = m_cn.answerWait();
    if (!query.exec()) {
        const Error error = engineError(m_cn.dialect(), query.lastError(), ErrorPhase::Statement);
        // Prepared afresh next time, in case the table comes back changed.
        m_lookup.reset();
        return error;
    }

    std::optional<Limits> found;
    if (query.next()) {
        const Result<double> inf = asDouble(query, 0);
        const Result<double> sup = inf ? asDouble(query, 1) : inf;
        // Done with the rows: an unfinished statement would keep the
        // engine's read open (SQLite's lock, PostgreSQL's pending result).
        query.finish();
        if (!inf)
            return inf.error();
        if (!sup)
            return sup.error();
        found = Limits{inf.value(), sup.value()};
    } else {
        const QSqlError failed = query.lastError();
        query.finish();
        if (failed.type() != QSqlError::NoError) {
            m_lookup.reset();
            return engineError(m_cn.dialect(), failed, ErrorPhase::Statement);
        }
    }
    m_known.insert(key, found);
    return Result<std::optional<Limits>>(found);
}

void CxpLimits::prefetch(const QList<Triple>& triples)
{
    QList<const Triple*> batch;
    QStringList keys;
    QSet<QString> asked;
    for (const Triple& triple : triples) {
        QString key = tripleKey(triple.machine, triple.product, triple.characteristic);
        if (m_known.contains(key) || m_prefetchedErrors.contains(key) || asked.contains(key))
            continue;
        asked.insert(key);
        batch.append(&triple);
        keys.append(std::move(key));
        if (batch.size() == kBatchTriples) {
            if (!prefetchBatch(batch, keys))
                return;
            batch.clear();
            keys.clear();
        }
    }
    if (!batch.isEmpty())
        prefetchBatch(batch, keys);
}

bool CxpLimits::prefetchBatch(const QList<const Triple*>& triples, const QStringList& keys)
{
    // limits() answers as the connection does.
    if (!m_cn.isOpen())
        return false;
    if (!m_batch || m_batchTriples != triples.size()) {
        m_batch.reset();
        QSqlQuery prepared(m_cn.database());
        prepared.setForwardOnly(true);
        if (!prepared.prepare(m_cn.sql(batchLookup(triples.size()))))
            return false;
        m_batch.emplace(std::move(prepared));
        m_batchTriples = triples.size();
    }
    QSqlQuery& query = *m_batch;
    int position = 0;
    for (const Triple* triple : triples) {
        for (const QVariant& value :
             lookupValues(triple->machine, triple->product, triple->characteristic))
            query.bindValue(position++, value);
    }
    const auto wait = m_cn.answerWait();
    if (!query.exec()) {
        m_batch.reset();
        return false;
    }

    // The first row of each triple, in tag order, is the one its own lookup
    // would have found first; a triple without rows has the default limits.
    QList<std::optional<Result<Limits>>> found(triples.size());
    while (query.next()) {
        bool isIndex = false;
        const qsizetype index = query.value(2).toLongLong(&isIndex);
        if (!isIndex || index < 0 || index >= found.size() || found[index])
            continue;
        const Result<double> inf = asDouble(query, 0);
        const Result<double> sup = inf ? asDouble(query, 1) : inf;
        if (!inf)
            found[index] = inf.error();
        else if (!sup)
            found[index] = sup.error();
        else
            found[index] = Limits{inf.value(), sup.value()};
    }
    const QSqlError failed = query.lastError();
    // Done with the rows, as in limits().
    query.finish();
    if (failed.type() != QSqlError::NoError) {
        m_batch.reset();
        return false;
    }
    for (qsizetype i = 0; i < triples.size(); ++i) {
        if (!found[i])
            m_known.insert(keys[i], std::nullopt);
        else if (found[i]->ok())
            m_known.insert(keys[i], found[i]->value());
        else
            m_prefetchedErrors.insert(keys[i], found[i]->error());
    }
    return true;
}

} // namespace telvar
