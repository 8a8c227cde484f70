#pragma once

#include "acquisition/CxpLimits.h"
#include "common/Error.h"

#include <QHash>
#include <QString>
#include <memory>
#include <optional>

namespace telvar {

class Connection;
class Interaccion;
struct Modulo1;

// The limits of a reading whose machine and/or product its page named at a
// marker. The start loads a port's limits with its configured keys, and a
// port that reads its machine or product from the page has "@" and the
// marker there, which names no row of CXP: such a reading is checked
// against the limits of what the page named instead.
//
// limitsFor() looks those up in CXP with the four lookups of CxpLimits
// (the machine and product, "***" and the product, the machine and "***",
// "***" and "***"); when none finds a row, the limits the port was given at
// the start come back. Each distinct (machine, product, characteristic) is
// asked of the database once and its answer remembered until reset();
// errors are not remembered.
//
// The SPC database is opened through OpenDBOK (m.CadConexion, engine
// m.TipoBD, its reports to ui) at the first lookup, not before, and the
// connection is kept for the lookups that follow until reset(). An opening
// that fails has been reported by OpenDBOK and is tried again at the next
// lookup; a lookup that fails closes the connection, so that the next one
// opens it afresh (a server that went away and came back is found again).
//
// Everything runs on the thread that uses it, which is the window thread.
// m and ui must outlive this object.
class MarkerLimits final {
public:
    MarkerLimits(Modulo1& m, Interaccion& ui);
    ~MarkerLimits();
    MarkerLimits(const MarkerLimits&) = delete;
    MarkerLimits& operator=(const MarkerLimits&) = delete;

    // The CXP limits of machine, product and characteristic (each trimmed
    // of blanks), or `configured` when CXP has no row for them in any of
    // the four lookups. The error of an opening that failed (already
    // reported) or of the lookup otherwise.
    Result<Limits> limitsFor(const QString& machine, const QString& product,
                             const QString& characteristic, const Limits& configured);

    // Forgets every answer and closes the connection: the acquisition
    // calls it when it starts and when it stops, so that limits changed in
    // CXP meanwhile are seen.
    void reset();

    // Whether the connection is open now.
    bool isOpen() const;

private:
    // Opens the connection unless it is open; the opening's error otherwise.
    std::optional<Error> open();

    Modulo1& m_m;
    Interaccion& m_ui;
    std::unique_ptr<Connection> m_cn;
    // The lookups on m_cn, while it is open.
    std::unique_ptr<CxpLimits> m_cxp;
    // The answer for each triple asked: the limits of its row, or
    // std::nullopt when it has none.
    QHash<QString, std::optional<Limits>> m_answers;
};

} // namespace telvar
