#include "status/RouterStatus.h"

#include "acquisition/Clock.h"
#include "acquisition/SendRequest.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"

namespace telvar {

namespace {

using std::chrono::milliseconds;

QString shown(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// text with the password of address hidden wherever it is quoted: the
// address whole, or its user information alone (as libcurl's texts may
// quote them). maskUrlPassword keeps what stands before the password and
// from the last '@' on, so the masked user information is found at the same
// places in the masked address.
QString withoutPassword(QString text, const QString& address)
{
    const QString masked = maskUrlPassword(address);
    if (masked == address || text.isEmpty())
        return text;
    text.replace(address, masked);
    const qsizetype scheme = address.indexOf(QStringLiteral("://"));
    const qsizetype start = scheme < 0 ? 0 : scheme + 3;
    const QString userInfo = address.mid(start, address.lastIndexOf(u'@') - start);
    const QString maskedUserInfo = masked.mid(start, masked.lastIndexOf(u'@') - start);
    return text.replace(userInfo, maskedUserInfo);
}

} // namespace

QString portStateKey(PortState state)
{
    switch (state) {
    case PortState::Ok:
        return QStringLiteral("ok");
    case PortState::Late:
        return QStringLiteral("late");
    case PortState::Failing:
        return QStringLiteral("failing");
    case PortState::Waiting:
        return QStringLiteral("waiting");
    case PortState::Stopped:
        break;
    }
    return QStringLiteral("stopped");
}

QString portStateText(PortState state, int idioma)
{
    switch (state) {
    case PortState::Ok:
        return ownText(OwnText::PortStateOk, idioma);
    case PortState::Late:
        return ownText(OwnText::PortStateLate, idioma);
    case PortState::Failing:
        return ownText(OwnText::PortStateFailing, idioma);
    case PortState::Waiting:
        return ownText(OwnText::PortStateWaiting, idioma);
    case PortState::Stopped:
        break;
    }
    return ownText(OwnText::PortStateStopped, idioma);
}

RouterStatus::RouterStatus(const Modulo1& m, const Clock& clock, QObject* parent)
    : QObject(parent), m_m(m), m_clock(clock)
{
    m_review.setInterval(kReviewEvery);
    connect(&m_review, &QTimer::timeout, this, &RouterStatus::review);
}

void RouterStatus::acquisitionStarted(const QList<PolledPort>& ports)
{
    QMap<int, Record> kept;
    for (const PolledPort& p : ports) {
        Record record = m_ports.value(p.Puert);
        record.port = p;
        record.polled = true;
        kept.insert(p.Puert, std::move(record));
    }
    m_ports = std::move(kept);
    m_acquiring = true;
    m_startedAt = m_clock.elapsed();
    m_shown.clear();
    m_review.start();
    review();
    emit changed();
}

void RouterStatus::acquisitionStopped()
{
    if (!m_acquiring)
        return;
    m_acquiring = false;
    m_review.stop();
    review();
    emit changed();
}

void RouterStatus::setClockInterval(int reloj, int minutes)
{
    if (reloj < 1 || reloj >= static_cast<int>(m_intervals.size()))
        return;
    m_intervals[static_cast<std::size_t>(reloj)] = std::max(0, minutes);
}

int RouterStatus::intervalOf(int reloj) const
{
    if (reloj < 1 || reloj >= static_cast<int>(m_intervals.size()))
        return 0;
    return m_intervals[static_cast<std::size_t>(reloj)];
}

void RouterStatus::portHandled(const PortOutcome& outcome)
{
    const auto it = m_ports.find(outcome.Puert);
    if (it == m_ports.end())
        return;
    Record& record = *it;
    record.handled = true;
    record.lastPolledAt = outcome.at;
    if (outcome.result == PortOutcome::Result::Read ||
        outcome.result == PortOutcome::Result::CheckFailed) {
        record.lastReading = outcome.reading;
        record.lastReadingAt = outcome.at;
    }
    if (outcome.succeeded()) {
        record.lastSuccessAt = outcome.at;
        record.lastSuccessElapsed = m_clock.elapsed();
        record.failuresInARow = 0;
    } else {
        ++record.failuresInARow;
        record.lastFailure = outcome;
        record.lastFailureAt = outcome.at;
    }
    m_shown.insert(outcome.Puert, stateOf(record, m_clock.elapsed()));
    emit changed();
}

void RouterStatus::readingsRecorded(const QList<int>& puerts)
{
    if (puerts.isEmpty())
        return;
    const QDate today = m_clock.now().date();
    if (today != m_recordedOn) {
        m_recordedOn = today;
        m_recordedToday.clear();
    }
    for (int puert : puerts)
        ++m_recordedToday[puert];
    emit changed();
}

PortState RouterStatus::stateOf(const Record& record, milliseconds now) const
{
    if (!m_acquiring || !record.polled || record.port.reloj <= 0)
        return PortState::Stopped;
    if (record.failuresInARow >= kFailingAfterFailures)
        return PortState::Failing;
    const int interval = intervalOf(record.port.reloj);
    if (interval > 0) {
        milliseconds since = m_startedAt;
        if (record.lastSuccessElapsed && *record.lastSuccessElapsed > since)
            since = *record.lastSuccessElapsed;
        const milliseconds allowed = std::chrono::minutes(interval) * kLateAfterIntervals;
        if (now - since > allowed)
            return PortState::Late;
    }
    // Nothing is known of the station until its first poll has finished.
    if (!record.handled)
        return PortState::Waiting;
    return PortState::Ok;
}

QString portFailureText(const PortOutcome& failure, const QString& identifier, int idioma)
{
    // The cause in words of the program's language. The cycle's detail is
    // its own text (in English, or the words again): it follows the words
    // only where it says more than they do, the loader's or the check's
    // error text.
    const auto withDetail = [&failure](const QString& words) {
        const QString detail = failure.detail.trimmed();
        return detail.isEmpty() ? words : words + QStringLiteral(" (") + detail + QLatin1Char(')');
    };
    switch (failure.result) {
    case PortOutcome::Result::NotFound:
        // An empty page reads as an identifier not found: the page's own
        // end says why.
        switch (failure.page) {
        case PageOutcome::TimedOut:
            return ownText(OwnText::PortPageTimedOut, idioma);
        case PageOutcome::Unreachable:
            // Refused: nothing listens at the station's port; down: the
            // host does not take the connection at all.
            if (failure.noAnswer == NoAnswer::Refused)
                return ownText(OwnText::PortRefused, idioma);
            if (failure.noAnswer == NoAnswer::HostDown)
                return ownText(OwnText::PortHostDown, idioma);
            return ownText(OwnText::PortStationSilent, idioma);
        case PageOutcome::Failed:
            return ownText(OwnText::PortPageCannotLoad, idioma);
        case PageOutcome::Truncated:
            return ownText(OwnText::PortIdentNotFoundInCut, idioma).arg(identifier);
        case PageOutcome::Complete:
            break;
        }
        return ownText(OwnText::PortIdentNotFound, idioma).arg(identifier);
    case PortOutcome::Result::Blank:
        if (identifier.isEmpty())
            return ownText(OwnText::PortBlankReading, idioma);
        return ownText(OwnText::PortBlankAfter, idioma).arg(identifier);
    case PortOutcome::Result::PageFailed:
        return withDetail(ownText(OwnText::PortPageCannotLoad, idioma));
    case PortOutcome::Result::CutFailed:
        // The detail is the cut's run-time error ("Invalid procedure call or
        // argument"): the words say it.
        return ownText(OwnText::PortCannotCut, idioma).arg(identifier);
    case PortOutcome::Result::CheckFailed:
        return withDetail(ownText(OwnText::PortCheckFailed, idioma));
    case PortOutcome::Result::Read:
        break;
    }
    return {};
}

PortStatus RouterStatus::statusOf(const Record& record, milliseconds now, const QDate& today) const
{
    PortStatus s;
    s.Puert = record.port.Puert;
    s.reloj = record.port.reloj;
    s.intervalMinutes = intervalOf(record.port.reloj);
    s.description = record.port.description;
    // The status is shown to whoever can read the status file or reach the
    // status port: a station's password stays in the configuration.
    s.address = maskUrlPassword(record.port.address);
    s.state = stateOf(record, now);
    s.lastReading = record.lastReading;
    s.lastReadingAt = record.lastReadingAt;
    s.lastSuccessAt = record.lastSuccessAt;
    s.lastPolledAt = record.lastPolledAt;
    s.failuresInARow = record.failuresInARow;
    if (record.lastFailureAt.isValid())
        s.lastError =
            withoutPassword(portFailureText(record.lastFailure, record.port.identifier, m_m.Idioma),
                            record.port.address);
    s.lastFailureAt = record.lastFailureAt;
    if (today == m_recordedOn)
        s.recordedToday = m_recordedToday.value(record.port.Puert);
    return s;
}

QList<PortStatus> RouterStatus::ports() const
{
    const milliseconds now = m_clock.elapsed();
    const QDate today = m_clock.now().date();
    QList<PortStatus> list;
    list.reserve(m_ports.size());
    for (const Record& record : m_ports)
        if (record.polled)
            list.append(statusOf(record, now, today));
    return list;
}

PortStatus RouterStatus::port(int Puert) const
{
    const auto it = m_ports.constFind(Puert);
    if (it != m_ports.cend())
        return statusOf(*it, m_clock.elapsed(), m_clock.now().date());
    PortStatus s;
    s.Puert = Puert;
    if (m_clock.now().date() == m_recordedOn)
        s.recordedToday = m_recordedToday.value(Puert);
    return s;
}

QStringList RouterStatus::details(const PortStatus& port) const
{
    const int idioma = m_m.Idioma;
    QStringList lines;
    if (port.reloj <= 0)
        lines.append(ownText(OwnText::StatusPortNoClock, idioma).arg(port.Puert));
    else if (port.intervalMinutes <= 0)
        lines.append(
            ownText(OwnText::StatusPortButtonClock, idioma).arg(port.Puert).arg(port.reloj));
    else
        lines.append(ownText(OwnText::StatusPortClock, idioma)
                         .arg(port.Puert)
                         .arg(port.reloj)
                         .arg(port.intervalMinutes));
    QString state = portStateText(port.state, idioma);
    if (port.state == PortState::Late)
        state +=
            QStringLiteral(": ") +
            ownText(OwnText::StatusLateFor, idioma).arg(port.intervalMinutes * kLateAfterIntervals);
    else if (port.state == PortState::Waiting)
        state += QStringLiteral(": ") + ownText(OwnText::StatusWaitingFirstPoll, idioma);
    else if (port.state == PortState::Stopped && port.reloj > 0 && !m_acquiring)
        state += QStringLiteral(": ") + ownText(OwnText::StatusNotAcquiring, idioma);
    lines.append(ownText(OwnText::StatusState, idioma).arg(state));
    if (port.lastReadingAt.isValid())
        lines.append(ownText(OwnText::StatusLastReading, idioma)
                         .arg(port.lastReading, shown(port.lastReadingAt)));
    else
        lines.append(ownText(OwnText::StatusNoReading, idioma));
    if (port.lastSuccessAt.isValid())
        lines.append(ownText(OwnText::StatusLastSuccess, idioma).arg(shown(port.lastSuccessAt)));
    lines.append(ownText(OwnText::StatusFailuresInARow, idioma).arg(port.failuresInARow));
    if (port.lastFailureAt.isValid())
        lines.append(ownText(OwnText::StatusLastFailure, idioma)
                         .arg(shown(port.lastFailureAt), port.lastError));
    lines.append(ownText(OwnText::StatusRecordedToday, idioma).arg(port.recordedToday));
    return lines;
}

void RouterStatus::review()
{
    const milliseconds now = m_clock.elapsed();
    bool anyChanged = false;
    for (const Record& record : std::as_const(m_ports)) {
        const PortState state = stateOf(record, now);
        auto it = m_shown.find(record.port.Puert);
        if (it == m_shown.end()) {
            m_shown.insert(record.port.Puert, state);
            anyChanged = true;
        } else if (*it != state) {
            *it = state;
            anyChanged = true;
        }
    }
    if (anyChanged)
        emit changed();
}

} // namespace telvar
