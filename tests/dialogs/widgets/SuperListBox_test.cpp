#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/Twips.h"
#include "dialogs/widgets/SuperListBox.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using namespace telvar;

namespace {

class SuperListBoxTest : public ::testing::Test {
protected:
    SuperListBoxTest()
    {
        m_modulo.Idioma = 1;
        m_modulo.messageTable = MessageTable(2, 4, 1);
        m_modulo.messageTable.setText(2, 0, 1, QStringLiteral("Aceptar"));
        m_modulo.messageTable.setText(2, 4, 1, QStringLiteral("Cancelar"));
        m_box = std::make_unique<SuperListBox>(m_modulo);
    }

    SuperListBox& show(const QString& lista)
    {
        m_box->setLista(lista);
        m_box->show();
        return *m_box;
    }

    QListWidget* list1() const { return m_box->findChild<QListWidget*>(QStringLiteral("List1")); }
    QPushButton* button(const char* name) const
    {
        return m_box->findChild<QPushButton*>(QLatin1String(name));
    }
    QStringList entries() const
    {
        QStringList out;
        for (int i = 0; i < list1()->count(); ++i)
            out.append(list1()->item(i)->text());
        return out;
    }

    Modulo1 m_modulo;
    std::unique_ptr<SuperListBox> m_box;
};

TEST_F(SuperListBoxTest, OffersEachLineEndedByALineFeed)
{
    show(QStringLiteral("C:\\Qualitra\nD:\\Planta2\n"));
    EXPECT_EQ(entries(),
              (QStringList{QStringLiteral("C:\\Qualitra"), QStringLiteral("D:\\Planta2")}));
    m_box->hide();

    show(QStringLiteral("C:\\Qualitra\nD:\\Planta2"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("C:\\Qualitra")});
}

TEST_F(SuperListBoxTest, ResultadoByButton)
{
    const struct {
        const char* name;
        int select; // row to select, -1 none
        const char* button;
        QString resultado;
    } cases[] = {
        {"OkWithoutSelection", -1, "cmdOK", QStringLiteral("0")},
        {"OkFirst", 0, "cmdOK", QStringLiteral("1")},
        {"OkThird", 2, "cmdOK", QStringLiteral("3")},
        {"Cancel", 1, "cmdCancel", QString()},
    };
    for (const auto& c : cases) {
        SuperListBox box(m_modulo);
        box.setLista(QStringLiteral("uno\ndos\ntres\n"));
        box.show();
        auto* list = box.findChild<QListWidget*>(QStringLiteral("List1"));
        if (c.select >= 0)
            list->setCurrentRow(c.select);
        box.findChild<QPushButton*>(QLatin1String(c.button))->click();
        EXPECT_EQ(box.Resultado(), c.resultado) << c.name;
        EXPECT_FALSE(box.isVisible()) << c.name;
    }
}

TEST_F(SuperListBoxTest, CurrentRowWithoutSelectionIsNoChoice)
{
    show(QStringLiteral("uno\ndos\n"));
    list1()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    button("cmdOK")->click();
    EXPECT_EQ(m_box->Resultado(), QStringLiteral("0"));
}

// Shows the picker active, with the keyboard in List1 as a person meets it.
void focusList(SuperListBox& box, QListWidget& list)
{
    box.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    list.setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(list.hasFocus());
}

TEST_F(SuperListBoxTest, NoLineLooksChosenUntilOneIsAndReturnThenGivesZero)
{
    for (const QString& lista : {QStringLiteral("uno\n"), QStringLiteral("uno\ndos\ntres\n")}) {
        show(lista);
        focusList(*m_box, *list1());
        EXPECT_TRUE(list1()->selectedItems().isEmpty()) << lista.toStdString();
        // No line is current either: a current line is drawn with a frame
        // that looks like a choice.
        EXPECT_FALSE(list1()->currentIndex().isValid()) << lista.toStdString();
        QTest::keyClick(list1(), Qt::Key_Return);
        EXPECT_FALSE(m_box->isVisible());
        EXPECT_EQ(m_box->Resultado(), QStringLiteral("0")) << lista.toStdString();
    }
}

TEST_F(SuperListBoxTest, FirstArrowKeySelectsLineOne)
{
    const struct {
        const char* name;
        QString lista;
        QList<Qt::Key> keys;
        QString resultado;
    } cases[] = {
        {"OneLineDown", QStringLiteral("uno\n"), {Qt::Key_Down}, QStringLiteral("1")},
        {"OneLineUp", QStringLiteral("uno\n"), {Qt::Key_Up}, QStringLiteral("1")},
        {"ThreeLinesDown", QStringLiteral("uno\ndos\ntres\n"), {Qt::Key_Down}, QStringLiteral("1")},
        {"ThreeLinesUp", QStringLiteral("uno\ndos\ntres\n"), {Qt::Key_Up}, QStringLiteral("1")},
        {"ThenOnDown",
         QStringLiteral("uno\ndos\ntres\n"),
         {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down},
         QStringLiteral("3")},
        {"ThenBackUp",
         QStringLiteral("uno\ndos\ntres\n"),
         {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up},
         QStringLiteral("1")},
    };
    for (const auto& c : cases) {
        show(c.lista);
        focusList(*m_box, *list1());
        for (Qt::Key key : c.keys)
            QTest::keyClick(list1(), key);
        ASSERT_EQ(list1()->selectedItems().size(), 1) << c.name;
        QTest::keyClick(list1(), Qt::Key_Return);
        EXPECT_EQ(m_box->Resultado(), c.resultado) << c.name;
    }
}

TEST_F(SuperListBoxTest, CloseBoxKeepsResultado)
{
    show(QStringLiteral("uno\ndos\n"));
    m_box->close();
    EXPECT_EQ(m_box->Resultado(), QString());

    show(QStringLiteral("uno\ndos\n"));
    list1()->setCurrentRow(1);
    button("cmdOK")->click();
    ASSERT_EQ(m_box->Resultado(), QStringLiteral("2"));

    show(QStringLiteral("uno\ndos\n"));
    list1()->setCurrentRow(0);
    m_box->close();
    EXPECT_EQ(m_box->Resultado(), QStringLiteral("2"));
}

TEST_F(SuperListBoxTest, CaptionsComeFromTheMessageTable)
{
    m_box->setTitle(QStringLiteral("Bases de datos"));
    show(QStringLiteral("uno\n"));
    EXPECT_EQ(m_box->windowTitle(), QStringLiteral("Bases de datos"));
    EXPECT_EQ(button("cmdOK")->text(), QStringLiteral("Aceptar"));
    EXPECT_EQ(button("cmdCancel")->text(), QStringLiteral("Cancelar"));

    // Without a language table the buttons still say what they do.
    Modulo1 empty;
    SuperListBox bare(empty);
    bare.show();
    EXPECT_EQ(bare.findChild<QPushButton*>(QStringLiteral("cmdOK"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(bare.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->text(),
              QStringLiteral("Cancel"));
}

TEST_F(SuperListBoxTest, OmitCancelHidesCancel)
{
    for (bool omit : {false, true}) {
        m_box->setOmitCancel(omit);
        show(QStringLiteral("uno\n"));
        EXPECT_EQ(button("cmdCancel")->isVisible(), !omit);
        EXPECT_TRUE(button("cmdOK")->isVisible());
        m_box->hide();
    }
}

TEST_F(SuperListBoxTest, AlturaAboveTheDesignHeightSetsTheHeight)
{
    const struct {
        double altura;
        double height;
    } cases[] = {{0, 2100}, {2100, 2100}, {2220, 2220}, {4500, 4500}};
    for (const auto& c : cases) {
        m_box->setAltura(c.altura);
        show(QStringLiteral("uno\ndos\n"));
        const double dpi = m_box->logicalDpiY();
        EXPECT_EQ(m_box->height(), twipsToPixels(c.height, dpi)) << c.altura;
        EXPECT_EQ(list1()->height(), twipsToPixels(c.height - 1080, dpi)) << c.altura;
        EXPECT_EQ(button("cmdOK")->y(), twipsToPixels(c.height - 885, dpi)) << c.altura;
        EXPECT_EQ(button("cmdCancel")->y(), twipsToPixels(c.height - 885, dpi)) << c.altura;
        EXPECT_LE(button("cmdOK")->geometry().bottom(), m_box->height()) << c.altura;
        m_box->hide();
    }
}

TEST_F(SuperListBoxTest, ZeroPositionCentresOnTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    for (double altura : {0.0, 3000.0}) {
        m_box->setAltura(altura);
        show(QStringLiteral("uno\n"));
        const QPoint expected((screen.width() - m_box->width()) / 2,
                              (screen.height() - m_box->height()) / 2);
        EXPECT_LE((m_box->pos() - screen.topLeft() - expected).manhattanLength(), 2) << altura;
        m_box->hide();
    }
}

TEST_F(SuperListBoxTest, GivenPositionIsTwipsFromTheScreenCorner)
{
    m_box->setXPos(1500);
    m_box->setYPos(750);
    show(QStringLiteral("uno\n"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const double dpi = m_box->logicalDpiX();
    EXPECT_EQ(m_box->pos() - screen.topLeft(),
              QPoint(twipsToPixels(1500, dpi), twipsToPixels(750, m_box->logicalDpiY())));
}

TEST_F(SuperListBoxTest, BackgroundIsColorFondo)
{
    m_box->setColorFondo(RGB(200, 220, 255));
    show(QStringLiteral("uno\n"));
    EXPECT_EQ(m_box->palette().color(QPalette::Window), QColor(200, 220, 255));

    // A value that is no RGB colour keeps the usual background.
    const QColor usual = QApplication::palette(m_box.get()).color(QPalette::Window);
    m_box->hide();
    m_box->setColorFondo(static_cast<qint32>(0x8000000F));
    show(QStringLiteral("uno\n"));
    EXPECT_EQ(m_box->palette().color(QPalette::Window), usual);
}

} // namespace
