#include "app/widgets/ReadingChart.h"

#include "common/OwnTexts.h"
#include "recording/ChartScale.h"
#include "recording/ReadingHistory.h"

#include <QCategoryAxis>
#include <QChart>
#include <QFontMetrics>
#include <QGraphicsSimpleTextItem>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPen>
#include <QPushButton>
#include <QScatterSeries>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace telvar {

namespace {

// The limits a port without a CXP row gets: not limits to draw.
constexpr double kNoLimit = 999999;
constexpr double kSecond = 1000;
constexpr double kMinute = 60 * kSecond;
constexpr double kDay = 24 * 60 * kMinute;
// The narrowest and widest spans a zoom reaches.
constexpr double kNarrowest = 30 * kSecond;
constexpr double kWidest = 400 * kDay;
// The span shown around a single reading, or readings closer than this.
constexpr double kLeast = 2 * kMinute;
// Room left and right of the readings shown while following, as a share of
// their span, so that the first and last points show whole.
constexpr double kSideRoom = 0.04;
// Runs drawn as lines at most; a view with more gaps than that shows the
// readings of the further runs as points (never a line across a gap).
constexpr int kMostRuns = 64;
// Up to this many readings in view, each is marked with a dot.
constexpr std::size_t kMarkedUpTo = 150;
// A view with more readings than this many per pixel column of the chart
// draws each column's lowest and highest only: the same picture, at a cost
// bound by the chart's width rather than by the readings kept.
constexpr double kReadingsPerColumn = 2;

const QColor kValueColor(31, 78, 121);
const QColor kLimitColor(200, 40, 40);

bool drawn(double limit)
{
    return std::isfinite(limit) && std::abs(limit) < kNoLimit;
}

double msOf(const ReadingHistory::Point& p)
{
    return double(p.atMs);
}

bool usable(const ReadingHistory::Point& p)
{
    return p.hasTime() && std::isfinite(p.value);
}

// Appends points to out, keeping of each pixel column (from x0, columns of
// width wide) only the lowest and highest in their order, when thin is set.
void appendThinned(QList<QPointF>& out, const QList<QPointF>& points, bool thin, double x0,
                   double wide)
{
    if (!thin || wide <= 0) {
        out.append(points);
        return;
    }
    qsizetype i = 0;
    while (i < points.size()) {
        const double column = std::floor((points[i].x() - x0) / wide);
        qsizetype low = i;
        qsizetype high = i;
        qsizetype j = i + 1;
        for (; j < points.size() && std::floor((points[j].x() - x0) / wide) == column; ++j) {
            if (points[j].y() < points[low].y())
                low = j;
            if (points[j].y() > points[high].y())
                high = j;
        }
        out.append(points[std::min(low, high)]);
        if (low != high)
            out.append(points[std::max(low, high)]);
        i = j;
    }
}

void setCategories(QCategoryAxis& axis, QStringList& shownLabels, const QStringList& labels,
                   const QList<double>& at, double min, double max)
{
    if (labels != shownLabels) {
        for (const QString& label : axis.categoriesLabels())
            axis.remove(label);
        // The first category starts below the axis, so that a tick on its
        // lower end is a category's end like the others.
        axis.setStartValue(min - (max - min));
        for (qsizetype i = 0; i < labels.size(); ++i)
            axis.append(labels[i], at[i]);
        shownLabels = labels;
    }
    axis.setRange(min, max);
}

} // namespace

