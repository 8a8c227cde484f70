#include "app/HeadlessProgram.h"

#include "app/HeadlessInteraccion.h"
#include "app/Router.h"
#include "app/ServiceNotifier.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/LeeAnchos.h"
#include "startup/StartupSequence.h"

#include <QLockFile>
#include <cstdio>

namespace telvar {

HeadlessProgram::HeadlessProgram(Modulo1& m, Interaccion& ui, QString programDir,
                                 ServiceNotifier& notifier, Ender end)
    : m_m(m), m_ui(ui), m_programDir(std::move(programDir)), m_notifier(notifier),
      m_end(std::move(end))
{
    m_sinceStart.start();
}

HeadlessProgram::~HeadlessProgram()
{
    // The router (and its outbox) goes before the lock that guards the
    // single instance.
    m_router.reset();
    m_lock.reset();
}

bool HeadlessProgram::start(bool personStarts)
{
    StartupSequence startup(m_m, m_ui, m_programDir);
    if (!startup.run())
        return false;
    m_lock = startup.takeInstanceLock();

    m_router = std::make_unique<Router>(m_m, m_ui);
    // The installation's outbox is claimed first, before anything else of
    // the installation is opened: a second router says at once which one
    // holds it.
    m_router->open();
    connect(m_router.get(), &Router::programMustEnd, this, [this] { m_end(1); });
    connect(&m_router->acquisition(), &Acquisition::runningChanged, this, [this](bool running) {
        if (running) {
            const QString line = QStringLiteral("Telvar: acquiring, %1 ms after the start")
                                     .arg(m_sinceStart.elapsed());
            say(line);
            m_notifier.status(QStringLiteral("acquiring"));
        } else {
            say(QStringLiteral("Telvar: acquisition stopped"));
            m_notifier.status(QStringLiteral("stopped"));
        }
    });
    // The key widths the configuration is checked against, then the
    // configuration itself.
    if (!LeeAnchos(m_m, m_ui))
        return false;
    if (m_router->configDatabase().Reinicia() == ReiniciaOutcome::EndProgram)
        return false;
    if (personStarts)
        m_router->pressStartStop();
    else
        m_router->resumeAcquisition();
    const bool acquiring = m_router->acquisition().isRunning();
    if (!acquiring && !m_router->resumptionPending() && !personStarts)
        say(QStringLiteral("Telvar: not acquiring: the run state ") + m_router->runState().path() +
            QStringLiteral(" says a person stopped it, or it was never started; start it with "
                           "--start or with the window's Start"));
    m_notifier.ready(acquiring ? QStringLiteral("acquiring") : QStringLiteral("not acquiring"));
    return true;
}

void HeadlessProgram::stop(int signalNumber)
{
    if (m_stopping)
        return;
    m_stopping = true;
    say(QStringLiteral("Telvar: stop requested (signal %1)").arg(signalNumber));
    m_notifier.stopping();
    // Only the acquisition stops: the run state keeps what a person chose.
    if (m_router && m_router->acquisition().isRunning())
        m_router->acquisition().cmdAbre_Click();
    if (m_router)
        m_router->recording().flush();
    m_end(0);
}

void HeadlessProgram::say(const QString& line)
{
    // Standard error may be a pipe whose reader has gone, or a full file: the
    // line is lost then (SIGPIPE is ignored), never the router, and the next
    // line is tried afresh.
    writeStandardErrorLine(line);
    if (std::ferror(stderr))
        std::clearerr(stderr);
}

} // namespace telvar
