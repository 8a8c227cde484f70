#pragma once

// A small HTTP/1.1 server on the loopback address that publishes simulated
// station pages and, for fault tests and benchmarks, pages that misbehave.
// Everything runs on the event loop of the thread that owns the server: slow
// answers wait on timers, large bodies are written as the socket drains.
//
// Pages:
//   /estacion<n>[<letter>].html  a station (the demo's pages have the demo's
//                                keys and limits; other names are generic)
//   /station/<n>.html            generic station number n
//   /slow/<ms>.html              a station page answered after ms milliseconds
//   any page ?delay=<ms>         the same for any page
//   any page ?tick=<n>           the readings of sample n instead of the next
//   /silent                      accepts the request and never answers
//   /close                       closes the connection at once
//   /garbage                     answers bytes that are not HTTP, then closes
//   /large/<bytes>[K|M|G]        a page of that many bytes (K, M, G: binary
//                                multiples)
//   /redirect?to=<path>&code=<c> redirect (301, 302, 303, 307 or 308)
//   /loop/a.html, /loop/b.html   a redirect loop
//   /chain/<n>.html              n redirects before a station page
//   /status/<code>               that status with an HTML body
//   /charset/latin1.html         ISO-8859-1 bytes, declared in Content-Type
//   /charset/utf8.html           UTF-8 bytes, declared in Content-Type
//   /nagle/<page>                <page>, its body 40 ms after its head on a
//                                connection kept alive (as a device with
//                                Nagle's algorithm and delayed ACKs)

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <vector>

class QTcpServer;

namespace telvar::simulator {

struct ServerOptions {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 8088; // 0: a free port chosen by the system for each listener
    int portCount = 1;   // consecutive ports port, port + 1, ...
    // The last silentPortCount of those ports accept connections and never
    // answer on them (a hung station host).
    int silentPortCount = 0;
    quint64 seed = 1;
    // 0: each page's readings move at every request of it; otherwise they
    // move every tickPeriodMs milliseconds of the clock.
    qint64 tickPeriodMs = 0;
    // Delay of every body after its head on connections kept alive (0: only
    // under /nagle/).
    int nagleDelayMs = 0;
    // Station page names served besides the generic /station/<n>.html.
    QString stationPattern = QStringLiteral("^/estacion[0-9]{1,6}[a-z]?\\.html$");
    qsizetype maxHeadBytes = 8192;
    int maxConnections = 10000;
    int idleTimeoutMs = 120000; // a connection waiting for a request
};

inline constexpr int kNagleDelayMs = 40;
inline constexpr int kMaxDelayMs = 3600000;
inline constexpr qint64 kMaxLargeBytes = qint64(1) << 30;

class StationServer final : public QObject {
    Q_OBJECT
public:
    explicit StationServer(ServerOptions options, QObject* parent = nullptr);
    ~StationServer() override;

    // Listens on every port; on failure listens on none and returns false
    // with the reason in error.
    bool start(QString* error = nullptr);
    void stop();

    // The ports listened on, in order.
    QList<quint16> ports() const;
    int connectionCount() const { return m_connections; }
    const ServerOptions& options() const { return m_options; }

    // The tick for the next request of page (advances the page's counter).
    quint64 nextTick(const QByteArray& path);
    bool isStationName(const QByteArray& path) const;

private:
    void acceptPending(QTcpServer* server, bool silent);

    ServerOptions m_options;
    QRegularExpression m_stationPattern;
    std::vector<QTcpServer*> m_servers;
    QHash<QByteArray, quint64> m_counters;
    int m_connections = 0;
};

} // namespace telvar::simulator
