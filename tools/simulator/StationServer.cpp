#include "simulator/StationServer.h"

#include "simulator/HttpRequest.h"
#include "simulator/StationPages.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace telvar::simulator {

namespace {

constexpr qint64 kLargeChunk = 64 * 1024;
constexpr qint64 kLargeBacklog = 256 * 1024;
constexpr qint64 kMaxBodyBytes = 64 * 1024;
constexpr int kMaxChain = 1000;
constexpr qsizetype kMaxLocation = 1024;
constexpr int kMaxCounters = 100000;

struct Reply {
    enum class Kind { Page, Silent, Close, Garbage, Large };
    Kind kind = Kind::Page;
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray location;
    QByteArray allow;
    QByteArray body;
    qint64 largeSize = 0;
    int delayMs = 0;
    bool nagle = false;
};

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
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
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

bool statusHasBody(int status)
{
    return status != 204 && status != 304;
}

Reply errorReply(int status, QByteArrayView detail = {})
{
    Reply reply;
    reply.status = status;
    const QByteArray code = QByteArray::number(status);
    reply.body = "<!DOCTYPE html>\n<html><head><title>" + code + ' ' + reasonPhrase(status) +
                 "</title></head>\n<body><h1>" + code + ' ' + reasonPhrase(status) + "</h1>\n";
    if (!detail.isEmpty())
        reply.body += "<p>" + detail.toByteArray() + "</p>\n";
    reply.body += "</body></html>\n";
    return reply;
}

Reply redirectReply(int status, QByteArrayView location)
{
    Reply reply = errorReply(status);
    reply.location = location.toByteArray();
    return reply;
}

// The number in a name such as "/station/17.html" between prefix and suffix.
qint64 numberBetween(QByteArrayView path, QByteArrayView prefix, QByteArrayView suffix,
                     int maxDigits = 9)
{
    if (!path.startsWith(prefix) || !path.endsWith(suffix) ||
        path.size() < prefix.size() + suffix.size())
        return -1;
    return parseNumber(path.sliced(prefix.size(), path.size() - prefix.size() - suffix.size()),
                       maxDigits);
}

// A size such as "1000", "64K", "10M" or "1G" (binary multiples), optionally
// followed by ".html"; -1 when not one or over the largest page.
qint64 sizeIn(QByteArrayView text)
{
    if (text.endsWith(".html"))
        text.chop(5);
    int shift = 0;
    if (!text.isEmpty()) {
        switch (text.back()) {
        case 'K':
            shift = 10;
            break;
        case 'M':
            shift = 20;
            break;
        case 'G':
            shift = 30;
            break;
        default:
            break;
        }
    }
    if (shift != 0)
        text.chop(1);
    const qint64 number = parseNumber(text, 15);
    if (number < 0 || number > (kMaxLargeBytes >> shift))
        return number < 0 ? -1 : kMaxLargeBytes + 1;
    return number << shift;
}

QByteArray indexPage()
{
    return "<!DOCTYPE html>\n<html><head><title>Station simulator</title></head>\n<body>\n"
           "<h1>Station simulator</h1>\n<ul>\n"
           "<li><a href=\"/estacion1.html\">/estacion1.html</a>, /estacion1b.html, "
           "/estacion2.html, /estacion2b.html, /estacion3.html, /estacion4.html, "
           "/estacion5.html</li>\n"
           "<li>/station/&lt;n&gt;.html</li>\n<li>/slow/&lt;ms&gt;.html, ?delay=&lt;ms&gt;, "
           "?tick=&lt;n&gt;</li>\n<li>/silent, /close, /garbage, /large/&lt;bytes&gt;</li>\n"
           "<li>/redirect?to=&lt;path&gt;&amp;code=&lt;code&gt;, /loop/a.html, "
           "/chain/&lt;n&gt;.html</li>\n<li>/status/&lt;code&gt;, /charset/latin1.html, "
           "/charset/utf8.html, /nagle/&lt;page&gt;</li>\n</ul>\n</body></html>\n";
}

class Connection final : public QObject {
public:
    Connection(StationServer* server, QTcpSocket* socket, bool silent)
        : QObject(server), m_server(server), m_socket(socket), m_silent(silent)
    {
        m_socket->setParent(this);
        m_socket->setReadBufferSize(kLargeBacklog);
        // Answers go out in one write, so a fast page is fast; the Nagle
        // pages stall on purpose.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_idle.setSingleShot(true);
        m_idle.setInterval(server->options().idleTimeoutMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { closeNow(); });
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_largeRemaining > 0)
                pumpLarge();
        });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { deleteLater(); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                deleteLater();
        });
        if (!m_silent)
            m_idle.start();
        if (m_socket->bytesAvailable() > 0)
            onReadyRead();
    }

