#include "app/widgets/ReadingChart.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "recording/ReadingHistory.h"
#include "recording/ReadingsModel.h"
#include "support/widgets/WidgetLookup.h"

#include <QCategoryAxis>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using telvar::ReadingChart;
using telvar::ReadingHistory;
using telvar::ReadingRow;

namespace {

const QDateTime kStart(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC);
constexpr double kNone = 999999;

ReadingRow readingAt(const QString& tag, qint64 second, double value, double low = 10,
                     double high = 20)
{
    ReadingRow row;
    row.tag = tag;
    row.value = value;
    row.LimInf = low;
    row.LimSup = high;
    row.Marca = (value < low || value > high) ? QStringLiteral("?") : QString();
    row.arrivedAt = kStart.addSecs(second);
    return row;
}

ReadingRow reading(const QString& tag, int minute, double value, double low = 10, double high = 20)
{
    return readingAt(tag, 60LL * minute, value, low, high);
}

double msAt(int minute)
{
    return double(kStart.addSecs(60LL * minute).toMSecsSinceEpoch());
}

// The ticks of an axis, in order.
struct Tick {
    double at;
    QString label;
};
std::vector<Tick> ticksOf(const QCategoryAxis& axis)
{
    std::vector<Tick> ticks;
    // Qt's getter of the labels is not const; it changes nothing.
    auto& labels = const_cast<QCategoryAxis&>(axis);
    for (const QString& label : labels.categoriesLabels())
        ticks.push_back({axis.endValue(label), label});
    return ticks;
}

class ReadingChartTest : public ::testing::Test {
protected:
    ReadingChartTest()
    {
        chart.resize(720, 480);
        chart.show();
        QCoreApplication::processEvents();
    }

