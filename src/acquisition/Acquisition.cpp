#include "acquisition/Acquisition.h"

#include "acquisition/PageLoader.h"
#include "acquisition/PollingCycle.h"
#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/TrimBlanks.h"
#include "config/ConfigDatabase.h"
#include "database/ArmaConexion.h"
#include "database/OpenDBOK.h"

#include <QSqlRecord>
#include <algorithm>
#include <chrono>
#include <limits>

namespace telvar {

namespace {

// The start's report box: critical, closing itself after 5 s.
constexpr double kReportSeconds = 5;

Error connectionNotOpen()
{
    return Error{ErrorNumber::ConnectionNotOpen, QStringLiteral("Telvar"),
                 QStringLiteral("The connection cannot be used to perform this operation. "
                                "It is either closed or invalid in this context.")};
}

} // namespace

QString Acquisition::activeRecordSource()
{
    return QStringLiteral("Select * from HTMCONFI left join HTMRELOJ") +
           QStringLiteral(" on HTMCONFI.RELOJ=HTMRELOJ.CLAVE") +
           QStringLiteral(" where HTMCONFI.RELOJ > 0 order by PUERT");
}

Acquisition::Acquisition(Modulo1& m, Interaccion& ui, ConfigDatabase& config, PageLoader& loader,
                         const Clock& clock, ReadingCheck& check, QObject* parent)
    : QObject(parent), m_m(m), m_ui(ui), m_config(config), m_loader(loader), m_clock(clock),
      m_check(check), m_clocks(clock)
{
    connect(&m_clocks, &PollingClocks::cycleDue, this, &Acquisition::runCycle);
    connect(&m_loader, &PageLoader::pageLoaded, this,
            [this](PageLoader::Ticket ticket, const LoadedPage& page) {
                // A cycle may end, and others begin, while one handles its
                // page: each gets the page from a list that stays put.
                const std::vector<std::shared_ptr<PollingCycle>> cycles = m_cycles;
                for (const std::shared_ptr<PollingCycle>& cycle : cycles)
                    cycle->pageLoaded(ticket, page);
            });
}

Acquisition::~Acquisition()
{
    for (const std::shared_ptr<PollingCycle>& cycle : m_cycles)
        cycle->cancel();
}

bool Acquisition::isClockButtonEnabled(int reloj) const
{
    return PollingClocks::isClock(reloj) && m_clockButtons[static_cast<std::size_t>(reloj)];
}

Limits Acquisition::limits(int element) const
{
    if (element < 0 || element >= m_limits.size())
        return Limits{};
    return m_limits[element];
}

qint64 Acquisition::retriedPages() const
{
    qint64 total = m_endedCycleRetries;
    for (const std::shared_ptr<PollingCycle>& cycle : m_cycles)
        total += cycle->retries();
    return total;
}

void Acquisition::cmdAbre_Click()
{
    m_ui.setMousePointer(PointerShape::Hourglass);
    m_puertos = Puertos{TPuerto{}};
    m_limits = QList<Limits>{Limits{}};
    Status done;
    if (m_running)
        stop();
    else
        done = start();
    if (!done)
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. cmdAbre."), done.error()),
                      BoxKind::Critical, kReportSeconds);
    m_ui.setMousePointer(PointerShape::Default);
}

Status Acquisition::start()
{
    // Each start boxes the ports' failures anew: its configuration may
    // differ from the last one's.
    m_failures.clear();
    if (const Status loaded = loadPuertos(); !loaded)
        return loaded;
    setRunning(true);
    if (const Status enabled = enableClocks(); !enabled)
        return enabled;
    if (const Status narrowed = m_config.RsConf().setRecordSource(activeRecordSource()); !narrowed)
        return narrowed;
    emit startCompleted();
    return {};
}

Status Acquisition::loadPuertos()
{
    const ConfigGridModel& grid = m_config.RsConf();
    // The rows, and the limits' keys of those with a clock: all of them are
    // asked of the SPC database together once its connection is open, and
    // the walk below takes each row's limits from that answer in its turn
    // (so its errors come in the walk's order).
    QList<ConfigRow> rows;
    QList<CxpLimits::Triple> triples;
    rows.reserve(grid.rowCount());
    for (int row = 0; row < grid.rowCount(); ++row) {
        const ConfigRow& config = rows.emplace_back(grid.row(row));
        if (config.Reloj > 0)
            triples.append(
                {trimBlanks(config.Maqui), trimBlanks(config.Produ), trimBlanks(config.Carac)});
    }
    Puertos puertos{TPuerto{}};
    QList<Limits> limits{Limits{}};
    // One connection to the SPC database for every port's limits, opened
    // at the first port with a clock.
    std::optional<OpenDBOKResult> qualitra;
    std::optional<CxpLimits> cxp;
    qsizetype active = 0;
    for (const ConfigRow& config : std::as_const(rows)) {
        if (puertos.size() > std::numeric_limits<qint16>::max())
            return Error{ErrorNumber::Overflow, QStringLiteral("Telvar"),
                         QStringLiteral("Overflow: more than 32767 configuration rows")};
        Result<TPuerto> port = buildTPuerto(config);
        if (!port)
            return port.error();
        puertos.append(port.value());
        limits.append(Limits{});
        if (config.Reloj <= 0)
            continue;
        if (!qualitra) {
            qualitra =
                OpenDBOK(m_m, m_ui, OpenRequest{m_m.CadConexion, m_m.TipoBD, /*Avisa=*/true});
            keepTypedPassword(m_m, *qualitra);
        }
        if (!qualitra->ok())
            return connectionNotOpen();
        if (!cxp) {
            cxp.emplace(*qualitra->cn);
            cxp->prefetch(triples);
        }
        const CxpLimits::Triple& keys = triples[active++];
        Result<Limits> found = cxp->limits(keys.machine, keys.product, keys.characteristic);
        if (!found)
            return found.error();
        limits.back() = found.value();
    }
    m_puertos = std::move(puertos);
    m_limits = std::move(limits);
    return {};
}

