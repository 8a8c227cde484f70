#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <deque>

namespace telvar {

struct ReadingRow;
class ReadingsModel;

// The last readings of each port, for its chart: fed by the readings grid's
// model as readings arrive (no database query), a bounded number of points
// per port and a bounded number of ports (the port heard from longest ago
// is forgotten first), so months of acquisition never grow it.
class ReadingHistory final : public QObject {
    Q_OBJECT
public:
    struct Point {
        QDateTime at;
        double value = 0;
        double LimInf = 0;
        double LimSup = 0;
        bool outside = false; // outside the limits it was checked against
    };

    static constexpr std::size_t kPointsPerPort = 300;
    static constexpr int kMostPorts = 4096;

    explicit ReadingHistory(const ReadingsModel& readings, QObject* parent = nullptr);

    // The points of the port with this grid tag (" 3/012"), oldest first.
    const std::deque<Point>& points(const QString& tag) const;
    int portCount() const { return int(m_ports.size()); }

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
};

} // namespace telvar
