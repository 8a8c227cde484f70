#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <limits>

namespace telvar {

struct ReadingRow;
class ReadingsModel;

// The last readings of each port, for its chart: fed by the readings grid's
// model as readings arrive (no database query), a bounded number of points
// per port and a bounded number of ports (the port heard from longest ago
// is forgotten first), so months of acquisition never grow it.
//
// A port that a chart follows keeps many more points (days of a port read
// every minute), so that the chart can be zoomed out or panned back over
// them. The memory stays bounded: a point is sizeof(Point) = 40 bytes, so
// every port full is kMostPorts x kPointsPerPort x 40 B = 49 MB at most, and
// each of at most kMostFollowed followed ports adds 10,000 x 40 B = 0.4 MB.
class ReadingHistory final : public QObject {
    Q_OBJECT
public:
    struct Point {
        // When the reading's page arrived, in milliseconds since the epoch
        // (kept as a number: the chart reads it for every point it draws,
        // and a date-time's conversion would cost more than the drawing).
        static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
        qint64 atMs = kNoTime;
        double value = 0;
        double LimInf = 0;
        double LimSup = 0;
        bool outside = false; // outside the limits it was checked against

        bool hasTime() const { return atMs != kNoTime; }
        QDateTime at() const
        {
            return hasTime() ? QDateTime::fromMSecsSinceEpoch(atMs) : QDateTime();
        }
    };

    static constexpr std::size_t kPointsPerPort = 300;
    static constexpr std::size_t kPointsPerFollowedPort = 10000;
    static constexpr int kMostPorts = 4096;
    static constexpr int kMostFollowed = 16;

    explicit ReadingHistory(const ReadingsModel& readings, QObject* parent = nullptr);

    // The points of the port with this grid tag (" 3/012"), oldest first.
    const std::deque<Point>& points(const QString& tag) const;
    int portCount() const { return int(m_ports.size()); }

    // A reader (a chart) follows the port with this tag, or stops following
    // it: from then on the port keeps kPointsPerFollowedPort points, and it is
    // not forgotten for being silent. Each follow that succeeded is undone by
    // one unfollow; a port stays followed while anyone follows it, and its
    // extra points go with the next reading after the last unfollow. Like
    // connecting to a signal, this is a reader's registration, not a change
    // of what was read, so a reader holding the history const may do it.
    // Beyond kMostFollowed ports, follow refuses (returns false) and the port
    // keeps the ordinary bound.
    bool follow(const QString& tag) const;
    void unfollow(const QString& tag) const;
    bool followed(const QString& tag) const { return m_followed.contains(tag); }

    void add(const ReadingRow& row);

signals:
    // A point was added to the port with this tag.
    void pointAdded(const QString& tag);

private:
    struct Port {
        std::deque<Point> points;
        quint64 lastHeard = 0;
    };

    void forgetLongestSilent();

    QHash<QString, Port> m_ports;
    quint64 m_heard = 0;
    // How many readers follow each followed port.
    mutable QHash<QString, int> m_followed;
    // Ports no longer followed whose extra points are still to go.
    mutable QSet<QString> m_unfollowed;
};

} // namespace telvar
