// The station simulator: serves simulated station pages on 127.0.0.1 until
// it receives SIGTERM or SIGINT.

#include "simulator/StationServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

qint64 numberOption(const QCommandLineParser& parser, const QString& name, qint64 low, qint64 high,
                    bool& ok)
{
    bool converted = false;
    const qint64 value = parser.value(name).toLongLong(&converted);
    if (!converted || value < low || value > high) {
        std::fprintf(stderr, "--%s must be a number from %lld to %lld\n", qPrintable(name),
                     static_cast<long long>(low), static_cast<long long>(high));
        ok = false;
    }
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("telvar_station_simulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves simulated measuring-station pages on 127.0.0.1."));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("First port to listen on (0: any free port)."),
         QStringLiteral("P"), QStringLiteral("8088")},
        {QStringLiteral("ports"), QStringLiteral("Number of consecutive ports."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("silent-ports"),
         QStringLiteral("The last K ports accept connections and never answer."),
         QStringLiteral("K"), QStringLiteral("0")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the readings."), QStringLiteral("S"),
         QStringLiteral("1")},
        {QStringLiteral("period-ms"),
         QStringLiteral("Readings move every M ms of the clock (0: at every request of a page)."),
         QStringLiteral("M"), QStringLiteral("0")},
        {QStringLiteral("nagle-ms"),
         QStringLiteral("Delay every body on kept-alive connections by M ms (0: only /nagle/)."),
         QStringLiteral("M"), QStringLiteral("0")},
        {QStringLiteral("max-connections"), QStringLiteral("Connections open at once at most."),
         QStringLiteral("C"), QStringLiteral("10000")},
        {QStringLiteral("station-pattern"),
         QStringLiteral("Regular expression of the station page paths."), QStringLiteral("RE"),
         telvar::simulator::ServerOptions().stationPattern},
    });
    // The usage only prints; an option it does not know, or an argument it
    // takes none of, is a mistake named on standard error (exit code 2).
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "telvar_station_simulator: %s (--help lists the options)\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr,
                     "telvar_station_simulator: unexpected argument '%s' (--help lists the "
                     "options)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    bool ok = true;
    telvar::simulator::ServerOptions options;
    options.port = static_cast<quint16>(numberOption(parser, QStringLiteral("port"), 0, 65535, ok));
    options.portCount =
        static_cast<int>(numberOption(parser, QStringLiteral("ports"), 1, 1000, ok));
    options.silentPortCount =
        static_cast<int>(numberOption(parser, QStringLiteral("silent-ports"), 0, 1000, ok));
    options.seed = static_cast<quint64>(
        numberOption(parser, QStringLiteral("seed"), 0, std::numeric_limits<qint64>::max(), ok));
    options.tickPeriodMs = numberOption(parser, QStringLiteral("period-ms"), 0, 86400000, ok);
    options.nagleDelayMs =
        static_cast<int>(numberOption(parser, QStringLiteral("nagle-ms"), 0, 10000, ok));
    options.maxConnections =
        static_cast<int>(numberOption(parser, QStringLiteral("max-connections"), 1, 100000, ok));
    options.stationPattern = parser.value(QStringLiteral("station-pattern"));
    if (!ok)
        return 2;

    if (!installSignalHandlers()) {
        std::fprintf(stderr, "cannot install the signal handlers\n");
        return 1;
    }
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });

    telvar::simulator::StationServer server(options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (quint16 port : server.ports())
        std::printf("listening on http://%s:%u/\n", qPrintable(options.address.toString()),
                    unsigned{port});
    std::fflush(stdout);
    const int code = QCoreApplication::exec();
    server.stop();
    std::printf("stopped\n");
    return code;
}
