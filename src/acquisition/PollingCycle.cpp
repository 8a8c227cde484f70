#include "acquisition/PollingCycle.h"

#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/Clock.h"
#include "acquisition/CycleReport.h"
#include "acquisition/Extraction.h"
#include "acquisition/ReadingCheck.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"

#include <QUrl>
#include <algorithm>
#include <utility>
#include <vector>

namespace telvar {

namespace {

// Whether a try's page is a failure that another try may mend: a time-out,
// a refused connection, an HTTP error status, or a page the loader gave up
// with a host it found silent (the host took connections; the silence may
// have been one hanging page's). A page the loader ended because its host
// took no connection (down), or gave up with such a host, is not.
bool mendable(const LoadedPage& page)
{
    switch (page.outcome) {
    case PageOutcome::Complete:
        return page.httpStatus >= 400;
    case PageOutcome::TimedOut:
        return page.noAnswer == NoAnswer::Unknown || page.noAnswer == NoAnswer::HostSilent;
    case PageOutcome::Unreachable:
        return page.noAnswer == NoAnswer::Refused;
    case PageOutcome::Truncated:
    case PageOutcome::Failed:
        break;
    }
    return false;
}

// Whether the station sent nothing back: no connection, or no answer on it.
bool unanswered(const LoadedPage& page)
{
    return page.outcome == PageOutcome::TimedOut || page.outcome == PageOutcome::Unreachable;
}

// Whether the station answered the try, whatever the answer said.
bool answered(const LoadedPage& page)
{
    return page.outcome == PageOutcome::Complete || page.outcome == PageOutcome::Truncated;
}

// Whether a try's page timed out on a try of its own (not given up with its
// host): a page that may hang again and hold a connection of its host.
bool timedOutItself(const LoadedPage& page)
{
    return page.outcome == PageOutcome::TimedOut && page.noAnswer == NoAnswer::Unknown;
}

// The host (name and port) of an address, as the loader groups its loads;
// empty when the address names none.
QString hostOf(const QString& url)
{
    const QUrl address(url.trimmed());
    if (address.host().isEmpty())
        return {};
    const bool https = address.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    return address.host().toLower() + u':' + QString::number(address.port(https ? 443 : 80));
}

} // namespace

PollingCycle::PollingCycle(int reloj, QList<Port> ports, Services services,
                           FinishedHandler finished)
    : m_reloj(reloj), m_ports(std::move(ports)), m_services(services),
      m_onFinished(std::move(finished))
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_retryTimer, &QTimer::timeout, &m_retryTimer,
                     [this] { processDueRetries(); });
}

PollingCycle::~PollingCycle()
{
    cancel();
}

void PollingCycle::begin()
{
    m_loadOfPort.reserve(m_ports.size());
    m_sharesPrevious.reserve(m_ports.size());
    for (qsizetype k = 0; k < m_ports.size(); ++k) {
        const bool shares = k > 0 && m_ports[k].puerto.WebPg == m_ports[k - 1].puerto.WebPg;
        m_sharesPrevious.append(shares);
        m_loadOfPort.append(shares ? m_loadOfPort[k - 1] : startLoad(m_ports[k].puerto.WebPg));
    }
    advance();
}

std::size_t PollingCycle::startLoad(const QString& url)
{
    const std::size_t index = static_cast<std::size_t>(m_loads.size());
    Load load;
    load.ticket = m_services.loader.load(url);
    load.url = url;
    load.host = hostOf(url);
    m_loads.append(std::move(load));
    m_loadByTicket.insert(m_loads.back().ticket, index);
    return index;
}

void PollingCycle::pageLoaded(PageLoader::Ticket ticket, const LoadedPage& page)
{
    const auto it = m_loadByTicket.constFind(ticket);
    if (it == m_loadByTicket.cend() || m_cancelled)
        return;
    Load& load = m_loads[static_cast<qsizetype>(*it)];
    m_loadByTicket.erase(it);
    load.arrivedAt = m_services.clock.now();
    if (answered(page) && !load.host.isEmpty())
        m_answeringHosts.insert(load.host);
    if (planRetry(load, page))
        return;
    // A host that took no connection, or that left a page unanswered to
    // its last try without answering any page of the cycle, is not asked
    // again this cycle.
    const QString host = load.host;
    const bool hostDead = page.noAnswer == NoAnswer::HostDown ||
                          (load.tries == MaxTries && mendable(page) && unanswered(page) &&
                           !m_answeringHosts.contains(host));
    settle(load, page);
    if (hostDead)
        giveUpHost(host);
    advance();
}

