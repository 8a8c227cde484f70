#pragma once

#include "acquisition/Acquisition.h"
#include "app/RunState.h"
#include "config/ConfigDatabase.h"
#include "recording/ReadingRecorder.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "recording/UnrecordedLog.h"
#include "status/StatusService.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

namespace telvar {

struct Modulo1;
class Clock;
class Interaccion;
class MarkerLimits;
class PageLoader;

// The router without its window: the page loader, the clocks, the
// configuration database, the acquisition, the reading check, the
// recording (outbox and writer thread) and the models the window shows. The
// main window takes it, shows its models and forwards the person's presses;
// a program without a screen drives it the same way.
class Router final : public QObject {
    Q_OBJECT
public:
    // With its own HTTP page loader and the system's clock.
    Router(Modulo1& m, Interaccion& ui, QObject* parent = nullptr);
    // With the page loader and clock given (tests script them); the outbox
    // is the installation's unless outboxPath names another.
    Router(Modulo1& m, Interaccion& ui, PageLoader& loader, const Clock& clock,
           QString outboxPath = QString(), QObject* parent = nullptr);
    ~Router() override;

    // Claims the installation's outbox and starts the recording (the
    // appender opens the outbox, trying again while it cannot; the writers
    // then record what an earlier run left). When another router holds the
    // outbox, a box names it, and the acquisition does not start until this
    // router can claim it.
    void open();

    // A person's press of Start/Stop: starts or stops the acquisition and
    // keeps the outcome as the installation's run state, so the next start
    // of the program acquires again only if this one was left acquiring.
    // Cancels a pending resumption.
    void pressStartStop();
    // When the run state says the router was acquiring when it last ended,
    // starts acquiring. A start that fails is tried again, after 30 s and
    // then twice as long each time up to 5 minutes, until it succeeds or a
    // person presses Start/Stop (a database server that boots later than
    // this computer must not leave the plant unrecorded).
    void resumeAcquisition();
    // Whether a resumption is waiting to try again.
    bool resumptionPending() const { return m_resumeTimer.isActive(); }
    const RunState& runState() const { return m_runState; }

    ConfigDatabase& configDatabase() { return m_configDatabase; }
    Acquisition& acquisition() { return *m_acquisition; }
    RecordingService& recording() { return *m_recording; }
    PageLoader& pageLoader() { return *m_loader; }
    const Clock& clock() const { return *m_clock; }
    ReadingsModel& readings() { return m_readings; }
    RecordingLog& recordingLog() { return m_recordingLog; }
    const UnrecordedLog& unrecordedLog() const { return m_unrecorded; }
    // How the router is: the ports' state, the status file, the status server.
    StatusService& status() { return *m_status; }

signals:
    // The program must end now (its reason has been shown).
    void programMustEnd();
    // The acquisition was started by the run state, not by a person.
    void acquisitionResumed();

private:
    void keepRunState(bool acquiring);
    // Whether this router holds the installation's outbox, claiming it when
    // it does not yet; when another router holds it, says so in a box.
    bool holdsOutbox();
    void showOutboxRefused(const Error& why);

    Router(Modulo1& m, Interaccion& ui, std::unique_ptr<PageLoader> ownLoader,
           std::unique_ptr<Clock> ownClock, PageLoader* loader, const Clock* clock,
           QString outboxPath, QObject* parent);

    Modulo1& m_m;
    Interaccion& m_ui;
    std::unique_ptr<PageLoader> m_ownLoader;
    std::unique_ptr<Clock> m_ownClock;
    PageLoader* m_loader;
    const Clock* m_clock;
    ConfigDatabase m_configDatabase;
    ReadingsModel m_readings;
    RecordingLog m_recordingLog;
    UnrecordedLog m_unrecorded;
    std::unique_ptr<RecordingService> m_recording;
    std::unique_ptr<MarkerLimits> m_markerLimits;
    std::unique_ptr<ReadingRecorder> m_readingRecorder;
    std::unique_ptr<Acquisition> m_acquisition;
    RunState m_runState;
    std::unique_ptr<StatusService> m_status;
    QTimer m_resumeTimer;
    std::chrono::seconds m_resumeDelay;
};

} // namespace telvar
