#include "status/StatusServer_fixture.h"

#include <QDeadlineTimer>
#include <QTest>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace telvar::test {

StatusPeer::StatusPeer(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // On loopback the connection is made by the system's queue, whether or
    // not the server has accepted it yet.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_fd = fd;
}

StatusPeer::~StatusPeer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

qint64 StatusPeer::sendSome(QByteArrayView bytes)
{
    if (m_fd < 0 || m_closed)
        return -1;
    const ssize_t sent =
        ::send(m_fd, bytes.data(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    if (sent >= 0)
        return sent;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    m_closed = true;
    return -1;
}

bool StatusPeer::send(QByteArrayView bytes, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!bytes.isEmpty()) {
        const qint64 sent = sendSome(bytes);
        if (sent < 0 || deadline.hasExpired())
            return false;
        bytes = bytes.sliced(sent);
        if (sent == 0)
            QTest::qWait(1);
    }
    return true;
}

void StatusPeer::read()
{
    if (m_fd < 0 || m_closed)
        return;
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            m_received.append(chunk, got);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        m_closed = true; // an orderly close or a reset
        return;
    }
}

bool StatusPeer::waitForAnswer(int timeoutMs)
{
    return QTest::qWaitFor(
               [&] {
                   read();
                   return firstAnswer(m_received).has_value() || m_closed;
               },
               timeoutMs) &&
           firstAnswer(m_received).has_value();
}

bool StatusPeer::waitForClose(int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            read();
            return m_closed;
        },
        timeoutMs);
}

std::optional<HttpAnswer> firstAnswer(const QByteArray& bytes, bool toHead)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    HttpAnswer answer;
    answer.head = bytes.first(end + 2).toLower();
    const QList<QByteArray> statusLine = answer.head.first(answer.head.indexOf("\r\n")).split(' ');
    if (statusLine.size() < 2)
        return std::nullopt;
    answer.status = statusLine[1].toInt();
    qsizetype bodyLength = 0;
    if (const qsizetype at = answer.head.indexOf("\r\ncontent-length:"); at >= 0) {
        const qsizetype from = at + 17;
        bodyLength =
            answer.head.mid(from, answer.head.indexOf("\r\n", from) - from).trimmed().toLongLong();
    }
    if (toHead)
        bodyLength = 0;
    if (bytes.size() < end + 4 + bodyLength)
        return std::nullopt;
    answer.body = bytes.mid(end + 4, bodyLength);
    answer.length = end + 4 + bodyLength;
    return answer;
}

} // namespace telvar::test
