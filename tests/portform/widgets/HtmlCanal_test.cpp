// The port form on screen (offscreen): its layout and captions, the pickers
// as a person uses them, saving and cancelling, and the preview.
#include "common/OwnTexts.h"
#include "common/Twips.h"
#include "config/ConfigDatabase.h"
#include "database/ArmaConexion.h"
#include "demo/DemoTexts.h"
#include "demo/QualitraDemo.h"
#include "portform/Mnemonics.h"
#include "portform/widgets/HtmlCanal.h"
#include "support/ConfigFixture.h"
#include "support/ScriptedPageLoader.h"
#include "support/widgets/WidgetLookup.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using test::child;
using Box = test::RecordingInteraccion::Box;

class HtmlCanalTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                              {{7, QStringLiteral("Diámetro"), QStringLiteral("EST01"), 1},
                               {8, QStringLiteral("Largo"), QStringLiteral("EST01"), 1}});
        writeTLVDirec({m_path});
        auto cn = openDatabase(m_path);
        ASSERT_TRUE(cn->exec(QStringLiteral("update HTMCONFI set WebPg = 'http://st/7.html', "
                                            "Ident = 'Diam=', Inici = 1, Longi = 6, "
                                            "Opera = 'OPER01', Maqui = 'MAQ01', "
                                            "Produ = 'PROD-A', Forma = 'FRM01', Carac = 'DIAM'"))
                        .ok());
        const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
        ASSERT_TRUE(demo::createQualitraDemoFile(qualitra, m.PassBD).ok());
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(qualitra, m.PassBD);
        for (const demo::DemoMessage& message : demo::demoMessages()) {
            if (message.section == 0 || message.section == 2 || message.section == 43 ||
                message.section == 44 || message.section == 76)
                m.messageTable.setText(message.section, message.number, 1,
                                       QString::fromUtf8(message.spanish));
        }
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    }

    // The form on port puert, shown and active, as the main window opens it.
    std::unique_ptr<HtmlCanal> open(int puert)
    {
        auto form = std::make_unique<HtmlCanal>(m, ui, m_conf.RsConf(), m_loader);
        form->PuertoConf = puert;
        if (!form->Form_Load())
            return nullptr;
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return form;
    }
    // The person tabs or clicks into box.
    static void enter(QWidget* box)
    {
        box->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    QString stored(int puert, const char* column)
    {
        auto cn = openDatabase(m_path);
        auto r = cn->exec(QStringLiteral("select ") + QLatin1String(column) +
                              QStringLiteral(" from HTMCONFI where Puert = ?"),
                          {puert});
        return r && r.value().next() ? r.value().value(0).toString() : QStringLiteral("<none>");
    }

    QString m_path;
    ConfigDatabase m_conf{m, ui};
    test::ScriptedPageLoader m_loader;
};

