#pragma once

#include "acquisition/Clock.h"
#include "common/RuntimeError.h"
#include "database/Connection.h"
#include "recording/Grabacion.h"

#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace telvar {

struct Modulo1;
class Interaccion;

// The shift of a time of day given as "hhnn": the identifier of the first
// shift, in the order of the installation's shift file, whose TurnoHasta
// lies after the time; " " when the time is at or after every one.
QString TurnoDeHora(const Modulo1& m, const QString& horaHhnn);

// The name of the data database that belongs to the SPC database named base,
// for the company empresa: base + "DATA"; at the sites whose company name
// holds the keyword KORVEXIA (in any case) the name differs from base in its
// sixth character, which is "1" (PLANTA gives PLANT1). std::nullopt when
// that cannot be, because the sixth character of base already is "1".
//
// A base shorter than six characters at such a site gets the "1" appended
// (PLANT gives PLANT1, ABC gives ABC1): the classic string functions behave
// so, and the result still names another database than base.
std::optional<QString> dataDatabaseName(const QString& empresa, const QString& base);

// The critical box's text when base cannot have a data database.
QString sextoCaracterMessage(const QString& base);

// What SQLFileDat gives: the data database's name, or that the program must
// end (the critical box has then been shown, and nombre is empty).
struct SqlFileDatResult {
    QString nombre;
    bool terminarPrograma = false;
};

// dataDatabaseName for the installation's company (m.Empresa); when base is
// refused, shows the critical box sextoCaracterMessage(base) and says the
// program must end.
SqlFileDatResult SQLFileDat(const Modulo1& m, Interaccion& ui, const QString& base);

// Records readings into the SPC data tables: on "[JET4]" the table Datos of
// the file RutaDatos/<format>/<machine>/<product>.MDB; on the server engines
// ("[SQLSERVER]", "[MSOLEDBSQL]", "[SYBASE9]", "[POSTGRESQL]") the table
// Datos_<format>_<machine>_<product> of the database SQLFileDat(BaseDatos)
// on the same server. "[INFORMIX10]" has no data location: every reading is
// refused with an error.
//
// A reading fills the characteristic's empty cell in the table's last row
// when that row is at most DTMP seconds old; otherwise it starts a new row
// stamped with the date and time, the shift and the operator. The decision
// and the write are one transaction that holds off every other writer of
// the table (another router, or this one through another connection) from
// before the last row is read until the write is committed, so two writers
// can never both take the same empty cell or both miss the other's row:
// - SQLite: BEGIN IMMEDIATE takes the file's write lock at once; a second
//   writer waits for it (busy timeout).
// - PostgreSQL: LOCK TABLE ... IN SHARE ROW EXCLUSIVE MODE, a lock that
//   conflicts with itself and with every write but not with readers, so
//   the SPC program's charts keep reading; a second writer waits for it
//   (lock_timeout).
// - SQL Server: a table lock held to the end (UPDLOCK, HOLDLOCK, TABLOCK);
//   SQL Anywhere: LOCK TABLE ... IN EXCLUSIVE MODE. (Not run here: no such
//   server is available to the tests.)
// Any failure rolls the whole reading back: nothing is written in part.
//
// Connections stay open between readings, at most kMaxConnections of them
// (the least recently used goes first), keyed by their connection string;
// to the person it is as if each reading opened its own (openings go
// through OpenDBOK with its reports). A connection is closed as soon as
// anything fails on it. A data file is checked again for every reading (the
// path checks, read-only, and that the path still names the very file the
// connection has open): a file removed, replaced or made read-only is never
// written through a connection made before. A server connection found dead
// when a reading begins (the server restarted meanwhile) is replaced by a
// new one for that reading; nothing had been sent on it.
//
// Everything runs on the thread that owns the object. The person's boxes
// (OpenDBOK's, SQLFileDat's) are shown before any connection is used, so a
// reading recorded from a timer that fires under one of them finds the
// connections in order.
class GrabaQLTR final : public Grabador {
public:
    // The gathering window the reading check passes, in seconds.
    static constexpr double kDTMP = 300;
    // How many connections stay open at most.
    static constexpr std::size_t kMaxConnections = 16;

    GrabaQLTR(Modulo1& m, Interaccion& ui, const Clock& clock);
    ~GrabaQLTR() override;
    GrabaQLTR(const GrabaQLTR&) = delete;
    GrabaQLTR& operator=(const GrabaQLTR&) = delete;

    // Records one reading, stamped with the clock's date and time. Gives
    // Grabado, a path-check code ("[JET4]" only; nothing written), or an
    // error for anything else (nothing written). lastErrorShown() tells
    // whether the person has already seen that error.
    Result<CodeErr> grabar(const LecturaAGrabar& lectura, double DTMP = kDTMP);

    // True when the last grabar's error has already been shown to the
    // person: a failed opening (OpenDBOK reports it itself, or the password
    // prompt was abandoned), or the box of SQLFileDat. The caller reports
    // every other error.
    bool lastErrorShown() const override { return m_lastErrorShown; }

    // The reading check's recording: grabar with the window kDTMP.
    Result<CodeErr> grabarLectura(const LecturaAGrabar& lectura) override
    {
        return grabar(lectura, kDTMP);
    }

    // Set once SQLFileDat has said the program must end (its box has been
    // shown); from then on every reading is refused without another box.
    bool programMustEnd() const { return m_programMustEnd; }

    // The data file of a reading of this format, machine and product as the
    // log lines name it: RutaDatos + format + separator + machine +
    // separator + product + ".MDB", each name without surrounding blanks.
    QString archivoDatos(const QString& forma, const QString& maqui, const QString& produ) const;
    // What a path-check code found missing, as the log lines name it: the
    // format's directory (1), the machine's directory (2) or the data file
    // (3); "" for Grabado.
    QString rutaFaltante(CodeErr code, const QString& forma, const QString& maqui,
                         const QString& produ) const;

    // How long a reading waits for another writer of its table before it
    // fails (5 seconds unless set).
    void setLockWait(std::chrono::milliseconds wait) { m_lockWait = wait; }
    std::chrono::milliseconds lockWait() const { return m_lockWait; }

    // Closes every connection kept open (when the acquisition stops, say).
    void closeConnections();
    // How many connections are open now.
    std::size_t openConnections() const { return m_cache.size(); }

private:
    // The identity of a data file: what tells that a path still names the
    // file a connection has open, and with the same permissions.
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        mode_t mode = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    // Where one reading goes.
    struct Destino {
        QString conexion;
        QString tabla;
        QString lugar; // the table and its database, as error descriptions name them
        std::optional<FileIdentity> file;
        bool server = false;
    };
    struct CachedConnection {
        QString conexion;
        std::unique_ptr<Connection> cn;
        std::optional<FileIdentity> file;
        quint64 lastUse = 0;
    };
    struct Opened {
        Connection* cn = nullptr;
        bool reused = false;
    };

    Result<Destino> destinoJet(const LecturaAGrabar& lectura, CodeErr& code);
    Result<Destino> destinoServidor(const LecturaAGrabar& lectura);
    Result<Opened> connectionFor(const Destino& destino, bool fresh);
    void drop(const QString& conexion);
    static std::optional<FileIdentity> identityOf(const QString& path);

    Modulo1& m_m;
    Interaccion& m_ui;
    const Clock& m_clock;
    std::chrono::milliseconds m_lockWait{5000};
    std::vector<CachedConnection> m_cache;
    quint64 m_uses = 0;
    bool m_lastErrorShown = false;
    bool m_programMustEnd = false;
};

} // namespace telvar
