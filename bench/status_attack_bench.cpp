// The status port under attack from another local user: how much the
// process serving it grows and whether /metrics still answers within a
// second once each attack stops, with the event loop doing periodic work
// (a 10 ms timer, as the acquisition's clocks would) whose longest lateness
// is printed too.
//
// Attacks, each for --seconds (default 10), from a child process of this
// program (so that its descriptors and memory are its own):
//   idle       --connections (default 2000) connections that send nothing,
//              each opened again as soon as the server closes it
//   chunked    GET /metrics with a chunked body of --chunked-mb (default
//              1024) streamed from one small buffer, again on a new
//              connection whenever one is closed
//   pipeline   GET requests pipelined as fast as the socket takes them and
//              no answer ever read, again whenever closed
//
// The serving side keeps the router's soft descriptor limit of 1024.

#include "BenchFigures.h"
#include "status/StatusServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// ---- the attacker (child process, plain sockets) ----

int connectTo(int port, bool blocking)
{
    const int fd =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    if (blocking) {
        timeval timeout{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    return fd;
}

std::string getHead(int port)
{
    return "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
}

int attackIdle(int port, double seconds, int connections)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<pollfd> fds;
    long opened = 0;
    long closedByServer = 0;
    long failedToOpen = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (int i = 0; i < connections; ++i) {
        const int fd = connectTo(port, false);
        if (fd < 0) {
            ++failedToOpen;
            continue;
        }
        ++opened;
        fds.push_back({fd, POLLIN, 0});
    }
    int most = static_cast<int>(fds.size());
    while (Clock::now() < end) {
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (pollfd& p : fds) {
            if (!p.revents)
                continue;
            char byte;
            if ((p.revents & (POLLHUP | POLLERR)) || ::recv(p.fd, &byte, 1, 0) <= 0) {
                ::close(p.fd);
                ++closedByServer;
                p.fd = connectTo(port, false);
                if (p.fd < 0) {
                    ++failedToOpen;
                    p.fd = -1;
                } else {
                    ++opened;
                }
            }
            p.revents = 0;
        }
        most = std::max(most, static_cast<int>(fds.size()));
    }
    std::printf("idle: %d connections held at once by the attacker, %ld opened, %ld closed by "
                "the server, %ld could not be opened\n",
                most, opened, closedByServer, failedToOpen);
    return 0;
}

int attackChunked(int port, double seconds, long long megabytes)
{
    static char chunk[64 * 1024];
    std::memset(chunk, 'x', sizeof chunk);
    const std::string chunkHead = "10000\r\n";
    const long long total = megabytes * 1024 * 1024;
    long long sent = 0;
    long connections = 0;
    std::string firstAnswer;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (sent < total && Clock::now() < end) {
        const int fd = connectTo(port, true);
        if (fd < 0)
            break;
        ++connections;
        const std::string head = getHead(port) + "Transfer-Encoding: chunked\r\n\r\n";
        bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        while (open && sent < total && Clock::now() < end) {
            open = ::send(fd, chunkHead.data(), chunkHead.size(), MSG_NOSIGNAL) > 0;
            const ssize_t went = open ? ::send(fd, chunk, sizeof chunk, MSG_NOSIGNAL) : -1;
            open = open && went > 0 && ::send(fd, "\r\n", 2, MSG_NOSIGNAL) > 0;
            if (went > 0)
                sent += went;
        }
        if (firstAnswer.empty()) {
            char answer[256] = {};
            const ssize_t got = ::recv(fd, answer, sizeof answer - 1, MSG_DONTWAIT);
            if (got > 0)
                firstAnswer = std::string(answer, std::strcspn(answer, "\r\n"));
        }
        ::close(fd);
    }
    std::printf("chunked: %.1f MB of body sent over %ld connections (of %lld MB); first answer "
                "seen: %s\n",
                static_cast<double>(sent) / 1048576.0, connections, megabytes,
                firstAnswer.empty() ? "(none read)" : firstAnswer.c_str());
    return 0;
}

int attackPipeline(int port, double seconds)
{
    std::string block;
    const std::string one = getHead(port) + "\r\n";
    while (block.size() < 64 * 1024)
        block += one;
    long long sent = 0;
    long connections = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const int fd = connectTo(port, true);
        if (fd < 0)
            break;
        ++connections;
        for (;;) {
            const ssize_t went = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
            if (went > 0)
                sent += went;
            if (Clock::now() >= end || (went < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                break;
        }
        ::close(fd);
    }
    std::printf("pipeline: %.1f MB of requests sent unread over %ld connections\n",
                static_cast<double>(sent) / 1048576.0, connections);
    return 0;
}

// ---- the serving side ----

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long procStatusKb(const char* field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(std::strlen(field)))
                .trimmed()
                .split(' ')[0]
                .toLong();
    }
    return -1;
}

