#pragma once

#include "common/Error.h"
#include "config/ConfigGridModel.h"
#include "config/ConfigLookup.h"

#include <QString>
#include <functional>
#include <memory>

namespace telvar {

struct Modulo1;
class Interaccion;
class Connection;

// How a run of Reinicia ended.
enum class ReiniciaOutcome {
    Done,       // the configuration is open, checked and bound
    Abandoned,  // left early after a report; the window stays open
    EndProgram, // the program must end (the report has been shown)
};

// The program's own configuration database as the main window holds it:
// Reinicia (re)opens the database that TLVDirec.IAU names, widens the station
// column when needed, checks the key columns against the master-key widths,
// and binds the grid's rows (RsConf) and the lookup over them (RsConfBusca).
class ConfigDatabase final {
public:
    // The data control's record source: every port with its clock, by port.
    static QString fullRecordSource();

    using Data1Opener = std::function<Result<std::unique_ptr<Connection>>(const QString&)>;

    ConfigDatabase(Modulo1& m, Interaccion& ui);
    ~ConfigDatabase();
    ConfigDatabase(const ConfigDatabase&) = delete;
    ConfigDatabase& operator=(const ConfigDatabase&) = delete;

    ReiniciaOutcome Reinicia();

    // The grid's rows (RsConf) and the lookup over them (RsConfBusca).
    ConfigGridModel& RsConf() { return *m_rsConf; }
    const ConfigGridModel& RsConf() const { return *m_rsConf; }
    const ConfigLookup& RsConfBusca() const { return m_rsConfBusca; }

    // The data control's connection string, as the last successful binding
    // (or the binding under way) set it.
    const QString& data1ConnectionString() const { return m_data1ConnectionString; }
    // The caption of bArchConf: the bare file name of the configuration
    // database, "" until a Reinicia has come that far.
    const QString& archConfCaption() const { return m_archConfCaption; }

    // How the data control opens its connection (the engine layer's open;
    // tests replace it to make the binding fail on purpose).
    void setData1Opener(Data1Opener opener);

private:
    enum class Action { Retry, Abandon, End };
    // Reinicia's error handler. repaired is given only where the failed step
    // can be repeated (the data control's opening); it records that the file
    // has been repaired once already.
    Action handleError(const Error& error, const QString& connectionString, bool* repaired);

    Modulo1& m_m;
    Interaccion& m_ui;
    std::unique_ptr<ConfigGridModel> m_rsConf;
    ConfigLookup m_rsConfBusca;
    QString m_data1ConnectionString;
    QString m_archConfCaption;
    Data1Opener m_data1Opener;
};

} // namespace telvar