TEST_F(HtmlCanalTest, TheFormShowsThePortWithItsCaptionsLayoutAndLimits)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Puerto 7"));
    // The captions as they show (each carries a mnemonic mark as well).
    auto shown = [](const QString& caption) { return withoutMnemonic(caption); };
    EXPECT_EQ(shown(child<QLabel>(*form, "Label1_14")->text()), QStringLiteral("Descripción:"));
    EXPECT_EQ(shown(child<QLabel>(*form, "Label1_0")->text()),
              m.Mensajes(76, 25) + QLatin1Char(':'));
    EXPECT_EQ(shown(child<QLabel>(*form, "Label1_1")->text()),
              m.Mensajes(76, 26) + QLatin1Char(':'));
    EXPECT_EQ(shown(child<QPushButton>(*form, "cmdAceptar")->text()), m.Mensajes(0, 22));
    EXPECT_EQ(shown(child<QPushButton>(*form, "cmdCancelar")->text()), m.Mensajes(2, 4));

    const struct {
        const char* box;
        const char* text;
        int maxLength;
        double left;
        double top;
    } boxes[] = {
        {"txtDescr", "Diámetro", 50, 1275, 75},   {"txtWebPg", "http://st/7.html", 100, 1275, 435},
        {"txtIdent", "Diam=", 40, 1275, 795},     {"txtInici", "1", 20, 1275, 1155},
        {"txtLongi", "6", 20, 4095, 1155},        {"txtOpera", "OPER01", 32767, 1275, 1620},
        {"txtMaqui", "MAQ01", 32767, 1275, 2340}, {"txtCarac", "DIAM", 32767, 1275, 3420},
        {"txtReloj", "1", 1, 5940, 3420},
    };
    const double dpiX = form->logicalDpiX();
    const double dpiY = form->logicalDpiY();
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.box);
        const QLineEdit* box = child<QLineEdit>(*form, b.box);
        EXPECT_EQ(box->text(), QString::fromUtf8(b.text));
        EXPECT_EQ(box->maxLength(), b.maxLength);
        EXPECT_EQ(box->x(), twipsToPixels(b.left, dpiX));
        EXPECT_EQ(box->y(), twipsToPixels(b.top, dpiY));
    }
    // The description box has the focus and the picker section is hidden.
    EXPECT_TRUE(child<QLineEdit>(*form, "txtDescr")->hasFocus());
    EXPECT_FALSE(child<QTableView>(*form, "DBGrid1")->isVisible());
    EXPECT_FALSE(child<QLabel>(*form, "lblD1")->isVisible());

    // The tab order: start, then the keys, the clock, the buttons, the length.
    QStringList order;
    QWidget* w = child<QLineEdit>(*form, "txtDescr");
    for (int i = 0; i < 14; ++i) {
        order.append(w->objectName());
        w = w->nextInFocusChain();
        while (w && !(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(order.join(QLatin1Char(' ')),
              QStringLiteral("txtDescr txtWebPg txtIdent txtInici txtOpera txtEstac txtMaqui "
                             "txtProdu txtForma txtCarac txtReloj cmdAceptar cmdCancelar "
                             "txtLongi"));
}

TEST_F(HtmlCanalTest, APortThatIsNotThereIsReportedAndTheFormDoesNotOpen)
{
    EXPECT_EQ(open(42), nullptr);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("HtmlCanal. Form_Load.\n\n3021.- ")));
}

