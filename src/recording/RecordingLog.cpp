#include "recording/RecordingLog.h"

#include "common/LogText.h"

#include <cmath>

namespace telvar {

RecordingLog::RecordingLog(QObject* parent) : QObject(parent) {}

int RecordingLog::capacityForHeight(double heightTwips)
{
    return int(std::floor((heightTwips - 90) / 195));
}

void RecordingLog::append(const QString& message)
{
    if (message.isEmpty())
        return;
    const QString line = logLineText(message).leftJustified(kLineWidth, QLatin1Char(' '), true);
    // The box is full: the oldest line scrolls out. A box too small for any
    // line still keeps the newest.
    if (m_lines.size() >= m_capacity && !m_lines.isEmpty())
        m_lines.removeFirst();
    m_lines.append(line);
    emit lineAppended(line);
}

QString RecordingLog::text() const
{
    QString text;
    for (const QString& line : m_lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

} // namespace telvar