ReadingChart::ReadingChart(const ReadingHistory& history, QWidget* parent)
    : QChartView(parent), m_history(history), m_historyAlive(&history), m_lone(new QScatterSeries),
      m_outside(new QScatterSeries), m_lower(new QLineSeries), m_upper(new QLineSeries),
      m_time(new QCategoryAxis), m_value(new QCategoryAxis)
{
    setObjectName(QStringLiteral("ReadingChart"));
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    setChart(chart);

    QPen limitPen(kLimitColor);
    limitPen.setStyle(Qt::DashLine);
    limitPen.setWidth(1);
    m_lower->setPen(limitPen);
    m_upper->setPen(limitPen);
    m_lone->setColor(kValueColor);
    m_lone->setBorderColor(kValueColor);
    m_lone->setMarkerSize(7);
    m_outside->setColor(QColor(220, 30, 30));
    m_outside->setBorderColor(QColor(120, 0, 0));
    m_outside->setMarkerSize(10);

    for (QCategoryAxis* axis : {m_time, m_value}) {
        axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        axis->setGridLineColor(QColor(225, 225, 225));
    }
    chart->addAxis(m_time, Qt::AlignBottom);
    chart->addAxis(m_value, Qt::AlignLeft);
    for (QAbstractSeries* series :
         std::initializer_list<QAbstractSeries*>{m_lower, m_upper, m_lone, m_outside}) {
        chart->addSeries(series);
        series->attachAxis(m_time);
        series->attachAxis(m_value);
    }
    // A few runs ready, so that following a port adds no series.
    for (int i = 0; i < 4; ++i)
        runSeries(i);

    m_lowerLabel = new QGraphicsSimpleTextItem(chart);
    m_upperLabel = new QGraphicsSimpleTextItem(chart);
    for (QGraphicsSimpleTextItem* label : {m_lowerLabel, m_upperLabel}) {
        label->setBrush(kLimitColor);
        label->setZValue(100);
        label->hide();
    }

    m_hint = new QLabel(viewport());
    m_hint->setObjectName(QStringLiteral("chartHint"));
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setWordWrap(true);
    m_hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_follow = new QPushButton(viewport());
    m_follow->setObjectName(QStringLiteral("followReadings"));
    m_follow->setFocusPolicy(Qt::NoFocus);
    m_follow->hide();
    connect(m_follow, &QPushButton::clicked, this, &ReadingChart::follow);
    setIdioma(1);

    connect(&m_history, &ReadingHistory::pointAdded, this, &ReadingChart::pointAdded);
    connect(chart, &QChart::plotAreaChanged, this, &ReadingChart::placeLimitLabels);
    drawEmpty();
}

ReadingChart::~ReadingChart()
{
    if (m_followingPort && m_historyAlive)
        m_history.unfollow(m_tag);
}

void ReadingChart::setIdioma(int idioma)
{
    m_idioma = idioma;
    m_hint->setText(ownText(OwnText::ChartChoosePort, idioma));
    m_follow->setText(ownText(OwnText::ChartFollow, idioma));
    m_follow->setToolTip(ownText(OwnText::ChartFollowTip, idioma));
    m_follow->adjustSize();
    placeOverlay();
    if (!m_tag.isEmpty())
        redraw();
}

void ReadingChart::showPort(const QString& tag, const QString& title)
{
    if (tag != m_tag) {
        if (m_followingPort && m_historyAlive)
            m_history.unfollow(m_tag);
        m_tag = tag;
        m_followingPort = !tag.isEmpty() && m_history.follow(tag);
    }
    chart()->setTitle(title);
    follow();
}

void ReadingChart::follow()
{
    m_following = true;
    m_follow->hide();
    redraw();
}

double ReadingChart::shownFrom() const
{
    return m_from;
}

double ReadingChart::shownTo() const
{
    return m_to;
}

QList<const QLineSeries*> ReadingChart::runs() const
{
    QList<const QLineSeries*> drawnRuns;
    for (int i = 0; i < m_runsDrawn; ++i)
        drawnRuns.append(m_runs[i]);
    return drawnRuns;
}

int ReadingChart::drawnReadings() const
{
    // The readings beside the view that carry a line to its edges are not
    // in it.
    int count = 0;
    const auto countIn = [&](const QXYSeries& series) {
        for (const QPointF& p : series.points())
            count += p.x() >= m_from && p.x() <= m_to ? 1 : 0;
    };
    countIn(*m_lone);
    for (int i = 0; i < m_runsDrawn; ++i)
        countIn(*m_runs[i]);
    return count;
}

