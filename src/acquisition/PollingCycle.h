#pragma once

#include "acquisition/CxpLimits.h"
#include "acquisition/FailureNotices.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/PageLoader.h"
#include "acquisition/PortOutcome.h"
#include "acquisition/TPuerto.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
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
// The reports are gathered and shown at the end of the cycle, in one box
// that does not wait for the person (Interaccion::notice), listing the ports
// that FailureNotices finds worth it: those that began to fail, or fail
// otherwise than at their last cycle. Nothing of the cycle waits on a box of
// its own, so the window keeps taking presses (Stop among them).
//
// Ports that follow each other on one address share its page, unless it came
// back empty, in which case the next of them asks for it again. A cycle keeps
// its own page texts, so cycles of different clocks never read each other's
// pages. While the reading check holds a port (a box of its own runs the
// event loop) the cycle does not go on: pages that arrive meanwhile wait,
// and are handled in port order once the check has returned.
//
// A page that failed (it timed out, its connection was refused, it answered
// an HTTP error status, or the loader gave it up untried with a host it
// found silent) is asked for again within the cycle: a second time 0.5 s
// after the first try failed, a third time 2 s after the second. A retry is
// made only when it could end by the cycle's deadline, and never for a host
// given up as dead: by the loader (its connection attempt timed out, or the
// loader gave this page up with a host that took no connection), or by the
// cycle once a page of that host got no answer to its last try while no
// page of the host was answered in the cycle. A host that answered some
// page of the cycle (a gateway with one page that hangs) is not dead: its
// other pages keep their retries. Retries due at once are asked for in the
// order their pages were first asked for, except that pages that timed out
// on a try of their own come last, so that a page that hangs again does not
// hold a connection of its host ahead of the pages the loader gave up
// because of it. Meanwhile the port, and the ports after it, wait as for a
// late page; only the page of the last try is handled, so a failure that a
// retry mends leaves no trace but the count of retries. An empty page is no
// failure: it has the rule above.
//
// Retries wait on the injected Clock: one timer wakes the cycle when the
// earliest is due, and processDueRetries() (which that timer calls) makes
// every retry due by the Clock's time. Tests move a manual clock and call it.
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
        // Stamps each page with the moment it arrived, and times retries.
        const Clock& clock;
        // The Clock's elapsed time by which the cycle is to have ended (its
        // clock's interval after it began). A failed page is asked for again
        // only when that try can end by then; a cycle without a deadline
        // asks for each page once (the empty-page rule aside).
        std::optional<std::chrono::milliseconds> deadline = std::nullopt;
        // The longest one try of a page may take: the loader's page limit.
        std::chrono::milliseconds tryLimit{kPageTimeLimitMs};
        // Told how each port ended (not for the ports a cancel leaves).
        std::function<void(const PortOutcome&)> portHandled = nullptr;
        // What is known of the ports' failures across cycles (the
        // acquisition's). Without it the cycle's box lists every port that
        // failed in it.
        FailureNotices* failures = nullptr;
    };

    // The report box's count-down, in seconds.
    static constexpr double ReportSeconds = 5;

    // The tries of a page at most, and the waits before the second and the
    // third.
    static constexpr int MaxTries = 3;
    static constexpr std::array<std::chrono::milliseconds, MaxTries - 1> RetryDelays{
        std::chrono::milliseconds(500), std::chrono::milliseconds(2000)};

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
    // Asks again for every page whose retry is due by the Clock's time.
    void processDueRetries();
    // The pages asked for again so far.
    int retries() const { return m_retries; }

private:
    struct Load {
        PageLoader::Ticket ticket = 0;
        QString url;
        // Its host's name and port, empty when the address names none.
        QString host;
        // Tries asked for so far.
        int tries = 1;
        // While it waits to be asked for again: when, and its last page.
        std::optional<std::chrono::milliseconds> retryAt;
        std::optional<LoadedPage> failed;
        // The page its ports read, once no further try follows.
        std::optional<LoadedPage> page;
        QDateTime arrivedAt;
    };

    // The load that gives port k its page: its own, or the previous port's
    // when both have one address.
    std::size_t startLoad(const QString& url);
    // Sets the retry of a load whose try failed with page, when one is to
    // be made; false otherwise.
    bool planRetry(Load& load, const LoadedPage& page);
    // Whether a try asked for at `at` can end by the deadline.
    bool fitsDeadline(std::chrono::milliseconds at) const;
    // No page of host is asked for again: the loads waiting for a retry
    // keep the page of their last try.
    void giveUpHost(const QString& host);
    void settle(Load& load, LoadedPage page);
    void armRetryTimer();
    void advance();
    void handle(qsizetype k, const LoadedPage& page, const QDateTime& arrivedAt, bool freshPage);
    void tell(const Port& port, PortOutcome::Result result, const LoadedPage& page,
              const QDateTime& arrivedAt, const QString& reading, const QString& detail) const;
    void report(const Port& port, const Error& error);
    // Shows the box of the ports' reports that deserve one.
    void showReports();

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
    // The hosts no page of which is asked for again.
    QSet<QString> m_deadHosts;
    // The hosts that answered a try of the cycle (whatever its status).
    QSet<QString> m_answeringHosts;
    QTimer m_retryTimer;
    // The ports handled so far, with their reports.
    QList<PortReports> m_handled;
    FailureNotices m_ownFailures;
    int m_retries = 0;
    qsizetype m_next = 0;
    bool m_processing = false;
    bool m_cancelled = false;
    bool m_finished = false;
};

} // namespace telvar
