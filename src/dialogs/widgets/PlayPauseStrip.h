#pragma once

#include <QWidget>

namespace telvar {

// The play/pause/stop strip of the timed message box: four equal squares,
// left to right an unused one (the count-down is shown over it), play, pause
// and stop. It only draws itself and reports where it was pressed; the box
// decides what a press does.
class PlayPauseStrip final : public QWidget {
    Q_OBJECT
public:
    explicit PlayPauseStrip(QWidget* parent = nullptr);

signals:
    // x in the strip's own pixels, from its left edge.
    void mouseDown(double x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace telvar
