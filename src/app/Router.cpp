#include "app/Router.h"

#include "acquisition/Clock.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/MarkerLimits.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "recording/Outbox.h"

#include <QDir>
#include <QFileInfo>

namespace telvar {

namespace {

constexpr std::chrono::seconds kFirstResumeDelay{30};
constexpr std::chrono::seconds kLongestResumeDelay{300};

// The run state sits beside the outbox: both belong to the installation
// (tests give an outbox of their own, and so a run state of their own).
QString runStatePath(const Modulo1& m, const QString& outboxPath)
{
    if (outboxPath.isEmpty())
        return RunState::pathForInstallation(m.RutaApp);
    return QFileInfo(outboxPath).dir().filePath(QStringLiteral("TelvarRun.state"));
}

} // namespace

Router::Router(Modulo1& m, Interaccion& ui, QObject* parent)
    : Router(m, ui, std::make_unique<HttpPageLoader>(), std::make_unique<SystemClock>(), nullptr,
             nullptr, QString(), parent)
{
}

Router::Router(Modulo1& m, Interaccion& ui, PageLoader& loader, const Clock& clock,
               QString outboxPath, QObject* parent)
    : Router(m, ui, nullptr, nullptr, &loader, &clock, std::move(outboxPath), parent)
{
}

Router::Router(Modulo1& m, Interaccion& ui, std::unique_ptr<PageLoader> ownLoader,
               std::unique_ptr<Clock> ownClock, PageLoader* loader, const Clock* clock,
               QString outboxPath, QObject* parent)
    : QObject(parent), m_m(m), m_ui(ui), m_ownLoader(std::move(ownLoader)),
      m_ownClock(std::move(ownClock)), m_loader(loader ? loader : m_ownLoader.get()),
      m_clock(clock ? clock : m_ownClock.get()), m_configDatabase(m, ui), m_readings(m),
      m_unrecorded(UnrecordedLog::forInstallation(m.RutaApp)),
      m_runState(runStatePath(m, outboxPath)), m_resumeDelay(kFirstResumeDelay)
{
    m_resumeTimer.setSingleShot(true);
    connect(&m_resumeTimer, &QTimer::timeout, this, &Router::resumeAcquisition);
    if (outboxPath.isEmpty())
        outboxPath = Outbox::pathForInstallation(m.RutaApp);
    m_recording = std::make_unique<RecordingService>(m, ui, *m_clock, m_recordingLog, m_unrecorded,
                                                     outboxPath);
    m_markerLimits = std::make_unique<MarkerLimits>(m, ui);
    m_readingRecorder =
        std::make_unique<ReadingRecorder>(m, ui, m_configDatabase.RsConfBusca(), m_readings,
                                          m_recordingLog, *m_recording, m_markerLimits.get());
    m_acquisition = std::make_unique<Acquisition>(m, ui, m_configDatabase, *m_loader, *m_clock,
                                                  *m_readingRecorder);
    connect(m_acquisition.get(), &Acquisition::cycleEnded, this, [this] {
        // The data database's name refused: its box has been shown.
        if (m_readingRecorder->programMustEnd())
            emit programMustEnd();
    });
    connect(m_acquisition.get(), &Acquisition::runningChanged, this,
            [this] { m_markerLimits->reset(); });
    m_status = std::make_unique<StatusService>(m, ui, *m_clock, *m_acquisition, *m_recording,
                                               m_configDatabase.RsConf(),
                                               QFileInfo(outboxPath).absolutePath());
}

Router::~Router()
{
    // The status writes its last word while what it tells of is still there.
    m_status.reset();
    // The cycles end before the recording they hand readings to.
    m_acquisition.reset();
    m_recording->shutdown();
}

void Router::open()
{
    if (const Status opened = m_recording->open(); !opened)
        showOutboxRefused(opened.error());
    m_status->open();
}

void Router::showOutboxRefused(const Error& why)
{
    Error error = why;
    error.description = ownText(OwnText::OutboxInUseBox, m_m.Idioma).arg(why.description);
    m_ui.notice(errorReport(QStringLiteral("Telvar. Outbox."), error), BoxKind::Critical, 5);
}

bool Router::holdsOutbox()
{
    if (m_recording->isClaimed())
        return true;
    // The router that held it may have ended since.
    const Status opened = m_recording->open();
    if (!opened)
        showOutboxRefused(opened.error());
    return opened.ok();
}

void Router::pressStartStop()
{
    m_resumeTimer.stop();
    m_resumeDelay = kFirstResumeDelay;
    // The person's choice is kept before it takes effect: once the
    // acquisition says it is running, a crash at any moment brings it back.
    // A start that fails is then kept as stopped.
    const bool wanted = !m_acquisition->isRunning();
    // Only the router that holds the installation's outbox acquires, and
    // only it keeps the installation's run state.
    if (wanted && !holdsOutbox())
        return;
    keepRunState(wanted);
    m_acquisition->cmdAbre_Click();
    if (m_acquisition->isRunning() != wanted)
        keepRunState(m_acquisition->isRunning());
}

void Router::keepRunState(bool acquiring)
{
    if (const Status saved = m_runState.save(acquiring); !saved)
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. cmdAbre."), saved.error()),
                      BoxKind::Exclamation, 5);
}

void Router::resumeAcquisition()
{
    if (m_acquisition->isRunning())
        return;
    const Result<bool> wasAcquiring = m_runState.wasAcquiring();
    if (!wasAcquiring) {
        m_ui.notice(errorReport(QStringLiteral("Telvar. Run state."), wasAcquiring.error()),
                    BoxKind::Exclamation, 5);
        return;
    }
    if (!wasAcquiring.value())
        return;
    if (holdsOutbox())
        m_acquisition->cmdAbre_Click();
    if (m_acquisition->isRunning()) {
        m_resumeTimer.stop();
        m_resumeDelay = kFirstResumeDelay;
        emit acquisitionResumed();
        return;
    }
    // The start's failure has been reported; the state stays "acquiring".
    m_resumeTimer.start(m_resumeDelay);
    m_resumeDelay = std::min(m_resumeDelay * 2, kLongestResumeDelay);
}

} // namespace telvar
