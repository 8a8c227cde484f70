#include "status/StatusServer.h"

#include "common/ErrorNumbers.h"
#include "status/HttpRequestHead.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace telvar {

namespace {

using namespace std::chrono_literals;

// After a refusal, what the peer still sends is read and dropped for a
// while before the connection is closed: closing with unread bytes would
// reset it, and the peer could lose the refusal with them.
constexpr std::chrono::milliseconds kLingerTime = 2s;
constexpr qint64 kLingerBytes = 256 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

// The whole answer, head and body. A HEAD request gets the head a GET would
// get, its Content-Length included, without the body.
QByteArray httpAnswer(int status, const QByteArray& contentType, const QByteArray& body,
                      bool withBody, bool close)
{
    QByteArray bytes;
    bytes.reserve(200 + (withBody ? body.size() : 0));
    bytes += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!contentType.isEmpty())
        bytes += "Content-Type: " + contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    if (status == 405)
        bytes += "Allow: GET, HEAD\r\n";
    if (close)
        bytes += "Connection: close\r\n";
    bytes += "\r\n";
    if (withBody)
        bytes += body;
    return bytes;
}

} // namespace

// One accepted connection: reads a request head (never more than the bound
// past it), has the server answer it, and reads nothing more until that
// answer has gone to the peer. A single timer holds the deadline of the
// state it is in.
class StatusConnection final : public QObject {
public:
    StatusConnection(QTcpSocket* socket, StatusServer& server)
        : QObject(&server), m_socket(socket), m_server(server), m_limits(server.limits()),
          m_deadline(new QTimer(this))
    {
        m_socket->setParent(this);
        // Qt reads no more off the descriptor than this while the bytes
        // are not taken: the rest waits in the system's buffers, and the
        // peer is held back by TCP itself.
        m_socket->setReadBufferSize(m_limits.maxHeadBytes);
        m_deadline->setSingleShot(true);
        connect(m_deadline, &QTimer::timeout, this, [this] { close(); });
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { readable(); });
        connect(m_socket, &QTcpSocket::bytesWritten, this, [this] { written(); });
        // Qt tells a peer gone (its answer, if any, sent or not to be sent)
        // once the socket is closed.
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { close(); });
        waitForRequest();
    }

    void close()
    {
        if (m_state == State::Closed)
            return;
        m_state = State::Closed;
        m_deadline->stop();
        m_socket->disconnect(this);
        m_socket->abort();
        m_server.connectionClosed(this);
        deleteLater();
    }

    qint64 bufferedBytes() const
    {
        return m_buffer.size() + m_socket->bytesAvailable() + m_socket->bytesToWrite();
    }

private:
    enum class State { Waiting, Reading, Answering, Lingering, Closed };

    void waitForRequest()
    {
        m_state = State::Waiting;
        m_deadline->start(m_limits.idleTimeout);
        readable();
    }

    void readable()
    {
        if (m_state == State::Lingering) {
            m_lingered += m_socket->read(m_socket->bytesAvailable()).size();
            if (m_lingered > kLingerBytes)
                close();
            return;
        }
        if (m_state != State::Waiting && m_state != State::Reading)
            return;
        // One byte past the bound is enough to know a head is over it.
        const qint64 room = m_limits.maxHeadBytes + 1 - m_buffer.size();
        if (room > 0 && m_socket->bytesAvailable() > 0)
            m_buffer += m_socket->read(room);
        if (m_buffer.isEmpty())
            return;
        if (m_state == State::Waiting) {
            m_state = State::Reading;
            m_deadline->start(m_limits.requestTimeout);
        }
        const HttpHeadReading reading = readHttpRequestHead(m_buffer, m_limits.maxHeadBytes);
        switch (reading.outcome) {
        case HttpHeadReading::Outcome::Incomplete:
            return;
        case HttpHeadReading::Outcome::Refused:
            m_buffer.clear();
            send({httpAnswer(reading.refusal, {}, {}, false, true), true});
            return;
        case HttpHeadReading::Outcome::Complete:
            m_buffer.remove(0, reading.head.length);
            send(m_server.answer(reading.head));
            return;
        }
    }

    void send(const StatusServer::Answer& answer)
    {
        m_state = State::Answering;
        m_closeAfter = answer.close;
        m_deadline->start(m_limits.requestTimeout);
        m_socket->write(answer.bytes);
    }

    void written()
    {
        if (m_state != State::Answering || m_socket->bytesToWrite() > 0)
            return;
        if (!m_closeAfter) {
            waitForRequest();
            return;
        }
        linger();
    }

    void linger()
    {
        m_buffer.clear();
        m_lingered = m_socket->read(m_socket->bytesAvailable()).size();
        if (m_socket->socketDescriptor() >= 0 &&
            ::shutdown(static_cast<int>(m_socket->socketDescriptor()), SHUT_WR) == 0) {
            m_state = State::Lingering;
            m_deadline->start(std::min(m_limits.requestTimeout, kLingerTime));
            return;
        }
        close();
    }

    QTcpSocket* m_socket;
    StatusServer& m_server;
    const StatusServer::Limits m_limits;
    QTimer* m_deadline;
    QByteArray m_buffer;
    State m_state = State::Waiting;
    bool m_closeAfter = false;
    qint64 m_lingered = 0;
};

