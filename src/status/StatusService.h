#pragma once

#include "status/RouterStatus.h"
#include "status/StatusDocument.h"
#include "status/StatusFileWriter.h"
#include "status/StatusServer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

namespace telvar {

struct Modulo1;
class Acquisition;
class Clock;
class ConfigGridModel;
class Interaccion;
class RecordingService;

// How the router is, told three ways: the ports' state for the main
// window's grid (ports()), the status file TelvarStatus.json beside the
// outbox, rewritten after every cycle and at every start and stop (and
// within a second of the recording's batches), and, when
// the installation asks for it (TelvarService.ini, see StatusSetting), an
// HTTP server on 127.0.0.1 with /metrics and /status.
//
// It listens to the acquisition (starts, stops, cycles, each port's
// outcome) and the recording (each batch written) and keeps what it shows
// as it goes, so that a cycle costs it a constant amount per port and
// nothing is read from a database.
class StatusService final : public QObject {
    Q_OBJECT
public:
    static QString fileName() { return QStringLiteral("TelvarStatus.json"); }

    // folder: where the status file goes (the outbox's folder).
    StatusService(const Modulo1& m, Interaccion& ui, const Clock& clock, Acquisition& acquisition,
                  RecordingService& recording, const ConfigGridModel& grid, const QString& folder,
                  QObject* parent = nullptr);
    ~StatusService() override;

    // Reads the installation's setting and, when it names a port, starts
    // the server; then writes the status file. A setting that cannot be
    // used, or a port that cannot be listened on, is reported in a box and
    // leaves the server off; the acquisition does not depend on it.
    void open();

    RouterStatus& ports() { return m_ports; }
    const RouterStatus& ports() const { return m_ports; }

    StatusSnapshot snapshot() const;
    QByteArray statusDocument() const { return statusJson(snapshot()); }
    QByteArray metricsDocument() const { return metricsText(snapshot()); }

    const QString& filePath() const { return m_file.path(); }
    // Writes the status file at the end of this turn of the event loop (one
    // write for all that ended in it).
    void scheduleWrite();
    // Writes it within kRecordingWriteDelay: the recording's batches, which
    // may come many a second, are told at that pace.
    void scheduleWriteSoon();
    static constexpr std::chrono::milliseconds kRecordingWriteDelay{1000};
    // Writes it now, and waits until it is on the disk (the end, tests).
    void writeNow();
    void writeFile();

    // The server's port while it listens, 0 otherwise.
    quint16 serverPort() const { return m_server.port(); }

private:
    void acquisitionStarted();
    void readClockIntervals();
    void reportServerOff(const QString& why);

    const Modulo1& m_m;
    Interaccion& m_ui;
    const Clock& m_clock;
    Acquisition& m_acquisition;
    RecordingService& m_recording;
    const ConfigGridModel& m_grid;
    RouterStatus m_ports;
    StatusFileWriter m_file;
    StatusServer m_server;
    quint16 m_wantedPort = 0;
    QString m_serverError;
    bool m_writeScheduled = false;
    QTimer m_soon;
};

} // namespace telvar