    telvar::Modulo1 m;
    telvar::ReadingsModel model{m};
    ReadingHistory history{model};
    ReadingChart chart{history};
    const QString port = QStringLiteral(" 1/001");
};

TEST_F(ReadingChartTest, DrawsTheSelectedPortsReadingsLimitsAndThoseOutside)
{
    model.addReading(reading(port, 0, 12));
    model.addReading(reading(port, 1, 140)); // cut a digit too far: ten times as much
    model.addReading(reading(QStringLiteral(" 2/002"), 1, 99));
    chart.showPort(port, QStringLiteral("DIAM"));

    ASSERT_EQ(chart.runs().size(), 1);
    ASSERT_EQ(chart.runs()[0]->count(), 2);
    EXPECT_EQ(chart.runs()[0]->at(1).y(), 140);
    ASSERT_EQ(chart.outside().count(), 1);
    EXPECT_EQ(chart.outside().at(0).y(), 140);
    EXPECT_GE(chart.lowerLimit().count(), 2);
    EXPECT_EQ(chart.upperLimit().at(0).y(), 20);

    // It follows its port as readings arrive, and no other.
    model.addReading(reading(port, 2, 13));
    EXPECT_EQ(chart.drawnReadings(), 3);
    model.addReading(reading(QStringLiteral(" 2/002"), 2, 98));
    EXPECT_EQ(chart.drawnReadings(), 3);

    chart.showPort(QStringLiteral(" 2/002"), QStringLiteral("PESO"));
    EXPECT_EQ(chart.drawnReadings(), 2);
    chart.showPort(QString(), QString());
    EXPECT_EQ(chart.drawnReadings(), 0);
    EXPECT_EQ(chart.outside().count(), 0);
}

TEST_F(ReadingChartTest, ASingleReadingAlreadyShowsItsLimitsAsLinesAndItsPointWhole)
{
    model.addReading(reading(port, 0, 15));
    chart.showPort(port, QStringLiteral("DIAM"));
    ASSERT_GE(chart.lowerLimit().count(), 2);
    EXPECT_GT(chart.lowerLimit().at(1).x(), chart.lowerLimit().at(0).x());
    EXPECT_EQ(chart.lowerLimit().at(1).y(), 10);
    EXPECT_GE(chart.upperLimit().count(), 2);
    EXPECT_EQ(chart.lonePoints().count(), 1);
    // Room on every side of the point.
    EXPECT_LT(chart.shownFrom(), msAt(0));
    EXPECT_GT(chart.shownTo(), msAt(0));
    EXPECT_LT(chart.valueAxis().min(), 10);
    EXPECT_GT(chart.valueAxis().max(), 20);
}

TEST_F(ReadingChartTest, APortWithoutLimitsDrawsNoLimitLines)
{
    model.addReading(reading(port, 0, 5, -kNone, kNone));
    model.addReading(reading(port, 1, 6, -kNone, kNone));
    chart.showPort(port, QStringLiteral("LARGO"));
    EXPECT_EQ(chart.drawnReadings(), 2);
    EXPECT_EQ(chart.lowerLimit().count(), 0);
    EXPECT_EQ(chart.upperLimit().count(), 0);
    EXPECT_FALSE(chart.lowerLimitLabel().isVisible());
    EXPECT_FALSE(chart.upperLimitLabel().isVisible());
    EXPECT_EQ(chart.outside().count(), 0);
    // The values axis fits the readings, not the "none set" limits.
    EXPECT_GT(chart.valueAxis().min(), 0);
    EXPECT_LT(chart.valueAxis().max(), 11);
}

TEST_F(ReadingChartTest, ValueTicksAreRoundIncludeTheLimitsAndLeaveRoom)
{
    struct Case {
        const char* what;
        double low;
        double high;
        std::vector<double> values;
        std::vector<const char*> limitLabels;
    };
    const Case cases[] = {
        {"the plant's case", 24.90, 25.10, {24.942, 24.971, 25.003, 25.04}, {"24.90", "25.10"}},
        {"limits off the round ticks", 10.37, 12.81, {11.2, 11.9, 12.1}, {"10.37", "12.81"}},
        {"a reading beyond its limits", 10, 20, {12, 140, 13}, {"10", "20"}},
        {"no limits", -kNone, kNone, {0.0012, 0.0019, 0.0015}, {}},
    };
    int minute = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString tag = QString::fromLatin1(c.what);
        for (const double value : c.values)
            model.addReading(reading(tag, ++minute, value, c.low, c.high));
        chart.showPort(tag, tag);

        const std::vector<Tick> ticks = ticksOf(chart.valueAxis());
        ASSERT_GE(ticks.size(), 3u);
        const auto isLimit = [&](const Tick& t) { return t.at == c.low || t.at == c.high; };
        // The step of the round ticks: the least distance between two of them.
        double step = std::numeric_limits<double>::infinity();
        const Tick* before = nullptr;
        for (const Tick& t : ticks) {
            if (isLimit(t))
                continue;
            if (before)
                step = std::min(step, t.at - before->at);
            before = &t;
        }
        ASSERT_TRUE(std::isfinite(step));
        const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        const double mantissa = std::round(step / magnitude * 1e6) / 1e6;
        EXPECT_TRUE(mantissa == 1 || mantissa == 2 || mantissa == 5) << "step " << step;
        for (const Tick& t : ticks) {
            if (!isLimit(t)) {
                EXPECT_NEAR(t.at / step, std::round(t.at / step), 1e-6)
                    << t.label.toStdString() << " is not round";
            }
        }
        for (const char* limit : c.limitLabels) {
            EXPECT_TRUE(std::any_of(
                ticks.cbegin(), ticks.cend(),
                [&](const Tick& t) { return t.label == QLatin1String(limit) && isLimit(t); }))
                << "no tick at the limit " << limit;
        }
        // Every reading and limit inside the axis, none on its edge.
        const auto [lowest, highest] = std::minmax_element(c.values.cbegin(), c.values.cend());
        EXPECT_LT(chart.valueAxis().min(), std::min(*lowest, c.low > -kNone ? c.low : *lowest));
        EXPECT_GT(chart.valueAxis().max(), std::max(*highest, c.high < kNone ? c.high : *highest));
    }
}

