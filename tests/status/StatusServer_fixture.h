#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace telvar::test {

// A peer of the status server over a plain socket on 127.0.0.1, driven from
// the test's thread: it sends and reads exactly what the test says (never
// reading on its own, so the server's answers can be left unread), and it
// turns the event loop while it waits so that the server runs.
class StatusPeer final {
public:
    explicit StatusPeer(quint16 port);
    ~StatusPeer();
    StatusPeer(const StatusPeer&) = delete;
    StatusPeer& operator=(const StatusPeer&) = delete;

    bool isConnected() const { return m_fd >= 0; }
    // What the socket takes now without waiting; -1 once the server closed.
    qint64 sendSome(QByteArrayView bytes);
    // All of it, waiting up to timeoutMs; false if it could not.
    bool send(QByteArrayView bytes, int timeoutMs = 5000);
    // Reads what has arrived into received(); notes a close by the server.
    void read();
    bool waitForAnswer(int timeoutMs = 5000);
    bool waitForClose(int timeoutMs = 5000);
    bool closedByServer() const { return m_closed; }
    const QByteArray& received() const { return m_received; }

private:
    int m_fd = -1;
    QByteArray m_received;
    bool m_closed = false;
};

struct HttpAnswer {
    int status = 0;
    QByteArray head; // status line and fields, lower-cased
    QByteArray body;
    qsizetype length = 0; // of the whole answer
};

// The first whole answer in bytes (a HEAD's answer has no body whatever its
// Content-Length says).
std::optional<HttpAnswer> firstAnswer(const QByteArray& bytes, bool toHead = false);

} // namespace telvar::test
