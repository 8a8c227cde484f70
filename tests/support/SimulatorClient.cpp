#include "support/SimulatorClient.h"

#include "simulator/HttpRequest.h"

#include <QList>
#include <QTest>

namespace telvar::simulator::test {

Client::Client(quint16 port)
{
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket,
                     [this] { m_received += m_socket.readAll(); });
    QObject::connect(&m_socket, &QTcpSocket::disconnected, &m_socket, [this] {
        if (m_socket.isOpen())
            m_received += m_socket.readAll();
        m_closed = true;
    });
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
}

bool Client::waitConnected(int timeoutMs)
{
    return QTest::qWaitFor([this] { return isConnected(); }, timeoutMs);
}

void Client::send(const QByteArray& bytes)
{
    m_socket.write(bytes);
}

bool Client::waitClosed(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_closed; }, timeoutMs);
}

bool Client::waitBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return m_received.size() >= count; }, timeoutMs);
}

std::optional<Response> Client::take(bool headRequest)
{
    const qsizetype end = m_received.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    Response response;
    const QList<QByteArray> lines = m_received.left(end).split('\n');
    const QList<QByteArray> statusLine = lines.front().trimmed().split(' ');
    if (statusLine.size() < 2 || !statusLine[0].startsWith("HTTP/1."))
        return std::nullopt;
    response.status = static_cast<int>(parseNumber(statusLine[1], 3));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                    lines[i].mid(colon + 1).trimmed());
    }
    const qint64 length = headRequest ? 0 : parseNumber(response.header("content-length"), 12);
    if (length < 0)
        return std::nullopt;
    const qsizetype total = end + 4 + length;
    if (m_received.size() < total)
        return std::nullopt;
    response.body = m_received.mid(end + 4, length);
    m_received.remove(0, total);
    return response;
}

std::optional<Response> Client::response(int timeoutMs, bool headRequest)
{
    std::optional<Response> result;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            result = take(headRequest);
            return result.has_value() || (m_closed && m_received.isEmpty());
        },
        timeoutMs));
    return result;
}

std::optional<Response> get(quint16 port, const QByteArray& target, const QByteArray& extraHeaders)
{
    Client client(port);
    if (!client.waitConnected())
        return std::nullopt;
    client.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
    return client.response();
}

} // namespace telvar::simulator::test
