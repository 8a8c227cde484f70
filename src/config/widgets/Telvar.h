#pragma once

#include "config/Configuracion.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTableWidget;

namespace telvar {

struct Modulo1;
class Interaccion;
class TelvarConfig;

// The main window: the configuration grid (tab 0), the readings and the
// recording log (tab 1), the acquisition and configuration buttons and the
// ten clock buttons. It shows the state held by Configuracion and forwards
// the person's actions; the work is done in the core.
class Telvar final : public QMainWindow {
    Q_OBJECT
public:
    // How bArchConf shows the chooser (modally); tests drive it instead.
    using MuestraSelector = std::function<void(TelvarConfig&)>;

    Telvar(Modulo1& m, Interaccion& ui, QWidget* parent = nullptr);
    ~Telvar() override;

    // The window's load: caption, master-data check, Reinicia, readings grid.
    // False when the program must end (the reason has been shown).
    bool Form_Load();

    // Reinicia, then the captions and the grid's layout when it succeeded.
    ResultadoReinicia Reinicia();

    // Shows the chooser, then opens whatever TLVDirec.IAU names now. Emits
    // terminarPrograma when that opening requires the program to end.
    void bArchConf_Click();

    void setMuestraSelector(MuestraSelector muestra);

    Configuracion& configuracion() { return m_configuracion; }

    // The controls, for the acquisition and recording that run on this window.
    QTabWidget* SSTab1() const { return m_SSTab1; }
    QTableView* DBGrid1() const { return m_DBGrid1; }
    QTableWidget* DatoFlexGrid() const { return m_DatoFlexGrid; }
    QPlainTextEdit* txtGraba() const { return m_txtGraba; }
    QPlainTextEdit* txtSource() const { return m_txtSource; }
    QPushButton* cmdAbre() const { return m_cmdAbre; }
    QPushButton* cmdConf() const { return m_cmdConf; }
    QPushButton* bArchConf() const { return m_bArchConf; }
    // Clock buttons 1 to 10.
    QPushButton* bReloj(int index) const { return m_bReloj.at(std::size_t(index)); }
    QLabel* lblStatus() const { return m_lblStatus; }
    QLabel* lblDato() const { return m_lblDato; }
    QLabel* lblFormato() const { return m_lblFormato; }
    QLabel* lblProducto() const { return m_lblProducto; }
    QLabel* lblMaquina() const { return m_lblMaquina; }

signals:
    // The program must end now (its reason has been shown); main quits.
    void terminarPrograma();

private:
    void construye();
    void ponCaptions();
    void disenaDBGrid1();
    void disenaDatoFlexGrid();
    void recuerdaFilaActual();
    void restauraFilaActual();
    void ajustaTamano();

    Modulo1& m_m;
    Interaccion& m_ui;
    Configuracion m_configuracion;
    MuestraSelector m_muestraSelector;

    QTabWidget* m_SSTab1 = nullptr;
    QTableView* m_DBGrid1 = nullptr;
    QTableWidget* m_DatoFlexGrid = nullptr;
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
    std::optional<int> m_puertActual;
    int m_columnaActual = -1;
};

} // namespace telvar