Status Acquisition::enableClocks()
{
    const OpenDBOKResult cn = OpenDBOK(m_m, m_ui,
                                       OpenRequest{jetConnectionString(m_m.RutaConf, m_m.PassBD),
                                                   QStringLiteral("[JET4]"),
                                                   /*Avisa=*/true});
    keepTypedPassword(m_m, cn);
    if (!cn)
        return connectionNotOpen();
    Result<QSqlQuery> query = cn.cn->exec(activeRecordSource());
    if (!query)
        return query.error();
    QList<ConfigRow> rows;
    while (query.value().next())
        rows.append(ConfigRow::fromRecord(query.value().record()));
    const ClockPlan plan = planClocks(rows);
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj) {
        const auto r = static_cast<std::size_t>(reloj);
        if (!plan.used[r])
            continue;
        setClockButton(reloj, true);
        m_clocks.setInterval(reloj, plan.interval[r]);
        if (plan.interval[r] > 0)
            m_clocks.enable(reloj);
    }
    if (plan.error)
        return *plan.error;
    return {};
}

void Acquisition::stop()
{
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj)
        setClockButton(reloj, false);
    m_clocks.disableAll();
    // A cycle under way ends quietly; its clock stays off.
    const std::vector<std::shared_ptr<PollingCycle>> cycles = std::move(m_cycles);
    m_cycles.clear();
    for (const std::shared_ptr<PollingCycle>& cycle : cycles) {
        cycle->cancel();
        m_endedCycleRetries += cycle->retries();
        m_clocks.cycleFinished(cycle->reloj());
        emit cycleEnded(cycle->reloj());
    }
    setRunning(false);
    const Status widened = m_config.RsConf().setRecordSource(ConfigDatabase::fullRecordSource());
    if (!widened)
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. cmdAbre."), widened.error()),
                      BoxKind::Critical, kReportSeconds);
}

void Acquisition::setRunning(bool running)
{
    m_config.RsConf().setLocked(running);
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged(running);
}

void Acquisition::setClockButton(int reloj, bool enabled)
{
    bool& button = m_clockButtons[static_cast<std::size_t>(reloj)];
    if (button == enabled)
        return;
    button = enabled;
    emit clockButtonChanged(reloj, enabled);
}

void Acquisition::bReloj_Click(int reloj)
{
    // One cycle per clock at a time: the one under way is reading the
    // clock's pages already.
    if (!isClockButtonEnabled(reloj) || m_clocks.isInCycle(reloj))
        return;
    m_clocks.press(reloj);
}

void Acquisition::runCycle(int reloj)
{
    QList<PollingCycle::Port> ports;
    for (qsizetype i = 1; i < m_puertos.size(); ++i) {
        if (m_puertos[i].clockNumber() == reloj)
            ports.append(
                PollingCycle::Port{static_cast<int>(i), m_puertos[i], limits(static_cast<int>(i))});
    }
    // The cycle is to end before the clock's next one is due; a clock
    // without an interval (only its button) gets the shortest a clock has.
    const int minutes = m_clocks.interval(reloj);
    const std::chrono::milliseconds span =
        minutes > 0 ? std::chrono::minutes(minutes) : PollingClocks::TickInterval;
    PollingCycle::Services services{m_m, m_ui, m_loader, m_display, m_check, m_clock};
    services.deadline = m_clock.elapsed() + span;
    services.portHandled = [this](const PortOutcome& outcome) { emit portHandled(outcome); };
    services.failures = &m_failures;
    auto cycle = std::make_shared<PollingCycle>(
        reloj, std::move(ports), services, [this](PollingCycle& ended) { cycleFinished(&ended); });
    m_cycles.push_back(cycle);
    if (m_cycles.size() == 1)
        m_ui.setMousePointer(PointerShape::Hourglass);
    cycle->begin();
}

void Acquisition::cycleFinished(PollingCycle* cycle)
{
    const auto it = std::find_if(m_cycles.begin(), m_cycles.end(),
                                 [cycle](const auto& c) { return c.get() == cycle; });
    if (it == m_cycles.end())
        return;
    const int reloj = cycle->reloj();
    m_endedCycleRetries += cycle->retries();
    m_cycles.erase(it);
    m_clocks.cycleFinished(reloj);
    if (m_cycles.empty())
        m_ui.setMousePointer(PointerShape::Default);
    emit cycleEnded(reloj);
}

} // namespace telvar
