#pragma once

#include "acquisition/CxpLimits.h"
#include "acquisition/PageLoader.h"
#include "acquisition/TPuerto.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace telvar {

struct Modulo1;
class Clock;
class Interaccion;
class AcquisitionDisplay;
class ReadingCheck;

// One cycle of one clock: the pages of the clock's ports are asked for all at
// once, and the ports are handled in their order as their pages arrive. For
// each port the page is searched for the identifier, the reading and the
// markers are cut and shown, and the reading goes to the reading check; an
// error is reported with the port's details and the cycle goes on with the
// next port.
//
// Ports that follow each other on one address share its page, unless it came
// back empty, in which case the next of them asks for it again. A cycle keeps
// its own page texts, so cycles of different clocks never read each other's
// pages. While a report box of the cycle is open the cycle does not go on:
// pages that arrive meanwhile wait, and are handled in port order once the
// box has closed.
class PollingCycle final : public std::enable_shared_from_this<PollingCycle> {
public:
    struct Port {
        int element = 0;
        TPuerto puerto;
        Limits limits;
    };

    struct Services {
        const Modulo1& m;
        Interaccion& ui;
        PageLoader& loader;
        AcquisitionDisplay& display;
        ReadingCheck& check;
        // Stamps each page with the moment it arrived.
        const Clock& clock;
    };

    // Called once with the cycle that ended, after its last port, unless
    // the cycle is cancelled first.
    using FinishedHandler = std::function<void(PollingCycle&)>;

    PollingCycle(int reloj, QList<Port> ports, Services services, FinishedHandler finished);
    ~PollingCycle();
    PollingCycle(const PollingCycle&) = delete;
    PollingCycle& operator=(const PollingCycle&) = delete;

    int reloj() const { return m_reloj; }

    // Asks for the pages and handles whatever can be handled at once.
    void begin();
    // A page the loader delivered; ignored unless the cycle asked for it.
    void pageLoaded(PageLoader::Ticket ticket, const LoadedPage& page);
    // Ends the cycle quietly: its loads are cancelled, no further port is
    // handled and finished is not called.
    void cancel();
    bool isCancelled() const { return m_cancelled; }
    bool isFinished() const { return m_finished; }

private:
    struct Load {
        PageLoader::Ticket ticket = 0;
        std::optional<LoadedPage> page;
        QDateTime arrivedAt;
    };

    // The load that gives port k its page: its own, or the previous port's
    // when both have one address.
    std::size_t startLoad(const QString& url);
    void advance();
    void handle(qsizetype k, const LoadedPage& page, const QDateTime& arrivedAt, bool freshPage);
    void report(const Port& port, const Error& error);

    const int m_reloj;
    const QList<Port> m_ports;
    Services m_services;
    FinishedHandler m_onFinished;

    QList<Load> m_loads;
    // The loads still awaited, by ticket.
    QHash<PageLoader::Ticket, std::size_t> m_loadByTicket;
    // For each port, the load whose page it reads.
    QList<std::size_t> m_loadOfPort;
    // Whether a port shares the load of the port before it.
    QList<bool> m_sharesPrevious;
    qsizetype m_next = 0;
    bool m_processing = false;
    bool m_cancelled = false;
    bool m_finished = false;
};

} // namespace telvar
