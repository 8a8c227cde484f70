#pragma once

#include "acquisition/PortOutcome.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <optional>

namespace telvar {

struct Modulo1;
class Clock;

// How a port is doing. A stopped port says nothing of its station.
enum class PortState {
    Ok,      // polled, and its last poll gave a reading
    Late,    // acquiring, but no reading for more than twice its clock's interval
    Failing, // its last poll (or more in a row) gave no reading
    Stopped, // the acquisition is not running, or the port has no clock
    Waiting, // acquiring, and no poll of the port has finished yet
};

// Every state, in the order the status file and the metrics list them.
inline constexpr PortState kAllPortStates[] = {PortState::Ok, PortState::Waiting, PortState::Late,
                                               PortState::Failing, PortState::Stopped};

// The stable name of a state in the status file and the metrics ("ok",
// "waiting", "late", "failing", "stopped"), and its name in the program's
// language.
QString portStateKey(PortState state);
QString portStateText(PortState state, int idioma);
// Why a poll gave no reading, in words of the language idioma, naming the
// port's identifier where it matters; the cycle's own detail follows only
// where it says more (the loader's or the check's error text).
QString portFailureText(const PortOutcome& failure, const QString& identifier, int idioma);

// A port of the acquisition's table as the status knows it from the start.
struct PolledPort {
    int Puert = 0;
    int reloj = 0;
    QString description;
    QString address;
    // The identifier its reading follows on the page (Ident), to name it
    // when it is not found.
    QString identifier;
};

// One port as it is at one moment.
struct PortStatus {
    int Puert = 0;
    int reloj = 0;
    // The clock's interval in minutes; 0 for a clock polled only by its
    // button, which is never late.
    int intervalMinutes = 0;
    QString description;
    // The page's address with the password of its user information shown as
    // "***" (as the log shows it); the failure text below hides it too.
    QString address;
    PortState state = PortState::Stopped;
    // The last reading cut from the port's page and when its page arrived.
    QString lastReading;
    QDateTime lastReadingAt;
    // The last poll whose reading the reading check took.
    QDateTime lastSuccessAt;
    // The last poll, whatever came of it.
    QDateTime lastPolledAt;
    int failuresInARow = 0;
    // Why the last failed poll gave no reading, and when (kept after a
    // success, for the record).
    QString lastError;
    QDateTime lastFailureAt;
    // Readings of the port committed into their data tables since the last
    // local midnight (by the router's clock).
    qint64 recordedToday = 0;
};

// The ports' state: per port the last reading and its time, the last
// success, the failures in a row and the readings recorded today, kept from
// what the polling cycles and the recording report (a constant cost per
// port handled and per reading recorded; nothing is read from a database).
// The states are worked out when asked, at the clock's time:
//
//   stopped   the acquisition is not running, or the port is not polled
//   failing   kFailingAfterFailures or more polls in a row gave no reading
//   late      acquiring, and no success for more than kLateAfterIntervals
//             times the port's clock interval (counted from the start when
//             there has been none since); a clock of interval 0 is never late
//   waiting   no poll of the port has finished yet (nothing is known of its
//             station), and it is not late
//   ok        otherwise
//
// Since nothing happens for a port whose cycle never comes, the states are
// looked at again every kReviewEvery while acquiring; changed() tells when
// one of them, or anything a port shows, changed.
class RouterStatus final : public QObject {
    Q_OBJECT
public:
    static constexpr int kLateAfterIntervals = 2;
    static constexpr int kFailingAfterFailures = 1;
    static constexpr std::chrono::seconds kReviewEvery{15};

    RouterStatus(const Modulo1& m, const Clock& clock, QObject* parent = nullptr);

    // The acquisition started polling these ports (those with a clock). What
    // was known of a port that is still among them is kept; the others are
    // forgotten.
    void acquisitionStarted(const QList<PolledPort>& ports);
    void acquisitionStopped();
    bool isAcquiring() const { return m_acquiring; }
    // The interval of a clock, in minutes (as the acquisition armed it).
    void setClockInterval(int reloj, int minutes);

    // A polling cycle finished a port.
    void portHandled(const PortOutcome& outcome);
    // Readings of these ports (one entry per reading) were committed.
    void readingsRecorded(const QList<int>& puerts);

    // The ports of the last start, by Puert, as they are now.
    QList<PortStatus> ports() const;
    // One port as it is now; a port that is not polled is stopped, with
    // whatever was known of it.
    PortStatus port(int Puert) const;
    // The details of a port as lines of the program's own texts.
    QStringList details(const PortStatus& port) const;

    // Looks at every state again and emits changed() when one changed.
    void review();

signals:
    void changed();

private:
    struct Record {
        PolledPort port;
        bool polled = false;
        // A poll of the port has finished (whatever came of it).
        bool handled = false;
        QString lastReading;
        QDateTime lastReadingAt;
        QDateTime lastSuccessAt;
        std::optional<std::chrono::milliseconds> lastSuccessElapsed;
        QDateTime lastPolledAt;
        int failuresInARow = 0;
        PortOutcome lastFailure;
        QDateTime lastFailureAt;
    };

    PortStatus statusOf(const Record& record, std::chrono::milliseconds now,
                        const QDate& today) const;
    PortState stateOf(const Record& record, std::chrono::milliseconds now) const;
    int intervalOf(int reloj) const;

    const Modulo1& m_m;
    const Clock& m_clock;
    QMap<int, Record> m_ports;
    bool m_acquiring = false;
    std::chrono::milliseconds m_startedAt{0};
    std::array<int, 11> m_intervals{};
    // Readings recorded per Puert on m_recordedOn (any port, polled or not:
    // an earlier run's readings are recorded before the first start).
    QHash<int, qint64> m_recordedToday;
    QDate m_recordedOn;
    // The states as last shown, to tell when one changes by time alone.
    QHash<int, PortState> m_shown;
    QTimer m_review;
};

} // namespace telvar
