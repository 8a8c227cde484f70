#pragma once

#include "simulator/StationServer.h"
#include "support/ServerThread.h"

#include <QString>
#include <memory>
#include <optional>

namespace telvar::test {

// The station simulator serving its pages on free ports of 127.0.0.1 for a
// test: started when made, stopped when destroyed. It runs on the test's own
// thread, or on a thread of its own for tests whose fetch blocks the test's
// thread (a server there could never answer).
class TestStation final {
public:
    enum class Thread { Test, Own };

    // options.port is ignored: the system chooses each listener's port.
    explicit TestStation(simulator::ServerOptions options = {}, Thread thread = Thread::Test);
    ~TestStation();
    TestStation(const TestStation&) = delete;
    TestStation& operator=(const TestStation&) = delete;

    // Whether every port listens; error() says why not.
    bool started() const { return m_started; }
    const QString& error() const { return m_error; }

    // The port of listener index (0 when there is none).
    quint16 port(int index = 0) const;
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString& path = QString(), int portIndex = 0) const;

    // The server itself, to be used on its own thread only.
    simulator::StationServer& server() { return *m_server; }
    const simulator::StationServer& server() const { return *m_server; }

private:
    std::optional<ServerThread> m_thread;
    std::unique_ptr<simulator::StationServer> m_server;
    QList<quint16> m_ports;
    bool m_started = false;
    QString m_error;
};

} // namespace telvar::test
