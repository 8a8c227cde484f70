#include "startup/widgets/TelvarCarat.h"

#include "common/ErrorNumbers.h"
#include "common/Interaccion.h"
#include "common/Twips.h"
#include "startup/StartupSequence.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace telvar {

TelvarCarat::TelvarCarat(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_image1(new QLabel(this)),
      m_timer1(new QTimer(this))
{
    setObjectName(QLatin1String(kCoverFormName));
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAlignment(Qt::AlignCenter);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(kTimer1Interval);
    connect(m_timer1, &QTimer::timeout, this, &QWidget::close);
    setFocusPolicy(Qt::StrongFocus);
}

Status TelvarCarat::loadCoverPicture(const QString& path)
{
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        return Error{ErrorNumber::InvalidPicture, QStringLiteral("Telvar"),
                     QStringLiteral("Invalid picture: ") + path + QStringLiteral(" (") +
                         reader.errorString() + QStringLiteral(")")};
    const QPixmap picture = QPixmap::fromImage(image);
    m_image1->setPixmap(picture);

    const QScreen* onScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = onScreen ? onScreen->logicalDotsPerInch() : 96.0;
    const int margin = twipsToPixels(kMarginTwips, dpi);
    const QSize size = picture.deviceIndependentSize().toSize();
    setFixedSize(size.width() + margin, size.height() + margin);
    m_image1->setGeometry(margin / 2, margin / 2, size.width(), size.height());
    return {};
}

void TelvarCarat::startTimer1()
{
    m_timer1->start();
}

bool TelvarCarat::showCover(const QString& coverPicturePath, Interaccion& ui)
{
    const Status loaded = loadCoverPicture(coverPicturePath);
    if (!loaded) {
        ui.messageBox(startupErrorReport(loaded.error()), BoxKind::Critical);
        return false;
    }
    startTimer1();
    if (const QScreen* onScreen = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect area = geometry();
        area.moveCenter(onScreen->availableGeometry().center());
        move(area.topLeft());
    }
    show();
    activateWindow();
    setFocus();
    return true;
}

void TelvarCarat::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    close();
}

void TelvarCarat::keyPressEvent(QKeyEvent* event)
{
    // Only a key that types a character closes the cover, as a key press
    // event of the classic forms fires only for those: modifiers, function
    // and cursor keys type nothing.
    if (event->text().isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    close();
}

void TelvarCarat::closeEvent(QCloseEvent* event)
{
    m_timer1->stop();
    event->accept();
    if (!m_unloaded) {
        m_unloaded = true;
        emit unloaded();
    }
}

} // namespace telvar
