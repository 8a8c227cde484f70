#include "status/StatusService.h"

#include "acquisition/Acquisition.h"
#include "acquisition/Clock.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "config/ConfigGridModel.h"
#include "recording/RecordingService.h"
#include "status/StatusSetting.h"

#include <QDir>
#include <QHash>

namespace telvar {

namespace {

// The status's boxes: an exclamation that closes itself after 5 s.
constexpr double kReportSeconds = 5;

} // namespace

StatusService::StatusService(const Modulo1& m, Interaccion& ui, const Clock& clock,
                             Acquisition& acquisition, RecordingService& recording,
                             const ConfigGridModel& grid, const QString& folder, QObject* parent)
    : QObject(parent), m_m(m), m_ui(ui), m_clock(clock), m_acquisition(acquisition),
      m_recording(recording), m_grid(grid), m_ports(m, clock),
      m_file(QDir(folder).filePath(fileName())),
      m_server([this] { return metricsDocument(); }, [this] { return statusDocument(); })
{
    connect(&m_acquisition, &Acquisition::runningChanged, this, [this](bool running) {
        if (running)
            acquisitionStarted();
        else
            m_ports.acquisitionStopped();
        scheduleWrite();
    });
    // The clocks' intervals are armed after the running state changed.
    connect(&m_acquisition, &Acquisition::startCompleted, this, [this] {
        readClockIntervals();
        m_ports.review();
        scheduleWrite();
    });
    connect(&m_acquisition, &Acquisition::portHandled, &m_ports, &RouterStatus::portHandled);
    connect(&m_acquisition, &Acquisition::cycleEnded, this, [this] {
        readClockIntervals();
        scheduleWrite();
    });
    connect(&m_recording, &RecordingService::batchWritten, this,
            [this](const BatchOutcome& outcome) {
                m_ports.readingsRecorded(outcome.recordedPuert);
                scheduleWriteSoon();
            });
    m_soon.setSingleShot(true);
    m_soon.setInterval(kRecordingWriteDelay);
    connect(&m_soon, &QTimer::timeout, this, &StatusService::scheduleWrite);
    connect(&m_file, &StatusFileWriter::startedFailing, this, [this](const QString& why) {
        m_ui.notice(QStringLiteral("Telvar. ") + fileName() + QStringLiteral(".\n\n") +
                        ownText(OwnText::StatusFileUnwritable, m_m.Idioma).arg(m_file.path(), why),
                    BoxKind::Exclamation, kReportSeconds);
    });
}

StatusService::~StatusService()
{
    // The last word: how the router was when it ended.
    writeNow();
}

void StatusService::open()
{
    const QString path = StatusSetting::pathForInstallation(m_m.RutaApp);
    const Result<StatusSetting> setting = StatusSetting::read(path, m_m.Idioma);
    if (!setting) {
        reportServerOff(setting.error().description);
    } else if (setting.value().port != 0) {
        m_wantedPort = setting.value().port;
        if (const Status listening = m_server.listen(m_wantedPort); !listening) {
            m_serverError = listening.error().description;
            m_ui.notice(QStringLiteral("Telvar. TelvarService.ini.\n\n") +
                            ownText(OwnText::StatusServerCannotListen, m_m.Idioma)
                                .arg(QString::number(m_wantedPort), m_serverError, m_file.path()),
                        BoxKind::Exclamation, kReportSeconds);
        }
    }
    scheduleWrite();
}

void StatusService::reportServerOff(const QString& why)
{
    m_serverError = why;
    m_ui.notice(QStringLiteral("Telvar. TelvarService.ini.\n\n") + why + QLatin1Char('\n') +
                    ownText(OwnText::StatusServerStaysOff, m_m.Idioma),
                BoxKind::Exclamation, kReportSeconds);
}

void StatusService::acquisitionStarted()
{
    // Once per start: the active ports, and their descriptions from the
    // configuration's rows (the grid holds them all at this point).
    QHash<int, QString> descriptions;
    descriptions.reserve(m_grid.rowCount());
    for (int row = 0; row < m_grid.rowCount(); ++row) {
        const ConfigRow config = m_grid.row(row);
        descriptions.insert(config.Puert, config.Descr);
    }
    QList<PolledPort> polled;
    const Puertos& puertos = m_acquisition.puertos();
    for (qsizetype i = 1; i < puertos.size(); ++i) {
        const TPuerto& p = puertos[i];
        if (p.clockNumber() <= 0)
            continue;
        polled.append(
            PolledPort{p.Puert, p.clockNumber(), descriptions.value(p.Puert), p.WebPg, p.Ident});
    }
    readClockIntervals();
    m_ports.acquisitionStarted(polled);
}

void StatusService::readClockIntervals()
{
    PollingClocks& clocks = m_acquisition.clocks();
    for (int reloj = PollingClocks::FirstClock; reloj <= PollingClocks::LastClock; ++reloj)
        m_ports.setClockInterval(reloj, clocks.interval(reloj));
}

StatusSnapshot StatusService::snapshot() const
{
    StatusSnapshot s;
    s.at = m_clock.now();
    s.acquiring = m_acquisition.isRunning();
    s.ports = m_ports.ports();
    s.destinations = m_recording.destinations();
    StatusSnapshot::OutboxTotals& box = s.outbox;
    box.path = m_recording.outboxPath();
    box.open = m_recording.isOpen();
    box.waiting = m_recording.waiting();
    box.quarantined = m_recording.quarantinedCount();
    box.capacity = m_recording.capacity();
    box.full = m_recording.isFull();
    box.handedOver = m_recording.handedOver();
    box.kept = m_recording.keptTotal();
    box.recorded = m_recording.recordedTotal();
    box.logUnwritable = m_recording.logUnwritable();
    box.error = m_recording.outboxError();
    box.setAside = m_recording.setAsidePath();
    s.pagesRetried = m_acquisition.retriedPages();
    s.server.port = m_wantedPort;
    s.server.listening = m_server.isListening();
    s.server.error = m_serverError;
    return s;
}

void StatusService::scheduleWrite()
{
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_writeScheduled = false;
        writeFile();
    });
}

void StatusService::scheduleWriteSoon()
{
    if (!m_soon.isActive())
        m_soon.start();
}

void StatusService::writeNow()
{
    m_writeScheduled = false;
    writeFile();
    m_file.flush();
}

void StatusService::writeFile()
{
    // The status file belongs to the router that holds the outbox beside
    // it: a router refused that outbox leaves the file to its holder.
    if (!m_recording.isClaimed())
        return;
    m_file.write(statusDocument());
}

} // namespace telvar
