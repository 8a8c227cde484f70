#pragma once

#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/CxpLimits.h"
#include "acquisition/FailureNotices.h"
#include "acquisition/PollingClocks.h"
#include "acquisition/PortOutcome.h"
#include "acquisition/Puertos.h"
#include "common/Error.h"

#include <QList>
#include <QObject>
#include <array>
#include <memory>
#include <vector>

namespace telvar {

struct Modulo1;
class Clock;
class ConfigDatabase;
class Interaccion;
class PageLoader;
class PollingCycle;
class ReadingCheck;

// The acquisition: started and stopped by one button, it builds the table of
// active ports (Puertos) and their limits (LimInf, LimSup), runs the ten
// clocks and, for each clock that is due or whose button is pressed, one
// polling cycle over the clock's ports. It owns everything it builds; the
// main window forwards the presses and shows the state and the display.
//
// Nothing of a running acquisition waits on a box: the cycles' reports are
// notices (Interaccion::notice), each failure of a port boxed once from the
// start on (FailureNotices), so Stop and the clock buttons take effect at
// once whatever is shown. Only a start's and a stop's own errors are modal
// boxes, after the button's work is done.
class Acquisition final : public QObject {
    Q_OBJECT
public:
    // The record sources of the configuration grid while running (the
    // active ports only) and the query of the clocks in use.
    static QString activeRecordSource();

    // check: where the cycles hand their readings.
    Acquisition(Modulo1& m, Interaccion& ui, ConfigDatabase& config, PageLoader& loader,
                const Clock& clock, ReadingCheck& check, QObject* parent = nullptr);
    ~Acquisition() override;

    // The start/stop button: starts when stopped, stops when running. A
    // start that fails is reported and leaves what it built so far, as
    // the button's own error handling does.
    void cmdAbre_Click();
    // A clock's button: its cycle runs at once, unless one of it runs.
    void bReloj_Click(int reloj);

    bool isRunning() const { return m_running; }
    bool isClockButtonEnabled(int reloj) const;

    const Puertos& puertos() const { return m_puertos; }
    // The limits of element i of Puertos (-999999 and 999999 for one never loaded).
    Limits limits(int element) const;
    double LimInf(int element) const { return limits(element).LimInf; }
    double LimSup(int element) const { return limits(element).LimSup; }

    PollingClocks& clocks() { return m_clocks; }
    AcquisitionDisplay& display() { return m_display; }
    // The number of cycles under way.
    int cyclesRunning() const { return static_cast<int>(m_cycles.size()); }
    // The pages the cycles have asked for again since the acquisition was
    // built, those of the cycles under way included.
    qint64 retriedPages() const;

signals:
    // The button's state: running (caption "stop") or stopped.
    void runningChanged(bool running);
    void clockButtonChanged(int reloj, bool enabled);
    // A start has completed: the readings are to be shown.
    void startCompleted();
    // A cycle has ended (after its last port, or quietly after a stop).
    void cycleEnded(int reloj);
    // A cycle has finished a port: its reading, or why there was none.
    void portHandled(const telvar::PortOutcome& outcome);

private:
    Status start();
    void stop();
    Status loadPuertos();
    Status enableClocks();
    void setRunning(bool running);
    void setClockButton(int reloj, bool enabled);
    void runCycle(int reloj);
    void cycleFinished(PollingCycle* cycle);

    Modulo1& m_m;
    Interaccion& m_ui;
    ConfigDatabase& m_config;
    PageLoader& m_loader;
    const Clock& m_clock;
    ReadingCheck& m_check;
    PollingClocks m_clocks;
    AcquisitionDisplay m_display;

    bool m_running = false;
    std::array<bool, PollingClocks::LastClock + 1> m_clockButtons{};
    Puertos m_puertos{TPuerto{}};
    QList<Limits> m_limits{Limits{}};
    std::vector<std::shared_ptr<PollingCycle>> m_cycles;
    // Which ports' failures have had their box since the start.
    FailureNotices m_failures;
    // The retries of the cycles that have ended.
    qint64 m_endedCycleRetries = 0;
};

} // namespace telvar
