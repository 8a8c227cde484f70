#pragma once

#include <QChartView>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <vector>

class QCategoryAxis;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;

namespace telvar {

class ReadingHistory;

// The chart of one port's readings over time, with the lower and upper
// limits they were checked against drawn as lines labelled with their
// values, and the readings outside them marked, so that a wrongly cut
// reading (a jump of a factor of ten) or a drifting station shows at a
// glance. Limits of ±999999 (none set) are not drawn.
//
// It follows its port: the last kFollowedReadings readings fill the chart
// and each new reading moves it on. The wheel zooms the time axis, a drag
// pans it, and so do +, -, and the arrow keys; from then on the view holds
// still while readings arrive, until Home, a double click or the Follow
// button goes back to following. A pause much longer than the port's usual
// spacing (a stop, a failing station) is left as a gap in the line.
class ReadingChart final : public QChartView {
    Q_OBJECT
public:
    // The readings shown while following: a count rather than a time span,
    // so that a port read every ten seconds and one read every ten minutes
    // both fill the chart with a readable number of points.
    static constexpr int kFollowedReadings = 100;

    explicit ReadingChart(const ReadingHistory& history, QWidget* parent = nullptr);
    ~ReadingChart() override;

    // Shows the port with this grid tag (" 3/012"), under title, following
    // it; an empty tag shows nothing but how to choose a port.
    void showPort(const QString& tag, const QString& title);
    const QString& port() const { return m_tag; }
    // The language of the chart's own texts (1 Spanish, 2 English).
    void setIdioma(int idioma);

    // Whether the view follows new readings (no zoom or pan since the port
    // was chosen or following was asked for).
    bool following() const { return m_following; }
    // Back to the port's last readings, following new ones.
    void follow();
    // The span of time shown, in ms since the epoch.
    double shownFrom() const;
    double shownTo() const;

    // What is drawn, for tests: the readings as runs of lines (one series
    // per run between gaps; a lone reading is a point of its own), those
    // outside their limits, the two limit lines and their labels, and the
    // axes.
    QList<const QLineSeries*> runs() const;
    const QScatterSeries& lonePoints() const { return *m_lone; }
    const QScatterSeries& outside() const { return *m_outside; }
    const QLineSeries& lowerLimit() const { return *m_lower; }
    const QLineSeries& upperLimit() const { return *m_upper; }
    const QGraphicsSimpleTextItem& lowerLimitLabel() const { return *m_lowerLabel; }
    const QGraphicsSimpleTextItem& upperLimitLabel() const { return *m_upperLabel; }
    const QCategoryAxis& timeAxis() const { return *m_time; }
    const QCategoryAxis& valueAxis() const { return *m_value; }
    // The readings drawn (on lines and as lone points).
    int drawnReadings() const;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // A reading as the chart draws it.
    struct Shown {
        double x; // ms since the epoch
        double y;
        double LimInf;
        double LimSup;
        bool outside;
    };

    void pointAdded(const QString& tag);
    // Draws the readings in the span shown (the last ones while following).
    void redraw();
    void drawEmpty();
    void drawRuns(const std::vector<Shown>& shown, std::size_t firstInside, std::size_t endInside);
    void drawLimits(const std::vector<Shown>& shown, std::size_t firstInside,
                    std::size_t endInside);
    void setAxes(double low, double high);
    void placeLimitLabels();
    void placeOverlay();
    // Holds the view on this span (a person's zoom or pan).
    void hold(double from, double to);
    void zoomBy(double factor, double around);
    void panBy(double fraction);
    QLineSeries* runSeries(int index);

    const ReadingHistory& m_history;
    // The history outlives the chart in tests but not always in the main
    // window (its member goes before its child widgets): unfollow only while
    // it lives.
    QPointer<const ReadingHistory> m_historyAlive;
    QString m_tag;
    bool m_followingPort = false; // the history keeps the port's points deep
    int m_idioma = 1;
    bool m_following = true;
    bool m_stale = false; // readings arrived while out of sight
    double m_from = 0;
    double m_to = 0;
    double m_lowLimitShown = 0;
    double m_highLimitShown = 0;
    bool m_lowLimitDrawn = false;
    bool m_highLimitDrawn = false;
    QList<QLineSeries*> m_runs; // a pool: runs beyond those drawn are empty
    int m_runsDrawn = 0;
    QScatterSeries* m_lone;
    QScatterSeries* m_outside;
    QLineSeries* m_lower;
    QLineSeries* m_upper;
    QGraphicsSimpleTextItem* m_lowerLabel;
    QGraphicsSimpleTextItem* m_upperLabel;
    QCategoryAxis* m_time;
    QCategoryAxis* m_value;
    QStringList m_timeLabels;
    QStringList m_valueLabels;
    QLabel* m_hint;
    QPushButton* m_follow;
    bool m_dragging = false;
    QPoint m_dragFrom;
    double m_dragFromStart = 0;
};

} // namespace telvar