QLineSeries* ReadingChart::runSeries(int index)
{
    while (m_runs.size() <= index) {
        auto* run = new QLineSeries;
        QPen pen(kValueColor);
        pen.setWidth(2);
        run->setPen(pen);
        chart()->addSeries(run);
        run->attachAxis(m_time);
        run->attachAxis(m_value);
        m_runs.append(run);
    }
    return m_runs[index];
}

void ReadingChart::pointAdded(const QString& tag)
{
    if (tag != m_tag)
        return;
    if (!isVisible()) {
        // A chart out of sight (another tab) draws once shown again.
        m_stale = true;
        return;
    }
    if (!m_following) {
        // A held view changes only when the new reading falls inside it.
        const std::deque<ReadingHistory::Point>& points = m_history.points(m_tag);
        if (points.empty() || !usable(points.back()))
            return;
        const double x = msOf(points.back());
        if (x < m_from || x > m_to)
            return;
    }
    redraw();
}

void ReadingChart::drawEmpty()
{
    for (int i = 0; i < m_runsDrawn; ++i)
        m_runs[i]->clear();
    m_runsDrawn = 0;
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{m_lone, m_outside, m_lower, m_upper})
        series->clear();
    m_time->setVisible(false);
    m_value->setVisible(false);
    m_lowerLabel->hide();
    m_upperLabel->hide();
    m_lowLimitDrawn = m_highLimitDrawn = false;
    m_follow->hide();
    m_hint->show();
}

void ReadingChart::redraw()
{
    m_stale = false;
    const std::deque<ReadingHistory::Point>& points = m_history.points(m_tag);
    const std::size_t n = points.size();
    std::size_t last = n;
    while (last > 0 && !usable(points[last - 1]))
        --last;
    if (m_tag.isEmpty() || last == 0) {
        drawEmpty();
        return;
    }

    // The readings in view, [begin, end), found by time (readings arrive in
    // time order; a clock set back only misplaces the search, never reads
    // outside the history).
    std::size_t begin = 0;
    std::size_t end = 0;
    if (m_following) {
        begin = last;
        double earliest = msOf(points[last - 1]);
        double latest = earliest;
        for (int kept = 0; begin > 0 && kept < kFollowedReadings;) {
            --begin;
            if (!usable(points[begin]))
                continue;
            ++kept;
            earliest = std::min(earliest, msOf(points[begin]));
            latest = std::max(latest, msOf(points[begin]));
        }
        end = last;
        double span = latest - earliest;
        double room = span * kSideRoom;
        if (span < kLeast) {
            room = (kLeast - span) / 2;
            span = kLeast;
        }
        // The room on the left stops short of the reading before those
        // followed.
        double left = room;
        for (std::size_t i = begin; i > 0; --i) {
            if (usable(points[i - 1])) {
                const double before = msOf(points[i - 1]);
                if (before < earliest)
                    left = std::min(left, (earliest - before) / 2);
                break;
            }
        }
        m_from = earliest - left;
        m_to = latest + room;
    } else {
        const auto firstAtOrAfter = [&](double x) {
            std::size_t low = 0;
            std::size_t high = n;
            while (low < high) {
                const std::size_t middle = low + (high - low) / 2;
                if (msOf(points[middle]) < x)
                    low = middle + 1;
                else
                    high = middle;
            }
            return low;
        };
        begin = firstAtOrAfter(m_from);
        end = std::max(begin, firstAtOrAfter(std::nextafter(m_to, kWidest * 1e6)));
    }

    // The readings in view and, beside them, the nearest one outside on each
    // side, so that a line runs on to the edge of the chart.
    std::vector<Shown> shown;
    shown.reserve(end - begin + 2);
    std::size_t before = begin;
    while (before > 0 && !usable(points[before - 1]))
        --before;
    if (before > 0) {
        const auto& p = points[before - 1];
        shown.push_back({msOf(p), p.value, p.LimInf, p.LimSup, p.outside});
    }
    const std::size_t firstInside = shown.size();
    for (std::size_t i = begin; i < end; ++i) {
        const auto& p = points[i];
        if (usable(p))
            shown.push_back({msOf(p), p.value, p.LimInf, p.LimSup, p.outside});
    }
    const std::size_t endInside = shown.size();
    std::size_t after = end;
    while (after < n && !usable(points[after]))
        ++after;
    if (after < n) {
        const auto& p = points[after];
        shown.push_back({msOf(p), p.value, p.LimInf, p.LimSup, p.outside});
    }

    m_hint->hide();
    m_time->setVisible(true);
    m_value->setVisible(true);
    drawRuns(shown, firstInside, endInside);
    drawLimits(shown, firstInside, endInside);

    // The values axis spans the readings in view and their limits (those
    // beside the view when none is in it).
    const bool anyInside = endInside > firstInside;
    const std::size_t from = anyInside ? firstInside : 0;
    const std::size_t to = anyInside ? endInside : shown.size();
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (std::size_t i = from; i < to; ++i) {
        low = std::min(low, shown[i].y);
        high = std::max(high, shown[i].y);
    }
    if (m_lowLimitDrawn)
        low = std::min(low, m_lowLimitShown), high = std::max(high, m_lowLimitShown);
    if (m_highLimitDrawn)
        low = std::min(low, m_highLimitShown), high = std::max(high, m_highLimitShown);
    if (low > high) {
        // Nothing near the view: the values axis stays as it was.
        low = m_value->min();
        high = m_value->max();
    }
    setAxes(low, high);
    m_follow->setVisible(!m_following);
    placeOverlay();
}