StatusServer::StatusServer(Document metrics, Document status, QObject* parent)
    : QObject(parent), m_metrics(std::move(metrics)), m_status(std::move(status)),
      m_acceptRetry(new QTimer(this))
{
    m_acceptRetry->setSingleShot(true);
    connect(m_acceptRetry, &QTimer::timeout, this, [this] {
        m_acceptPaused = false;
        if (m_acceptNotifier) {
            m_acceptNotifier->setEnabled(true);
            takeConnections();
        }
    });
}

// The connections are children, taken apart with the server; they report
// back only when they close on their own.
StatusServer::~StatusServer() = default;

Status StatusServer::listen(quint16 port)
{
    const QList<StatusConnection*> open = m_connections;
    for (StatusConnection* connection : open)
        connection->close();
    delete m_tcp;
    m_tcp = nullptr;
    m_acceptNotifier = nullptr;
    m_port = 0;
    m_acceptRetry->stop();
    m_acceptPaused = false;
    auto* tcp = new QTcpServer(this);
    if (!tcp->listen(QHostAddress::LocalHost, port)) {
        Error error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar status"),
                    tcp->errorString()};
        delete tcp;
        return error;
    }
    // The connections are accepted here rather than by QTcpServer: it
    // cannot tell a queue emptied from a failure once one accept has
    // failed, and it would make a socket object for a connection that is
    // only to be closed.
    tcp->pauseAccepting();
    m_acceptNotifier = new QSocketNotifier(tcp->socketDescriptor(), QSocketNotifier::Read, tcp);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, [this] { takeConnections(); });
    // Accepting starts here, and resumes after a pause, by enabling it.
    m_acceptNotifier->setEnabled(true);
    m_tcp = tcp;
    m_port = tcp->serverPort();
    return {};
}

qint64 StatusServer::bufferedBytes() const
{
    qint64 bytes = 0;
    for (const StatusConnection* connection : m_connections)
        bytes += connection->bufferedBytes();
    return bytes;
}

void StatusServer::takeConnections()
{
    // A bounded round, so that a flood of connections cannot hold the
    // thread: the notifier calls again while some are queued.
    constexpr int kAcceptsPerRound = 64;
    const int listening = static_cast<int>(m_tcp->socketDescriptor());
    for (int i = 0; i < kAcceptsPerRound; ++i) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                acceptFailed();
            return;
        }
        if (m_connections.size() >= m_limits.maxConnections) {
            // Closed at once, so that a flood of connections holds neither
            // descriptors nor memory here.
            ::close(descriptor);
            continue;
        }
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            ::close(descriptor);
            continue;
        }
        m_connections.append(new StatusConnection(socket, *this));
    }
}

void StatusServer::acceptFailed()
{
    // Out of descriptors (EMFILE, ENFILE) or of memory: the connection stays
    // in the system's queue, so its notifier would call again at once and
    // fail the same way as fast as the loop turns. Accepting waits instead,
    // and the connections queued meanwhile are taken when it resumes.
    m_acceptNotifier->setEnabled(false);
    m_acceptPaused = true;
    ++m_acceptPauses;
    m_acceptRetry->start(m_limits.acceptRetry);
}

void StatusServer::connectionClosed(StatusConnection* connection)
{
    m_connections.removeOne(connection);
}

bool StatusServer::ownHost(const HttpRequestHead& head) const
{
    // Exactly one Host, naming this machine and this port; a missing one, a
    // userinfo, another name or port is what a rebinding page would send.
    const QList<QByteArray> hosts = head.values("host");
    if (hosts.size() != 1)
        return false;
    const QByteArray host = hosts.front().toLower();
    const QByteArray port = ':' + QByteArray::number(m_port);
    if (host == "127.0.0.1" + port || host == "localhost" + port)
        return true;
    // A client leaves the port out when it is HTTP's own.
    return m_port == 80 && (host == "127.0.0.1" || host == "localhost");
}

StatusServer::Answer StatusServer::answer(const HttpRequestHead& head) const
{
    bool close = head.http10;
    for (const QByteArray& connection : head.values("connection")) {
        for (const QByteArray& option : connection.split(','))
            close = close || option.trimmed().toLower() == "close";
    }
    if (!ownHost(head))
        return {httpAnswer(403, {}, {}, false, true), true};
    const bool isHead = head.method == "HEAD";
    if (head.method != "GET" && !isHead)
        return {httpAnswer(405, {}, {}, false, close), close};
    const qsizetype query = head.target.indexOf('?');
    const QByteArray path = query < 0 ? head.target : head.target.first(query);
    if (path == "/metrics") {
        return {httpAnswer(200, "text/plain; version=0.0.4; charset=utf-8", m_metrics(), !isHead,
                           close),
                close};
    }
    if (path == "/status")
        return {httpAnswer(200, "application/json", m_status(), !isHead, close), close};
    return {httpAnswer(404, {}, {}, false, close), close};
}

} // namespace telvar
