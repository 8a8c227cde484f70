#include "status/StatusDocument.h"

#include "acquisition/SendRequest.h"
#include "common/Version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>

namespace telvar {

namespace {

// Ports worst first: what an operator looks for when not all fit.
int severity(PortState state)
{
    switch (state) {
    case PortState::Failing:
        return 4;
    case PortState::Late:
        return 3;
    // Not known yet, which an operator looks at before a port known to work.
    case PortState::Waiting:
        return 2;
    case PortState::Ok:
        return 1;
    case PortState::Stopped:
        break;
    }
    return 0;
}

template <typename T, typename Worse, typename Order>
QList<T> worstOf(const QList<T>& all, qsizetype most, qsizetype& leftOut, Worse worse, Order order)
{
    QList<T> shown = all;
    leftOut = 0;
    if (shown.size() > most) {
        std::stable_sort(shown.begin(), shown.end(), worse);
        leftOut = shown.size() - most;
        shown.resize(std::max<qsizetype>(0, most));
    }
    std::sort(shown.begin(), shown.end(), order);
    return shown;
}

// Local date and time with its offset from UTC (2026-03-02T08:00:00+01:00);
// null when there is none.
QJsonValue timeValue(const QDateTime& at)
{
    if (!at.isValid())
        return QJsonValue(QJsonValue::Null);
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}

QJsonValue textValue(const QString& text)
{
    return boundedText(text);
}

QJsonObject portObject(const PortStatus& p)
{
    QJsonObject o;
    o.insert(QStringLiteral("port"), p.Puert);
    o.insert(QStringLiteral("description"), textValue(p.description));
    // Masked here too, whoever filled the snapshot: the file is readable by
    // more than the router's user.
    o.insert(QStringLiteral("address"), textValue(maskUrlPassword(p.address)));
    o.insert(QStringLiteral("clock"), p.reloj);
    o.insert(QStringLiteral("intervalMinutes"), p.intervalMinutes);
    o.insert(QStringLiteral("state"), portStateKey(p.state));
    o.insert(QStringLiteral("lastReading"),
             p.lastReadingAt.isValid() ? textValue(p.lastReading) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("lastReadingAt"), timeValue(p.lastReadingAt));
    o.insert(QStringLiteral("lastSuccessAt"), timeValue(p.lastSuccessAt));
    o.insert(QStringLiteral("lastPolledAt"), timeValue(p.lastPolledAt));
    o.insert(QStringLiteral("failuresInARow"), p.failuresInARow);
    o.insert(QStringLiteral("lastError"),
             p.lastFailureAt.isValid() ? textValue(p.lastError) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("lastFailureAt"), timeValue(p.lastFailureAt));
    o.insert(QStringLiteral("recordedToday"), p.recordedToday);
    return o;
}

QJsonObject destinationObject(const DestinationStatus& d)
{
    QJsonObject o;
    o.insert(QStringLiteral("place"), textValue(d.place));
    o.insert(QStringLiteral("reachable"),
             d.tried ? QJsonValue(!d.failingSince.isValid()) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("since"), timeValue(d.since));
    o.insert(QStringLiteral("lastError"), d.failingSince.isValid()
                                              ? textValue(d.lastError.description)
                                              : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("waiting"), d.waiting);
    o.insert(QStringLiteral("quarantined"), d.quarantined);
    o.insert(QStringLiteral("recordedToday"), d.recordedToday);
    o.insert(QStringLiteral("quarantinedToday"), d.quarantinedToday);
    return o;
}

// One metric family: its HELP and TYPE lines, then its samples.
class Family {
public:
    Family(QString& out, const char* name, const char* type, const char* help)
        : m_out(out), m_name(QLatin1String(name))
    {
        m_out += QStringLiteral("# HELP ") + m_name + QLatin1Char(' ') + QLatin1String(help) +
                 QLatin1Char('\n');
        m_out += QStringLiteral("# TYPE ") + m_name + QLatin1Char(' ') + QLatin1String(type) +
                 QLatin1Char('\n');
    }

