#pragma once

#include <QChartView>
#include <QString>

class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace telvar {

class ReadingHistory;

// The chart of one port's last readings over time, with the lower and upper
// limits they were checked against drawn as lines and the readings outside
// them marked, so that a wrongly cut reading (a jump of a factor of ten) or a
// drifting station shows at a glance. It follows the port it is given and
// redraws only when that port gets a reading; limits of ±999999 (none set)
// are not drawn.
class ReadingChart final : public QChartView {
    Q_OBJECT
public:
    explicit ReadingChart(const ReadingHistory& history, QWidget* parent = nullptr);

    // Shows the port with this grid tag (" 3/012"), under title; an empty
    // tag shows nothing.
    void showPort(const QString& tag, const QString& title);
    const QString& port() const { return m_tag; }

    // What is drawn, for tests: the readings, those outside their limits,
    // and the two limit lines.
    const QLineSeries& values() const { return *m_values; }
    const QScatterSeries& outside() const { return *m_outside; }
    const QLineSeries& lowerLimit() const { return *m_lower; }
    const QLineSeries& upperLimit() const { return *m_upper; }

private:
    void redraw();

    const ReadingHistory& m_history;
    QString m_tag;
    QLineSeries* m_values;
    QScatterSeries* m_outside;
    QLineSeries* m_lower;
    QLineSeries* m_upper;
    QDateTimeAxis* m_time;
    QValueAxis* m_axisValue;
};

} // namespace telvar
