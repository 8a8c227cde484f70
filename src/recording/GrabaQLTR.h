#pragma once

#include "acquisition/Clock.h"
#include "common/Error.h"
#include "common/Modulo1.h"
#include "database/Connection.h"
#include "recording/OutboxEntry.h"
#include "recording/ReadingToRecord.h"

#include <QList>
#include <QString>
#include <chrono>
#include <functional>
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
QString TurnoDeHora(const Modulo1& m, const QString& hhnn);

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
QString sixthCharacterMessage(const QString& base);

// What SQLFileDat gives: the data database's name, or that the program must
// end (the critical box has then been shown, and name is empty).
struct SqlFileDatResult {
    QString name;
    bool endProgram = false;
};

// dataDatabaseName for the installation's company (m.Empresa); when base is
// refused, shows the critical box sixthCharacterMessage(base) and says the
// program must end.
SqlFileDatResult SQLFileDat(const Modulo1& m, Interaccion& ui, const QString& base);

// What the writing of one data table's readings gave.
struct BatchResult {
    // The readings the table has now committed (those found there already,
    // committed before a crash, among them), in order.
    QList<qint64> recorded;
    // The readings that waiting cannot record, with why; none of them was
    // written.
    QList<QuarantinedEntry> refused;
    // Set when the table could not be written for a reason that waiting may
    // mend (server unreachable or read-only, file locked or read-only, disk
    // full, an I/O error, a timeout): the readings neither recorded nor
    // refused stay to be tried again.
    std::optional<Error> retry;
};

// Records readings into the SPC data tables: on "[JET4]" the table Datos of
// the file <data dir>/<format>/<machine>/<product>.MDB; on the server
// engines ("[SQLSERVER]", "[MSOLEDBSQL]", "[SYBASE9]", "[POSTGRESQL]") the
// table Datos_<format>_<machine>_<product> of the data database on the same
// server. "[INFORMIX10]" has no data location: every reading is refused.
//
// Stamps are wall times (WallTime): the data tables keep the local date and
// time without an offset, the rows' stamps are read as such, and a
// reading's own instant is turned into the wall time the local clock showed
// then, once. Times are compared and the window is measured on the wall
// clock, never through the time zone.
//
// Gathering. A reading fills its characteristic's empty cell in the row
// with the latest stamp not later than the reading's wall time (of two with
// the same stamp, the one with the higher N) when that stamp is at most DTMP
// seconds before it; otherwise it starts a new row stamped with its wall
// time, shift and operator. A reading never joins a row whose stamp is
// later than its own or more than DTMP earlier, nor a row whose cell for it
// is filled (it does not look further back then).
// - A reading on time (no row is later than it) so fills the last row when
//   that row is at most DTMP older and its cell is empty, and otherwise
//   starts a new row.
// - A reading recorded late (after an outage, or one that waited while
//   another writer added rows) finds the row its own time chooses among the
//   last row and the kMaxRowsLookedBack rows before it. A row it starts
//   gets the next N but is found by its stamp: the late readings after it,
//   in the same batch or a later one, gather into it as readings on time
//   would have, rather than each making a row of its own.
// - A last row whose stamp cannot be read gives the reading a row of its
//   own; older rows whose stamps cannot be read are passed over.
// - The hour that occurs twice when the clocks go back (in Europe/Madrid,
//   02:00 to 03:00 on the last Sunday of October) shows each wall time
//   twice. A reading in the second pass of the hour compares by wall time:
//   after a row stamped at the first 02:50, a reading at the second 02:10 is
//   earlier than that row, so it looks back by its own time; it joins a row
//   of the first pass stamped at most DTMP before 02:10 whose cell is empty,
//   else starts a row of its own, which the second pass's readings after it
//   then gather into. A reading of the second pass at 02:52 may likewise
//   fill an empty cell of the first pass's 02:50 row. In spring the skipped
//   hour shows no wall time: a row at 01:58 and a reading at 03:01, three
//   minutes later by the clock's instants, are 63 minutes apart, and the
//   reading starts a new row.
//
// The readings of one table are written in one transaction that holds off
// every other writer of the table (another router, or the SPC program) from
// before the rows are read until the commit, so two writers can never
// both take the same empty cell or both miss the other's row:
// - SQLite: BEGIN IMMEDIATE takes the file's write lock at once; a second
//   writer waits for it (busy timeout).
// - PostgreSQL: LOCK TABLE ... IN SHARE ROW EXCLUSIVE MODE, a lock that
//   conflicts with itself and with every write but not with readers, so
//   the SPC program's charts keep reading; a second writer waits for it
//   (lock_timeout).
// - SQL Server: a table lock held to the end (UPDLOCK, HOLDLOCK, TABLOCK);
//   SQL Anywhere: LOCK TABLE ... IN EXCLUSIVE MODE. (Not run here: no such
//   server is available to the tests.)
// Any failure rolls the whole transaction back: nothing is written in part.
// A failure that waiting may mend is the table's: a lock held too long, a
// server unreachable or read-only (a failover), a disk full, an I/O error,
// a read-only file system or data file, a data file that exists but cannot
// be opened now. The batch then stops and its readings wait to be tried
// again (BatchResult::retry). A reading that fails on its own in a way
// waiting cannot mend (its column is missing, its value does not fit) is
// refused and the others are written in a new transaction; a table that
// is missing, a missing directory or data file, an engine without data
// tables refuse the batch.
//
// Exactly once: after the writes and before the commit, beforeCommit hears
// which row each reading went to (the outbox keeps that); a reading that
// arrives with such a row from an earlier attempt is looked for in that row
// first, and written again only when it is not there. It is there when that
// row's cell holds the reading's own value as its column keeps it (the same
// text, right-trimmed of blanks in a fixed-width CHAR(n) column; a number
// within the column's own rounding: a NUMERIC(p,s) column's s decimals, a
// REAL column's float precision) and, when the reading made the row, the
// row has the reading's wall time and operator. See alreadyThere in the
// source for the one case this cannot tell apart.
//
// Connections stay open between batches, at most kMaxConnections of them
// (the least recently used goes first), keyed by their connection string.
// They are opened without any box or question: this object runs on the
// writer's thread, and its outcomes are values. A connection is closed as
// soon as anything fails on it. A data file is checked again for every batch
// (the path checks, read-only, and that the path still names the very file
// the connection has open). A server connection found dead when a batch
// begins is replaced by a new one for that batch; nothing had been sent on
// it.
//
// Everything runs on the thread that owns the object.
class GrabaQLTR final {
public:
    // The gathering window the reading check passes, in seconds.
    static constexpr double kDTMP = 300;
    // How many connections stay open at most.
    static constexpr std::size_t kMaxConnections = 16;
    // How many rows before the last one a reading looks through for the
    // row its time chooses.
    static constexpr int kMaxRowsLookedBack = 1000;

