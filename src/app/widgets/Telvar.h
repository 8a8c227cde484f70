#pragma once

#include "config/ConfigDatabase.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace telvar {

struct Modulo1;
class Interaccion;
class TelvarConfig;

// The main window, where the program's parts meet: the configuration grid
// (tab 0), the readings and the recording log (tab 1), the acquisition and
// configuration buttons and the ten clock buttons. It shows the state held by
// the core (the configuration, the readings, the log) and forwards the
// person's actions; the work is done in the core.
class Telvar final : public QMainWindow {
    Q_OBJECT
public:
    // How bArchConf shows the chooser (modally); tests drive it instead.
    using ChooserRunner = std::function<void(TelvarConfig&)>;

    Telvar(Modulo1& m, Interaccion& ui, QWidget* parent = nullptr);
    ~Telvar() override;

    // The window's load: caption, master-data check, Reinicia, readings grid.
    // False when the program must end (the reason has been shown).
    bool Form_Load();

    // Reinicia, then the captions and the grid's layout when it succeeded.
    ReiniciaOutcome Reinicia();

    // Shows the chooser, then opens whatever TLVDirec.IAU names now. Emits
    // programMustEnd when that opening requires the program to end.
    void bArchConf_Click();

    void setChooserRunner(ChooserRunner runner);

    ConfigDatabase& configDatabase() { return m_configDatabase; }

    // What the readings tab shows; the acquisition and the recording fill them.
    ReadingsModel& readings() { return m_readings; }
    RecordingLog& recordingLog() { return m_recordingLog; }

signals:
    // The program must end now (its reason has been shown); main quits.
    void programMustEnd();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    QWidget* buildReadingsTab();
    void setCaptions();
    void layOutDBGrid1();
    void layOutDatoFlexGrid();
    void showRecordingLog();
    void fitRecordingLogTo(int heightPixels);
    void rememberCurrentPort();
    void restoreCurrentPort();
    void fitToScreen();

    Modulo1& m_m;
    Interaccion& m_ui;
    ConfigDatabase m_configDatabase;
    ReadingsModel m_readings;
    RecordingLog m_recordingLog;
    ChooserRunner m_runChooser;

    QTabWidget* m_SSTab1 = nullptr;
    QTableView* m_DBGrid1 = nullptr;
    QTableView* m_DatoFlexGrid = nullptr;
    QPlainTextEdit* m_txtGraba = nullptr;
    QPlainTextEdit* m_txtSource = nullptr;
    QPushButton* m_cmdAbre = nullptr;
    QPushButton* m_cmdConf = nullptr;
    QPushButton* m_bArchConf = nullptr;
    std::array<QPushButton*, 11> m_bReloj{}; // index 0 unused
    QLabel* m_lblStatus = nullptr;
    QLabel* m_lblDato = nullptr;
    QLabel* m_lblFormato = nullptr;
    QLabel* m_lblProducto = nullptr;
    QLabel* m_lblMaquina = nullptr;

    // The grid's current cell across a re-read of its rows.
    std::optional<int> m_currentPuert;
    int m_currentColumn = -1;
};

} // namespace telvar