// Asks for /metrics as a scraper would; the milliseconds to its whole
// answer, or -1 when none came within the limit.
double probeMetrics(quint16 port, int limitMs)
{
    QTcpSocket socket;
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    bool answered = false;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        socket.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                     "\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        const qsizetype at = received.indexOf("Content-Length: ");
        if (end > 0 && at > 0 && received.startsWith("HTTP/1.1 200")) {
            const qint64 length =
                received.mid(at + 16, received.indexOf("\r\n", at) - at - 16).toLongLong();
            if (received.size() >= end + 4 + length) {
                answered = true;
                loop.quit();
            }
        }
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    return answered ? telvar::bench::millis(timer) : -1;
}

QString optionValue(const QStringList& arguments, const QString& name, const QString& fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "--attacker") == 0) {
        const std::string kind = argv[2];
        const int port = std::atoi(argv[3]);
        const double seconds = std::atof(argv[4]);
        const long long amount = argc >= 6 ? std::atoll(argv[5]) : 0;
        if (kind == "idle")
            return attackIdle(port, seconds, static_cast<int>(amount));
        if (kind == "chunked")
            return attackChunked(port, seconds, amount);
        return attackPipeline(port, seconds);
    }

    // The router runs with the usual soft limit; so does the server here.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(1024, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);

    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const double seconds =
        optionValue(arguments, QStringLiteral("--seconds"), QStringLiteral("10")).toDouble();
    const int connections =
        optionValue(arguments, QStringLiteral("--connections"), QStringLiteral("2000")).toInt();
    const long long chunkedMb =
        optionValue(arguments, QStringLiteral("--chunked-mb"), QStringLiteral("1024")).toLongLong();

    // A document of the size 1000 ports give, built at each request.
    QByteArray metrics;
    for (int port = 1; port <= 1000; ++port) {
        metrics += "telvar_port_failures_in_a_row{port=\"" + QByteArray::number(port) +
                   "\",clock=\"1\",description=\"Puerto de prueba\"} 0\n";
    }
    telvar::StatusServer server([&] { return metrics; }, [] { return QByteArray("{}"); });
    if (const telvar::Status listening = server.listen(0); !listening.ok()) {
        std::printf("cannot listen: %s\n", qPrintable(listening.error().description));
        return 1;
    }
    const telvar::StatusServer::Limits limits = server.limits();
    std::printf("status server on 127.0.0.1:%u, descriptor limit %llu; at most %d connections, "
                "idle %lld ms, request %lld ms, head %lld bytes\n",
                server.port(), static_cast<unsigned long long>(limit.rlim_cur),
                limits.maxConnections, static_cast<long long>(limits.idleTimeout.count()),
                static_cast<long long>(limits.requestTimeout.count()),
                static_cast<long long>(limits.maxHeadBytes));
    std::printf("each attack %.1f s; idle connections %d; chunked body %lld MB; /metrics %lld "
                "bytes\n\n",
                seconds, connections, chunkedMb, static_cast<long long>(metrics.size()));

    // The periodic work: how late a 10 ms timer gets.
    QElapsedTimer tick;
    tick.start();
    double latest = 0;
    qint64 mostBuffered = 0;
    int mostConnections = 0;
    QTimer periodic;
    periodic.setTimerType(Qt::PreciseTimer);
    QObject::connect(&periodic, &QTimer::timeout, [&] {
        latest = std::max(latest, telvar::bench::millis(tick) - 10.0);
        tick.restart();
        mostBuffered = std::max(mostBuffered, server.bufferedBytes());
        mostConnections = std::max(mostConnections, server.connectionCount());
    });
    periodic.start(10);

    std::printf("%-9s %9s %9s %9s %11s %10s %12s %12s %14s\n", "attack", "RSS0 MB", "RSS1 MB",
                "grow MB", "peak MB", "late ms", "conns max", "buffered KB", "metrics after");
    bool allMet = true;
    for (const char* kind : {"idle", "chunked", "pipeline"}) {
        const long rssBefore = procStatusKb("VmRSS:");
        const double cpuBefore = cpuSeconds();
        QElapsedTimer lasted;
        lasted.start();
        latest = 0;
        mostBuffered = 0;
        mostConnections = 0;
        QProcess attacker;
        attacker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList attackerArguments{QStringLiteral("--attacker"), QString::fromLatin1(kind),
                                      QString::number(server.port()), QString::number(seconds)};
        if (std::strcmp(kind, "idle") == 0)
            attackerArguments << QString::number(connections);
        if (std::strcmp(kind, "chunked") == 0)
            attackerArguments << QString::number(chunkedMb);
        attacker.start(QCoreApplication::applicationFilePath(), attackerArguments);
        // Probes while it lasts: a scraper's view during the attack.
        int probes = 0;
        int answered = 0;
        QEventLoop waiting;
        QObject::connect(&attacker, &QProcess::finished, &waiting, &QEventLoop::quit);
        QTimer prober;
        QObject::connect(&prober, &QTimer::timeout, [&] {
            if (attacker.state() != QProcess::Running)
                return;
            ++probes;
            answered += probeMetrics(server.port(), 1000) >= 0 ? 1 : 0;
        });
        prober.start(1000);
        if (attacker.state() != QProcess::NotRunning)
            waiting.exec();
        prober.stop();
        const double after = probeMetrics(server.port(), 1000);
        const long rssAfter = procStatusKb("VmRSS:");
        const long peak = procStatusKb("VmHWM:");
        const double growth = static_cast<double>(rssAfter - rssBefore) / 1024.0;
        allMet = allMet && after >= 0 && growth < 20;
        std::printf("%-9s %9.1f %9.1f %9.1f %11.1f %10.1f %12d %12.1f %11s\n", kind,
                    static_cast<double>(rssBefore) / 1024.0, static_cast<double>(rssAfter) / 1024.0,
                    growth, static_cast<double>(peak) / 1024.0, latest, mostConnections,
                    static_cast<double>(mostBuffered) / 1024.0,
                    after < 0 ? "no answer"
                              : qPrintable(QString::number(after, 'f', 1) + QStringLiteral(" ms")));
        std::printf("          during it: /metrics answered %d of %d probes (1 s each); the "
                    "serving process used %.0f%% of a core\n",
                    answered, probes,
                    100.0 * (cpuSeconds() - cpuBefore) / (telvar::bench::millis(lasted) / 1000.0));
        std::printf("          %s", attacker.readAllStandardOutput().constData());
        std::fflush(stdout);
    }
    std::printf("\ntargets (RSS growth < 20 MB, /metrics within 1 s after each): %s\n",
                allMet ? "met" : "NOT met");
    std::printf("no acquisition runs beside it here: the periodic work is a 10 ms timer.\n");
    return allMet ? 0 : 1;
}