bool PollingCycle::planRetry(Load& load, const LoadedPage& page)
{
    if (load.tries >= MaxTries || !mendable(page) || m_deadHosts.contains(load.host))
        return false;
    const std::chrono::milliseconds at =
        m_services.clock.elapsed() + RetryDelays[static_cast<std::size_t>(load.tries - 1)];
    if (!fitsDeadline(at))
        return false;
    load.retryAt = at;
    load.failed = page;
    armRetryTimer();
    return true;
}

bool PollingCycle::fitsDeadline(std::chrono::milliseconds at) const
{
    return m_services.deadline && at + m_services.tryLimit <= *m_services.deadline;
}

void PollingCycle::giveUpHost(const QString& host)
{
    if (host.isEmpty())
        return;
    m_deadHosts.insert(host);
    for (Load& load : m_loads) {
        if (load.retryAt && load.host == host)
            settle(load, *std::exchange(load.failed, std::nullopt));
    }
    armRetryTimer();
}

void PollingCycle::settle(Load& load, LoadedPage page)
{
    load.retryAt.reset();
    load.failed.reset();
    load.page = std::move(page);
}

void PollingCycle::processDueRetries()
{
    if (m_cancelled || m_finished)
        return;
    const std::shared_ptr<PollingCycle> keepAlive = shared_from_this();
    const std::chrono::milliseconds now = m_services.clock.elapsed();
    // The pages that timed out on a try of their own are asked for after
    // the others due: the loader starts its loads of a host in the order
    // they were made, so a page that hangs again does not take a
    // connection ahead of the pages given up because of it.
    std::vector<qsizetype> due;
    for (qsizetype index = 0; index < m_loads.size(); ++index) {
        if (m_loads[index].retryAt && *m_loads[index].retryAt <= now)
            due.push_back(index);
    }
    std::stable_partition(due.begin(), due.end(), [this](qsizetype index) {
        return !timedOutItself(*m_loads[index].failed);
    });
    bool settled = false;
    for (const qsizetype index : due) {
        Load& load = m_loads[index];
        // A report box may have held the cycle up beyond the retry's time:
        // the retry is made only if it can still end by the deadline.
        if (!fitsDeadline(now)) {
            settle(load, *std::exchange(load.failed, std::nullopt));
            settled = true;
            continue;
        }
        load.retryAt.reset();
        load.failed.reset();
        ++load.tries;
        ++m_retries;
        load.ticket = m_services.loader.load(load.url);
        m_loadByTicket.insert(load.ticket, static_cast<std::size_t>(index));
    }
    armRetryTimer();
    if (settled)
        advance();
}

void PollingCycle::armRetryTimer()
{
    std::optional<std::chrono::milliseconds> earliest;
    for (const Load& load : std::as_const(m_loads)) {
        if (load.retryAt && (!earliest || *load.retryAt < *earliest))
            earliest = load.retryAt;
    }
    if (!earliest || m_cancelled || m_finished) {
        m_retryTimer.stop();
        return;
    }
    m_retryTimer.start(
        std::max(std::chrono::milliseconds{0}, *earliest - m_services.clock.elapsed()));
}

void PollingCycle::advance()
{
    // A box of the reading check runs the event loop: a page arriving
    // meanwhile lands here and waits for the handling under way to go on.
    if (m_processing || m_cancelled || m_finished)
        return;
    const std::shared_ptr<PollingCycle> keepAlive = shared_from_this();
    m_processing = true;
    while (!m_cancelled && m_next < m_ports.size()) {
        const qsizetype k = m_next;
        const auto loadIndex = static_cast<qsizetype>(m_loadOfPort[k]);
        if (!m_loads[loadIndex].page)
            break;
        if (m_sharesPrevious[k] && m_loads[loadIndex].page->text.isEmpty()) {
            // The page came back empty for the port before: this port asks
            // for it again, and so do the ports after it that share it.
            const std::size_t again = startLoad(m_ports[k].puerto.WebPg);
            m_sharesPrevious[k] = false;
            for (qsizetype j = k; j < m_ports.size() && (j == k || m_sharesPrevious[j]); ++j)
                m_loadOfPort[j] = again;
            continue;
        }
        const LoadedPage page = *m_loads[loadIndex].page;
        const QDateTime arrivedAt = m_loads[loadIndex].arrivedAt;
        const bool fresh = !m_sharesPrevious[k];
        ++m_next;
        // The text is kept only as long as a following port reads it.
        if (m_next == m_ports.size() || !m_sharesPrevious[m_next])
            m_loads[loadIndex].page->text.clear();
        handle(k, page, arrivedAt, fresh);
    }
    m_processing = false;
    if (!m_cancelled && !m_finished && m_next == m_ports.size()) {
        m_finished = true;
        m_retryTimer.stop();
        m_loads.clear();
        showReports();
        if (m_onFinished)
            m_onFinished(*this);
    }
}

