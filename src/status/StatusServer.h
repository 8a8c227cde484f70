#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <chrono>
#include <functional>

class QSocketNotifier;
class QTcpServer;
class QTimer;

namespace telvar {

class StatusConnection;
struct HttpRequestHead;

// The status over HTTP on 127.0.0.1 only: GET (or HEAD) /metrics gives the
// Prometheus text, /status the status document (JSON); another path is not
// found, another method not allowed. A request whose Host is not
// 127.0.0.1:port or localhost:port is refused (403), so that a web page that
// rebinds its own name to this machine cannot read the status through a
// browser. The documents are built on the server's thread (the window's)
// when asked for.
//
// Any local user can connect, and the router's acquisition shares this
// thread and the process's file descriptors, so what a peer can make the
// server hold is bounded: a few connections at once (more are closed as
// they come), a deadline for a request to come whole and for an answer to
// be taken, a bounded head and no body, one request at a time per
// connection (the next one is not read while an answer is unsent). When
// the process runs out of descriptors, accepting pauses and is tried again
// a while later.
class StatusServer final : public QObject {
    Q_OBJECT
public:
    using Document = std::function<QByteArray()>;

    struct Limits {
        // Connections open at once; one more is closed as soon as accepted.
        int maxConnections = 16;
        // For the first byte of a request, after the connection opens or
        // its previous answer is sent.
        std::chrono::milliseconds idleTimeout{5000};
        // For a request's head to come whole from its first byte, and again
        // for its answer to be taken by the peer.
        std::chrono::milliseconds requestTimeout{10000};
        // Before accepting again after the process ran out of descriptors.
        std::chrono::milliseconds acceptRetry{1000};
        // The request line and header fields together.
        qsizetype maxHeadBytes = 16 * 1024;
    };

    StatusServer(Document metrics, Document status, QObject* parent = nullptr);
    ~StatusServer() override;

    // For the connections accepted from now on.
    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }

    // Listens on 127.0.0.1:port (any free port for 0). An error says why
    // it cannot (the port in use, say); the server then stays off.
    Status listen(quint16 port);
    bool isListening() const { return m_port != 0; }
    // The port listened on; 0 while off.
    quint16 port() const { return m_port; }

    // What the connections hold now: their count, and the bytes read and
    // not yet taken plus those written and not yet sent.
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    qint64 bufferedBytes() const;
    // Accepting paused for want of descriptors, and how many times so far.
    bool isAcceptPaused() const { return m_acceptPaused; }
    int acceptPauses() const { return m_acceptPauses; }

private:
    struct Answer {
        QByteArray bytes;
        bool close = false;
    };
    friend class StatusConnection;

    void takeConnections();
    void acceptFailed();
    void connectionClosed(StatusConnection* connection);
    Answer answer(const HttpRequestHead& head) const;
    bool ownHost(const HttpRequestHead& head) const;

    Document m_metrics;
    Document m_status;
    Limits m_limits;
    QTcpServer* m_tcp = nullptr;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QTimer* m_acceptRetry = nullptr;
    QList<StatusConnection*> m_connections;
    quint16 m_port = 0;
    bool m_acceptPaused = false;
    int m_acceptPauses = 0;
};

} // namespace telvar
