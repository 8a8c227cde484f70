#include "recording/ReadingHistory.h"

#include "recording/ReadingsModel.h"

namespace telvar {

ReadingHistory::ReadingHistory(const ReadingsModel& readings, QObject* parent) : QObject(parent)
{
    connect(&readings, &ReadingsModel::readingAdded, this, &ReadingHistory::add);
}

const std::deque<ReadingHistory::Point>& ReadingHistory::points(const QString& tag) const
{
    static const std::deque<Point> none;
    const auto it = m_ports.constFind(tag);
    return it == m_ports.constEnd() ? none : it->points;
}

// The bound on memory stated in the header counts 40 bytes a point.
static_assert(sizeof(ReadingHistory::Point) <= 40);

void ReadingHistory::add(const ReadingRow& row)
{
    for (const QString& tag : std::as_const(m_unfollowed)) {
        const auto port = m_ports.find(tag);
        if (port == m_ports.end() || followed(tag) || port->points.size() <= kPointsPerPort)
            continue;
        port->points.erase(port->points.begin(),
                           port->points.end() - std::ptrdiff_t(kPointsPerPort));
        port->points.shrink_to_fit();
    }
    m_unfollowed.clear();
    if (!m_ports.contains(row.tag) && m_ports.size() >= kMostPorts)
        forgetLongestSilent();
    Port& port = m_ports[row.tag];
    port.lastHeard = ++m_heard;
    port.points.push_back(
        Point{row.arrivedAt.isValid() ? row.arrivedAt.toMSecsSinceEpoch() : Point::kNoTime,
              row.value, row.LimInf, row.LimSup, !row.Marca.isEmpty()});
    const std::size_t bound = followed(row.tag) ? kPointsPerFollowedPort : kPointsPerPort;
    while (port.points.size() > bound)
        port.points.pop_front();
    emit pointAdded(row.tag);
}

bool ReadingHistory::follow(const QString& tag) const
{
    const auto it = m_followed.find(tag);
    if (it != m_followed.end()) {
        ++*it;
        return true;
    }
    if (m_followed.size() >= kMostFollowed)
        return false;
    m_followed.insert(tag, 1);
    return true;
}

void ReadingHistory::unfollow(const QString& tag) const
{
    const auto it = m_followed.find(tag);
    if (it == m_followed.end() || --*it > 0)
        return;
    m_followed.erase(it);
    // Its extra points go with the next reading of any port: they are the
    // history's own data, which a reader does not change.
    m_unfollowed.insert(tag);
}

void ReadingHistory::forgetLongestSilent()
{
    // A followed port is forgotten only when every port is followed.
    auto oldest = m_ports.end();
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (followed(it.key()))
            continue;
        if (oldest == m_ports.end() || it->lastHeard < oldest->lastHeard)
            oldest = it;
    }
    if (oldest == m_ports.end())
        oldest = m_ports.begin();
    if (oldest != m_ports.end())
        m_ports.erase(oldest);
}

} // namespace telvar
