#pragma once

#include "recording/RecordingService.h"
#include "status/RouterStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace telvar {

// Everything the status file, /status and /metrics say, taken at one moment.
struct StatusSnapshot {
    QDateTime at;
    bool acquiring = false;
    QList<PortStatus> ports;
    QList<DestinationStatus> destinations;

    struct OutboxTotals {
        QString path;
        bool open = false;
        qint64 waiting = 0;
        qint64 quarantined = 0;
        qint64 capacity = 0;
        bool full = false;
        // Since the program started.
        qint64 handedOver = 0;
        qint64 kept = 0;
        qint64 recorded = 0;
        bool logUnwritable = false;
        // Why the outbox takes no readings now ("" while it does), and where
        // a damaged outbox was set aside since the start ("" when none).
        QString error;
        QString setAside;
    } outbox;

    // Pages asked for again after a failed load, since the start (when the
    // acquisition counts them).
    std::optional<qint64> pagesRetried;

    struct Server {
        // The port the installation asks for; 0 when the server is off.
        quint16 port = 0;
        bool listening = false;
        QString error;
    } server;
};

// What the status shows at most: a plant with more ports or data tables
// gets the worst of them (failing, late, waiting, then the rest; unreachable
// tables, then those with most readings waiting) and the count of those
// left out, and every text (from a page, a configuration row or a file name)
// is cut at kMostTextChars. The document then stays within a few megabytes
// whatever the pages hold.
inline constexpr qsizetype kMostStatusPorts = 2000;
inline constexpr qsizetype kMostStatusDestinations = 500;
inline constexpr qsizetype kMostTextChars = 160;

// The ports and tables shown, in Puert and place order, and how many were
// left out.
struct ShownStatus {
    QList<PortStatus> ports;
    qsizetype portsLeftOut = 0;
    QList<DestinationStatus> destinations;
    qsizetype destinationsLeftOut = 0;
};
ShownStatus shownStatus(const StatusSnapshot& snapshot, qsizetype mostPorts = kMostStatusPorts,
                        qsizetype mostDestinations = kMostStatusDestinations);

// Text cut at kMostTextChars (never inside a surrogate pair), with "..."
// when cut.
QString boundedText(const QString& text);

// The status document (UTF-8 JSON, indented). Every text goes through the
// JSON writer, which escapes it.
QByteArray statusJson(const StatusSnapshot& snapshot, qsizetype mostPorts = kMostStatusPorts,
                      qsizetype mostDestinations = kMostStatusDestinations);

// The same in Prometheus' text exposition format (version 0.0.4): every
// metric named telvar_*, with its HELP and TYPE lines.
QByteArray metricsText(const StatusSnapshot& snapshot, qsizetype mostPorts = kMostStatusPorts,
                       qsizetype mostDestinations = kMostStatusDestinations);

// A label value as the exposition format writes it between its quotes:
// backslash, double quote and line feed escaped.
QString metricsLabelValue(const QString& text);

} // namespace telvar