TEST_F(HtmlCanalTest, PickersListFillAndLeaveTheOtherBoxesAlone)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    auto* opera = child<QLineEdit>(*form, "txtOpera");
    auto* estac = child<QLineEdit>(*form, "txtEstac");
    auto* grid = child<QTableView>(*form, "DBGrid1");
    auto* heading = child<QLabel>(*form, "lblD1");

    enter(opera);
    EXPECT_TRUE(grid->isVisible());
    EXPECT_EQ(heading->text(), QStringLiteral("Operador:"));
    EXPECT_EQ(grid->model()->rowCount(), 5);
    EXPECT_EQ(grid->currentIndex().row(), 2); // OPER01
    // The grid's own selection did not touch the box.
    EXPECT_EQ(opera->text(), QStringLiteral("OPER01"));
    EXPECT_EQ(grid->columnWidth(0), twipsToPixels(1200, form->logicalDpiX()));

    // The person moves down one row: the box gets OPER02 and its name.
    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(opera->text(), QStringLiteral("OPER02  : Operador turno tarde"));
    EXPECT_EQ(child<QLineEdit>(*form, "txtMaqui")->text(), QStringLiteral("MAQ01"));

    // The stations follow the new operator, who does not have EST01: no row
    // is selected and the box keeps its station.
    enter(estac);
    EXPECT_EQ(heading->text(), QStringLiteral("Estaciones del operador OPER02: "));
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_FALSE(grid->currentIndex().isValid());
    EXPECT_EQ(estac->text(), QStringLiteral("EST01"));
    // The grid follows its box in the tab order.
    EXPECT_EQ(estac->nextInFocusChain(), grid);
    // Tabbing through the grid leaves the station as it is and reaches the
    // machine box: the row the grid makes current as it takes the focus is
    // no person's move.
    QTest::keyClick(estac, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), grid);
    EXPECT_EQ(estac->text(), QStringLiteral("EST01"));
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QLineEdit>(*form, "txtMaqui"));
    EXPECT_EQ(estac->text(), QStringLiteral("EST01"));

    // A free-text box hides the section; the picker stays the active one.
    enter(child<QLineEdit>(*form, "txtIdent"));
    EXPECT_FALSE(grid->isVisible());
    EXPECT_FALSE(heading->isVisible());
    EXPECT_EQ(form->pickers().TablaActiva(), PickerTable::MXE);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(HtmlCanalTest, SavingWritesTheRowAndCancellingLeavesIt)
{
    {
        auto form = open(7);
        ASSERT_TRUE(form);
        child<QLineEdit>(*form, "txtDescr")->setText(QStringLiteral("Cambiada"));
        child<QPushButton>(*form, "cmdCancelar")->click();
        EXPECT_EQ(form->result(), QDialog::Rejected);
    }
    EXPECT_EQ(stored(7, "Descr"), QStringLiteral("Diámetro"));
    {
        // Esc after an edit asks first; No keeps the form with its edits.
        auto form = open(7);
        ASSERT_TRUE(form);
        auto* descr = child<QLineEdit>(*form, "txtDescr");
        descr->setText(QStringLiteral("Editada"));
        QTest::keyClick(descr, Qt::Key_Escape);
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(descr->text(), QStringLiteral("Editada"));
        ASSERT_EQ(ui.boxes.size(), 1);
        ui.boxes.clear();
    }
    {
        auto form = open(7);
        ASSERT_TRUE(form);
        EXPECT_EQ(child<QLineEdit>(*form, "txtDescr")->text(), QStringLiteral("Diámetro"));
        child<QLineEdit>(*form, "txtDescr")->setText(QStringLiteral("  Diámetro exterior "));
        QTest::keyClicks(child<QLineEdit>(*form, "txtReloj"), QStringLiteral("10"));
        ui.questionAnswers = {true};
        child<QLineEdit>(*form, "txtOpera")->setText(QStringLiteral("OPER02  : Operador"));
        child<QPushButton>(*form, "cmdAceptar")->click();
        EXPECT_EQ(form->result(), QDialog::Accepted);
    }
    EXPECT_EQ(stored(7, "Descr"), QStringLiteral("Diámetro exterior"));
    // The clock box took one character of the two typed.
    EXPECT_EQ(stored(7, "Reloj"), QStringLiteral("1"));
    // Yes carried the operator, trimmed, to both ports of machine MAQ01.
    EXPECT_EQ(stored(7, "Opera"), QStringLiteral("OPER02"));
    EXPECT_EQ(stored(8, "Opera"), QStringLiteral("OPER02"));
}

TEST_F(HtmlCanalTest, ThePreviewFollowsTheBoxes)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    ASSERT_EQ(m_loader.pending().size(), 1);
    EXPECT_EQ(m_loader.pending().first().url, QStringLiteral("http://st/7.html"));
    m_loader.complete(m_loader.pending().first().ticket,
                      LoadedPage{QString(), PageOutcome::Complete,
                                 QStringLiteral("<b>Diam=25.013</b> Largo=120.2"), 200,
                                 std::nullopt});
    auto* reading = child<QLabel>(*form, "lblLectura");
    // The form's own texts follow the language (1, Spanish, here).
    EXPECT_EQ(reading->text(), QStringLiteral("Lectura: 25.013   (valor 25.013)"));
    EXPECT_EQ(withoutMnemonic(child<QPushButton>(*form, "cmdLeer")->text()),
              QStringLiteral("Leer la página otra vez"));

    child<QLineEdit>(*form, "txtIdent")->setText(QStringLiteral("Largo="));
    child<QLineEdit>(*form, "txtLongi")->setText(QStringLiteral("5"));
    EXPECT_EQ(reading->text(), QStringLiteral("Lectura: 120.2   (valor 120.2)"));
    EXPECT_TRUE(child<QLabel>(*form, "lblContexto")->text().contains(QStringLiteral("120.2")));
    // Page text is shown escaped, never as markup.
    EXPECT_TRUE(child<QLabel>(*form, "lblContexto")->text().contains(QStringLiteral("&lt;/b&gt;")));

    // A new address is fetched once the typing pauses.
    auto* webPg = child<QLineEdit>(*form, "txtWebPg");
    webPg->selectAll();
    QTest::keyClicks(webPg, QStringLiteral("http://st/8.html"));
    EXPECT_EQ(m_loader.requests().size(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_loader.requests().size() == 2; }, 3000));
    EXPECT_EQ(m_loader.requests().last().url, QStringLiteral("http://st/8.html"));
}

