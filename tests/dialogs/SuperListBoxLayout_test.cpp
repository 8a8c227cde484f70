#include "common/Interaccion.h"
#include "dialogs/SuperListBoxLayout.h"

#include <gtest/gtest.h>

using namespace telvar;

namespace {

constexpr double kScreenWidth = 12000;
constexpr double kScreenHeight = 9000;

struct PlacementCase {
    const char* name;
    SuperListBoxPlacement placement;
    TwipsRect dialog;
};

void PrintTo(const PlacementCase& c, std::ostream* os)
{
    *os << c.name;
}

class ListPickerPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(ListPickerPlacement, PlacesAndSizesTheDialog)
{
    const PlacementCase& c = GetParam();
    const SuperListBoxGeometry g = layoutSuperListBox(c.placement, kScreenWidth, kScreenHeight);
    EXPECT_EQ(g.dialog, c.dialog);
    // List and buttons follow the inner height.
    EXPECT_DOUBLE_EQ(g.list1.height, c.dialog.height - 1080);
    EXPECT_DOUBLE_EQ(g.cmdOK.top, c.dialog.height - 885);
    EXPECT_DOUBLE_EQ(g.cmdCancel.top, c.dialog.height - 885);
    EXPECT_LE(g.list1.bottom(), g.cmdOK.top);
    EXPECT_LE(g.cmdOK.bottom(), c.dialog.height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListPickerPlacement,
    ::testing::Values(
        PlacementCase{"CentredByDefault", {}, {3900, 3450, 4200, 2100}},
        PlacementCase{
            "AlturaOfTheDesignHeightIsIgnored", {0, 0, 2100, false}, {3900, 3450, 4200, 2100}},
        PlacementCase{"SmallAlturaIsIgnored", {0, 0, 1500, false}, {3900, 3450, 4200, 2100}},
        // Centred with the new height.
        PlacementCase{
            "AlturaAboveTheDesignHeightIsUsed", {0, 0, 2220, false}, {3900, 3390, 4200, 2220}},
        PlacementCase{"GivenPosition", {600, 900, 0, false}, {600, 900, 4200, 2100}},
        PlacementCase{"OnlyLeftGiven", {600, 0, 3000, false}, {600, 3000, 4200, 3000}},
        PlacementCase{"OnlyTopGiven", {0, 45, 0, false}, {3900, 45, 4200, 2100}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ListPickerButtons, CancelHiddenWithOmitCancelAndOkCentred)
{
    const SuperListBoxGeometry both = layoutSuperListBox({}, kScreenWidth, kScreenHeight);
    EXPECT_TRUE(both.cancelVisible);
    EXPECT_LE(both.cmdOK.right(), both.cmdCancel.left);
    EXPECT_DOUBLE_EQ(both.cmdOK.left, both.dialog.width - both.cmdCancel.right());

    const SuperListBoxGeometry alone =
        layoutSuperListBox({0, 0, 0, true}, kScreenWidth, kScreenHeight);
    EXPECT_FALSE(alone.cancelVisible);
    EXPECT_DOUBLE_EQ(alone.cmdOK.left, alone.dialog.width - alone.cmdOK.right());
}

TEST(ListaSplitting, EachPieceEndedByALineFeedIsAnEntry)
{
    const struct {
        QString lista;
        QStringList entries;
    } cases[] = {
        {QStringLiteral("uno\ndos\n"), {QStringLiteral("uno"), QStringLiteral("dos")}},
        {QStringLiteral("uno\ndos"), {QStringLiteral("uno")}},
        {QString(), {}},
        {QStringLiteral("sin salto"), {}},
        {QStringLiteral("\n"), {QString()}},
        {QStringLiteral("a\n\nb\n"), {QStringLiteral("a"), QString(), QStringLiteral("b")}},
        {QStringLiteral("C:\\Qualitra\\Datos\r\n"), {QStringLiteral("C:\\Qualitra\\Datos\r")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitLista(c.lista), c.entries) << c.lista.toStdString();
}

TEST(ClassicColor, DecodesRedGreenBlueAndRejectsTheRest)
{
    EXPECT_EQ(decodeClassicColor(RGB(1, 2, 3)), (ClassicRgb{1, 2, 3}));
    EXPECT_EQ(decodeClassicColor(RGB(255, 255, 255)), (ClassicRgb{255, 255, 255}));
    EXPECT_EQ(decodeClassicColor(0), (ClassicRgb{0, 0, 0}));
    EXPECT_EQ(decodeClassicColor(RGB(0, 128, 255)), (ClassicRgb{0, 128, 255}));
    // System-colour references have the top bit set.
    EXPECT_EQ(decodeClassicColor(static_cast<qint32>(0x8000000F)), std::nullopt);
    EXPECT_EQ(decodeClassicColor(-1), std::nullopt);
    EXPECT_EQ(decodeClassicColor(0x1000000), std::nullopt);
}

} // namespace
