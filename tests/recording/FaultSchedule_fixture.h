#pragma once

#include "recording/OutboxAppender.h"
#include "recording/RecordingWriter.h"
#include "support/EngineDatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace telvar::test {

// Fault schedules: a handful of readings of two routers (each with its own
// outbox, appender and writer) recorded into the same data tables while
// crashes, injected failures, another router's writes, the SPC program's
// rows and causes of quarantine come in between, every step chosen by a
// seed. After each schedule every reading the outboxes kept must be in its
// table exactly once or in a quarantine with its reason, never both and
// never neither.

// One reading of a schedule. Its value is its number (in a numeric column,
// or as text in the CHAR column C3), so that each is told apart in the
// tables. product: 1 (Fecha text), 2 (Fecha a timestamp on PostgreSQL, a
// DATETIME column on SQLite), 3 (the data file or table is missing until
// mended). carac: C1, C2 (numbers), C3 (CHAR(12)), C4 (a column missing
// until mended).
struct ScheduledReading {
    int number = 0;
    int router = 0;
    int product = 1;
    QString carac;
    qint64 stampMs = 0; // the instant
};

// What goes wrong at one step of a writer's batch or of an appender.
enum class Fault {
    None,
    Crash,
    // The outbox's own failures (the note, the removal, the appender's
    // commit), with SQLite's codes as the outbox reads them.
    OutboxBusy,
    OutboxLocked,
    OutboxFull,
    OutboxIoError,
    OutboxReadOnly,
    OutboxDamaged,
    // The data table's commit on SQLite, with SQLite's codes.
    FileBusy,
    FileLocked,
    FileFull,
    FileIoError,
    FileReadOnly,
    FileCantOpen,
    FileConstraint,
    // The data table's commit on PostgreSQL, with its SQLSTATEs.
    ServerReadOnly,
    ConnectionLost,
    ServerDiskFull,
    LockTimeout,
    SerializationFailure,
    AdminShutdown,
    ServerConstraint,
    // The other router drains at this moment (inside this transaction).
    OtherRouterDrains,
};

struct ScheduleAction {
    enum class Kind {
        // The readings are handed to the router's appender (or appended
        // to its outbox directly); a fault at appenderStep.
        Append,
        // The router's writer drains; a fault at step.
        Drain,
        // Send again: the quarantine moved back, then a drain (fault at
        // step), or a crash right after the move (crashAfterRequeue).
        Resend,
        // The SPC program adds a row of its own to product's table.
        ForeignRow,
        // Another connection holds product's table while the router drains.
        HoldTableLock,
        // product's data file is read-only while the router drains (SQLite).
        ReadOnlyFile,
        // The router is stopped and started again (held readings handed
        // back).
        Restart,
    };
    Kind kind = Kind::Drain;
    int router = 0;
    QList<int> readings; // Append: numbers of the readings
    bool throughAppender = true;
    OutboxAppender::Step appenderStep = OutboxAppender::Step::BeforeAppend;
    RecordingWriter::Step step = RecordingWriter::Step::BeforeMark;
    Fault fault = Fault::None;
    bool crashAfterRequeue = false;
    int product = 1;
    qint64 stampMs = 0; // ForeignRow
};

struct Schedule {
    quint64 seed = 0;
    Engine engine = Engine::Sqlite;
    int routers = 1;
    bool missingFile = false;   // product 3 has no data file or table until mended
    bool missingColumn = false; // C4 is no column until mended
    QList<ScheduledReading> readings;
    QList<ScheduleAction> actions;
    // Once the causes are mended: Send again on each router, with a fault
    // on resendRouter's (and, on SQLite, the mended files' readings sent
    // again first by the writer's own check).
    int resendRouter = 0;
    ScheduleAction resend;
    bool retryMendedFirst = false;
    // Whether the causes are mended while the routers run (their writers'
    // connections to the data files open), or the routers are stopped for
    // it and started again.
    bool mendWhileRunning = true;

    // The schedule as a person reads it (stamps in local time).
    QString describe() const;
};

// Kinds of fault that once broke the promise, each found by a kept seed.
// While a kind is open in the product, the random schedules can leave it
// out so that they go on finding others; all of these are mended, and on
// unless TELVAR_FAULT_OPEN names only some.
struct OpenFaults {
    // A commit that fails for good (a deferred constraint) quarantines the
    // whole batch, readings found already committed by an earlier attempt
    // included: they end both in the table and in the quarantine.
    bool constraintAtCommit = false;
    // A column added to a data file while a writer's connection to it is
    // open: the writer's next look at the table's columns (SELECT *)
    // crashes Qt's SQLite driver, whose row buffer keeps the column count
    // of before. Left out, the routers are stopped while the engineer adds
    // the column on SQLite.
    bool columnAddedUnderOpenConnection = false;
    // The outbox found damaged when a batch's readings are removed, in a
    // batch with refused readings too: the writer lets go of the outbox and
    // then moves those readings to the quarantine through it (a null
    // outbox; the program ends with a segmentation fault).
    bool damagedOutboxAtRemoval = false;
    // Every open fault (TELVAR_FAULT_OPEN=all).
    static OpenFaults all() { return {true, true, true}; }
};

// The schedule a seed makes for an engine.
Schedule makeSchedule(quint64 seed, Engine engine, const OpenFaults& open = {});

// Sets the process's time zone while it lives (TZ and tzset), and restores
// the one before.
class ProcessTimeZone final {
public:
    explicit ProcessTimeZone(const char* zone);
    ~ProcessTimeZone();
    ProcessTimeZone(const ProcessTimeZone&) = delete;
    ProcessTimeZone& operator=(const ProcessTimeZone&) = delete;

private:
    bool m_had = false;
    QByteArray m_previous;
};

// The data tables of one engine and two routers' outboxes, kept from one
// schedule to the next (rows deleted, files and connections kept).
class FaultWorld {
public:
    // nullptr with *error set when the engine's tables cannot be made.
    static std::unique_ptr<FaultWorld> create(Engine engine, QString* error);
    virtual ~FaultWorld();
    FaultWorld(const FaultWorld&) = delete;
    FaultWorld& operator=(const FaultWorld&) = delete;

    // Runs the schedule from a clean state and leaves a clean state; what
    // broke (empty when nothing did).
    virtual QStringList run(const Schedule& schedule) = 0;

protected:
    FaultWorld() = default;
};

// The kinds a run turns on: every one unless TELVAR_FAULT_OPEN names some
// ("all", "constraint", "column", "removal", several separated by commas).
OpenFaults openFaultsFromEnvironment();
// Whether TELVAR_FAULT_OPEN is set: the kept seeds of open faults run then.
bool openFaultsRequested();
// How many schedules a run makes: TELVAR_FAULT_SCHEDULES, or fallback.
int scheduleCount(int fallback);
// The first seed of a run: TELVAR_FAULT_SEED, or fallback.
quint64 firstSeed(quint64 fallback);

} // namespace telvar::test