TEST_F(ReadingChartTest, TheLimitLabelsCarryTheirValuesInBothLanguages)
{
    model.addReading(reading(port, 0, 25.0, 24.9, 25.1));
    model.addReading(reading(port, 1, 25.02, 24.9, 25.1));
    chart.showPort(port, QStringLiteral("DIAM"));
    EXPECT_TRUE(chart.lowerLimitLabel().isVisible());
    EXPECT_TRUE(chart.upperLimitLabel().isVisible());
    EXPECT_EQ(chart.lowerLimitLabel().text(), QStringLiteral("LIE 24.90"));
    EXPECT_EQ(chart.upperLimitLabel().text(), QStringLiteral("LSE 25.10"));
    chart.setIdioma(2);
    EXPECT_EQ(chart.lowerLimitLabel().text(), QStringLiteral("LSL 24.90"));
    EXPECT_EQ(chart.upperLimitLabel().text(), QStringLiteral("USL 25.10"));
    // Beside their lines, inside the plot.
    const QRectF plot = chart.chart()->plotArea();
    const QPointF upperLine = chart.chart()->mapToPosition(QPointF(chart.shownTo(), 25.1));
    const QRectF upperBox =
        chart.upperLimitLabel().mapRectToParent(chart.upperLimitLabel().boundingRect());
    EXPECT_TRUE(plot.contains(upperBox));
    EXPECT_LE(std::abs(upperBox.center().y() - upperLine.y()), upperBox.height());

    // New limits: the labels give those in force.
    model.addReading(reading(port, 2, 25.0, 24.85, 25.15));
    EXPECT_EQ(chart.lowerLimitLabel().text(), QStringLiteral("LSL 24.85"));
    EXPECT_EQ(chart.upperLimitLabel().text(), QStringLiteral("USL 25.15"));
}

