#include "common/Modulo1.h"
#include "dialogs/widgets/GuiInteraccion.h"
#include "dialogs/widgets/MensaBox.h"
#include "support/widgets/ModalDriver.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace telvar;
using telvar::test::onNextModal;

namespace {

int overrideDepth()
{
    // Counts the application's override cursors by taking them off and
    // putting them back.
    QList<Qt::CursorShape> shapes;
    while (const QCursor* c = QGuiApplication::overrideCursor()) {
        shapes.prepend(c->shape());
        QGuiApplication::restoreOverrideCursor();
    }
    for (Qt::CursorShape shape : shapes)
        QGuiApplication::setOverrideCursor(QCursor(shape));
    return static_cast<int>(shapes.size());
}

class GuiInteraccionTest : public ::testing::Test {
protected:
    ~GuiInteraccionTest() override
    {
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    }

    Modulo1 m_modulo;
};

TEST_F(GuiInteraccionTest, MousePointerIsAStateThatNeverLeaksNorOverRestores)
{
    const struct {
        const char* name;
        QList<PointerShape> pointers;
        int depth;
        Qt::CursorShape shape;
    } cases[] = {
        {"Hourglass", {PointerShape::Hourglass}, 1, Qt::WaitCursor},
        {"HourglassThenDefault",
         {PointerShape::Hourglass, PointerShape::Default},
         0,
         Qt::ArrowCursor},
        {"HourglassTwiceThenDefault",
         {PointerShape::Hourglass, PointerShape::Hourglass, PointerShape::Hourglass,
          PointerShape::Default},
         0,
         Qt::ArrowCursor},
        {"DefaultTwice",
         {PointerShape::Hourglass, PointerShape::Default, PointerShape::Default},
         0,
         Qt::ArrowCursor},
        {"ArrowAndHourglass", {PointerShape::ArrowHourglass}, 1, Qt::BusyCursor},
        {"HourglassThenArrowAndHourglass",
         {PointerShape::Hourglass, PointerShape::ArrowHourglass},
         1,
         Qt::BusyCursor},
    };
    for (const auto& c : cases) {
        {
            GuiInteraccion gui(m_modulo);
            for (PointerShape p : c.pointers)
                gui.setMousePointer(p);
            EXPECT_EQ(overrideDepth(), c.depth) << c.name;
            if (c.depth > 0) {
                EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), c.shape) << c.name;
            }
        }
        EXPECT_EQ(overrideDepth(), 0) << c.name << ": left behind after destruction";
    }
}

TEST_F(GuiInteraccionTest, DefaultPointerLeavesOthersOverrideCursorsAlone)
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
    {
        GuiInteraccion gui(m_modulo);
        gui.setMousePointer(PointerShape::Default);
        EXPECT_EQ(overrideDepth(), 1);
        gui.setMousePointer(PointerShape::Hourglass);
        gui.setMousePointer(PointerShape::Default);
        EXPECT_EQ(overrideDepth(), 1);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
    }
    EXPECT_EQ(overrideDepth(), 1);
}

TEST_F(GuiInteraccionTest, MessageBoxHasTheIconOfItsKindAndOnlyOk)
{
    const struct {
        BoxKind kind;
        QMessageBox::Icon icon;
    } cases[] = {
        {BoxKind::Plain, QMessageBox::NoIcon},
        {BoxKind::Critical, QMessageBox::Critical},
        {BoxKind::Question, QMessageBox::Question},
        {BoxKind::Exclamation, QMessageBox::Warning},
        {BoxKind::Information, QMessageBox::Information},
    };
    GuiInteraccion gui(m_modulo, QStringLiteral("Ruteador Html -> Qualitra"));
    for (const auto& c : cases) {
        bool seen = false;
        onNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->text(), QStringLiteral("Texto del aviso"));
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Ruteador Html -> Qualitra"));
            ASSERT_EQ(box->buttons().size(), 1);
            box->buttons().first()->click();
        });
        gui.messageBox(QStringLiteral("Texto del aviso"), c.kind);
        EXPECT_TRUE(seen) << static_cast<int>(c.kind);
    }
}