private:
    void onReadyRead()
    {
        const QByteArray data = m_socket->readAll();
        if (m_silent || m_closing)
            return; // the silent page reads and forgets
        m_buffer += data;
        const qsizetype bound = m_server->options().maxHeadBytes + kMaxBodyBytes;
        if (m_busy && m_buffer.size() > bound) {
            closeNow(); // a client that floods a connection that is still answering
            return;
        }
        processBuffer();
    }

    void processBuffer()
    {
        if (m_busy || m_closing || m_silent || m_buffer.isEmpty())
            return;
        ParseLimits limits;
        limits.maxHeadBytes = m_server->options().maxHeadBytes;
        limits.maxBodyBytes = kMaxBodyBytes;
        const ParseResult parsed = parseRequestHead(m_buffer, limits);
        switch (parsed.outcome) {
        case ParseOutcome::Incomplete:
            return;
        case ParseOutcome::Malformed:
            return refuse(400);
        case ParseOutcome::HeadTooLarge:
            return refuse(431);
        case ParseOutcome::BodyTooLarge:
            return refuse(413);
        case ParseOutcome::Unsupported:
            return refuse(501);
        case ParseOutcome::BadVersion:
            return refuse(505);
        case ParseOutcome::Complete:
            break;
        }
        const qint64 total = parsed.headLength + parsed.request.contentLength;
        if (m_buffer.size() < total)
            return; // the request body is still coming
        m_buffer.remove(0, total);
        m_idle.stop();
        handle(parsed.request);
    }

    void handle(const HttpRequest& request)
    {
        const bool headOnly = request.method == "HEAD";
        if (request.method != "GET" && !headOnly) {
            Reply reply = errorReply(405);
            reply.allow = "GET, HEAD";
            return respond(reply, false, request.keepAlive);
        }
        Reply reply = route(request, request.path, 0);
        const QByteArray delay = queryValue(request.query, "delay");
        if (!delay.isEmpty()) {
            const qint64 ms = parseNumber(delay, 9);
            if (ms < 0 || ms > kMaxDelayMs)
                reply = errorReply(400, "delay out of range");
            else
                reply.delayMs = static_cast<int>(std::min<qint64>(reply.delayMs + ms, kMaxDelayMs));
        }
        m_busy = true;
        if (reply.delayMs > 0) {
            QTimer::singleShot(reply.delayMs, Qt::PreciseTimer, this,
                               [this, reply, headOnly, keep = request.keepAlive] {
                                   respond(reply, headOnly, keep);
                               });
            return;
        }
        respond(reply, headOnly, request.keepAlive);
    }

    quint64 tick(const HttpRequest& request, const QByteArray& page)
    {
        const QByteArray fixed = queryValue(request.query, "tick");
        if (!fixed.isEmpty()) {
            const qint64 value = parseNumber(fixed, 18);
            if (value >= 0)
                return static_cast<quint64>(value);
        }
        return m_server->nextTick(page);
    }

    Reply stationReply(const HttpRequest& request, const QByteArray& page,
                       const StationProfile& profile)
    {
        Reply reply;
        reply.body = stationPage(profile, page, m_server->options().seed, tick(request, page));
        return reply;
    }

    Reply route(const HttpRequest& request, QByteArrayView path, int depth)
    {
        if (path.startsWith("/nagle/") && depth < 4) {
            Reply reply = route(request, path.sliced(6), depth + 1);
            reply.nagle = true;
            return reply;
        }
        const QByteArray page = path.toByteArray();
        if (path == "/" || path == "/index.html") {
            Reply reply;
            reply.body = indexPage();
            return reply;
        }
        if (m_server->isStationName(page)) {
            if (const std::optional<StationProfile> demo = demoProfile(path))
                return stationReply(request, page, *demo);
            QByteArray digits;
            for (char c : path)
                if (c >= '0' && c <= '9')
                    digits += c;
            return stationReply(request, page,
                                genericProfile(static_cast<quint64>(parseNumber(digits, 9))));
        }
        if (const qint64 n = numberBetween(path, "/station/", ".html"); n >= 0)
            return stationReply(request, page, genericProfile(static_cast<quint64>(n)));
        if (const qint64 ms = numberBetween(path, "/slow/", ".html"); ms >= 0) {
            if (ms > kMaxDelayMs)
                return errorReply(400, "delay out of range");
            Reply reply = stationReply(request, "/slow", *demoProfile("/estacion1.html"));
            reply.delayMs = static_cast<int>(ms);
            return reply;
        }
        if (path == "/silent" || path == "/silent.html") {
            Reply reply;
            reply.kind = Reply::Kind::Silent;
            return reply;
        }
        if (path == "/close" || path == "/close.html") {
            Reply reply;
            reply.kind = Reply::Kind::Close;
            return reply;
        }
        if (path == "/garbage" || path == "/garbage.html") {
            Reply reply;
            reply.kind = Reply::Kind::Garbage;
            return reply;
        }
        if (path.startsWith("/large/")) {
            const qint64 size = sizeIn(path.sliced(7));
            if (size < 0)
                return errorReply(404, "no such page");
            if (size > kMaxLargeBytes)
                return errorReply(400, "size out of range");
            Reply reply;
            reply.kind = Reply::Kind::Large;
            reply.largeSize = size;
            return reply;
        }
        if (path == "/redirect") {
            QByteArray to = queryValue(request.query, "to");
            if (to.isEmpty())
                to = "/estacion1.html";
            const QByteArray codeText = queryValue(request.query, "code");
            const qint64 code = codeText.isEmpty() ? 302 : parseNumber(codeText, 3);
            const bool codeOk =
                code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
            // Only a path on this server: never another host.
            if (!codeOk || !to.startsWith('/') || to.startsWith("//") || to.size() > kMaxLocation)
                return errorReply(400, "bad redirect");
            return redirectReply(static_cast<int>(code), to);
        }
        if (path == "/loop/a.html")
            return redirectReply(302, "/loop/b.html");
        if (path == "/loop/b.html")
            return redirectReply(302, "/loop/a.html");
        if (path == "/loop")
            return redirectReply(302, "/loop");
        if (const qint64 n = numberBetween(path, "/chain/", ".html", 4); n >= 0) {
            if (n > kMaxChain)
                return errorReply(400, "chain too long");
            if (n == 0)
                return stationReply(request, "/chain", *demoProfile("/estacion1.html"));
            return redirectReply(302, "/chain/" + QByteArray::number(n - 1) + ".html");
        }
        qint64 code = numberBetween(path, "/status/", ".html", 3);
        if (code < 0)
            code = numberBetween(path, "/status/", "", 3);
        if (code >= 0) {
            if (code < 200 || code > 599)
                return errorReply(400, "status out of range");
            return errorReply(static_cast<int>(code), "simulated status");
        }
        if (path == "/charset/latin1.html") {
            Reply reply;
            reply.contentType = "text/html; charset=ISO-8859-1";
            reply.body = latin1StationPage(m_server->options().seed, tick(request, page));
            return reply;
        }
        if (path == "/charset/utf8.html") {
            Reply reply;
            reply.contentType = "text/html; charset=UTF-8";
            reply.body = QString::fromLatin1(
                             latin1StationPage(m_server->options().seed, tick(request, page)))
                             .toUtf8();
            return reply;
        }
        return errorReply(404, "no such page");
    }

    void respond(const Reply& reply, bool headOnly, bool keepAlive)
    {
        switch (reply.kind) {
        case Reply::Kind::Silent:
            m_silent = true;
            m_buffer.clear();
            return;
        case Reply::Kind::Close:
            return closeNow();
        case Reply::Kind::Garbage:
            m_socket->write(garbageBytes());
            m_closing = true;
            m_socket->disconnectFromHost();
            return;
        case Reply::Kind::Page:
        case Reply::Kind::Large:
            break;
        }
        m_keepAlive = keepAlive;
        const bool hasBody = statusHasBody(reply.status);
        const qint64 length = !hasBody                           ? 0
                              : reply.kind == Reply::Kind::Large ? reply.largeSize
                                                                 : reply.body.size();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' +
                          reasonPhrase(reply.status) + "\r\n";
        head += "Server: telvar-station-simulator\r\n";
        if (hasBody)
            head += "Content-Type: " + reply.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        head += "Cache-Control: no-cache\r\n";
        if (!reply.location.isEmpty())
            head += "Location: " + reply.location + "\r\n";
        if (!reply.allow.isEmpty())
            head += "Allow: " + reply.allow + "\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        head += "\r\n";
        m_socket->write(head);
        if (headOnly || length == 0)
            return finishResponse();
        const int nagle = reply.nagle ? kNagleDelayMs : m_server->options().nagleDelayMs;
        if (keepAlive && nagle > 0) {
            QTimer::singleShot(nagle, Qt::PreciseTimer, this, [this, reply] { writeBody(reply); });
            return;
        }
        writeBody(reply);
    }

    void writeBody(const Reply& reply)
    {
        if (reply.kind == Reply::Kind::Large) {
            m_largeRemaining = reply.largeSize;
            m_largeOffset = 0;
            return pumpLarge();
        }
        m_socket->write(reply.body);
        finishResponse();
    }

    void pumpLarge()
    {
        while (m_largeRemaining > 0 && m_socket->bytesToWrite() < kLargeBacklog) {
            const qint64 count = std::min(kLargeChunk, m_largeRemaining);
            m_socket->write(fillerBytes(m_largeOffset, count));
            m_largeOffset += count;
            m_largeRemaining -= count;
        }
        if (m_largeRemaining == 0)
            finishResponse();
    }

    void finishResponse()
    {
        if (!m_keepAlive) {
            m_closing = true;
            m_socket->disconnectFromHost();
            return;
        }
        m_busy = false;
        m_idle.start();
        // Requests that came in meanwhile (pipelined) are answered in turn.
        QTimer::singleShot(0, this, [this] { processBuffer(); });
    }

    void refuse(int status)
    {
        m_buffer.clear();
        m_busy = true;
        respond(errorReply(status), false, false);
    }

    void closeNow()
    {
        m_closing = true;
        m_busy = true;
        m_largeRemaining = 0;
        m_idle.stop();
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            deleteLater();
    }

    StationServer* m_server;
    QTcpSocket* m_socket;
    bool m_silent = false;
    QByteArray m_buffer;
    QTimer m_idle;
    bool m_busy = false;
    bool m_closing = false;
    bool m_keepAlive = true;
    qint64 m_largeRemaining = 0;
    qint64 m_largeOffset = 0;
};

} // namespace

