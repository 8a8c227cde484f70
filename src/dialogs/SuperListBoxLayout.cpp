#include "dialogs/SuperListBoxLayout.h"

namespace telvar {

SuperListBoxGeometry layoutSuperListBox(const SuperListBoxPlacement& placement, double screenWidth,
                                        double screenHeight, const SuperListBoxDesign& design)
{
    SuperListBoxGeometry g;
    g.dialog.width = design.width;
    g.dialog.left = placement.XPos == 0 ? (screenWidth - g.dialog.width) / 2 : placement.XPos;
    g.dialog.height = placement.Altura > design.height ? placement.Altura : design.height;
    // Centred with the height it ends up with.
    g.dialog.top = placement.YPos == 0 ? (screenHeight - g.dialog.height) / 2 : placement.YPos;

    const double inner = g.dialog.height;
    g.list1 = {design.listLeft, design.listTop, design.width - 2 * design.listLeft,
               inner - design.listBeyond};

    const double buttonsTop = inner - design.buttonsAbove;
    g.cancelVisible = !placement.OmitCancel;
    const double pairWidth = 2 * design.buttonWidth + design.buttonGap;
    const double pairLeft = (design.width - pairWidth) / 2;
    g.cmdOK = {pairLeft, buttonsTop, design.buttonWidth, design.buttonHeight};
    g.cmdCancel = {pairLeft + design.buttonWidth + design.buttonGap, buttonsTop, design.buttonWidth,
                   design.buttonHeight};
    if (!g.cancelVisible)
        g.cmdOK.left = (design.width - design.buttonWidth) / 2; // alone, OK is centred
    return g;
}

QStringList splitLista(const QString& lista)
{
    QStringList entries = lista.split(QLatin1Char('\n'));
    entries.removeLast(); // what follows the last line feed (possibly nothing)
    return entries;
}

std::optional<ClassicRgb> decodeClassicColor(qint32 color)
{
    if (color < 0 || color > 0xFFFFFF)
        return std::nullopt;
    return ClassicRgb{color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF};
}

} // namespace telvar