TEST_F(GuiInteraccionTest, TitleDefaultsToTheApplicationDisplayName)
{
    const QString before = QGuiApplication::applicationDisplayName();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Telvar de prueba"));
    GuiInteraccion gui(m_modulo);
    QString title;
    onNextModal([&](QWidget* modal) {
        title = modal->windowTitle();
        qobject_cast<QDialog*>(modal)->accept();
    });
    gui.messageBox(QStringLiteral("x"), BoxKind::Information);
    QGuiApplication::setApplicationDisplayName(before);
    EXPECT_EQ(title, QStringLiteral("Telvar de prueba"));
}

TEST_F(GuiInteraccionTest, InputBoxReturnsTheTextOrNothingOnCancel)
{
    GuiInteraccion gui(m_modulo, QStringLiteral("Telvar"));
    onNextModal([](QWidget* modal) {
        auto* box = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->labelText(), QStringLiteral("Clave:"));
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Telvar"));
        box->setTextValue(QStringLiteral("s3creta"));
        box->accept();
    });
    EXPECT_EQ(gui.inputBox(QStringLiteral("Clave:")),
              std::optional<QString>(QStringLiteral("s3creta")));

    onNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(gui.inputBox(QStringLiteral("Clave:")), std::nullopt);

    // An empty answer is an answer, not a cancel.
    onNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); });
    EXPECT_EQ(gui.inputBox(QStringLiteral("Clave:")), std::optional<QString>(QString()));
}

TEST_F(GuiInteraccionTest, InputBoxMasksWhatIsTypedOnlyWhenAskedTo)
{
    const struct {
        const char* name;
        InputEcho echo;
        QLineEdit::EchoMode mode;
    } cases[] = {
        {"Password", InputEcho::Password, QLineEdit::Password},
        {"Normal", InputEcho::Normal, QLineEdit::Normal},
    };
    GuiInteraccion gui(m_modulo, QStringLiteral("Telvar"));
    for (const auto& c : cases) {
        bool seen = false;
        onNextModal([&](QWidget* modal) {
            ASSERT_EQ(modal->objectName(), QStringLiteral("InputBox"));
            auto* box = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(box, nullptr);
            seen = true;
            EXPECT_EQ(box->textEchoMode(), c.mode) << c.name;
            // What the person types into: the box's one line edit.
            const QList<QLineEdit*> edits = box->findChildren<QLineEdit*>();
            ASSERT_EQ(edits.size(), 1) << c.name;
            EXPECT_EQ(edits.first()->echoMode(), c.mode) << c.name;
            QTest::keyClicks(edits.first(), QStringLiteral("abc"));
            QLineEdit* edit = edits.first();
            EXPECT_EQ(edit->text(), QStringLiteral("abc")) << c.name;
            // What the screen shows: the letters, or as many mask characters.
            EXPECT_EQ(edit->displayText().size(), 3) << c.name;
            EXPECT_EQ(edit->displayText() == QStringLiteral("abc"), c.mode == QLineEdit::Normal)
                << c.name;
            box->accept();
        });
        EXPECT_EQ(gui.inputBox(QStringLiteral("Clave:"), c.echo),
                  std::optional<QString>(QStringLiteral("abc")))
            << c.name;
        EXPECT_TRUE(seen) << c.name;
    }
}

TEST_F(GuiInteraccionTest, SuperListBoxReturnsResultado)
{
    GuiInteraccion gui(m_modulo);
    ListPickerRequest request;
    request.Title = QStringLiteral("Bases de datos");
    request.Lista = QStringLiteral("Planta 1\nPlanta 2\nPlanta 3\n");
    request.OmitCancel = true;

    onNextModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), QStringLiteral("Bases de datos"));
        EXPECT_FALSE(modal->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->isVisible());
        modal->findChild<QListWidget*>(QStringLiteral("List1"))->setCurrentRow(2);
        modal->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    EXPECT_EQ(gui.superListBox(request), QStringLiteral("3"));

    onNextModal([](QWidget* modal) { modal->close(); });
    EXPECT_EQ(gui.superListBox(request), QString());
}