TEST_F(HtmlCanalTest, EnterSavesFromAnyBoxAndEnterOnCancelCancels)
{
    {
        auto form = open(7);
        ASSERT_TRUE(form);
        auto* descr = child<QLineEdit>(*form, "txtDescr");
        descr->selectAll();
        QTest::keyClicks(descr, QStringLiteral("Por teclado"));
        QTest::keyClick(descr, Qt::Key_Return);
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(stored(7, "Descr"), QStringLiteral("Por teclado"));
    // The main window reads the rows again after the form closes.
    ASSERT_TRUE(m_conf.RsConf().refresh().ok());
    {
        // In a key box, with the picker's grid shown, Enter saves as well.
        auto form = open(7);
        ASSERT_TRUE(form);
        auto* forma = child<QLineEdit>(*form, "txtForma");
        enter(forma);
        forma->setText(QStringLiteral("FRM02"));
        QTest::keyClick(forma, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(form->result(), QDialog::Accepted);
    }
    EXPECT_EQ(stored(7, "Forma"), QStringLiteral("FRM02"));
    ASSERT_TRUE(m_conf.RsConf().refresh().ok());
    {
        // Enter on the focused Cancel button is Cancel.
        auto form = open(7);
        ASSERT_TRUE(form);
        child<QLineEdit>(*form, "txtDescr")->setText(QStringLiteral("Descartada"));
        auto* cancel = child<QPushButton>(*form, "cmdCancelar");
        cancel->setFocus(Qt::TabFocusReason);
        QTest::keyClick(cancel, Qt::Key_Return);
        EXPECT_EQ(form->result(), QDialog::Rejected);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(stored(7, "Descr"), QStringLiteral("Por teclado"));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(HtmlCanalTest, EscapeClosesAtOnceWithoutEditsAndAsksFirstAfterOne)
{
    {
        auto form = open(7);
        ASSERT_TRUE(form);
        QTest::keyClick(child<QLineEdit>(*form, "txtIdent"), Qt::Key_Escape);
        EXPECT_EQ(form->result(), QDialog::Rejected);
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(ui.boxes.isEmpty());
    }
    {
        // From the picker's grid as well.
        auto form = open(7);
        ASSERT_TRUE(form);
        enter(child<QLineEdit>(*form, "txtOpera"));
        auto* grid = child<QTableView>(*form, "DBGrid1");
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Escape);
        EXPECT_EQ(form->result(), QDialog::Rejected);
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(ui.boxes.isEmpty());
    }
    {
        // A box typed back to what it held is no edit.
        auto form = open(7);
        ASSERT_TRUE(form);
        auto* inici = child<QLineEdit>(*form, "txtInici");
        QTest::keyClicks(inici, QStringLiteral("5"));
        QTest::keyClick(inici, Qt::Key_Backspace);
        QTest::keyClick(inici, Qt::Key_Escape);
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(ui.boxes.isEmpty());
    }
    {
        auto form = open(7);
        ASSERT_TRUE(form);
        auto* reloj = child<QLineEdit>(*form, "txtReloj");
        enter(reloj);
        reloj->selectAll();
        QTest::keyClicks(reloj, QStringLiteral("3"));
        // No: the form stays, with the edit and the focus where they were.
        ui.questionAnswers = {false};
        QTest::keyClick(reloj, Qt::Key_Escape);
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes[0].type, Box::Type::QuestionBox);
        EXPECT_EQ(ui.boxes[0].text, ownText(OwnText::PortDiscardChanges, 1));
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(reloj->text(), QStringLiteral("3"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return reloj->hasFocus(); }, 2000));
        // Yes: closed, nothing written.
        ui.questionAnswers = {true};
        QTest::keyClick(reloj, Qt::Key_Escape);
        EXPECT_EQ(ui.boxes.size(), 2);
        EXPECT_EQ(form->result(), QDialog::Rejected);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(stored(7, "Reloj"), QStringLiteral("1"));
}

TEST_F(HtmlCanalTest, EveryLabelAndButtonHasAMnemonicOfItsOwnAndALabelsTakesTheFocusToItsBox)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    QSet<QChar> used;
    auto check = [&](const QWidget& w, const QString& text) {
        SCOPED_TRACE(w.objectName().toStdString());
        const QChar mnemonic = mnemonicOf(text);
        EXPECT_FALSE(mnemonic.isNull()) << text.toStdString();
        EXPECT_FALSE(used.contains(mnemonic)) << text.toStdString();
        used.insert(mnemonic);
    };
    int labels = 0;
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        if (!label->objectName().startsWith(QStringLiteral("Label1_")))
            continue;
        ++labels;
        check(*label, label->text());
        EXPECT_NE(qobject_cast<QLineEdit*>(label->buddy()), nullptr)
            << label->objectName().toStdString();
    }
    EXPECT_EQ(labels, 12);
    // Every button but the grid's own corner button.
    const QTableView* grid = child<QTableView>(*form, "DBGrid1");
    int buttons = 0;
    for (const QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        if (grid->isAncestorOf(button))
            continue;
        ++buttons;
        check(*button, button->text());
    }
    EXPECT_EQ(buttons, 3);

    // Alt and a label's letter: the focus goes to its box, which shows its
    // picker as a box taking the focus does.
    const QLabel* operador = child<QLabel>(*form, "Label1_22");
    EXPECT_EQ(operador->buddy(), child<QLineEdit>(*form, "txtOpera"));
    const QChar letter = mnemonicOf(operador->text());
    ASSERT_TRUE(letter >= QLatin1Char('a') && letter <= QLatin1Char('z'));
    QTest::keyClick(form.get(), static_cast<Qt::Key>(Qt::Key_A + (letter.unicode() - 'a')),
                    Qt::AltModifier);
    EXPECT_TRUE(child<QLineEdit>(*form, "txtOpera")->hasFocus());
    EXPECT_TRUE(child<QTableView>(*form, "DBGrid1")->isVisible());
    EXPECT_EQ(form->pickers().TablaActiva(), PickerTable::USU);
}

