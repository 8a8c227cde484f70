#pragma once

#include "dialogs/TwipsRect.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

namespace telvar {

// Design sizes of the list picker, in twips, measured in the dialog's client
// area (its inner size; the window manager adds its own frame).
struct SuperListBoxDesign {
    double width = 4200;
    double height = 2100; // a larger Altura replaces it
    double listLeft = 120;
    double listTop = 120;
    double listBeyond = 1080;  // List1's height = inner height - this
    double buttonsAbove = 885; // the buttons' tops = inner height - this
    double buttonWidth = 1215;
    double buttonHeight = 375;
    double buttonGap = 150; // between OK and Cancel
};

// The properties that place the picker.
struct SuperListBoxPlacement {
    double XPos = 0; // twips from the screen's left edge; 0 centres
    double YPos = 0; // twips from the screen's top edge; 0 centres
    double Altura = 0;
    bool OmitCancel = false;
};

// Where everything of the list picker goes, in twips. The dialog's left and
// top are relative to the screen's top-left corner.
struct SuperListBoxGeometry {
    TwipsRect dialog;
    TwipsRect list1;
    TwipsRect cmdOK;
    TwipsRect cmdCancel;
    bool cancelVisible = true;
};

SuperListBoxGeometry layoutSuperListBox(const SuperListBoxPlacement& placement, double screenWidth,
                                        double screenHeight, const SuperListBoxDesign& design = {});

// The entries of Lista: every piece that a line feed ends, in order; text
// after the last line feed is not an entry.
QStringList splitLista(const QString& lista);

// A colour given as the classic RGB long (red + 256 * green + 65536 * blue).
struct ClassicRgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const ClassicRgb&, const ClassicRgb&) = default;
};

// The colour of a classic RGB long; std::nullopt for values outside
// 0..0xFFFFFF (system-colour references and garbage), which keep the
// window's own background.
std::optional<ClassicRgb> decodeClassicColor(qint32 color);

} // namespace telvar