    void sample(const QList<std::pair<const char*, QString>>& labels, qint64 value)
    {
        m_out += m_name;
        if (!labels.isEmpty()) {
            m_out += QLatin1Char('{');
            bool first = true;
            for (const auto& [label, text] : labels) {
                if (!first)
                    m_out += QLatin1Char(',');
                first = false;
                m_out += QLatin1String(label) + QStringLiteral("=\"") + metricsLabelValue(text) +
                         QLatin1Char('"');
            }
            m_out += QLatin1Char('}');
        }
        m_out += QLatin1Char(' ') + QString::number(value) + QLatin1Char('\n');
    }
    void sample(qint64 value) { sample({}, value); }

private:
    QString& m_out;
    QString m_name;
};

QList<std::pair<const char*, QString>> portLabels(const PortStatus& p)
{
    return {{"port", QString::number(p.Puert)},
            {"clock", QString::number(p.reloj)},
            {"description", boundedText(p.description)}};
}

QList<std::pair<const char*, QString>> destinationLabels(const DestinationStatus& d)
{
    return {{"destination", boundedText(d.place)}};
}

} // namespace

QString boundedText(const QString& text)
{
    if (text.size() <= kMostTextChars)
        return text;
    qsizetype cut = kMostTextChars;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QStringLiteral("...");
}

QString metricsLabelValue(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

ShownStatus shownStatus(const StatusSnapshot& snapshot, qsizetype mostPorts,
                        qsizetype mostDestinations)
{
    ShownStatus shown;
    shown.ports = worstOf(
        snapshot.ports, mostPorts, shown.portsLeftOut,
        [](const PortStatus& a, const PortStatus& b) {
            return severity(a.state) > severity(b.state);
        },
        [](const PortStatus& a, const PortStatus& b) { return a.Puert < b.Puert; });
    shown.destinations = worstOf(
        snapshot.destinations, mostDestinations, shown.destinationsLeftOut,
        [](const DestinationStatus& a, const DestinationStatus& b) {
            const bool aFailing = a.failingSince.isValid();
            const bool bFailing = b.failingSince.isValid();
            if (aFailing != bFailing)
                return aFailing;
            return a.waiting > b.waiting;
        },
        [](const DestinationStatus& a, const DestinationStatus& b) { return a.place < b.place; });
    return shown;
}

QByteArray statusJson(const StatusSnapshot& snapshot, qsizetype mostPorts,
                      qsizetype mostDestinations)
{
    const ShownStatus shown = shownStatus(snapshot, mostPorts, mostDestinations);
    QJsonObject root;
    root.insert(QStringLiteral("program"), QStringLiteral("Telvar"));
    root.insert(QStringLiteral("version"), QStringLiteral("%1.%2.%3")
                                               .arg(version::kMajor)
                                               .arg(version::kMinor)
                                               .arg(version::kRevision));
    root.insert(QStringLiteral("at"), timeValue(snapshot.at));
    root.insert(QStringLiteral("acquiring"), snapshot.acquiring);
    root.insert(
        QStringLiteral("thresholds"),
        QJsonObject{{QStringLiteral("lateAfterIntervals"), RouterStatus::kLateAfterIntervals},
                    {QStringLiteral("failingAfterFailures"), RouterStatus::kFailingAfterFailures}});

    const StatusSnapshot::OutboxTotals& box = snapshot.outbox;
    root.insert(QStringLiteral("outbox"),
                QJsonObject{{QStringLiteral("path"), textValue(box.path)},
                            {QStringLiteral("open"), box.open},
                            {QStringLiteral("waiting"), box.waiting},
                            {QStringLiteral("quarantined"), box.quarantined},
                            {QStringLiteral("capacity"), box.capacity},
                            {QStringLiteral("full"), box.full},
                            {QStringLiteral("handedOver"), box.handedOver},
                            {QStringLiteral("kept"), box.kept},
                            {QStringLiteral("recorded"), box.recorded},
                            {QStringLiteral("logUnwritable"), box.logUnwritable},
                            {QStringLiteral("error"), textValue(box.error)},
                            {QStringLiteral("setAside"), textValue(box.setAside)}});
    if (snapshot.pagesRetried)
        root.insert(QStringLiteral("pagesRetried"), *snapshot.pagesRetried);
    root.insert(QStringLiteral("statusServer"),
                QJsonObject{{QStringLiteral("port"), snapshot.server.port},
                            {QStringLiteral("listening"), snapshot.server.listening},
                            {QStringLiteral("error"), snapshot.server.error.isEmpty()
                                                          ? QJsonValue(QJsonValue::Null)
                                                          : textValue(snapshot.server.error)}});

    QJsonObject counts;
    for (PortState state : kAllPortStates)
        counts.insert(portStateKey(state), 0);
    for (const PortStatus& p : snapshot.ports) {
        const QString key = portStateKey(p.state);
        counts.insert(key, counts.value(key).toInteger() + 1);
    }
    root.insert(QStringLiteral("portCounts"), counts);

    QJsonArray ports;
    for (const PortStatus& p : shown.ports)
        ports.append(portObject(p));
    root.insert(QStringLiteral("ports"), ports);
    root.insert(QStringLiteral("portsLeftOut"), shown.portsLeftOut);
    QJsonArray destinations;
    for (const DestinationStatus& d : shown.destinations)
        destinations.append(destinationObject(d));
    root.insert(QStringLiteral("destinations"), destinations);
    root.insert(QStringLiteral("destinationsLeftOut"), shown.destinationsLeftOut);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray metricsText(const StatusSnapshot& snapshot, qsizetype mostPorts,
                       qsizetype mostDestinations)
{
    const ShownStatus shown = shownStatus(snapshot, mostPorts, mostDestinations);
    QString out;
    Family(out, "telvar_acquiring", "gauge", "1 while the acquisition is running.")
        .sample(snapshot.acquiring ? 1 : 0);

    {
        Family f(out, "telvar_ports", "gauge", "Ports polled (those with a clock), by state.");
        for (PortState state : kAllPortStates) {
            const auto count =
                std::count_if(snapshot.ports.cbegin(), snapshot.ports.cend(),
                              [state](const PortStatus& p) { return p.state == state; });
            f.sample({{"state", portStateKey(state)}}, count);
        }
    }
    Family(out, "telvar_ports_left_out", "gauge",
           "Ports not listed below (the listing shows the worst of them).")
        .sample(shown.portsLeftOut);
    {
        Family f(out, "telvar_port_state", "gauge",
                 "1 for the port's state (ok, waiting, late, failing, stopped), 0 for the "
                 "others.");
        for (const PortStatus& p : shown.ports)
            for (PortState state : kAllPortStates) {
                auto labels = portLabels(p);
                labels.append({"state", portStateKey(state)});
                f.sample(labels, p.state == state ? 1 : 0);
            }
    }
    {
        Family f(out, "telvar_port_failures_in_a_row", "gauge",
                 "Polls in a row that gave the port no reading.");
        for (const PortStatus& p : shown.ports)
            f.sample(portLabels(p), p.failuresInARow);
    }
    {
        Family f(out, "telvar_port_recorded_today", "gauge",
                 "Readings of the port committed into their data tables since local midnight.");
        for (const PortStatus& p : shown.ports)
            f.sample(portLabels(p), p.recordedToday);
    }
    {
        Family f(out, "telvar_port_last_reading_timestamp_seconds", "gauge",
                 "When the page of the port's last reading arrived (Unix time).");
        for (const PortStatus& p : shown.ports)
            if (p.lastReadingAt.isValid())
                f.sample(portLabels(p), p.lastReadingAt.toSecsSinceEpoch());
    }
    {
        Family f(out, "telvar_port_last_success_timestamp_seconds", "gauge",
                 "When the port last gave a reading the reading check took (Unix time).");
        for (const PortStatus& p : shown.ports)
            if (p.lastSuccessAt.isValid())
                f.sample(portLabels(p), p.lastSuccessAt.toSecsSinceEpoch());
    }

    Family(out, "telvar_destinations_left_out", "gauge",
           "Data tables not listed below (the listing shows the worst of them).")
        .sample(shown.destinationsLeftOut);
    {
        Family f(out, "telvar_destination_reachable", "gauge",
                 "1 when the data table's last batch was written, 0 while it is failing (absent "
                 "until a batch has been tried).");
        for (const DestinationStatus& d : shown.destinations)
            if (d.tried)
                f.sample(destinationLabels(d), d.failingSince.isValid() ? 0 : 1);
    }
    {
        Family f(out, "telvar_destination_state_since_timestamp_seconds", "gauge",
                 "Since when the data table is reachable or failing (Unix time).");
        for (const DestinationStatus& d : shown.destinations)
            if (d.since.isValid())
                f.sample(destinationLabels(d), d.since.toSecsSinceEpoch());
    }
    {
        Family f(out, "telvar_destination_waiting", "gauge",
                 "Readings of the data table waiting in the outbox.");
        for (const DestinationStatus& d : shown.destinations)
            f.sample(destinationLabels(d), d.waiting);
    }
    {
        Family f(out, "telvar_destination_quarantined", "gauge",
                 "Readings of the data table in the outbox's quarantine.");
        for (const DestinationStatus& d : shown.destinations)
            f.sample(destinationLabels(d), d.quarantined);
    }
    {
        Family f(out, "telvar_destination_recorded_today", "gauge",
                 "Readings committed into the data table since local midnight.");
        for (const DestinationStatus& d : shown.destinations)
            f.sample(destinationLabels(d), d.recordedToday);
    }

    const StatusSnapshot::OutboxTotals& box = snapshot.outbox;
    Family(out, "telvar_outbox_open", "gauge", "1 when the outbox is open.")
        .sample(box.open ? 1 : 0);
    Family(out, "telvar_outbox_waiting", "gauge",
           "Readings kept and not yet committed by their data table.")
        .sample(box.waiting);
    Family(out, "telvar_outbox_quarantined", "gauge",
           "Readings that waiting cannot record, in the outbox's quarantine.")
        .sample(box.quarantined);
    Family(out, "telvar_outbox_capacity", "gauge",
           "Readings the outbox holds at most (waiting and quarantined together).")
        .sample(box.capacity);
    Family(out, "telvar_outbox_full", "gauge", "1 while new readings are not kept.")
        .sample(box.full ? 1 : 0);
    Family(out, "telvar_readings_handed_over_total", "counter",
           "Readings handed to the outbox since the program started.")
        .sample(box.handedOver);
    Family(out, "telvar_readings_kept_total", "counter",
           "Readings the outbox has committed since the program started.")
        .sample(box.kept);
    Family(out, "telvar_readings_recorded_total", "counter",
           "Readings committed into their data tables since the program started.")
        .sample(box.recorded);
    Family(out, "telvar_unrecorded_log_unwritable", "gauge",
           "1 once a line of unrecorded readings could be written nowhere.")
        .sample(box.logUnwritable ? 1 : 0);
    if (snapshot.pagesRetried)
        Family(out, "telvar_pages_retried_total", "counter",
               "Pages asked for again after a failed load since the program started.")
            .sample(*snapshot.pagesRetried);
    return out.toUtf8();
}

} // namespace telvar
