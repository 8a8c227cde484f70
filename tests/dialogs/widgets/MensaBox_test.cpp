#include "common/Twips.h"
#include "dialogs/widgets/MensaBox.h"
#include "dialogs/widgets/MousePointer.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>

using namespace telvar;

namespace {

class MensaBoxTest : public ::testing::Test {
protected:
    // Shows the box without a modal loop; the tests drive it.
    MensaBox& show(const QString& mensaje, int icono, double duracion)
    {
        m_box = std::make_unique<MensaBox>(&m_pointer);
        m_box->setMensaje(mensaje);
        m_box->setIcono(icono);
        m_box->setDuracion(duracion);
        m_box->show();
        return *m_box;
    }

    QString countDown() const
    {
        return m_box->findChild<QLabel*>(QStringLiteral("lblCountDown"))->text();
    }
    QTimer* timer() const { return m_box->findChild<QTimer*>(QStringLiteral("Timer1")); }
    QWidget* strip() const { return m_box->findChild<QWidget*>(QStringLiteral("PlayPauseStop")); }
    void tick() { QMetaObject::invokeMethod(m_box.get(), "Timer1_Timer"); }

    // A press on the strip at a fraction of its width.
    void pressStrip(double fraction)
    {
        QWidget* s = strip();
        const int x = static_cast<int>(fraction * s->width());
        QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(x, s->height() / 2));
    }

    int px(double twips) const { return twipsToPixels(twips, m_box->logicalDpiX()); }
    int pxY(double twips) const { return twipsToPixels(twips, m_box->logicalDpiY()); }

    MousePointer m_pointer;
    std::unique_ptr<MensaBox> m_box;
};

TEST_F(MensaBoxTest, OneLineMessageGetsTheMinimumHeightAndDesignWidth)
{
    MensaBox& box = show(QStringLiteral("Hola"), 48, 5);
    EXPECT_EQ(box.geometryTwips().lineCount, 1);
    EXPECT_EQ(box.geometryTwips().height, 1710);
    EXPECT_FALSE(box.geometryTwips().widened);
    EXPECT_EQ(box.height(), pxY(1710));
    EXPECT_EQ(box.width(), px(5595));
    auto* text1 = box.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    EXPECT_EQ(text1->width(), px(4500));
    EXPECT_EQ(text1->height(), pxY(1710 - 660));
    EXPECT_EQ(text1->toPlainText(), QStringLiteral("Hola"));
    EXPECT_TRUE(text1->isReadOnly());
}

