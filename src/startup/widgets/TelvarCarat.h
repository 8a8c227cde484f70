#pragma once

#include "common/Error.h"

#include <QWidget>

class QLabel;
class QTimer;

namespace telvar {

class Interaccion;

// The cover window shown while the program starts: the cover picture in
// Image1, closed by Timer1 (2500 ms), a mouse click or a character key (a
// lone modifier such as Shift or Ctrl types nothing and leaves it open). It
// emits unloaded() once when it closes, so that the main window can be shown.
class TelvarCarat final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTimer1Interval = 2500; // ms
    // Added to the picture's width and height, in twips.
    static constexpr double kMarginTwips = 90;

    explicit TelvarCarat(QWidget* parent = nullptr);

    // Loads the cover picture into Image1 and sizes the window to it plus the
    // margin. Error 481 (invalid picture) when the file is not a readable
    // picture.
    Status loadCoverPicture(const QString& path);
    // Starts Timer1: the cover closes itself when it ticks.
    void startTimer1();
    // The whole showing: loads the picture (a failure is reported through ui
    // as a critical box and the result is false), starts Timer1 and shows the
    // window centred on the screen.
    bool showCover(const QString& coverPicturePath, Interaccion& ui);

signals:
    // The cover has closed (timer, click or key): time for the main window.
    void unloaded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_image1;
    QTimer* m_timer1;
    bool m_unloaded = false;
};

} // namespace telvar
