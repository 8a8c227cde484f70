#pragma once

#include "dialogs/TwipsRect.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace telvar {

// Design sizes of the timed message box, in twips, measured in the dialog's
// client area (the window manager adds its own frame). The dialog's width is
// always Text1's width + 1095, so the design width follows from Text1's.
struct MensaBoxDesign {
    TwipsRect icon{180, 180, 480, 480}; // Image16..Image64, all in one place
    TwipsRect text1{840, 120, 4500, 0}; // height follows the dialog's height
    double text2Size = 15;              // Text2: a one-pixel focus holder behind Text1
    double stripQuarter = 300;          // PlayPauseStop: four squares of this size
    double stripBottomMargin = 150;     // from the strip's bottom to the dialog's bottom
    double widthBeyondText1 = 1095;     // dialog width = Text1's width + this
    double stripRightMargin = 240;      // strip's right edge to the inner right edge
    double countDownLeftOfStrip = 15;   // lblCountDown's left edge left of the strip's
    double lineHeight = 225;            // dialog height = lineHeight * n + heightBase
    double heightBase = 1200;
    double minHeight = 1710;
    double maxHeight = 10500;
    double heightBeyondText1 = 660;     // Text1's height = dialog height - this
    double widthBeyondWidestLine = 870; // Text1 is at least the widest line + this
    double maxText1Width = 9300;
};

// Where everything of the timed message box goes, in twips.
struct MensaBoxGeometry {
    int lineCount = 0;
    double widestLine = 0; // the widest line as a whole number of twips
    bool widened = false;  // Text1 (and the dialog) grew past the design width
    double width = 0;      // dialog client size
    double height = 0;
    TwipsRect icon;
    TwipsRect text1;
    TwipsRect text2;
    TwipsRect strip;
    TwipsRect countDown;
};

// The pieces of a message whose widths size the box. A line ends at each line
// feed and at the last character; each piece runs from the previous break,
// the line feed that made it included at its start, up to the break (a line
// feed that ends a line belongs to the next piece). A final line feed ends the
// last line and starts none.
QStringList splitMensajeLines(const QString& mensaje);

// Lays the box out for the measured widths (twips, one per piece of
// splitMensajeLines, in the dialog's font).
MensaBoxGeometry layoutMensaBox(const QList<double>& lineWidths, const MensaBoxDesign& design = {});

// What a press on the play/pause/stop strip does, by where it lands.
enum class StripAction { None, Play, Pause, Stop };

// r = x / width: below 0.25 nothing (the count-down sits there), then play,
// pause and stop by quarters. A strip of no width does nothing.
StripAction stripActionAt(double x, double width);

} // namespace telvar
