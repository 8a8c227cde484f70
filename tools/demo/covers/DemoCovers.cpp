#include "demo/covers/DemoCovers.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <iterator>

namespace telvar::demo {

Status drawDemoCover(const QString& path, const QString& title, const QString& subtitle)
{
    QImage image(600, 360, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, image.height());
    background.setColorAt(0, QColor(24, 66, 104));
    background.setColorAt(1, QColor(12, 30, 48));
    painter.fillRect(image.rect(), background);

    // A small control chart: limits and a wandering line of readings.
    painter.setPen(QPen(QColor(220, 90, 80), 2, Qt::DashLine));
    painter.drawLine(60, 210, 540, 210);
    painter.drawLine(60, 310, 540, 310);
    painter.setPen(QPen(QColor(140, 220, 160), 3));
    const int readings[] = {262, 248, 271, 255, 240, 266, 281, 259, 244, 252, 268, 257};
    for (int i = 1; i < int(std::size(readings)); ++i)
        painter.drawLine(60 + (i - 1) * 43, readings[i - 1], 60 + i * 43, readings[i]);

    painter.setPen(Qt::white);
    QFont big(QStringLiteral("DejaVu Sans"), 40, QFont::Bold);
    painter.setFont(big);
    painter.drawText(QRect(0, 40, image.width(), 70), Qt::AlignCenter, title);
    QFont small(QStringLiteral("DejaVu Sans"), 15);
    painter.setFont(small);
    painter.drawText(QRect(0, 115, image.width(), 40), Qt::AlignCenter, subtitle);
    painter.end();
    if (!image.save(path, "JPG", 90))
        return Error{75, QStringLiteral("telvar_demo_install"),
                     QStringLiteral("cannot save the cover picture: ") + path};
    return {};
}

} // namespace telvar::demo
