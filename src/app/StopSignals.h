#pragma once

#include <QObject>
#include <csignal>
#include <memory>

class QSocketNotifier;

namespace telvar {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the event loop: the handler
// only writes a byte to a socket pair (keeping errno as it was), and the
// loop reads it and emits stopRequested, so the stop runs as ordinary code
// between two events. SIGPIPE is ignored while it lives: a closed pipe
// (standard error read by a program that ended) makes a write fail with
// EPIPE instead of ending the router. One instance at a time; the handlers
// are put back when it goes.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the socket pair or the handlers could not be set up.
    bool installed() const { return m_installed; }

signals:
    // The number of the signal received.
    void stopRequested(int signalNumber);

private:
    void readSignal();

    int m_sockets[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
    // What SIGPIPE did before, put back when it goes.
    struct sigaction m_pipeAction {};
};

} // namespace telvar