TEST_F(HtmlCanalTest, TheFocusComesBackToTheFormAfterTheOperatorQuestion)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    auto* opera = child<QLineEdit>(*form, "txtOpera");
    opera->setText(QStringLiteral("OPER02"));
    auto* descr = child<QLineEdit>(*form, "txtDescr");
    enter(descr);
    // Each box as the screen shows one: a window of its own on the form,
    // active and holding the keyboard while it is open, gone once answered.
    // The grid goes away while the question is open, so that the carrying
    // over fails and the form stays open after its report.
    ui.questionAnswers = {true};
    QStringList activeUnderBox;
    ui.whileBoxOpen = [&](const Box& box) {
        QDialog shown(form.get());
        auto* answer = new QPushButton(QStringLiteral("&Sí"), &shown);
        shown.show();
        QApplication::setActiveWindow(&shown);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&shown));
        answer->setFocus();
        activeUnderBox.append(QApplication::focusWidget() == answer ? QStringLiteral("box")
                                                                    : QStringLiteral("?"));
        if (box.type == Box::Type::QuestionBox)
            m_conf.RsConf().unbind();
    };
    QTest::keyClick(descr, Qt::Key_Return);
    ui.whileBoxOpen = nullptr;
    ASSERT_EQ(ui.boxes.size(), 2);
    EXPECT_EQ(ui.boxes[0].type, Box::Type::QuestionBox);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("El Operador cambió a OPER02.")));
    EXPECT_EQ(ui.boxes[1].type, Box::Type::MensaBox);
    EXPECT_EQ(activeUnderBox, QStringList({QStringLiteral("box"), QStringLiteral("box")}));
    ASSERT_TRUE(form->isVisible());
    // The form is the active window again, with the keyboard in the box that
    // had it: typing goes on there.
    EXPECT_TRUE(QTest::qWaitFor([&] { return descr->hasFocus(); }, 2000));
    EXPECT_EQ(QApplication::activeWindow(), form.get());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("!"));
    EXPECT_TRUE(descr->text().endsWith(QLatin1Char('!')));
}