TEST_F(ReadingChartTest, AStopLeavesAGapAndNoLineAcrossIt)
{
    // A port read every minute, stopped for an hour, then a lone reading
    // after another stop.
    for (int i = 0; i < 30; ++i)
        model.addReading(reading(port, i, 15 + 0.1 * i));
    for (int i = 90; i < 120; ++i)
        model.addReading(reading(port, i, 14 + 0.1 * (i - 90)));
    model.addReading(reading(port, 200, 16));
    chart.showPort(port, QStringLiteral("DIAM"));

    EXPECT_EQ(chart.drawnReadings(), 61);
    ASSERT_EQ(chart.runs().size(), 2);
    EXPECT_EQ(chart.lonePoints().count(), 1);
    for (const QLineSeries* run : chart.runs()) {
        for (int i = 1; i < run->count(); ++i)
            EXPECT_LE(run->at(i).x() - run->at(i - 1).x(), 60'000) << "a line across a gap";
    }
    // A late page of a port read every minute is no stop.
    model.addReading(reading(port, 203, 16));
    model.addReading(reading(port, 204, 16));
    EXPECT_EQ(chart.runs().size(), 3);
}

TEST_F(ReadingChartTest, TheDefaultViewShowsTheLastReadingsOfTenThousand)
{
    const int kept = int(ReadingHistory::kPointsPerFollowedPort);
    chart.showPort(port, QStringLiteral("DIAM"));
    chart.hide(); // no need to draw each of them here
    for (int i = 0; i < kept + 50; ++i)
        history.add(reading(port, i, 15 + std::sin(i / 10.0)));
    chart.show();
    ASSERT_EQ(history.points(port).size(), std::size_t(kept));

    EXPECT_EQ(chart.drawnReadings(), ReadingChart::kFollowedReadings);
    const int newest = kept + 49;
    const int oldestShown = newest - ReadingChart::kFollowedReadings + 1;
    EXPECT_LT(chart.shownFrom(), msAt(oldestShown));
    EXPECT_GT(chart.shownFrom(), msAt(oldestShown - 1));
    EXPECT_GT(chart.shownTo(), msAt(newest));
    EXPECT_LT(chart.shownTo(), msAt(newest + 10));

    // Zoomed out far enough, all ten thousand are in view, thinned to the
    // chart's width.
    for (int i = 0; i < 16; ++i)
        QTest::keyClick(&chart, Qt::Key_Minus);
    EXPECT_LT(chart.shownFrom(), msAt(newest - kept + 1));
    EXPECT_GT(chart.drawnReadings(), 100);
    EXPECT_LE(chart.drawnReadings(), 4 * chart.width());
}

// The ways a person moves the view, and the ways back to following.
struct Move {
    const char* what;
    std::function<void(ReadingChart&)> act;
};

void wheel(ReadingChart& chart, int notches)
{
    const QPointF at(chart.viewport()->width() / 2.0, chart.viewport()->height() / 2.0);
    QWheelEvent event(at, chart.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(chart.viewport(), &event);
}

void drag(ReadingChart& chart, int dx)
{
    const QPoint from(chart.viewport()->width() / 2, chart.viewport()->height() / 2);
    QTest::mousePress(chart.viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(chart.viewport(), from + QPoint(dx / 2, 0));
    QTest::mouseMove(chart.viewport(), from + QPoint(dx, 0));
    QTest::mouseRelease(chart.viewport(), Qt::LeftButton, {}, from + QPoint(dx, 0));
}

TEST_F(ReadingChartTest, AfterAZoomOrPanNewReadingsDoNotMoveTheViewUntilFollowIsAsked)
{
    const Move moves[] = {
        {"wheel in", [](ReadingChart& c) { wheel(c, 2); }},
        {"wheel out", [](ReadingChart& c) { wheel(c, -1); }},
        {"drag", [](ReadingChart& c) { drag(c, 150); }},
        {"+", [](ReadingChart& c) { QTest::keyClick(&c, Qt::Key_Plus); }},
        {"-", [](ReadingChart& c) { QTest::keyClick(&c, Qt::Key_Minus); }},
        {"left", [](ReadingChart& c) { QTest::keyClick(&c, Qt::Key_Left); }},
        {"right", [](ReadingChart& c) { QTest::keyClick(&c, Qt::Key_Right); }},
    };
    const Move backs[] = {
        {"Home", [](ReadingChart& c) { QTest::keyClick(&c, Qt::Key_Home); }},
        {"double click",
         [](ReadingChart& c) {
             QTest::mouseDClick(c.viewport(), Qt::LeftButton, {}, c.viewport()->rect().center());
         }},
        {"Follow button",
         [](ReadingChart& c) {
             QTest::mouseClick(telvar::test::child<QPushButton>(c, "followReadings"),
                               Qt::LeftButton);
         }},
    };
    auto* followButton = telvar::test::child<QPushButton>(chart, "followReadings");
    ASSERT_NE(followButton, nullptr);
    int minute = 0;
    for (; minute < 200; ++minute)
        model.addReading(reading(port, minute, 15));
    chart.showPort(port, QStringLiteral("DIAM"));
    EXPECT_TRUE(followButton->isHidden());
    for (const Move& move : moves) {
        for (const Move& back : backs) {
            SCOPED_TRACE(std::string(move.what) + " then " + back.what);
            ASSERT_TRUE(chart.following());
            const double followedFrom = chart.shownFrom();
            move.act(chart);
            EXPECT_FALSE(chart.following());
            EXPECT_FALSE(followButton->isHidden());
            const double from = chart.shownFrom();
            const double to = chart.shownTo();
            EXPECT_NE(from, followedFrom);
            model.addReading(reading(port, minute++, 16));
            model.addReading(reading(port, minute++, 17));
            EXPECT_EQ(chart.shownFrom(), from);
            EXPECT_EQ(chart.shownTo(), to);

            back.act(chart);
            EXPECT_TRUE(chart.following());
            EXPECT_TRUE(followButton->isHidden());
            EXPECT_GT(chart.shownTo(), msAt(minute - 1));
            EXPECT_EQ(chart.drawnReadings(), ReadingChart::kFollowedReadings);
            // Following again: a new reading moves the view on.
            const double before = chart.shownTo();
            model.addReading(reading(port, minute++, 15));
            EXPECT_GT(chart.shownTo(), before);
        }
    }
}

TEST_F(ReadingChartTest, TheTimeAxisCarriesWhatTheSpanNeedsWithoutRepeatingLabels)
{
    struct Case {
        const char* what;
        qint64 every; // seconds between readings
        int readings;
        bool seconds;
        bool date;
    };
    const Case cases[] = {
        {"a fast port over two minutes", 5, 25, true, false},
        {"a port read every minute", 60, 100, false, false},
        {"a port read every hour for four days", 3600, 100, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString tag = QString::fromLatin1(c.what);
        for (int i = 0; i < c.readings; ++i)
            model.addReading(readingAt(tag, c.every * i, 15));
        chart.showPort(tag, tag);
        const std::vector<Tick> ticks = ticksOf(chart.timeAxis());
        ASSERT_GE(ticks.size(), 2u);
        QSet<QString> seen;
        for (const Tick& t : ticks) {
            EXPECT_FALSE(seen.contains(t.label)) << t.label.toStdString() << " twice";
            seen.insert(t.label);
            EXPECT_EQ(t.label.count(QLatin1Char(':')) == 2, c.seconds) << t.label.toStdString();
            EXPECT_EQ(t.label.contains(QLatin1Char('/')), c.date) << t.label.toStdString();
            EXPECT_GE(t.at, chart.shownFrom());
            EXPECT_LE(t.at, chart.shownTo());
        }
    }
}

TEST_F(ReadingChartTest, AnEmptyChartSaysHowToChooseAPort)
{
    auto* hint = telvar::test::child<QLabel>(chart, "chartHint");
    ASSERT_NE(hint, nullptr);
    const auto showsHint = [&] {
        return hint->isVisible() && !chart.timeAxis().isVisible() &&
               !chart.valueAxis().isVisible() && chart.drawnReadings() == 0;
    };
    EXPECT_TRUE(showsHint());
    EXPECT_EQ(hint->text(), telvar::ownText(telvar::OwnText::ChartChoosePort, 1));
    chart.setIdioma(2);
    EXPECT_EQ(hint->text(), QStringLiteral("Click a reading to chart its port"));

    // A port without readings yet.
    chart.showPort(port, QStringLiteral("DIAM"));
    EXPECT_TRUE(showsHint());
    model.addReading(reading(port, 0, 15));
    EXPECT_FALSE(hint->isVisible());
    EXPECT_TRUE(chart.timeAxis().isVisible());
    EXPECT_EQ(chart.drawnReadings(), 1);
    chart.showPort(QString(), QString());
    EXPECT_TRUE(showsHint());
}

TEST(ReadingChart, OutlivesItsHistory)
{
    // The main window's history goes before its child widgets.
    telvar::Modulo1 m;
    telvar::ReadingsModel model(m);
    auto history = std::make_unique<ReadingHistory>(model);
    auto chart = std::make_unique<ReadingChart>(*history);
    chart->showPort(QStringLiteral(" 1/001"), QStringLiteral("DIAM"));
    EXPECT_TRUE(history->followed(QStringLiteral(" 1/001")));
    history.reset();
    chart.reset();

    // And a chart that goes first leaves the port to the ordinary bound.
    ReadingHistory kept(model);
    {
        ReadingChart shortLived(kept);
        shortLived.showPort(QStringLiteral(" 1/001"), QStringLiteral("DIAM"));
        shortLived.showPort(QStringLiteral(" 2/002"), QStringLiteral("DIAM"));
        EXPECT_FALSE(kept.followed(QStringLiteral(" 1/001")));
        EXPECT_TRUE(kept.followed(QStringLiteral(" 2/002")));
    }
    EXPECT_FALSE(kept.followed(QStringLiteral(" 2/002")));
}

} // namespace
