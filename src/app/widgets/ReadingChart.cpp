#include "app/widgets/ReadingChart.h"

#include "recording/ReadingHistory.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace telvar {

namespace {

// The limits a port without a CXP row gets: not limits to draw.
constexpr double kNoLimit = 999999;

bool drawn(double limit)
{
    return std::isfinite(limit) && std::abs(limit) < kNoLimit;
}

} // namespace

ReadingChart::ReadingChart(const ReadingHistory& history, QWidget* parent)
    : QChartView(parent), m_history(history), m_values(new QLineSeries),
      m_outside(new QScatterSeries), m_lower(new QLineSeries), m_upper(new QLineSeries),
      m_time(new QDateTimeAxis), m_axisValue(new QValueAxis)
{
    setObjectName(QStringLiteral("ReadingChart"));
    setRenderHint(QPainter::Antialiasing);
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));

    QPen limitPen(QColor(200, 40, 40));
    limitPen.setStyle(Qt::DashLine);
    limitPen.setWidth(1);
    m_lower->setPen(limitPen);
    m_upper->setPen(limitPen);
    QPen valuePen(QColor(31, 78, 121));
    valuePen.setWidth(2);
    m_values->setPen(valuePen);
    m_values->setPointsVisible(true);
    m_outside->setColor(QColor(220, 30, 30));
    m_outside->setBorderColor(QColor(120, 0, 0));
    m_outside->setMarkerSize(10);

    for (QAbstractSeries* series :
         std::initializer_list<QAbstractSeries*>{m_lower, m_upper, m_values, m_outside})
        chart->addSeries(series);
    m_time->setFormat(QStringLiteral("HH:mm"));
    m_time->setTickCount(4);
    chart->addAxis(m_time, Qt::AlignBottom);
    chart->addAxis(m_axisValue, Qt::AlignLeft);
    for (QAbstractSeries* series :
         std::initializer_list<QAbstractSeries*>{m_lower, m_upper, m_values, m_outside}) {
        series->attachAxis(m_time);
        series->attachAxis(m_axisValue);
    }
    setChart(chart);

    connect(&m_history, &ReadingHistory::pointAdded, this, [this](const QString& tag) {
        if (tag == m_tag)
            redraw();
    });
}

void ReadingChart::showPort(const QString& tag, const QString& title)
{
    m_tag = tag;
    chart()->setTitle(title);
    redraw();
}

void ReadingChart::redraw()
{
    const std::deque<ReadingHistory::Point>& points = m_history.points(m_tag);
    QList<QPointF> values;
    QList<QPointF> outside;
    QList<QPointF> lower;
    QList<QPointF> upper;
    values.reserve(qsizetype(points.size()));
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    const auto widen = [&](double y) {
        low = std::min(low, y);
        high = std::max(high, y);
    };
    for (const ReadingHistory::Point& p : points) {
        if (!std::isfinite(p.value))
            continue;
        const double x = double(p.at.toMSecsSinceEpoch());
        values.append({x, p.value});
        widen(p.value);
        if (p.outside)
            outside.append({x, p.value});
        if (drawn(p.LimInf)) {
            lower.append({x, p.LimInf});
            widen(p.LimInf);
        }
        if (drawn(p.LimSup)) {
            upper.append({x, p.LimSup});
            widen(p.LimSup);
        }
    }
    // The limits in force reach the chart's right edge, so a single reading
    // already shows them as lines.
    const qint64 first = points.empty() ? 0 : points.front().at.toMSecsSinceEpoch();
    const qint64 right =
        points.empty() ? 0 : std::max(points.back().at.toMSecsSinceEpoch(), first + 60 * 1000);
    for (QList<QPointF>* limit : {&lower, &upper}) {
        if (!limit->isEmpty() && limit->last().x() < double(right))
            limit->append({double(right), limit->last().y()});
    }
    m_values->replace(values);
    m_outside->replace(outside);
    m_lower->replace(lower);
    m_upper->replace(upper);
    if (values.isEmpty()) {
        m_axisValue->setRange(0, 1);
        return;
    }
    const double margin = high > low ? (high - low) * 0.08 : std::max(std::abs(high) * 0.1, 1.0);
    m_axisValue->setRange(low - margin, high + margin);
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(right));
}

} // namespace telvar
