#include "dialogs/widgets/MensaBox.h"

#include "common/Twips.h"
#include "dialogs/widgets/MousePointer.h"
#include "dialogs/widgets/PlayPauseStrip.h"
#include "dialogs/widgets/TwipsPixels.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

namespace telvar {

namespace {

struct IconSlot {
    int icono;
    const char* name;
    QStyle::StandardPixmap pixmap;
};

constexpr IconSlot kIcons[4] = {
    {16, "Image16", QStyle::SP_MessageBoxCritical},
    {32, "Image32", QStyle::SP_MessageBoxQuestion},
    {48, "Image48", QStyle::SP_MessageBoxWarning},
    {64, "Image64", QStyle::SP_MessageBoxInformation},
};

} // namespace

MensaBox::MensaBox(MousePointer* pointer, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_pointer(pointer), m_text1(new QPlainTextEdit(this)), m_text2(new QLineEdit(this)),
      m_lblCountDown(new QLabel(QStringLiteral("10"), this)), m_timer1(new QTimer(this)),
      m_strip(new PlayPauseStrip(this))
{
    setObjectName(QStringLiteral("MensaBox"));
    // The box has no caption text. An empty title would not do: the desktop
    // platforms then caption the window with the application's name. A blank
    // is a title of its own that draws nothing.
    setWindowTitle(QStringLiteral(" "));

    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    m_text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    // Text2 only holds the keyboard focus, behind Text1, so that the message
    // opens without a caret or a selection in it.
    m_text2->setObjectName(QStringLiteral("Text2"));
    m_text2->setFrame(false);
    m_text2->lower();

    for (int i = 0; i < 4; ++i) {
        m_images[i] = new QLabel(this);
        m_images[i]->setObjectName(QLatin1String(kIcons[i].name));
        m_images[i]->setAlignment(Qt::AlignCenter);
        m_images[i]->hide();
    }

    m_strip->setObjectName(QStringLiteral("PlayPauseStop"));

    m_lblCountDown->setObjectName(QStringLiteral("lblCountDown"));
    m_lblCountDown->setToolTip(QStringLiteral("seconds left"));
    m_lblCountDown->setAlignment(Qt::AlignCenter);
    QFont bold = m_lblCountDown->font();
    bold.setBold(true);
    m_lblCountDown->setFont(bold);
    m_lblCountDown->raise();

    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(std::chrono::seconds(1));

    connect(m_timer1, &QTimer::timeout, this, &MensaBox::Timer1_Timer);
    connect(m_strip, &PlayPauseStrip::mouseDown, this, &MensaBox::PlayPauseStop_MouseDown);
}

void MensaBox::setTickInterval(std::chrono::milliseconds interval)
{
    m_timer1->setInterval(interval);
}

void MensaBox::showEvent(QShowEvent* event)
{
    // A spontaneous show is the window coming back from the window system
    // (un-minimized); only a real showing lays the box out and counts anew.
    if (!event->spontaneous())
        Form_Load();
    QDialog::showEvent(event);
}

void MensaBox::renew()
{
    if (!isVisible())
        return;
    const bool paused = m_countingDown && !m_timer1->isActive();
    Form_Load();
    if (paused)
        m_timer1->stop();
}

void MensaBox::Form_Load()
{
    const QStringList lines = splitMensajeLines(m_mensaje);
    const QFontMetricsF metrics(m_text1->font());
    const double dpi = logicalDpiX();
    QList<double> widths;
    widths.reserve(lines.size());
    for (const QString& line : lines)
        widths.append(pixelsToTwips(metrics.horizontalAdvance(line), dpi));
    m_geometry = layoutMensaBox(widths);

    const MensaBoxGeometry& g = m_geometry;
    setFixedSize(toPixels({0, 0, g.width, g.height}, *this).size());
    m_text1->setGeometry(toPixels(g.text1, *this));
    m_text1->setPlainText(m_mensaje);
    m_text2->setGeometry(toPixels(g.text2, *this));
    m_strip->setGeometry(toPixels(g.strip, *this));
    m_lblCountDown->setGeometry(toPixels(g.countDown, *this));

    const QRect iconRect = toPixels(g.icon, *this);
    for (int i = 0; i < 4; ++i) {
        const bool mine = kIcons[i].icono == m_icono;
        if (mine) {
            m_images[i]->setGeometry(iconRect);
            m_images[i]->setPixmap(
                style()->standardIcon(kIcons[i].pixmap, nullptr, this).pixmap(iconRect.size()));
        }
        m_images[i]->setVisible(mine);
    }

    QApplication::beep();

    m_countingDown = m_duracion > 0;
    if (m_countingDown) {
        m_count = m_duracion;
        showCount();
        m_timer1->start();
    } else {
        // No count-down: the label's design figure would promise one.
        m_timer1->stop();
        m_lblCountDown->clear();
    }

    m_text2->setFocus();
    if (m_pointer)
        m_pointer->set(PointerShape::Default);
}

void MensaBox::showCount()
{
    m_lblCountDown->setText(QString::number(m_count));
    m_lblCountDown->repaint();
}

void MensaBox::Timer1_Timer()
{
    m_count -= 1;
    showCount();
    if (m_count <= 0)
        accept();
}

void MensaBox::PlayPauseStop_MouseDown(double x)
{
    switch (stripActionAt(x, m_strip->width())) {
    case StripAction::None:
        break;
    case StripAction::Play:
        // Without a count-down there is nothing to resume.
        if (m_countingDown && !m_timer1->isActive())
            m_timer1->start();
        break;
    case StripAction::Pause:
        m_timer1->stop();
        break;
    case StripAction::Stop:
        accept();
        break;
    }
}

void MensaBox::done(int result)
{
    m_timer1->stop();
    QDialog::done(result);
}

} // namespace telvar
