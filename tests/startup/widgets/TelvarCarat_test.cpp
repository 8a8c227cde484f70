#include "common/Twips.h"
#include "startup/widgets/TelvarCarat.h"
#include "support/InstallationBuilder.h"
#include "support/RecordingInteraccion.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::TelvarCarat;
using telvar::test::InstallationBuilder;
using telvar::test::RecordingInteraccion;

namespace {

class TelvarCaratTest : public testing::Test {
protected:
    TelvarCaratTest() : m_install(m_dir.path()) {}

    QTemporaryDir m_dir;
    InstallationBuilder m_install;
    RecordingInteraccion m_ui;
};

TEST_F(TelvarCaratTest, WindowIsThePictureWithNinetyTwipsEachWay)
{
    TelvarCarat cover;
    const telvar::Status loaded = cover.loadCoverPicture(m_install.writeCover(1, 320, 200));
    ASSERT_TRUE(loaded.ok()) << loaded.error().description.toStdString();
    const double dpi = cover.screen()->logicalDotsPerInch();
    const int margin = telvar::twipsToPixels(90, dpi);
    EXPECT_GT(margin, 0);
    EXPECT_EQ(cover.size(), QSize(320 + margin, 200 + margin));

    const auto* image1 = cover.findChild<QLabel*>(u"Image1"_s);
    ASSERT_TRUE(image1);
    EXPECT_EQ(image1->pixmap().size(), QSize(320, 200));
    EXPECT_TRUE(cover.rect().contains(image1->geometry()));
}

TEST_F(TelvarCaratTest, UnreadablePictureIsReportedAndNothingIsShown)
{
    const QString path = m_install.writeBytes(u"CARATULA1.JPG"_s, "not a picture");
    TelvarCarat cover;
    EXPECT_FALSE(cover.showCover(path, m_ui));
    ASSERT_EQ(m_ui.boxes.size(), 1);
    EXPECT_TRUE(m_ui.boxes[0].text.startsWith(
        u"TelvarCarat. Form_Load.\n\n481.- Invalid picture: "_s + path))
        << m_ui.boxes[0].text.toStdString();
    EXPECT_EQ(m_ui.boxes[0].icono, telvar::BoxKind::Critical);
    EXPECT_FALSE(cover.isVisible());
    EXPECT_FALSE(cover.findChild<QTimer*>(u"Timer1"_s)->isActive());
}

TEST_F(TelvarCaratTest, ShowingStartsTimer1)
{
    TelvarCarat cover;
    ASSERT_TRUE(cover.showCover(m_install.writeCover(1, 64, 48), m_ui));
    EXPECT_TRUE(m_ui.boxes.isEmpty());
    EXPECT_TRUE(cover.isVisible());
    const auto* timer1 = cover.findChild<QTimer*>(u"Timer1"_s);
    ASSERT_TRUE(timer1);
    EXPECT_TRUE(timer1->isActive());
    EXPECT_TRUE(timer1->isSingleShot());
    EXPECT_EQ(timer1->interval(), 2500);
}

// How the cover is dismissed: each closes it at once and announces it once.
struct Dismissal {
    const char* name;
    void (*act)(TelvarCarat& cover);
};

void PrintTo(const Dismissal& d, std::ostream* os)
{
    *os << d.name;
}

class TelvarCaratCloses : public TelvarCaratTest, public testing::WithParamInterface<Dismissal> {};

TEST_P(TelvarCaratCloses, AndAnnouncesItOnce)
{
    TelvarCarat cover;
    QSignalSpy unloaded(&cover, &TelvarCarat::unloaded);
    ASSERT_TRUE(cover.showCover(m_install.writeCover(1, 64, 48), m_ui));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));

    GetParam().act(cover);
    if (unloaded.isEmpty()) {
        ASSERT_TRUE(unloaded.wait(5000));
    }
    EXPECT_EQ(unloaded.count(), 1);
    EXPECT_FALSE(cover.isVisible());
    EXPECT_FALSE(cover.findChild<QTimer*>(u"Timer1"_s)->isActive());

    // Nothing after the first close announces it again.
    QTest::keyClick(&cover, Qt::Key_Space);
    cover.close();
    EXPECT_EQ(unloaded.count(), 1);
}

const Dismissal kDismissals[] = {
    {"AnyKey", [](TelvarCarat& cover) { QTest::keyClick(&cover, Qt::Key_A); }},
    {"EscapeKey", [](TelvarCarat& cover) { QTest::keyClick(&cover, Qt::Key_Escape); }},
    {"ReturnKey", [](TelvarCarat& cover) { QTest::keyClick(&cover, Qt::Key_Return); }},
    {"ShiftedCharacter",
     [](TelvarCarat& cover) { QTest::keyClick(&cover, Qt::Key_A, Qt::ShiftModifier); }},
    {"MouseClick", [](TelvarCarat& cover) { QTest::mouseClick(&cover, Qt::LeftButton); }},
    {"ClickOnThePicture",
     [](TelvarCarat& cover) {
         QTest::mouseClick(cover.findChild<QLabel*>(u"Image1"_s), Qt::LeftButton);
     }},
    {"Timer1",
     [](TelvarCarat& cover) {
         // The tick itself, without waiting 2.5 seconds.
         auto* timer1 = cover.findChild<QTimer*>(u"Timer1"_s);
         timer1->start(1);
     }},
};

// Keys that type no character leave the cover open: only character keys,
// clicks and Timer1 close it.
TEST_F(TelvarCaratTest, KeysThatTypeNothingLeaveItOpen)
{
    TelvarCarat cover;
    QSignalSpy unloaded(&cover, &TelvarCarat::unloaded);
    ASSERT_TRUE(cover.showCover(m_install.writeCover(1, 64, 48), m_ui));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Alt, Qt::Key_Meta, Qt::Key_CapsLock,
                        Qt::Key_F5, Qt::Key_Left}) {
        QTest::keyClick(&cover, key);
        EXPECT_TRUE(cover.isVisible()) << key;
    }
    QApplication::processEvents();
    EXPECT_EQ(unloaded.count(), 0);
    EXPECT_TRUE(cover.findChild<QTimer*>(u"Timer1"_s)->isActive());
}

INSTANTIATE_TEST_SUITE_P(Ways, TelvarCaratCloses, testing::ValuesIn(kDismissals),
                         [](const testing::TestParamInfo<Dismissal>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

} // namespace
