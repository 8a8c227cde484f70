#pragma once

#include "common/Error.h"

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

class Connection;

// The lower and upper limits of one port's characteristic.
struct Limits {
    double LimInf = -999999;
    double LimSup = 999999;

    bool operator==(const Limits&) const = default;
};

// The limits of the CXP table for a machine, product and characteristic, as
// the four lookups give them in this order: the machine and product; any
// machine ("***") with the product; the machine with any product; any
// machine with any product. The first that finds a row wins; when none does
// the limits are -999999 and 999999. A null limit in the winning row is the
// run-time's invalid-use-of-Null error.
//
// All lookups of one start run on the one connection given, and each
// distinct (machine, product, characteristic) is asked once: the engine
// compares the keys as it would in the four queries (bound values, never
// pasted text), so a start with a thousand ports stays fast on a server.
//
// The connection must outlive this object; the lookup statement is prepared
// on it once and reused.
class CxpLimits final {
public:
    // A machine, product and characteristic, as limits() takes them.
    struct Triple {
        QString machine;
        QString product;
        QString characteristic;
    };

    explicit CxpLimits(const Connection& cn);

    // Asks the limits of many triples at once, ten per statement
    // (each triple's four lookups in it, the engine comparing the keys as in
    // limits()), so that limits() then answers them from memory: the
    // limits, or the error it would have given for the triple (errors stay
    // until limits() has given them once). A statement that fails leaves
    // its triples and the later ones to limits(), which asks them one at a
    // time and reports its error as it does without this.
    void prefetch(const QList<Triple>& triples);

    // The values are the configuration's raw trimmed texts (a leading "@"
    // included; a null text counts as empty). A limit stored as text that is
    // no number is the run-time's type-mismatch error (beyond a Double, its
    // overflow); a failing query is the engine's error. Answers are
    // remembered, the default limits too; errors are not.
    Result<Limits> limits(const QString& machine, const QString& product,
                          const QString& characteristic);

    // The same lookup, telling a triple for which none of the four lookups
    // finds a row (std::nullopt) from one whose row holds limits, whatever
    // they are (-999999 and 999999 included). It shares limits()'s memory,
    // statements and errors.
    Result<std::optional<Limits>> find(const QString& machine, const QString& product,
                                       const QString& characteristic);

private:
    // Prefetches triples (at most kBatchTriples of them, none known) in one
    // statement; false when the statement fails.
    bool prefetchBatch(const QList<const Triple*>& triples, const QStringList& keys);

    const Connection& m_cn;
    // The answers so far: a row's limits, or std::nullopt for no row.
    QHash<QString, std::optional<Limits>> m_known;
    // Errors found by prefetch(), until limits() gives them.
    QHash<QString, Error> m_prefetchedErrors;
    // The prepared lookup, once a lookup has prepared it.
    std::optional<QSqlQuery> m_lookup;
    // The prepared lookup of m_batchTriples triples, once prefetch() has
    // prepared it.
    std::optional<QSqlQuery> m_batch;
    qsizetype m_batchTriples = 0;
};

} // namespace telvar
