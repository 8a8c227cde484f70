#include "dialogs/MensaBoxLayout.h"

#include <algorithm>
#include <cmath>

namespace telvar {

QStringList splitMensajeLines(const QString& mensaje)
{
    QStringList lines;
    const qsizetype length = mensaje.size();
    qsizetype start = 0; // the previous break: a line feed, or the beginning
    for (qsizetype i = 0; i < length; ++i) {
        const bool lineFeed = mensaje.at(i) == QLatin1Char('\n');
        const bool last = i == length - 1;
        if (!lineFeed && !last)
            continue;
        // The last character belongs to its line unless it is the line feed
        // that ends it.
        const qsizetype end = lineFeed ? i : i + 1;
        lines.append(mensaje.mid(start, end - start));
        start = i;
    }
    return lines;
}

MensaBoxGeometry layoutMensaBox(const QList<double>& lineWidths, const MensaBoxDesign& design)
{
    MensaBoxGeometry g;
    g.lineCount = static_cast<int>(lineWidths.size());
    double widest = 0;
    for (double w : lineWidths)
        widest = std::max(widest, w);
    g.widestLine = static_cast<double>(std::lround(widest));

    g.text1 = design.text1;
    g.width = design.text1.width + design.widthBeyondText1;

    const double wanted =
        std::min(g.widestLine + design.widthBeyondWidestLine, design.maxText1Width);
    if (g.text1.width < wanted) {
        g.widened = true;
        g.text1.width = wanted;
        g.width = g.text1.width + design.widthBeyondText1;
    }

    g.height = std::clamp(design.lineHeight * g.lineCount + design.heightBase, design.minHeight,
                          design.maxHeight);
    g.text1.height = g.height - design.heightBeyondText1;

    const double stripWidth = 4 * design.stripQuarter;
    g.strip = {g.width - design.stripRightMargin - stripWidth,
               g.height - design.stripBottomMargin - design.stripQuarter, stripWidth,
               design.stripQuarter};
    // The count-down covers the strip's unused first quarter.
    g.countDown = {g.strip.left - design.countDownLeftOfStrip, g.strip.top,
                   design.stripQuarter + design.countDownLeftOfStrip, design.stripQuarter};
    g.text2 = {g.text1.left + design.text2Size, g.text1.top + 15, design.text2Size,
               design.text2Size};
    g.icon = design.icon;
    return g;
}

StripAction stripActionAt(double x, double width)
{
    if (!(width > 0))
        return StripAction::None;
    const double r = x / width;
    if (r < 0.25)
        return StripAction::None;
    if (r < 0.5)
        return StripAction::Play;
    if (r < 0.75)
        return StripAction::Pause;
    return StripAction::Stop;
}

} // namespace telvar
