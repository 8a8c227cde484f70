#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace telvar {

// SIGTERM and SIGINT as a Qt signal on the event loop: the handler only
// writes a byte to a socket pair, and the loop reads it and emits
// stopRequested, so the stop runs as ordinary code between two events.
// One instance at a time; the handlers are put back when it goes.
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
};

} // namespace telvar
