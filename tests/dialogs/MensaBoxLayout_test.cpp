#include "dialogs/MensaBoxLayout.h"

#include <gtest/gtest.h>

using namespace telvar;

namespace {

struct SplitCase {
    const char* name;
    QString mensaje;
    QStringList lines;
};

void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << c.name;
}

class MensajeLines : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MensajeLines, BreakAtLineFeedsAndTheLastCharacter)
{
    EXPECT_EQ(splitMensajeLines(GetParam().mensaje), GetParam().lines);
}

const QString LF = QStringLiteral("\n");

INSTANTIATE_TEST_SUITE_P(
    Cases, MensajeLines,
    ::testing::Values(
        SplitCase{"Empty", QString(), {}},
        SplitCase{"OneCharacter", QStringLiteral("a"), {QStringLiteral("a")}},
        SplitCase{"OneLine", QStringLiteral("Hola mundo"), {QStringLiteral("Hola mundo")}},
        // The line feed that ends a line is measured with the next one.
        SplitCase{"TwoLines",
                  QStringLiteral("abc\ndefg"),
                  {QStringLiteral("abc"), QStringLiteral("\ndefg")}},
        SplitCase{"FinalLineFeedStartsNoLine", QStringLiteral("abc\n"), {QStringLiteral("abc")}},
        SplitCase{"BlankLineInBetween",
                  QStringLiteral("Telvar. cmdAbre.\n\n3031.- clave"),
                  {QStringLiteral("Telvar. cmdAbre."), LF, QStringLiteral("\n3031.- clave")}},
        SplitCase{"LeadingLineFeed", QStringLiteral("\nabc"), {QString(), QStringLiteral("\nabc")}},
        SplitCase{"OnlyALineFeed", LF, {QString()}}),
    [](const auto& param) { return std::string(param.param.name); });

struct LayoutCase {
    const char* name;
    QList<double> widths;
    double height;
    double text1Width;
    double width;
    bool widened;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class MensaBoxSize : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MensaBoxSize, FollowsTheLinesOfTheMessage)
{
    const LayoutCase& c = GetParam();
    const MensaBoxGeometry g = layoutMensaBox(c.widths);
    EXPECT_EQ(g.lineCount, c.widths.size());
    EXPECT_DOUBLE_EQ(g.height, c.height);
    EXPECT_DOUBLE_EQ(g.text1.height, c.height - 660);
    EXPECT_DOUBLE_EQ(g.text1.width, c.text1Width);
    EXPECT_DOUBLE_EQ(g.width, c.width);
    EXPECT_EQ(g.widened, c.widened);

    // The strip keeps 240 from the right edge, the count-down sits 15 left of
    // it, Text2 15 below Text1's top, whatever the size.
    EXPECT_DOUBLE_EQ(g.strip.right(), g.width - 240);
    EXPECT_DOUBLE_EQ(g.countDown.left, g.strip.left - 15);
    EXPECT_DOUBLE_EQ(g.text2.top, g.text1.top + 15);
    // Nothing leaves the dialog or overlaps the message.
    EXPECT_LE(g.strip.bottom(), g.height);
    EXPECT_GE(g.strip.top, g.text1.bottom());
    EXPECT_LE(g.text1.right(), g.width);
}

QList<double> lines(int n, double width)
{
    return QList<double>(n, width);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MensaBoxSize,
    ::testing::Values(
        // 225 + 1200 = 1425 is raised to the minimum.
        LayoutCase{"OneLineGetsTheMinimumHeight", lines(1, 1000), 1710, 4500, 5595, false},
        LayoutCase{"NoMessage", {}, 1710, 4500, 5595, false},
        LayoutCase{"TwoLinesStillMinimum", lines(2, 1000), 1710, 4500, 5595, false},
        LayoutCase{"FiveLines", lines(5, 1000), 2325, 4500, 5595, false},
        LayoutCase{"FortyLinesUnderTheCap", lines(40, 1000), 10200, 4500, 5595, false},
        LayoutCase{"FiftyLinesCapped", lines(50, 1000), 10500, 4500, 5595, false},
        LayoutCase{"VeryLongLineCapsText1", {500, 20000, 800}, 1875, 9300, 10395, true},
        // widest + 870 equal to the design width is not wider.
        LayoutCase{"ExactlyTheDesignWidth", lines(1, 3630), 1710, 4500, 5595, false},
        LayoutCase{"OneTwipWider", lines(1, 3631), 1710, 4501, 5596, true},
        // The widest line counts as a whole number of twips.
        LayoutCase{"FractionRoundsDown", lines(1, 3630.4), 1710, 4500, 5595, false},
        LayoutCase{"FractionRoundsUp", lines(1, 3630.6), 1710, 4501, 5596, true},
        LayoutCase{"WidestOfSeveral", {100, 6130, 2000}, 1875, 7000, 8095, true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MensaBoxSize, ShortMessageKeepsTheDesignPlacesOfStripAndCountDown)
{
    const MensaBoxDesign design;
    const MensaBoxGeometry g = layoutMensaBox({1000});
    EXPECT_EQ(g.text1.left, design.text1.left);
    EXPECT_EQ(g.text1.top, design.text1.top);
    EXPECT_EQ(g.icon, design.icon);
    EXPECT_DOUBLE_EQ(g.strip.width, 4 * design.stripQuarter);
    // The count-down covers exactly the unused first quarter of the strip.
    EXPECT_DOUBLE_EQ(g.countDown.right(), g.strip.left + design.stripQuarter);
}

struct StripCase {
    double x;
    double width;
    StripAction action;
};

TEST(PlayPauseStop, ActsByQuarterOfTheStrip)
{
    const StripCase cases[] = {
        {0, 100, StripAction::None},   {24.9, 100, StripAction::None},
        {25, 100, StripAction::Play},  {49.9, 100, StripAction::Play},
        {50, 100, StripAction::Pause}, {74.9, 100, StripAction::Pause},
        {75, 100, StripAction::Stop},  {99, 100, StripAction::Stop},
        {100, 100, StripAction::Stop}, {-3, 100, StripAction::None},
        {10, 0, StripAction::None},    {30, 80, StripAction::Play},
    };
    for (const StripCase& c : cases)
        EXPECT_EQ(stripActionAt(c.x, c.width), c.action) << "x " << c.x << " width " << c.width;
}

} // namespace
