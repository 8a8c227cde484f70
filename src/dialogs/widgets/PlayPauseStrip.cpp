#include "dialogs/widgets/PlayPauseStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace telvar {

PlayPauseStrip::PlayPauseStrip(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void PlayPauseStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double quarter = width() / 4.0;
    const double h = height();
    const QColor face = palette().color(QPalette::Button);
    const QColor edge = palette().color(QPalette::Mid);
    const QColor glyph = palette().color(QPalette::ButtonText);

    for (int i = 1; i < 4; ++i) {
        const QRectF cell(i * quarter + 1, 1, quarter - 2, h - 2);
        painter.setPen(edge);
        painter.setBrush(face);
        painter.drawRoundedRect(cell, 2, 2);

        // The glyph fills the middle half of its square.
        const double side = std::min(cell.width(), cell.height()) / 2;
        const QRectF mark(cell.center().x() - side / 2, cell.center().y() - side / 2, side, side);
        painter.setPen(Qt::NoPen);
        painter.setBrush(glyph);
        if (i == 1) {
            QPainterPath play;
            play.moveTo(mark.topLeft());
            play.lineTo(mark.right(), mark.center().y());
            play.lineTo(mark.bottomLeft());
            play.closeSubpath();
            painter.drawPath(play);
        } else if (i == 2) {
            const double bar = side / 3;
            painter.drawRect(QRectF(mark.left(), mark.top(), bar, side));
            painter.drawRect(QRectF(mark.right() - bar, mark.top(), bar, side));
        } else {
            painter.drawRect(mark);
        }
    }
}

void PlayPauseStrip::mousePressEvent(QMouseEvent* event)
{
    emit mouseDown(event->position().x());
    event->accept();
}

} // namespace telvar