// The caption a window manager draws for a window: the title Qt hands to the
// platform, except that an empty one is replaced by the application's name
// and a display name, when one is set, is appended after a dash
// (QPlatformWindow::formatWindowTitle, which the desktop platforms apply).
QString drawnCaption(const QWindow& window)
{
    const QString title = window.title();
    const QString display = QGuiApplication::applicationDisplayName();
    const bool displayNameSet = display != QCoreApplication::applicationName();
    if (displayNameSet && !title.endsWith(display))
        return title.isEmpty() ? display : title + QStringLiteral(" \u2014 ") + display;
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

TEST_F(MensaBoxTest, WindowManagerDrawsNoCaptionText)
{
    // The program's own setting: the application's name, no display name
    // (an empty one is appended to nothing, as an unset one).
    const QString nameBefore = QCoreApplication::applicationName();
    const QString displayBefore = QGuiApplication::applicationDisplayName();
    QCoreApplication::setApplicationName(QStringLiteral("Telvar"));
    QGuiApplication::setApplicationDisplayName(QString());
    MensaBox& box = show(QStringLiteral("Hola"), 48, 5);
    const QString caption = box.windowHandle() ? drawnCaption(*box.windowHandle()) : QString();
    QCoreApplication::setApplicationName(nameBefore);
    QGuiApplication::setApplicationDisplayName(displayBefore);
    ASSERT_NE(box.windowHandle(), nullptr);
    EXPECT_TRUE(caption.trimmed().isEmpty()) << caption.toStdString();
    EXPECT_TRUE(box.windowTitle().trimmed().isEmpty());
}

TEST_F(MensaBoxTest, ManyLinesAreCappedAndLongLinesWidenText1)
{
    QStringList fifty;
    for (int i = 1; i <= 50; ++i)
        fifty.append(QStringLiteral("renglón %1").arg(i));
    MensaBox& tall = show(fifty.join(QLatin1Char('\n')), 16, 5);
    EXPECT_EQ(tall.geometryTwips().lineCount, 50);
    EXPECT_EQ(tall.height(), pxY(10500));

    MensaBox& wide =
        show(QStringLiteral("Telvar. cmdAbre.\n\n") + QString(400, QLatin1Char('W')), 16, 5);
    EXPECT_EQ(wide.geometryTwips().text1.width, 9300);
    EXPECT_EQ(wide.geometryTwips().width, 10395);
    EXPECT_EQ(wide.width(), px(10395));
    EXPECT_EQ(wide.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->width(), px(9300));
    // Strip and count-down follow the new right edge.
    EXPECT_EQ(strip()->geometry().right() + 1, px(10395 - 240));
}

TEST_F(MensaBoxTest, WidthIsMeasuredInTheMessageFont)
{
    // A line a little wider than the design allows widens the box by its
    // measured width; the exact figure depends on the font, so compare with
    // the font's own measure.
    const QString line(60, QLatin1Char('M'));
    MensaBox& box = show(line, 64, 5);
    const QFontMetricsF metrics(box.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->font());
    const double twips = pixelsToTwips(metrics.horizontalAdvance(line), box.logicalDpiX());
    ASSERT_GT(twips + 870, 4500) << "the test line must be wider than the design";
    EXPECT_EQ(box.geometryTwips().widestLine, std::lround(twips));
}

TEST_F(MensaBoxTest, CountsDownOnceASecondAndClosesAtZero)
{
    MensaBox& box = show(QStringLiteral("Sin conexión"), 48, 3);
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(countDown(), QStringLiteral("3"));
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("lblCountDown"))->toolTip(),
              QStringLiteral("seconds left"));

    tick();
    EXPECT_EQ(countDown(), QStringLiteral("2"));
    tick();
    EXPECT_EQ(countDown(), QStringLiteral("1"));
    EXPECT_TRUE(box.isVisible());
    tick();
    EXPECT_EQ(countDown(), QStringLiteral("0"));
    EXPECT_FALSE(box.isVisible());
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(MensaBoxTest, RunningTimerClosesTheBox)
{
    m_box = std::make_unique<MensaBox>();
    m_box->setMensaje(QStringLiteral("Aviso"));
    m_box->setIcono(64);
    m_box->setDuracion(2);
    m_box->setTickInterval(std::chrono::milliseconds(5));
    m_box->show();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !m_box->isVisible(); }, 5000));
    EXPECT_EQ(countDown(), QStringLiteral("0"));
}

TEST_F(MensaBoxTest, FractionalDurationClosesBelowZero)
{
    MensaBox& box = show(QStringLiteral("Aviso"), 64, 1.5);
    EXPECT_EQ(countDown(), QStringLiteral("1.5"));
    tick();
    EXPECT_TRUE(box.isVisible());
    tick();
    EXPECT_EQ(countDown(), QStringLiteral("-0.5"));
    EXPECT_FALSE(box.isVisible());
}

