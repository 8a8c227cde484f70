#include "support/TestStation.h"

namespace telvar::test {

TestStation::TestStation(simulator::ServerOptions options, Thread thread)
{
    options.port = 0;
    const auto start = [this, &options] {
        m_server = std::make_unique<simulator::StationServer>(options);
        m_started = m_server->start(&m_error);
        m_ports = m_server->ports();
    };
    if (thread == Thread::Own) {
        m_thread.emplace();
        m_thread->run(start);
    } else {
        start();
    }
}

TestStation::~TestStation()
{
    // The server goes with the thread its sockets live on.
    if (m_thread)
        m_thread->run([this] { m_server.reset(); });
}

quint16 TestStation::port(int index) const
{
    return m_ports.value(index);
}

QString TestStation::url(const QString& path, int portIndex) const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port(portIndex)) + path;
}

} // namespace telvar::test
