#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace telvar {

// What the service manager (systemd) is told: readiness once the router is
// acquiring or has decided not to, a status line, the stop, and the
// watchdog's keep-alive, sent from the event loop at half the watchdog's
// period so that a loop that hangs is restarted. Outside a service (no
// NOTIFY_SOCKET) every call does nothing.
class ServiceNotifier final : public QObject {
    Q_OBJECT
public:
    explicit ServiceNotifier(QObject* parent = nullptr);

    // True when started by a service manager that listens.
    bool underServiceManager() const { return m_listening; }
    // The watchdog's keep-alive interval, 0 when there is no watchdog.
    int keepAliveMs() const { return m_keepAlive.interval(); }

    void ready(const QString& status);
    void status(const QString& status);
    void stopping();

private:
    void send(const QByteArray& state);

    bool m_listening = false;
    QTimer m_keepAlive;
};

} // namespace telvar
