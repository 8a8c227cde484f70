#pragma once

#include "config/ConfigChooser.h"

#include <QDialog>
#include <QString>
#include <functional>

class QComboBox;
class QPushButton;

namespace telvar {

struct Modulo1;
class Interaccion;

// The chooser of the configuration database: a combo box with the paths
// TLVDirec.IAU remembers, a button to browse for another .mdb file, one to
// import a Jet file of an earlier installation and one to accept. Accepting
// checks the database and rewrites TLVDirec.IAU with the chosen path first;
// the main window then reopens whatever it names. Importing converts the Jet
// file (ConfigChooser::importJet) and, when the new file is taken, accepts
// it the same way.
class TelvarConfig final : public QDialog {
    Q_OBJECT
public:
    // Shows the open-file dialog with a name filter; "" when cancelled.
    using FilePicker = std::function<QString(QWidget* parent, const QString& filter)>;

    TelvarConfig(Modulo1& m, Interaccion& ui, QWidget* parent = nullptr);

    // Replaces the open-file dialog (tests answer without one).
    void setFilePicker(FilePicker picker);
    // Replaces the conversion of a Jet file (tests give their own).
    void setJetImporter(ConfigChooser::JetImporter importer);

    void cmdRuta_Click();
    void cmdImportar_Click();
    void bAceptar_Click();

    // The path accepted, "" while none is.
    const QString& acceptedPath() const { return m_acceptedPath; }

private:
    void Form_Load();
    QStringList items() const;
    void acceptPath(const QString& path);

    Modulo1& m_m;
    ConfigChooser m_chooser;
    FilePicker m_filePicker;
    QString m_acceptedPath;
    QComboBox* m_cboDBConf;
    QPushButton* m_cmdRuta;
    QPushButton* m_cmdImportar;
    QPushButton* m_bAceptar;
};

} // namespace telvar
