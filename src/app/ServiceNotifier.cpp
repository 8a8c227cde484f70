#include "app/ServiceNotifier.h"

#include "common/LogText.h"

#include <systemd/sd-daemon.h>

namespace telvar {

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent)
{
    m_listening = qEnvironmentVariableIsSet("NOTIFY_SOCKET");
    uint64_t usec = 0;
    if (m_listening && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        const auto half = static_cast<int>(std::min<uint64_t>(usec / 2000, 3600 * 1000));
        m_keepAlive.setInterval(std::max(half, 1));
        connect(&m_keepAlive, &QTimer::timeout, this,
                [this] { send(QByteArrayLiteral("WATCHDOG=1")); });
        m_keepAlive.start();
    }
}

void ServiceNotifier::ready(const QString& text)
{
    send(QByteArrayLiteral("READY=1\nSTATUS=") + logLineText(text).toUtf8());
}

void ServiceNotifier::status(const QString& text)
{
    send(QByteArrayLiteral("STATUS=") + logLineText(text).toUtf8());
}

void ServiceNotifier::stopping()
{
    m_keepAlive.stop();
    send(QByteArrayLiteral("STOPPING=1"));
}

void ServiceNotifier::send(const QByteArray& state)
{
    if (m_listening)
        sd_notify(0, state.constData());
}

} // namespace telvar
