#pragma once

#include "dialogs/MensaBoxLayout.h"

#include <QDialog>
#include <QString>
#include <chrono>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

namespace telvar {

class MousePointer;
class PlayPauseStrip;

// The timed message box: shows Mensaje with the icon of Icono, beeps, and
// closes itself after Duracion seconds unless paused on its strip. It sizes
// itself to the message each time it is shown. Set the three properties, then
// exec() it, or show() it where nothing is to wait for it (a notice of the
// acquisition): then renew() takes a message changed while it is shown.
//
// Design sizes (twips, client area; see MensaBoxDesign): Text1 840,120 and
// 4500 wide, so the dialog is 5595 wide unless a long line widens it; icon
// 180,180, 32 x 32 pixels; the strip is four 300-twip squares 150 above the
// bottom edge.
class MensaBox final : public QDialog {
    Q_OBJECT
    Q_PROPERTY(QString Mensaje READ Mensaje WRITE setMensaje)
    Q_PROPERTY(int Icono READ Icono WRITE setIcono)
    Q_PROPERTY(double Duracion READ Duracion WRITE setDuracion)

public:
    // pointer, when given, is set to the default pointer when the box shows.
    explicit MensaBox(MousePointer* pointer = nullptr, QWidget* parent = nullptr);

    QString Mensaje() const { return m_mensaje; }
    void setMensaje(const QString& mensaje) { m_mensaje = mensaje; }
    int Icono() const { return m_icono; }
    void setIcono(int icono) { m_icono = icono; }
    double Duracion() const { return m_duracion; }
    void setDuracion(double duracion) { m_duracion = duracion; }

    // Lays the shown box out again for its properties, beeps and starts its
    // count-down again from Duracion, as a new showing does; a count-down
    // the person paused stays paused. Nothing while the box is hidden: its
    // next showing lays it out.
    void renew();

    // The count-down's step; one second unless a test wants it faster.
    void setTickInterval(std::chrono::milliseconds interval);

    // The layout of the last showing.
    const MensaBoxGeometry& geometryTwips() const { return m_geometry; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void Timer1_Timer();
    void PlayPauseStop_MouseDown(double x);

private:
    void Form_Load();
    void showCount();

    MousePointer* m_pointer;
    QString m_mensaje;
    int m_icono = 0;
    double m_duracion = 0;
    double m_count = 0;
    bool m_countingDown = false;
    MensaBoxGeometry m_geometry;

    QPlainTextEdit* m_text1;
    QLineEdit* m_text2;
    QLabel* m_lblCountDown;
    QTimer* m_timer1;
    QLabel* m_images[4];
    PlayPauseStrip* m_strip;
};

} // namespace telvar