TEST_F(MensaBoxTest, WithoutDurationNothingCountsDown)
{
    for (double duracion : {0.0, -4.0}) {
        MensaBox& box = show(QStringLiteral("Aviso"), 64, duracion);
        EXPECT_FALSE(timer()->isActive());
        EXPECT_TRUE(countDown().isEmpty());
        pressStrip(0.375); // play has nothing to resume
        EXPECT_FALSE(timer()->isActive());
        EXPECT_TRUE(box.isVisible());
        pressStrip(0.9);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST_F(MensaBoxTest, StripActsByWhereItIsPressed)
{
    const struct {
        double fraction;
        bool timerActive;
        bool visible;
    } cases[] = {
        {0.10, true, true},                         // the count-down's quarter: nothing
        {0.24, true, true},   {0.30, true, true},   // play while playing
        {0.55, false, true},                        // pause
        {0.74, false, true},  {0.80, false, false}, // stop
        {0.99, false, false},
    };
    for (const auto& c : cases) {
        MensaBox& box = show(QStringLiteral("Aviso"), 48, 5);
        pressStrip(c.fraction);
        EXPECT_EQ(timer()->isActive(), c.timerActive) << c.fraction;
        EXPECT_EQ(box.isVisible(), c.visible) << c.fraction;
    }
}

TEST_F(MensaBoxTest, PauseThenPlayResumesFromTheShownNumber)
{
    MensaBox& box = show(QStringLiteral("Aviso"), 48, 8);
    tick();
    tick();
    EXPECT_EQ(countDown(), QStringLiteral("6"));
    pressStrip(0.6);
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(countDown(), QStringLiteral("6"));
    pressStrip(0.4);
    EXPECT_TRUE(timer()->isActive());
    tick();
    EXPECT_EQ(countDown(), QStringLiteral("5"));
    EXPECT_TRUE(box.isVisible());
}

TEST_F(MensaBoxTest, ShowsTheIconOfIconoOnly)
{
    const struct {
        int icono;
        const char* visible; // nullptr: none
    } cases[] = {
        {0, nullptr},    {16, "Image16"}, {32, "Image32"}, {48, "Image48"},
        {64, "Image64"}, {17, nullptr},   {-16, nullptr},
    };
    for (const auto& c : cases) {
        MensaBox& box = show(QStringLiteral("Aviso"), c.icono, 0);
        for (const char* name : {"Image16", "Image32", "Image48", "Image64"}) {
            auto* image = box.findChild<QLabel*>(QLatin1String(name));
            ASSERT_NE(image, nullptr) << name;
            const bool expected = c.visible && qstrcmp(c.visible, name) == 0;
            EXPECT_EQ(image->isVisible(), expected) << "Icono " << c.icono << ", " << name;
            if (expected) {
                EXPECT_FALSE(image->pixmap().isNull());
            }
        }
    }
}

TEST_F(MensaBoxTest, ShowingRestoresTheDefaultPointer)
{
    m_pointer.set(PointerShape::Hourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    show(QStringLiteral("Error"), 16, 5);
    EXPECT_EQ(m_pointer.current(), PointerShape::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(MensaBoxTest, ShowingAgainLaysOutAndCountsAnew)
{
    MensaBox& box = show(QStringLiteral("uno"), 48, 3);
    tick();
    box.hide();
    box.setMensaje(QStringLiteral("uno\ndos\ntres\ncuatro\ncinco"));
    box.setDuracion(4);
    box.show();
    EXPECT_EQ(box.geometryTwips().lineCount, 5);
    EXPECT_EQ(box.height(), pxY(5 * 225 + 1200));
    EXPECT_EQ(countDown(), QStringLiteral("4"));
}

TEST_F(MensaBoxTest, RenewTakesANewMessageWhileShownAndKeepsAPause)
{
    // A box shown without a modal loop takes a message changed under it:
    // laid out for it, with its icon, counting down anew (a pause kept).
    struct Case {
        const char* name;
        bool pausedFirst;
        bool counting;
    };
    for (const Case& c : {Case{"counting", false, true}, Case{"paused", true, false}}) {
        SCOPED_TRACE(c.name);
        MensaBox& box = show(QStringLiteral("uno"), 48, 5);
        tick();
        tick();
        if (c.pausedFirst)
            pressStrip(0.6);
        box.setMensaje(QStringLiteral("uno\ndos\ntres"));
        box.setIcono(16);
        box.setDuracion(7);
        box.renew();
        EXPECT_TRUE(box.isVisible());
        EXPECT_EQ(box.findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->toPlainText(),
                  QStringLiteral("uno\ndos\ntres"));
        EXPECT_EQ(box.geometryTwips().lineCount, 3);
        EXPECT_EQ(box.height(), pxY(3 * 225 + 1200));
        EXPECT_TRUE(box.findChild<QLabel*>(QStringLiteral("Image16"))->isVisible());
        EXPECT_FALSE(box.findChild<QLabel*>(QStringLiteral("Image48"))->isVisible());
        EXPECT_EQ(countDown(), QStringLiteral("7"));
        EXPECT_EQ(timer()->isActive(), c.counting);
    }

    // A hidden box is left for its next showing.
    MensaBox& hidden = show(QStringLiteral("uno"), 48, 5);
    hidden.hide();
    hidden.setMensaje(QStringLiteral("uno\ndos"));
    hidden.renew();
    EXPECT_FALSE(hidden.isVisible());
    EXPECT_EQ(hidden.geometryTwips().lineCount, 1);
}

} // namespace