void ReadingChart::drawRuns(const std::vector<Shown>& shown, std::size_t firstInside,
                            std::size_t endInside)
{
    // A pause between two readings much longer than the usual spacing of
    // those in view is a stop: the line breaks there.
    std::vector<qint64> spacings;
    spacings.reserve(shown.size());
    for (std::size_t i = 1; i < shown.size(); ++i)
        spacings.push_back(qint64(std::abs(shown[i].x - shown[i - 1].x)));
    const double gap = double(gapThreshold(spacings));

    const double columns = std::max(100, viewport()->width());
    const bool thin = double(endInside - firstInside) > kReadingsPerColumn * columns;
    const double wide = (m_to - m_from) / columns;
    const bool marked = endInside - firstInside <= kMarkedUpTo;

    QList<QPointF> lone;
    QList<QPointF> outside;
    QList<QPointF> run;
    QList<QPointF> thinned;
    int runs = 0;
    const auto endRun = [&] {
        if (run.size() == 1 || (run.size() > 1 && runs >= kMostRuns)) {
            lone.append(run);
        } else if (run.size() > 1) {
            thinned.clear();
            appendThinned(thinned, run, thin, m_from, wide);
            QLineSeries* series = runSeries(runs++);
            series->setPointsVisible(marked);
            series->replace(thinned);
        }
        run.clear();
    };
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Shown& s = shown[i];
        // A reading earlier than the one before it (the clock set back)
        // breaks the line too: a line does not run back in time.
        if (i > 0 && (s.x - shown[i - 1].x > gap || s.x < shown[i - 1].x))
            endRun();
        run.append({s.x, s.y});
        if (s.outside)
            outside.append({s.x, s.y});
    }
    endRun();
    for (int i = runs; i < m_runsDrawn; ++i)
        m_runs[i]->clear();
    m_runsDrawn = runs;
    QList<QPointF> points;
    appendThinned(points, lone, thin, m_from, wide);
    m_lone->replace(points);
    points.clear();
    appendThinned(points, outside, thin, m_from, wide);
    m_outside->replace(points);
}

