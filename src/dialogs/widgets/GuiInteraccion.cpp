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

// A notice outlives the boxes that come and go meanwhile: it opens over the
// window under the active box, or over none.
QWidget* noticeParent()
{
    QWidget* window = QApplication::activeWindow();
    while (window && qobject_cast<QDialog*>(window))
        window = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    return window;
}

// The rank of a kind when notices share a box: the graver icon stays.
int gravity(BoxKind kind)
{
    switch (kind) {
    case BoxKind::Critical:
        return 4;
    case BoxKind::Exclamation:
        return 3;
    case BoxKind::Question:
        return 2;
    case BoxKind::Information:
        return 1;
    case BoxKind::Plain:
        break;
    }
    return 0;
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

GuiInteraccion::~GuiInteraccion()
{
    delete m_notice.data();
}

MensaBox* GuiInteraccion::shownNotice() const
{
    return m_notice && m_notice->isVisible() ? m_notice.data() : nullptr;
}

void GuiInteraccion::notice(const QString& text, BoxKind kind, double seconds)
{
    if (MensaBox* shown = shownNotice()) {
        m_noticeTexts.append(text);
        while (m_noticeTexts.size() > MaxNoticeTexts)
            m_noticeTexts.removeFirst();
        if (gravity(kind) > gravity(m_noticeKind))
            m_noticeKind = kind;
        shown->setMensaje(m_noticeTexts.join(QLatin1String("\n\n")));
        shown->setIcono(static_cast<int>(m_noticeKind));
        shown->setDuracion(seconds);
        shown->renew();
        return;
    }
    // A notice closed by its count-down, but not yet deleted, goes now.
    delete m_notice.data();
    m_noticeTexts = QStringList{text};
    m_noticeKind = kind;
    auto* box = new MensaBox(nullptr, noticeParent());
    box->setWindowModality(Qt::NonModal);
    box->setModal(false);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    QObject::connect(box, &QDialog::finished, box, &QObject::deleteLater);
    box->setMensaje(text);
    box->setIcono(static_cast<int>(kind));
    box->setDuracion(seconds);
    m_notice = box;
    box->show();
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
