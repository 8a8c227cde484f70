#include "dialogs/widgets/Salir.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace telvar {

Salir::Salir(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Salir"));
    setWindowTitle(QStringLiteral("Exit"));
    setModal(true);

    m_Label1 = new QLabel(QStringLiteral("To Exit, please enter a Configurator's Password"), this);
    m_Label1->setObjectName(QStringLiteral("Label1"));
    m_Label1->setWordWrap(true);
    m_Text1 = new QLineEdit(QStringLiteral("Password"), this);
    m_Text1->setObjectName(QStringLiteral("Text1"));
    m_Text1->setEchoMode(QLineEdit::Password);
    m_Text1->installEventFilter(this);
    m_OKButton = new QPushButton(QStringLiteral("OK"), this);
    m_OKButton->setObjectName(QStringLiteral("OKButton"));
    m_OKButton->setDefault(true);
    m_CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(m_OKButton, &QPushButton::clicked, this, &Salir::OKButton_Click);
    connect(m_CancelButton, &QPushButton::clicked, this, &Salir::CancelButton_Click);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_OKButton);
    buttons->addWidget(m_CancelButton);
    buttons->addStretch(1);
    auto* entry = new QVBoxLayout;
    entry->addWidget(m_Label1);
    entry->addWidget(m_Text1);
    entry->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(entry, 1);
    layout->addLayout(buttons);
    setMinimumWidth(380);
    m_Text1->setFocus(Qt::OtherFocusReason);
}

void Salir::Form_Load()
{
    m_Label1->setText(Leyenda);
}

void Salir::OKButton_Click()
{
    TryPass = m_Text1->text();
    Cancelar = false;
    accept();
}

void Salir::CancelButton_Click()
{
    Cancelar = true;
    reject();
}

bool Salir::eventFilter(QObject* watched, QEvent* event)
{
    // Taking the focus selects the whole entry, so typing replaces it; a
    // click selects it too (after the click has placed the cursor).
    if (watched == m_Text1 && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_Text1, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

} // namespace telvar