TEST_F(HtmlCanalTest, AMissedIdentifierLeavesThePageShownAndOffersItsNearText)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    const QString page = QStringLiteral("<b>Diam=25.013</b>\n<i>Largo=120.2</i>");
    m_loader.complete(m_loader.pending().first().ticket,
                      LoadedPage{QString(), PageOutcome::Complete, page, 200, std::nullopt});
    auto* pageBox = child<QPlainTextEdit>(*form, "txtPagina");
    auto* reading = child<QLabel>(*form, "lblLectura");
    auto* near = child<QLabel>(*form, "lblCercanos");
    EXPECT_EQ(pageBox->toPlainText(), page);
    EXPECT_FALSE(near->isVisible());

    auto* ident = child<QLineEdit>(*form, "txtIdent");
    ident->setText(QStringLiteral("diam ="));
    EXPECT_EQ(reading->text(), QStringLiteral("diam = not found"));
    // The page is still there to read, and the near text is offered.
    EXPECT_EQ(pageBox->toPlainText(), page);
    EXPECT_TRUE(near->isVisible());
    EXPECT_TRUE(near->text().startsWith(QStringLiteral("Parecidos en la página: ")));
    EXPECT_TRUE(near->text().contains(QStringLiteral(">Diam=</a>")));
    // The near text is marked in the page box.
    ASSERT_FALSE(pageBox->extraSelections().isEmpty());
    EXPECT_EQ(pageBox->extraSelections().first().cursor.selectedText(), QStringLiteral("Diam="));

    // Picking it puts it into the identifier box, and the cut reads again.
    emit near->linkActivated(QStringLiteral("#0"));
    EXPECT_EQ(ident->text(), QStringLiteral("Diam="));
    EXPECT_TRUE(ident->hasFocus());
    EXPECT_EQ(reading->text(), QStringLiteral("Lectura: 25.013   (valor 25.013)"));
    EXPECT_FALSE(near->isVisible());
    EXPECT_EQ(pageBox->toPlainText(), page);
    ASSERT_EQ(pageBox->extraSelections().size(), 1);
    EXPECT_EQ(pageBox->extraSelections().first().cursor.selectedText(), QStringLiteral("25.013"));

    // A link that names nothing offered does nothing.
    emit near->linkActivated(QStringLiteral("#7"));
    emit near->linkActivated(QStringLiteral("javascript:x"));
    EXPECT_EQ(ident->text(), QStringLiteral("Diam="));
}

TEST_F(HtmlCanalTest, ThePickersColumnsAreWideEnoughForTheirCaptions)
{
    auto form = open(7);
    ASSERT_TRUE(form);
    auto* grid = child<QTableView>(*form, "DBGrid1");
    enter(child<QLineEdit>(*form, "txtCarac"));
    ASSERT_EQ(grid->model()->columnCount(), 3);
    const QHeaderView* header = grid->horizontalHeader();
    const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int c = 0; c < 3; ++c) {
        const QString caption = grid->model()->headerData(c, Qt::Horizontal).toString();
        SCOPED_TRACE(caption.toStdString());
        EXPECT_GE(grid->columnWidth(c), header->fontMetrics().horizontalAdvance(caption) + margins);
    }
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Posición"));
    // A caption that fits keeps its column's design width.
    EXPECT_EQ(grid->columnWidth(0), twipsToPixels(1200, form->logicalDpiX()));
    EXPECT_EQ(grid->columnWidth(2), twipsToPixels(3600, form->logicalDpiX()));
}

} // namespace
} // namespace telvar