StationServer::StationServer(ServerOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_stationPattern(m_options.stationPattern)
{
}

StationServer::~StationServer()
{
    stop();
}

bool StationServer::start(QString* error)
{
    stop();
    const auto fail = [&](const QString& reason) {
        stop();
        if (error)
            *error = reason;
        return false;
    };
    if (!m_stationPattern.isValid())
        return fail(QStringLiteral("invalid station pattern: ") + m_stationPattern.errorString());
    if (m_options.portCount < 1 || m_options.portCount > 1000)
        return fail(QStringLiteral("the number of ports must be between 1 and 1000"));
    if (m_options.silentPortCount < 0 || m_options.silentPortCount > m_options.portCount)
        return fail(QStringLiteral("more silent ports than ports"));
    if (m_options.port != 0 && int(m_options.port) + m_options.portCount - 1 > 65535)
        return fail(QStringLiteral("the ports run past 65535"));
    for (int i = 0; i < m_options.portCount; ++i) {
        auto* server = new QTcpServer(this);
        server->setListenBacklogSize(1024);
        m_servers.push_back(server);
        const quint16 port =
            m_options.port == 0 ? quint16(0) : static_cast<quint16>(m_options.port + i);
        if (!server->listen(m_options.address, port))
            return fail(QStringLiteral("cannot listen on %1:%2: %3")
                            .arg(m_options.address.toString())
                            .arg(port)
                            .arg(server->errorString()));
        const bool silent = i >= m_options.portCount - m_options.silentPortCount;
        connect(server, &QTcpServer::newConnection, this,
                [this, server, silent] { acceptPending(server, silent); });
    }
    return true;
}

void StationServer::stop()
{
    for (QTcpServer* server : m_servers) {
        server->close();
        delete server;
    }
    m_servers.clear();
    // Open connections end with the server.
    for (QObject* child : children())
        if (dynamic_cast<Connection*>(child))
            delete child;
}

QList<quint16> StationServer::ports() const
{
    QList<quint16> result;
    for (const QTcpServer* server : m_servers)
        result.append(server->serverPort());
    return result;
}

quint64 StationServer::nextTick(const QByteArray& path)
{
    if (m_options.tickPeriodMs > 0)
        return static_cast<quint64>(QDateTime::currentMSecsSinceEpoch() / m_options.tickPeriodMs);
    auto found = m_counters.find(path);
    if (found == m_counters.end()) {
        if (m_counters.size() >= kMaxCounters)
            return static_cast<quint64>(QDateTime::currentMSecsSinceEpoch() / 1000);
        found = m_counters.insert(path, 0);
    }
    return found.value()++;
}

bool StationServer::isStationName(const QByteArray& path) const
{
    return path.size() <= 256 && m_stationPattern.match(QString::fromLatin1(path)).hasMatch();
}

void StationServer::acceptPending(QTcpServer* server, bool silent)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (m_connections >= m_options.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto* connection = new Connection(this, socket, silent);
        connect(connection, &QObject::destroyed, this, [this] { --m_connections; });
    }
}

} // namespace telvar::simulator