void ReadingChart::drawLimits(const std::vector<Shown>& shown, std::size_t firstInside,
                              std::size_t endInside)
{
    // Each limit as it stood over the view, in steps where it changed, from
    // the chart's left edge to its right one. Its label gives the last value
    // in view.
    struct Limit {
        QLineSeries* line;
        double Shown::*value;
        double& labelled;
        bool& isDrawn;
    };
    const std::size_t labelledAt = endInside > firstInside ? endInside - 1 : shown.size() - 1;
    for (const Limit& limit :
         {Limit{m_lower, &Shown::LimInf, m_lowLimitShown, m_lowLimitDrawn},
          Limit{m_upper, &Shown::LimSup, m_highLimitShown, m_highLimitDrawn}}) {
        QList<QPointF> line;
        for (const Shown& s : shown) {
            const double value = s.*limit.value;
            if (!drawn(value))
                continue;
            if (line.isEmpty()) {
                line.append({std::min(m_from, s.x), value});
            } else if (line.last().y() != value) {
                line.append({s.x, line.last().y()});
                line.append({s.x, value});
            }
        }
        if (!line.isEmpty())
            line.append({std::max(m_to, shown.back().x), line.last().y()});
        limit.line->replace(line);
        const double last = shown.empty() ? 0 : shown[labelledAt].*limit.value;
        limit.isDrawn = !shown.empty() && drawn(last);
        limit.labelled = last;
    }
}

void ReadingChart::setAxes(double low, double high)
{
    // As many ticks as fit the chart's size (not its plot area, which the
    // labels themselves change).
    const QFontMetrics timeFont(m_time->labelsFont());
    const int timeLabel = timeFont.horizontalAdvance(QStringLiteral("00/00 00:00")) + 24;
    const int timeTicks = std::clamp((viewport()->width() - 80) / std::max(timeLabel, 1), 2, 12);
    const int valueTicks = std::clamp((viewport()->height() - 80) / 32, 3, 12);

    QList<double> limits;
    if (m_lowLimitDrawn)
        limits.append(m_lowLimitShown);
    if (m_highLimitDrawn)
        limits.append(m_highLimitShown);
    const ValueScale values = valueScale(low, high, valueTicks, limits);
    QStringList labels;
    QList<double> at;
    for (const ValueTick& tick : values.ticks) {
        labels.append(tick.label);
        at.append(tick.at);
    }
    setCategories(*m_value, m_valueLabels, labels, at, values.min, values.max);

    const TimeScale times =
        timeScale(qint64(std::floor(m_from)), qint64(std::ceil(m_to)), timeTicks);
    labels.clear();
    at.clear();
    for (const TimeTick& tick : times.ticks) {
        labels.append(tick.label);
        at.append(double(tick.at));
    }
    setCategories(*m_time, m_timeLabels, labels, at, m_from, m_to);

    const int decimals = values.decimals;
    m_lowerLabel->setText(
        ownText(OwnText::ChartLowerLimit, m_idioma)
            .arg(valueText(m_lowLimitShown, placesOf(m_lowLimitShown, decimals))));
    m_upperLabel->setText(
        ownText(OwnText::ChartUpperLimit, m_idioma)
            .arg(valueText(m_highLimitShown, placesOf(m_highLimitShown, decimals))));
    m_lower->setName(m_lowerLabel->text());
    m_upper->setName(m_upperLabel->text());
    placeLimitLabels();
}

void ReadingChart::placeLimitLabels()
{
    const QRectF plot = chart()->plotArea();
    const auto place = [&](QGraphicsSimpleTextItem* label, bool isDrawn, double value, bool above) {
        label->setVisible(isDrawn && m_value->isVisible());
        if (!label->isVisible())
            return;
        const QPointF on = chart()->mapToPosition(QPointF(m_to, value), m_lower);
        const QRectF box = label->boundingRect();
        double y = above ? on.y() - box.height() - 1 : on.y() + 1;
        y = std::clamp(y, plot.top(), std::max(plot.top(), plot.bottom() - box.height()));
        label->setPos(plot.right() - box.width() - 4, y);
    };
    place(m_lowerLabel, m_lowLimitDrawn, m_lowLimitShown, false);
    place(m_upperLabel, m_highLimitDrawn, m_highLimitShown, true);
}

