#pragma once

#include "config/ConfigChooser.h"
#include "config/ConfigImportRun.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace telvar {

struct Modulo1;
class Interaccion;

// The chooser of the configuration database: a combo box with the paths
// TLVDirec.IAU remembers, a button to browse for another .mdb file, one to
// import a Jet file of an earlier installation and one to accept. Accepting
// checks the database and rewrites TLVDirec.IAU with the chosen path first;
// the main window then reopens whatever it names. Importing converts the Jet
// file in telvar-import's process (ConfigImportRun) while the window, and
// the program's timers and acquisition behind it, go on: a line under the
// buttons shows how far it has come, Cancel (cancelImport) stops it leaving
// nothing behind, and closing the window asks first. When the new file is
// taken it is accepted the same way.
class TelvarConfig final : public QDialog {
    Q_OBJECT
public:
    // Shows the open-file dialog with a name filter; "" when cancelled.
    using FilePicker = std::function<QString(QWidget* parent, const QString& filter)>;

    TelvarConfig(Modulo1& m, Interaccion& ui, QWidget* parent = nullptr);

    // Replaces the open-file dialog (tests answer without one).
    void setFilePicker(FilePicker picker);
    // Replaces telvar-import (tests give another program).
    void setImportProgram(const QString& program);

    void cmdRuta_Click();
    // Asks what to import and starts it; nothing while an import runs.
    void cmdImportar_Click();
    // Stops the import running: no file is left and the chooser says so.
    void cancelImport_Click();
    void bAceptar_Click();

    bool importRunning() const { return m_import.isRunning(); }
    // The import running or last run (tests follow it).
    const ConfigImportRun& importRun() const { return m_import; }

    // Closing while an import runs asks first; stopping it closes.
    void done(int result) override;

    // The path accepted, "" while none is.
    const QString& acceptedPath() const { return m_acceptedPath; }

private:
    void Form_Load();
    QStringList items() const;
    void acceptPath(const QString& path);
    void showImportRunning(bool running);
    void showImportProgress();
    void importFinished();
    void endImport();

    Modulo1& m_m;
    Interaccion& m_ui;
    ConfigChooser m_chooser;
    ConfigImportRun m_import;
    std::optional<ImportRequest> m_importRequest;
    // The question before closing is shown; an import that ends meanwhile
    // is taken up once it is answered.
    bool m_askingToClose = false;
    bool m_endedWhileAsking = false;
    FilePicker m_filePicker;
    QString m_acceptedPath;
    QComboBox* m_cboDBConf;
    QPushButton* m_cmdRuta;
    QPushButton* m_cmdImportar;
    QPushButton* m_bAceptar;
    QProgressBar* m_importBusy;
    QLabel* m_importStatus;
    QPushButton* m_cancelImport;
    QTimer* m_importClock;
};

} // namespace telvar
