#pragma once

#include "common/RuntimeError.h"
#include "config/ConfigBusca.h"
#include "config/ConfigGridModel.h"

#include <QString>
#include <functional>
#include <memory>

namespace telvar {

struct Modulo1;
class Interaccion;
class Connection;

// How a run of Reinicia ended.
enum class ResultadoReinicia {
    Hecho,            // the configuration is open, checked and bound
    Abandonado,       // left early after a report; the window stays open
    TerminarPrograma, // the program must end (the report has been shown)
};

// The program's own configuration database as the main window holds it:
// Reinicia (re)opens the database that TLVDirec.IAU names, widens the station
// column when needed, checks the key columns against the master-key widths,
// and binds the grid's rows (RsConf) and the lookup over them (RsConfBusca).
class Configuracion final {
public:
    // The data control's record source: every port with its clock, by port.
    static QString recordSourceCompleto();

    using AbridorData1 = std::function<Result<std::unique_ptr<Connection>>(const QString&)>;

    Configuracion(Modulo1& m, Interaccion& ui);
    ~Configuracion();
    Configuracion(const Configuracion&) = delete;
    Configuracion& operator=(const Configuracion&) = delete;

    ResultadoReinicia Reinicia();

    // The grid's rows (RsConf) and the lookup over them (RsConfBusca).
    ConfigGridModel& RsConf() { return *m_rsConf; }
    const ConfigGridModel& RsConf() const { return *m_rsConf; }
    const ConfigBusca& RsConfBusca() const { return m_rsConfBusca; }

    // The data control's connection string, as the last successful binding
    // (or the binding under way) set it.
    const QString& conexionData1() const { return m_conexionData1; }
    // The caption of bArchConf: the bare file name of the configuration
    // database, "" until a Reinicia has come that far.
    const QString& nombreArchConf() const { return m_nombreArchConf; }

    // How the data control opens its connection (the engine layer's open;
    // tests replace it to make the binding fail on purpose).
    void setAbridorData1(AbridorData1 abridor);

private:
    enum class Accion { Reintentar, Abandonar, Terminar };
    // Reinicia's error handler. reparado is given only where the failed step
    // can be repeated (the data control's opening); it records that the file
    // has been repaired once already.
    Accion manejaError(const RuntimeError& error, const QString& conexion, bool* reparado);

    Modulo1& m_m;
    Interaccion& m_ui;
    std::unique_ptr<ConfigGridModel> m_rsConf;
    ConfigBusca m_rsConfBusca;
    QString m_conexionData1;
    QString m_nombreArchConf;
    AbridorData1 m_abridorData1;
};

} // namespace telvar
