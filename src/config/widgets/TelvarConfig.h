#pragma once

#include "config/SelectorConfig.h"

#include <QDialog>
#include <QString>
#include <functional>

class QComboBox;
class QPushButton;

namespace telvar {

struct Modulo1;
class Interaccion;

// The chooser of the configuration database: a combo box with the paths
// TLVDirec.IAU remembers, a button to browse for another .mdb file and one to
// accept. Accepting checks the database and rewrites TLVDirec.IAU with the
// chosen path first; the main window then reopens whatever it names.
class TelvarConfig final : public QDialog {
    Q_OBJECT
public:
    // Shows the open-file dialog with a name filter; "" when cancelled.
    using SelectorArchivo = std::function<QString(QWidget* parent, const QString& filtro)>;

    TelvarConfig(Modulo1& m, Interaccion& ui, QWidget* parent = nullptr);

    // Replaces the open-file dialog (tests answer without one).
    void setSelectorArchivo(SelectorArchivo selector);

    void cmdRuta_Click();
    void bAceptar_Click();

    // The path accepted, "" while none is.
    const QString& rutaAceptada() const { return m_rutaAceptada; }

private:
    void Form_Load();

    Modulo1& m_m;
    SelectorConfig m_selector;
    SelectorArchivo m_selectorArchivo;
    QString m_rutaAceptada;
    QComboBox* m_cboDBConf;
    QPushButton* m_cmdRuta;
    QPushButton* m_bAceptar;
};

} // namespace telvar
