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

void ReadingHistory::add(const ReadingRow& row)
{
    if (!m_ports.contains(row.tag) && m_ports.size() >= kMostPorts)
        forgetLongestSilent();
    Port& port = m_ports[row.tag];
    port.lastHeard = ++m_heard;
    port.points.push_back(
        Point{row.arrivedAt, row.value, row.LimInf, row.LimSup, !row.Marca.isEmpty()});
    if (port.points.size() > kPointsPerPort)
        port.points.pop_front();
    emit pointAdded(row.tag);
}

void ReadingHistory::forgetLongestSilent()
{
    auto oldest = m_ports.begin();
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (it->lastHeard < oldest->lastHeard)
            oldest = it;
    }
    if (oldest != m_ports.end())
        m_ports.erase(oldest);
}

} // namespace telvar
