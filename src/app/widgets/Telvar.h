#pragma once

#include "acquisition/PageLoader.h"
#include "app/GridEditUndo.h"
#include "app/Router.h"
#include "recording/ReadingHistory.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QKeyEvent;
class QTableView;
class QPushButton;
class QTabWidget;
class QModelIndex;
class QSplitter;

namespace telvar {

struct Modulo1;
class Clock;
class Interaccion;
class PageLoader;
class TelvarConfig;
class PortStatusColumn;
class ReadingChart;
class HtmlCanal;
class Salir;
class ColumnFit;
class ReadingsFollow;
struct PortOutcome;

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
    // How cmdConf shows the port form (modally); tests drive it instead.
    using PortFormRunner = std::function<void(HtmlCanal&)>;
    // How a close by the person shows the exit dialog (modally); tests
    // drive it instead.
    using ExitDialogRunner = std::function<void(Salir&)>;

    // How the window is being closed.
    enum class UnloadMode {
        FormControlMenu, // by the person, from the window's close box or menu
        FormCode,        // by the program itself
        AppWindows,      // the session is ending (log-out, shut-down)
    };

    // The window of the router given, which outlives it.
    Telvar(Modulo1& m, Interaccion& ui, Router& router, QWidget* parent = nullptr);
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

    // Opens the port form on the grid's current port; when it has closed,
    // reads the configuration again and returns the grid to that port.
    // Emits programMustEnd when the reading requires the program to end.
    void cmdConf_Click();
    void setPortFormRunner(PortFormRunner runner);

    // Whether the window may close: a close by the person needs the
    // password of an active configurator (asked in the exit dialog); other
    // closes are not guarded. True when the close is refused. When it is
    // allowed, the configuration's rows are closed first.
    bool Form_QueryUnload(UnloadMode mode);
    void setExitDialogRunner(ExitDialogRunner runner);

    // Fetches the page of the grid's current port into txtSource without
    // waiting for it: the window and the clocks go on, the status line says
    // how it went, and the page stays in the box (the cycles' pages do not
    // replace it) until the person lets the box follow the cycles again. A
    // press while a fetch runs, or with no port chosen, does nothing.
    void cmdHtml_Click();
    bool fetchingPage() const { return m_htmlTicket != 0; }

    // Takes back the newest change typed into the configuration grid
    // (while the acquisition is stopped).
    void undoGridEdit();

    Router& router() { return m_router; }
    ConfigDatabase& configDatabase() { return m_router.configDatabase(); }
    Acquisition& acquisition() { return m_router.acquisition(); }

    // What the readings tab shows; the acquisition and the recording fill them.
    ReadingsModel& readings() { return m_router.readings(); }
    RecordingLog& recordingLog() { return m_router.recordingLog(); }
    // Where readings that could not be recorded are written down.
    const UnrecordedLog& unrecordedLog() const { return m_router.unrecordedLog(); }
    // The chart of the port a person picked in the readings grid (until one
    // is picked, the port chosen in the configuration grid).
    ReadingChart& readingChart() { return *m_chart; }

    // Where the window keeps its splitters and column widths between runs.
    static QString layoutFile();

signals:
    // The program must end now (its reason has been shown); main quits.
    void programMustEnd();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void connectAcquisition();
    void showRecordingStatus();
    void showRunning(bool running);
    void showDisplayText(AcquisitionDisplay::Field field, const QString& text);
    void editorOpened();
    void editorClosed();
    void aboutToWriteCell(const QModelIndex& index);
    void cellWritten(int puert, const QString& field);
    void showUndo();
    bool gridKeyPressed(QKeyEvent* event);
    void pageFetched(PageLoader::Ticket ticket, const LoadedPage& page);
    void showPortOutcome(const PortOutcome& outcome);
    QString portOutcomeText(const PortOutcome& outcome) const;
    void showPageOf(const QString& what, bool pinned);
    void selectFirstPortWhenNoneIs();
    void followGridPortInChart();
    void saveLayout() const;
    void restoreLayout();
    void setInitialSplits();
    void splitReadingsAndChart();
    int readingsGridLeast() const;
    void currentRowChanged(const QModelIndex& current, const QModelIndex& previous);
    void setStatus(const QString& text);
    void buildControls();
    QWidget* buildReadingsTab();
    void setCaptions();
    void layOutDBGrid1();
    int statusColumnWidth() const;
    void layOutDatoFlexGrid();
    void showRecordingLog();
    void fitRecordingLogTo(int heightPixels);
    void rememberCurrentPort();
    void restoreCurrentPort();
    void fitToScreen();
    void chartPortOf(const QModelIndex& reading);

    Modulo1& m_m;
    Interaccion& m_ui;
    Router& m_router;
    // Each port's last readings, for the chart.
    ReadingHistory m_history;
    ReadingChart* m_chart = nullptr;
    ChooserRunner m_runChooser;
    PortFormRunner m_runPortForm;
    ExitDialogRunner m_runExitDialog;
    // True while a close by the person is being checked: a second close
    // request meanwhile (the check keeps events running) is refused.
    bool m_exitBeingChecked = false;

    QTabWidget* m_SSTab1 = nullptr;
    QTableView* m_DBGrid1 = nullptr;
    // What DBGrid1 shows: the configuration's rows with the ports' status.
    PortStatusColumn* m_statusColumn = nullptr;
    QTableView* m_DatoFlexGrid = nullptr;
    ReadingsFollow* m_readingsFollow = nullptr;
    ColumnFit* m_readingsFit = nullptr;
    ColumnFit* m_configFit = nullptr;
    QSplitter* m_readingsAndChart = nullptr;
    QSplitter* m_readingsSplitter = nullptr;
    // Which page txtSource shows, and the button that lets it follow the
    // cycles again after an HTML fetch.
    QLabel* m_pageOf = nullptr;
    QPushButton* m_pageFollow = nullptr;
    bool m_pagePinned = false;
    // What the page box says of the latest page a cycle showed.
    QString m_cyclePageOf;
    PageLoader::Ticket m_htmlTicket = 0;
    int m_htmlPuert = 0;
    QPlainTextEdit* m_txtGraba = nullptr;
    QPlainTextEdit* m_txtSource = nullptr;
    // The readings that waiting cannot record, and the button that sends
    // them again.
    QTableView* m_quarantine = nullptr;
    QPushButton* m_resend = nullptr;
    QLabel* m_lblRecording = nullptr;
    QPushButton* m_cmdAbre = nullptr;
    QPushButton* m_cmdConf = nullptr;
    QPushButton* m_bArchConf = nullptr;
    QPushButton* m_cmdHtml = nullptr;
    QPushButton* m_cmdUndo = nullptr;
    GridEditUndo m_undo;
    // The cell being written from the grid's editor, until the model says
    // it reached the database.
    std::optional<GridEditUndo::Change> m_pendingChange;
    // Whether a cell editor of the configuration grid is open.
    bool m_editing = false;
    // Whether the person picked the chart's port (a click on a reading);
    // until then it follows the configuration grid's current port.
    bool m_chartPicked = false;
    bool m_layoutRestored = false;
    // Whether the person set the split between readings and chart.
    bool m_readingsSplitByPerson = false;
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
