#pragma once

// A small client for the simulator's tests: raw bytes over one QTcpSocket,
// waiting on the test's own event loop so that the server, living in the same
// thread, keeps answering.

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QTcpSocket>
#include <optional>

namespace telvar::simulator::test {

struct Response {
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(QByteArrayView name) const { return headers.value(name.toByteArray()); }
};

class Client final {
public:
    explicit Client(quint16 port);

    bool waitConnected(int timeoutMs = 5000);
    void send(const QByteArray& bytes);
    // The next complete response (its body read by Content-Length, none after
    // a HEAD request), or nothing when none arrives within the time.
    std::optional<Response> response(int timeoutMs = 10000, bool headRequest = false);
    // Waits until the server has closed the connection.
    bool waitClosed(int timeoutMs = 5000);
    // Waits until at least count bytes have arrived (raw, not taken).
    bool waitBytes(qsizetype count, int timeoutMs = 5000);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    const QByteArray& received() const { return m_received; }

private:
    std::optional<Response> take(bool headRequest);

    QTcpSocket m_socket;
    QByteArray m_received;
    bool m_closed = false;
};

// One GET on a new connection.
std::optional<Response> get(quint16 port, const QByteArray& target,
                            const QByteArray& extraHeaders = {});

} // namespace telvar::simulator::test
