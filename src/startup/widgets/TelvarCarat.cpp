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
    setObjectName(QLatin1String(kNombreCaratula));
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setAlignment(Qt::AlignCenter);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setSingleShot(true);
    m_timer1->setInterval(kIntervaloTimer1);
    connect(m_timer1, &QTimer::timeout, this, &QWidget::close);
    setFocusPolicy(Qt::StrongFocus);
}

Status TelvarCarat::cargaCaratula(const QString& ruta)
{
    QImageReader reader(ruta);
    const QImage imagen = reader.read();
    if (imagen.isNull())
        return RuntimeError{ErrorNumber::InvalidPicture, QStringLiteral("Telvar"),
                            QStringLiteral("Invalid picture: ") + ruta + QStringLiteral(" (") +
                                reader.errorString() + QStringLiteral(")")};
    const QPixmap picture = QPixmap::fromImage(imagen);
    m_image1->setPixmap(picture);

    const QScreen* pantalla = screen() ? screen() : QGuiApplication::primaryScreen();
    const double dpi = pantalla ? pantalla->logicalDotsPerInch() : 96.0;
    const int margen = twipsToPixels(kMargenTwips, dpi);
    const QSize tamano = picture.deviceIndependentSize().toSize();
    setFixedSize(tamano.width() + margen, tamano.height() + margen);
    m_image1->setGeometry(margen / 2, margen / 2, tamano.width(), tamano.height());
    return {};
}

void TelvarCarat::habilitaTimer()
{
    m_timer1->start();
}

bool TelvarCarat::muestra(const QString& rutaCaratula, Interaccion& ui)
{
    const Status cargada = cargaCaratula(rutaCaratula);
    if (!cargada) {
        ui.messageBox(reporteErrorArranque(cargada.error()), BoxKind::Critical);
        return false;
    }
    habilitaTimer();
    if (const QScreen* pantalla = screen() ? screen() : QGuiApplication::primaryScreen()) {
        QRect area = geometry();
        area.moveCenter(pantalla->availableGeometry().center());
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
    event->accept();
    close();
}

void TelvarCarat::closeEvent(QCloseEvent* event)
{
    m_timer1->stop();
    event->accept();
    if (!m_descargada) {
        m_descargada = true;
        emit descargada();
    }
}

} // namespace telvar