    // Hears the readings of a batch with the rows they were written into,
    // before the commit; an error it gives rolls the batch back.
    using BeforeCommit = std::function<Status(const QList<OutboxEntry>& prepared)>;

    // installation: the start-up values the connections and the data
    // locations are built from (engine, data directory, server, user and
    // database password, company and shifts), copied so that the writer's
    // thread shares no state with the window's.
    GrabaQLTR(Modulo1 installation, const Clock& clock);
    ~GrabaQLTR();
    GrabaQLTR(const GrabaQLTR&) = delete;
    GrabaQLTR& operator=(const GrabaQLTR&) = delete;

    // The outbox entry of a reading stamped at stamp (the instant, in local
    // time, to the whole second), with its data location and shift; an error when the server
    // engine's data database cannot be named (sixthCharacterMessage).
    static Result<OutboxEntry> entryFor(const Modulo1& m, const ReadingToRecord& toRecord,
                                        const QDateTime& stamp);

    // Records the readings of one data table (all of one destinationKey), in
    // their order, in one transaction.
    BatchResult recordBatch(QList<OutboxEntry> entries, const BeforeCommit& beforeCommit = {},
                            double DTMP = kDTMP);

    // Records one reading stamped with the clock's date and time: Recorded, a
    // path-check code ("[JET4]" only; nothing written), or an error for
    // anything else (nothing written).
    Result<CodeErr> recordOne(const ReadingToRecord& toRecord, double DTMP = kDTMP);

    // The data file of a reading of this format, machine and product as the
    // log lines name it: the data directory + format + separator + machine
    // + separator + product + ".MDB", each name without surrounding blanks.
    static QString dataFilePath(const QString& dataPath, const QString& forma, const QString& maqui,
                                const QString& produ);
    // What a path-check code found missing, as the log lines name it: the
    // format's directory (1), the machine's directory (2) or the data file
    // (3); "" for Recorded.
    static QString missingPath(const QString& dataPath, CodeErr code, const QString& forma,
                               const QString& maqui, const QString& produ);
    // Where an entry goes, as reports name it: its data file, or its table
    // and data database.
    static QString place(const OutboxEntry& entry);

    // How long a batch waits for another writer of its table before it
    // fails (2 seconds unless set).
    void setLockWait(std::chrono::milliseconds wait) { m_lockWait = wait; }
    std::chrono::milliseconds lockWait() const { return m_lockWait; }

    // The database password typed at a prompt of the window's since the
    // installation was copied: connections are opened with it from now on.
    void setPassBD(const QString& passBD);

    // Closes every connection kept open.
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
    // Where one batch goes.
    struct Destination {
        QString conexion;
        QString tableName;
        QString place; // the table and its database, as error descriptions name them
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
    // Where a batch goes, or why none of it can be recorded.
    struct Resolved {
        std::optional<Destination> destination;
        CodeErr code = CodeErr::Recorded;
        std::optional<Error> error;
    };

    Resolved resolve(const OutboxEntry& first) const;
    Resolved jetDestination(const OutboxEntry& first) const;
    Result<Opened> connectionFor(const Destination& destination, bool fresh);
    void drop(Connection* cn);
    static std::optional<FileIdentity> identityOf(const QString& path);

    Modulo1 m_m;
    const Clock& m_clock;
    std::chrono::milliseconds m_lockWait{2000};
    std::vector<CachedConnection> m_cache;
    quint64 m_uses = 0;
};

} // namespace telvar