TEST_F(GuiInteraccionTest, MensaBoxShowsModallyAndResetsThePointer)
{
    GuiInteraccion gui(m_modulo);
    gui.setMousePointer(PointerShape::Hourglass);
    bool seen = false;
    onNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<MensaBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->Mensaje(), QStringLiteral("Telvar. cmdAbre.\n\n3031.- Clave no válida"));
        EXPECT_EQ(box->Icono(), 16);
        EXPECT_EQ(box->findChild<QLabel*>(QStringLiteral("lblCountDown"))->text(),
                  QStringLiteral("5"));
        EXPECT_TRUE(box->findChild<QLabel*>(QStringLiteral("Image16"))->isVisible());
        EXPECT_EQ(gui.mousePointer(), PointerShape::Default);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        QWidget* strip = box->findChild<QWidget*>(QStringLiteral("PlayPauseStop"));
        QTest::mouseClick(strip, Qt::LeftButton, {},
                          QPoint(strip->width() * 7 / 8, strip->height() / 2));
    });
    gui.mensaBox(QStringLiteral("Telvar. cmdAbre.\n\n3031.- Clave no válida"), BoxKind::Critical,
                 5);
    EXPECT_TRUE(seen);
}

TEST_F(GuiInteraccionTest, ANoticeShowsWithoutWaitingAndLeavesTheWindowUnderItUsable)
{
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("Stop"), &window);
    button->setGeometry(10, 10, 80, 30);
    int presses = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++presses; });
    window.resize(300, 200);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    GuiInteraccion gui(m_modulo);
    gui.setMousePointer(PointerShape::Hourglass);
    // Shown with exec(), the box would close itself before notice returned.
    gui.notice(QStringLiteral("Telvar. bReloj_Click(1) Puerto 3"), BoxKind::Exclamation, 5);
    MensaBox* box = gui.shownNotice();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->Mensaje(), QStringLiteral("Telvar. bReloj_Click(1) Puerto 3"));
    EXPECT_TRUE(box->findChild<QLabel*>(QStringLiteral("Image48"))->isVisible());
    EXPECT_EQ(box->findChild<QLabel*>(QStringLiteral("lblCountDown"))->text(), QStringLiteral("5"));
    // The busy pointer is the program's, not the notice's to end.
    EXPECT_EQ(gui.mousePointer(), PointerShape::Hourglass);

    // A press on the window goes through the window system's way, where a
    // modal box would block it.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      button->mapTo(&window, button->rect().center()));
    EXPECT_EQ(presses, 1);
    EXPECT_TRUE(box->isVisible());

    // Closed on its strip, the box is deleted; the next notice opens anew.
    const QPointer<MensaBox> closed = box;
    QWidget* strip = box->findChild<QWidget*>(QStringLiteral("PlayPauseStop"));
    QTest::mouseClick(strip, Qt::LeftButton, {},
                      QPoint(strip->width() * 7 / 8, strip->height() / 2));
    EXPECT_EQ(gui.shownNotice(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    gui.notice(QStringLiteral("otra"), BoxKind::Information, 5);
    ASSERT_NE(gui.shownNotice(), nullptr);
    EXPECT_EQ(gui.shownNotice()->Mensaje(), QStringLiteral("otra"));

    // A notice goes with the GuiInteraccion that showed it.
    QPointer<MensaBox> its;
    {
        GuiInteraccion other(m_modulo);
        other.notice(QStringLiteral("x"), BoxKind::Information, 5);
        its = other.shownNotice();
        ASSERT_FALSE(its.isNull());
        EXPECT_NE(its.data(), gui.shownNotice());
    }
    EXPECT_TRUE(its.isNull());
    EXPECT_NE(gui.shownNotice(), nullptr);
}

TEST_F(GuiInteraccionTest, NoticesWhileOneIsShownJoinItsBox)
{
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    GuiInteraccion gui(m_modulo);
    gui.notice(QStringLiteral("uno"), BoxKind::Exclamation, 5);
    MensaBox* box = gui.shownNotice();
    ASSERT_NE(box, nullptr);
    auto* countDown = box->findChild<QLabel*>(QStringLiteral("lblCountDown"));
    QMetaObject::invokeMethod(box, "Timer1_Timer");
    EXPECT_EQ(countDown->text(), QStringLiteral("4"));

    // Joined, newest last, with the graver icon and the count-down anew.
    const struct {
        const char* text;
        BoxKind kind;
        const char* mensaje;
        const char* icon;
    } steps[] = {
        {"dos", BoxKind::Critical, "uno\n\ndos", "Image16"},
        {"tres", BoxKind::Information, "uno\n\ndos\n\ntres", "Image16"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        gui.notice(QString::fromLatin1(step.text), step.kind, 6);
        EXPECT_EQ(gui.shownNotice(), box);
        EXPECT_EQ(box->Mensaje(), QString::fromLatin1(step.mensaje));
        EXPECT_TRUE(box->findChild<QLabel*>(QLatin1String(step.icon))->isVisible());
        EXPECT_EQ(countDown->text(), QStringLiteral("6"));
    }
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        boxes += qobject_cast<MensaBox*>(widget) && widget->isVisible() ? 1 : 0;
    EXPECT_EQ(boxes, 1);

    // Bounded: the newest MaxNoticeTexts texts.
    for (int n = 1; n <= GuiInteraccion::MaxNoticeTexts + 3; ++n)
        gui.notice(QStringLiteral("aviso %1").arg(n), BoxKind::Exclamation, 5);
    const QStringList held = box->Mensaje().split(QStringLiteral("\n\n"));
    ASSERT_EQ(held.size(), GuiInteraccion::MaxNoticeTexts);
    EXPECT_EQ(held.first(), QStringLiteral("aviso 4"));
    EXPECT_EQ(held.last(), QStringLiteral("aviso %1").arg(GuiInteraccion::MaxNoticeTexts + 3));
}

TEST_F(GuiInteraccionTest, ANoticeOpensOverTheWindowUnderABox)
{
    // A box open over the window would take the notice along when it
    // closes: the notice opens over the window.
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* other = new QDialog(&window);
    other->show();
    other->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other));
    GuiInteraccion gui(m_modulo);
    gui.notice(QStringLiteral("uno"), BoxKind::Exclamation, 5);
    ASSERT_NE(gui.shownNotice(), nullptr);
    EXPECT_EQ(gui.shownNotice()->parentWidget(), &window);
    delete other;
    EXPECT_NE(gui.shownNotice(), nullptr);
}

TEST_F(GuiInteraccionTest, BoxesSurviveTheWindowUnderThemClosing)
{
    GuiInteraccion gui(m_modulo);
    const std::function<void()> calls[] = {
        [&] { gui.messageBox(QStringLiteral("x"), BoxKind::Critical); },
        [&] { gui.mensaBox(QStringLiteral("x"), BoxKind::Exclamation, 5); },
        [&] { EXPECT_EQ(gui.inputBox(QStringLiteral("x")), std::nullopt); },
        [&] {
            ListPickerRequest request;
            request.Lista = QStringLiteral("uno\n");
            EXPECT_EQ(gui.superListBox(request), QString());
        },
    };
    for (const auto& call : calls) {
        auto* window = new QWidget;
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        bool parented = false;
        onNextModal([&](QWidget* modal) {
            parented = modal->parentWidget() == window;
            delete window; // takes the open box with it
        });
        call();
        EXPECT_TRUE(parented);
    }
}

} // namespace
