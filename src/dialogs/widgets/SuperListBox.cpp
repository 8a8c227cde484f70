#include "dialogs/widgets/SuperListBox.h"

#include "common/Modulo1.h"
#include "common/Twips.h"
#include "dialogs/widgets/TwipsPixels.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyledItemDelegate>

namespace telvar {

namespace {

// Draws the focus frame only on a selected line: a frame on an unselected
// line would look like a choice that OK does not return.
class SelectionOnlyDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!option->state.testFlag(QStyle::State_Selected))
            option->state.setFlag(QStyle::State_HasFocus, false);
    }
};

// List1: no line is current until one is chosen. A list view makes its first
// line current when it gains the keyboard focus; that line then looks chosen
// although nothing is, and the arrow keys start from it, so that in a list of
// one line they can never select it. Here the focus leaves nothing current
// and the first arrow key selects line 1.
class PickerList final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QListWidget::focusInEvent(event);
        if (selectedItems().isEmpty())
            selectionModel()->clearCurrentIndex();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const bool arrow = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
        if (arrow && selectedItems().isEmpty() && count() > 0) {
            setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
            event->accept();
            return;
        }
        QListWidget::keyPressEvent(event);
    }
};

// Tahoma where it is installed; otherwise the application's own family, in
// the application's size either way.
QFont tahoma()
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), QApplication::font().family()});
    return font;
}

// A caption from the message table, or the plain word when the table lacks
// it (a language file without the entry must not leave a blank button).
QString caption(const Modulo1& modulo, int number, const char* fallback)
{
    const QString text = modulo.Mensajes(2, number);
    return text.isEmpty() ? QLatin1String(fallback) : text;
}

} // namespace

SuperListBox::SuperListBox(const Modulo1& modulo, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_modulo(modulo), m_list1(new PickerList(this)), m_cmdOK(new QPushButton(this)),
      m_cmdCancel(new QPushButton(this))
{
    setObjectName(QStringLiteral("SuperListBox"));
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list1->setItemDelegate(new SelectionOnlyDelegate(m_list1));
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setAutoDefault(false);
    for (QWidget* w : {static_cast<QWidget*>(m_list1), static_cast<QWidget*>(m_cmdOK),
                       static_cast<QWidget*>(m_cmdCancel)})
        w->setFont(tahoma());

    connect(m_cmdOK, &QPushButton::clicked, this, &SuperListBox::cmdOK_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &SuperListBox::cmdCancel_Click);
}

void SuperListBox::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}

void SuperListBox::Form_Load()
{
    setWindowTitle(m_title);

    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 800, 600);
    const double dpiX = logicalDpiX();
    const double dpiY = logicalDpiY();
    m_geometry =
        layoutSuperListBox({m_xPos, m_yPos, m_altura, m_omitCancel},
                           pixelsToTwips(area.width(), dpiX), pixelsToTwips(area.height(), dpiY));

    const SuperListBoxGeometry& g = m_geometry;
    const QRect dialog = toPixels(g.dialog, *this);
    setFixedSize(dialog.size());
    move(area.topLeft() + dialog.topLeft());

    setAutoFillBackground(true);
    QPalette pal = palette();
    if (const auto rgb = decodeClassicColor(m_colorFondo))
        pal.setColor(QPalette::Window, QColor(rgb->red, rgb->green, rgb->blue));
    else
        pal.setColor(QPalette::Window, QApplication::palette(this).color(QPalette::Window));
    setPalette(pal);

    m_list1->setGeometry(toPixels(g.list1, *this));
    m_list1->clear();
    m_list1->addItems(splitLista(m_lista));
    m_list1->selectionModel()->clearCurrentIndex();

    m_cmdOK->setText(caption(m_modulo, 0, "OK"));
    m_cmdCancel->setText(caption(m_modulo, 4, "Cancel"));
    m_cmdOK->setGeometry(toPixels(g.cmdOK, *this));
    m_cmdCancel->setGeometry(toPixels(g.cmdCancel, *this));
    m_cmdCancel->setVisible(g.cancelVisible);
}

void SuperListBox::cmdOK_Click()
{
    // A current row without a selection is no choice: OK then gives "0".
    const QList<QListWidgetItem*> selected = m_list1->selectedItems();
    const int row = selected.isEmpty() ? -1 : m_list1->row(selected.first());
    m_resultado = QString::number(row + 1);
    accept();
}

void SuperListBox::cmdCancel_Click()
{
    m_resultado = QString();
    reject();
}

} // namespace telvar
