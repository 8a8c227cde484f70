#include "dialogs/widgets/GuiInteraccion.h"

#include "dialogs/widgets/MensaBox.h"
#include "dialogs/widgets/SuperListBox.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <utility>

namespace telvar {

namespace {

QMessageBox::Icon iconOf(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Critical:
        return QMessageBox::Critical;
    case BoxKind::Question:
        return QMessageBox::Question;
    case BoxKind::Exclamation:
        return QMessageBox::Warning;
    case BoxKind::Information:
        return QMessageBox::Information;
    case BoxKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

// Boxes open over whatever window the person is using. That window may be
// destroyed while a box is open (a timer closes it), taking the box with
// it: boxes are therefore made on the heap and watched with a QPointer.
QWidget* boxParent()
{
    return QApplication::activeWindow();
}

} // namespace

GuiInteraccion::GuiInteraccion(const Modulo1& modulo, QString title)
    : m_modulo(modulo), m_title(std::move(title))
{
}

QString GuiInteraccion::title() const
{
    return m_title.isEmpty() ? QApplication::applicationDisplayName() : m_title;
}

void GuiInteraccion::messageBox(const QString& text, BoxKind kind)
{
    const QPointer<QMessageBox> box =
        new QMessageBox(iconOf(kind), title(), text, QMessageBox::Ok, boxParent());
    box->setObjectName(QStringLiteral("MsgBox"));
    box->exec();
    delete box.data();
}

void GuiInteraccion::mensaBox(const QString& mensaje, BoxKind icono, double duracion)
{
    const QPointer<MensaBox> box = new MensaBox(&m_pointer, boxParent());
    box->setMensaje(mensaje);
    box->setIcono(static_cast<int>(icono));
    box->setDuracion(duracion);
    box->exec();
    delete box.data();
}

bool GuiInteraccion::questionBox(const QString& question)
{
    const QPointer<QMessageBox> box = new QMessageBox(
        QMessageBox::Question, title(), question, QMessageBox::Yes | QMessageBox::No, boxParent());
    box->setObjectName(QStringLiteral("MsgBox"));
    box->setDefaultButton(QMessageBox::No);
    const int answer = box->exec();
    const bool yes = box && answer == QMessageBox::Yes;
    delete box.data();
    return yes;
}

std::optional<QString> GuiInteraccion::inputBox(const QString& prompt, InputEcho echo)
{
    const QPointer<QInputDialog> box = new QInputDialog(boxParent());
    box->setObjectName(QStringLiteral("InputBox"));
    box->setWindowTitle(title());
    box->setInputMode(QInputDialog::TextInput);
    box->setLabelText(prompt);
    box->setTextEchoMode(echo == InputEcho::Password ? QLineEdit::Password : QLineEdit::Normal);
    const int answer = box->exec();
    std::optional<QString> text;
    if (box && answer == QDialog::Accepted)
        text = box->textValue();
    delete box.data();
    return text;
}

QString GuiInteraccion::superListBox(const ListPickerRequest& request)
{
    const QPointer<SuperListBox> box = new SuperListBox(m_modulo, boxParent());
    box->setTitle(request.Title);
    box->setLista(request.Lista);
    box->setOmitCancel(request.OmitCancel);
    box->setXPos(request.XPos);
    box->setYPos(request.YPos);
    box->setAltura(request.Altura);
    box->setColorFondo(request.ColorFondo);
    box->exec();
    const QString resultado = box ? box->Resultado() : QString();
    delete box.data();
    return resultado;
}

void GuiInteraccion::setMousePointer(PointerShape pointer)
{
    m_pointer.set(pointer);
}

void GuiInteraccion::beep()
{
    QApplication::beep();
}

} // namespace telvar
