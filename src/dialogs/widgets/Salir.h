#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace telvar {

// The exit dialog: asks for a configurator's password before the main
// window may close. The entry is masked; OK hands the typed text back,
// Cancel (or the dialog's close box, or Escape) gives up.
class Salir final : public QDialog {
    Q_OBJECT
public:
    explicit Salir(QWidget* parent = nullptr);

    // The prompt shown above the entry.
    QString Leyenda;
    // What was typed, once OK was pressed.
    QString TryPass;
    // True unless OK was pressed.
    bool Cancelar = true;

    // Shows Leyenda in the prompt (call before showing the dialog).
    void Form_Load();
    void OKButton_Click();
    void CancelButton_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_Label1;
    QLineEdit* m_Text1;
    QPushButton* m_OKButton;
    QPushButton* m_CancelButton;
};

} // namespace telvar