void ReadingChart::placeOverlay()
{
    m_hint->setGeometry(viewport()->rect().adjusted(16, 16, -16, -16));
    m_follow->move(viewport()->width() - m_follow->width() - 8, 8);
    m_follow->raise();
}

void ReadingChart::hold(double from, double to)
{
    // The view keeps some of the readings kept in sight: a pan or zoom out
    // does not lose them off an edge.
    const std::deque<ReadingHistory::Point>& points = m_history.points(m_tag);
    if (!points.empty() && usable(points.front()) && usable(points.back())) {
        const double oldest = msOf(points.front());
        const double newest = msOf(points.back());
        const double span = to - from;
        if (to < oldest + span * 0.1) {
            to = oldest + span * 0.1;
            from = to - span;
        } else if (from > newest - span * 0.1) {
            from = newest - span * 0.1;
            to = from + span;
        }
    }
    m_following = false;
    m_from = from;
    m_to = to;
    redraw();
}

void ReadingChart::zoomBy(double factor, double around)
{
    const double span = m_to - m_from;
    const double wanted = std::clamp(span * factor, kNarrowest, kWidest);
    if (!(span > 0) || wanted == span)
        return;
    around = std::clamp(around, m_from, m_to);
    const double from = around - (around - m_from) * wanted / span;
    hold(from, from + wanted);
}

void ReadingChart::panBy(double fraction)
{
    const double shift = (m_to - m_from) * fraction;
    hold(m_from + shift, m_to + shift);
}

void ReadingChart::wheelEvent(QWheelEvent* event)
{
    if (!m_value->isVisible() || event->angleDelta().y() == 0) {
        QChartView::wheelEvent(event);
        return;
    }
    const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    const double around = chart()->mapToValue(at, m_lower).x();
    // Each notch away from the person zooms in by a fifth.
    zoomBy(std::pow(0.8, event->angleDelta().y() / 120.0), around);
    event->accept();
}

void ReadingChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_value->isVisible()) {
        m_dragging = true;
        m_dragFrom = event->position().toPoint();
        m_dragFromStart = m_from;
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void ReadingChart::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging) {
        QChartView::mouseMoveEvent(event);
        return;
    }
    const int moved = event->position().toPoint().x() - m_dragFrom.x();
    // A click that trembles is not a pan.
    if (m_following && std::abs(moved) < 4)
        return;
    const double wide = std::max(chart()->plotArea().width(), 1.0);
    const double span = m_to - m_from;
    const double from = m_dragFromStart - moved * span / wide;
    hold(from, from + span);
    event->accept();
}

void ReadingChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void ReadingChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_value->isVisible()) {
        follow();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

void ReadingChart::keyPressEvent(QKeyEvent* event)
{
    if (!m_value->isVisible()) {
        QChartView::keyPressEvent(event);
        return;
    }
    const double middle = (m_from + m_to) / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(1 / 1.5, middle);
        break;
    case Qt::Key_Minus:
        zoomBy(1.5, middle);
        break;
    case Qt::Key_Left:
        panBy(-0.2);
        break;
    case Qt::Key_Right:
        panBy(0.2);
        break;
    case Qt::Key_Home:
        follow();
        break;
    default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ReadingChart::showEvent(QShowEvent* event)
{
    QChartView::showEvent(event);
    if (m_stale)
        redraw();
}

void ReadingChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    placeOverlay();
    // The ticks that fit depend on the size.
    if (m_value->isVisible())
        redraw();
}

} // namespace telvar
