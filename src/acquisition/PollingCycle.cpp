#include "acquisition/PollingCycle.h"

#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/Clock.h"
#include "acquisition/CycleReport.h"
#include "acquisition/Extraction.h"
#include "acquisition/ReadingCheck.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"

namespace telvar {

namespace {

// The report box of a cycle: an exclamation that closes itself after 5 s.
constexpr double kReportSeconds = 5;

} // namespace

PollingCycle::PollingCycle(int reloj, QList<Port> ports, Services services,
                           FinishedHandler finished)
    : m_reloj(reloj), m_ports(std::move(ports)), m_services(services),
      m_onFinished(std::move(finished))
{
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
    m_loads.append(Load{m_services.loader.load(url), std::nullopt, {}});
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
    load.page = page;
    load.arrivedAt = m_services.clock.now();
    advance();
}

void PollingCycle::advance()
{
    // A report box runs the event loop: a page arriving meanwhile lands here
    // and waits for the handling under way to go on.
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
        m_loads.clear();
        if (m_onFinished)
            m_onFinished(*this);
    }
}

void PollingCycle::handle(qsizetype k, const LoadedPage& page, const QDateTime& arrivedAt,
                          bool freshPage)
{
    const Port& port = m_ports[k];
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
    if (page.outcome == PageOutcome::Failed)
        return;

    const Extraction extraction = extractReading(page.text, port.puerto);
    switch (extraction.status) {
    case ReadingStatus::NotFound:
        display.setText(AcquisitionDisplay::Field::lblStatus, extraction.statusText);
        return;
    case ReadingStatus::Blank:
        return;
    case ReadingStatus::Failed:
        report(port, extraction.errors.front());
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
}

void PollingCycle::report(const Port& port, const Error& error)
{
    m_services.ui.mensaBox(
        cycleReport(m_reloj, m_services.m.Mensajes(76, 13), port.puerto.Puert, port.puerto, error),
        BoxKind::Exclamation, kReportSeconds);
}

void PollingCycle::cancel()
{
    if (m_cancelled || m_finished)
        return;
    m_cancelled = true;
    for (auto it = m_loadByTicket.cbegin(); it != m_loadByTicket.cend(); ++it)
        m_services.loader.cancel(it.key());
    m_loadByTicket.clear();
    m_loads.clear();
}

} // namespace telvar