void PollingCycle::handle(qsizetype k, const LoadedPage& page, const QDateTime& arrivedAt,
                          bool freshPage)
{
    const Port& port = m_ports[k];
    m_handled.append(PortReports{port.element, {}, {}});
    AcquisitionDisplay& display = m_services.display;
    if (freshPage)
        display.setText(AcquisitionDisplay::Field::txtSource, pageExcerpt(page.text));
    // A page cut at the bound is reported once, by the first port that
    // reads it; a page that cannot be loaded by every port that asked.
    if (page.error && (freshPage || page.outcome == PageOutcome::Failed)) {
        report(port, *page.error);
        if (m_cancelled)
            return;
    }
    using Result = PortOutcome::Result;
    if (page.outcome == PageOutcome::Failed) {
        tell(port, Result::PageFailed, page, arrivedAt, {},
             page.error ? page.error->description : QString());
        return;
    }

    const Extraction extraction = extractReading(page.text, port.puerto);
    switch (extraction.status) {
    case ReadingStatus::NotFound:
        display.setText(AcquisitionDisplay::Field::lblStatus, extraction.statusText);
        tell(port, Result::NotFound, page, arrivedAt, {}, extraction.statusText);
        return;
    case ReadingStatus::Blank:
        tell(port, Result::Blank, page, arrivedAt, {}, {});
        return;
    case ReadingStatus::Failed:
        report(port, extraction.errors.front());
        if (!m_cancelled)
            tell(port, Result::CutFailed, page, arrivedAt, {},
                 extraction.errors.front().description);
        return;
    case ReadingStatus::Read:
        break;
    }

    display.setText(AcquisitionDisplay::Field::lblDato, extraction.reading);
    display.setText(AcquisitionDisplay::Field::lblFormato, extraction.markers.format);
    display.setText(AcquisitionDisplay::Field::lblMaquina, extraction.markers.machine);
    display.setText(AcquisitionDisplay::Field::lblProducto, extraction.markers.product);
    for (const Error& error : extraction.errors) {
        report(port, error);
        if (m_cancelled)
            return;
    }
    const PortReading reading{m_reloj,     port.element,       port.puerto.Puert,
                              port.limits, extraction.reading, extraction.markers,
                              arrivedAt};
    const Status checked = m_services.check.LabelLee(reading);
    if (!checked && !m_cancelled)
        report(port, checked.error());
    if (!m_cancelled)
        tell(port, checked ? Result::Read : Result::CheckFailed, page, arrivedAt,
             extraction.reading, checked ? QString() : checked.error().description);
}

void PollingCycle::tell(const Port& port, PortOutcome::Result result, const LoadedPage& page,
                        const QDateTime& arrivedAt, const QString& reading,
                        const QString& detail) const
{
    if (!m_services.portHandled)
        return;
    m_services.portHandled(PortOutcome{m_reloj, port.element, port.puerto.Puert, result, reading,
                                       detail, page.outcome, arrivedAt, page.noAnswer});
}

void PollingCycle::report(const Port& port, const Error& error)
{
    // Nothing is reported for a cycle that was stopped.
    if (m_cancelled || m_handled.isEmpty())
        return;
    PortReports& reports = m_handled.back();
    reports.errors.append(error);
    reports.texts.append(
        cycleReport(m_reloj, m_services.m.Mensajes(76, 13), port.puerto.Puert, port.puerto, error));
}

void PollingCycle::showReports()
{
    FailureNotices& failures = m_services.failures ? *m_services.failures : m_ownFailures;
    const std::optional<QString> box = failures.cycleEnded(m_handled, m_services.m.Idioma);
    m_handled.clear();
    if (box)
        m_services.ui.notice(*box, BoxKind::Exclamation, ReportSeconds);
}

void PollingCycle::cancel()
{
    if (m_cancelled || m_finished)
        return;
    m_cancelled = true;
    m_retryTimer.stop();
    for (auto it = m_loadByTicket.cbegin(); it != m_loadByTicket.cend(); ++it)
        m_services.loader.cancel(it.key());
    m_loadByTicket.clear();
    m_loads.clear();
    // A stopped cycle shows nothing more: its ports' failures stay as known
    // before it.
    m_handled.clear();
}

} // namespace telvar
