#pragma once

#include "common/Error.h"
#include "recording/Outbox.h"
#include "recording/OutboxAppender.h"
#include "recording/OutboxEntry.h"
#include "recording/OutboxLock.h"
#include "recording/QuarantineModel.h"
#include "recording/RecordingWriter.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <memory>
#include <vector>

namespace telvar {

struct Modulo1;
class Clock;
class Interaccion;
class RecordingLog;
class UnrecordedLog;

// Where the reading check hands the readings that passed their limits.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    // Keeps the reading until its data table has committed it.
    virtual void keep(OutboxEntry entry) = 0;

protected:
    ReadingSink() = default;
    ReadingSink(const ReadingSink&) = default;
    ReadingSink& operator=(const ReadingSink&) = default;
};

// How one data table is doing, as the status shows it.
struct DestinationStatus {
    QString place;
    // Invalid while the table is reachable.
    QDateTime failingSince;
    Error lastError;
    // Since the last local midnight (by the service's clock).
    qint64 recordedToday = 0;
    qint64 quarantinedToday = 0;
    // The table's readings waiting in the outbox, and in its quarantine.
    qint64 waiting = 0;
    qint64 quarantined = 0;
    // Whether a batch of it has been written or tried since the start:
    // until then nobody knows whether it is reachable.
    bool tried = false;
    // Since when (by the service's clock) it is reachable or failing: its
    // first batch, or the batch at which it started failing or recovered.
    QDateTime since;
};

// The recording as the window thread sees it: readings are kept in the
// durable outbox (those handed on in one turn of the event loop in one
// commit, made by the appender's thread) and written into their data tables
// by the writer threads (kWriters of them, each with its share of the
// tables), whose outcomes come back here as values and become the log
// lines, the quarantine list and the status. Nothing here waits on a data
// table or on the outbox's disk.
//
// One router per outbox: open() claims it (OutboxLock) and refuses when
// another router holds it. The outbox itself is opened by the appender,
// which tries again until it can; the readings handed over meanwhile wait
// in its memory.
//
// Every count of the outbox (waiting, quarantined, per table) is what the
// file holds, as the appender last read it. The outbox holds at most
// capacity() readings (waiting, quarantined and on their way together). A
// reading beyond that is not kept: it gets its line in the log box and in
// the file of unrecorded readings with its value, and the first such
// reading shows a box; the status says the outbox is full until it has
// room again. A reading is called unrecorded only once it is in the
// quarantine, beyond a bound, or left when the program ends.
class RecordingService final : public QObject, public ReadingSink {
    Q_OBJECT
public:
    static constexpr qint64 kDefaultCapacity = 500000;
    // How many writers share the data tables: a data file's commit waits on
    // its disk, so tables written side by side take less time in all.
    static constexpr int kWriters = 4;
    // How often the counts are read again from the outbox, whatever else
    // happens (readings put back by the quarantine command).
    static constexpr int kRecountEveryMs = 5000;

    RecordingService(const Modulo1& m, Interaccion& ui, const Clock& clock, RecordingLog& log,
                     UnrecordedLog& unrecorded, QString outboxPath, QObject* parent = nullptr);
    ~RecordingService() override;

    // Claims the outbox and starts the appender, which opens it (trying
    // again while it cannot), then the writers, which record whatever an
    // earlier run left. Gives an error naming the router that holds the
    // outbox when another one does; the service then keeps nothing, and
    // says so for each reading.
    Status open();
    // Whether the outbox is open and taking readings.
    bool isOpen() const { return m_outboxOpen; }
    // Whether this router holds its outbox (open() succeeded).
    bool isClaimed() const { return m_lock != nullptr; }
    // Why the outbox could not be claimed (empty when it was, or was not
    // tried).
    const QString& claimError() const { return m_claimError; }
    const QString& outboxPath() const { return m_outboxPath; }

    void keep(OutboxEntry entry) override;
    // Appends the readings handed on so far (normally at the end of the
    // event loop's turn).
    void flush();

    void setCapacity(qint64 capacity) { m_capacity = capacity; }
    qint64 capacity() const { return m_capacity; }
    // Readings waiting for their table: those the outbox holds, and those
    // handed to it and not yet kept; and the readings quarantined.
    qint64 waiting() const { return m_counts.pending + m_onTheirWay; }
    qint64 quarantinedCount() const { return m_counts.quarantined; }
    // Readings handed to the appender and not yet kept or given back.
    qint64 onTheirWay() const { return m_onTheirWay; }
    bool isFull() const { return m_full; }
    // True once a log line could be written nowhere (the alarm stays).
    bool logUnwritable() const { return m_logUnwritable; }
    // Why the outbox takes no readings now ("" while it does, or before it
    // was tried), and where a damaged outbox was set aside since the start.
    const QString& outboxError() const { return m_outboxError; }
    const QString& setAsidePath() const { return m_setAsidePath; }
    // Readings handed to the outbox since the start, and those of them it
    // has committed (kept: from then on they survive a crash).
    qint64 handedOver() const { return m_handedOver; }
    qint64 keptTotal() const { return m_keptTotal; }
    // Readings recorded since the start, and per table (every table with
    // readings waiting or quarantined, and every table written or tried
    // since the start; the counts of today as of the clock's date).
    qint64 recordedTotal() const { return m_recordedTotal; }
    QList<DestinationStatus> destinations() const;

    QuarantineModel& quarantine() { return m_quarantine; }
    // Sends every quarantined reading again (once the engineer has mended
    // the cause). Once each reading sent has been tried, one log line says
    // how many were recorded and how many are in the quarantine again (and
    // how many wait for a table that is failing).
    void resendQuarantined();

    // Ends the writer after its current batch; what is left stays in the
    // outbox for the next start.
    void shutdown();
    // How long the writer waits for another writer of a table (tests).
    void setLockWait(std::chrono::milliseconds wait);

signals:
    // Something the status shows changed.
    void statusChanged();
    // The outbox committed readings handed over (keptTotal() grew).
    void kept();
    // A batch was written (tests and benchmarks wait on it).
    void batchWritten(const telvar::BatchOutcome& outcome);
    // The outbox is open (at start, or again after it was set aside).
    void outboxOpened();

private:
    void startWriters();
    void opened(const OutboxOpened& what);
    void counted(const Outbox::Counts& counts);
    void batchDone(const BatchOutcome& outcome);
    void dropped(const QList<OutboxEntry>& entries, const Error& error);
    void outboxFailed(const Error& error);
    void outboxDamaged();
    void recount();
    void logQuarantined(const QuarantinedEntry& q);
    void sentAgain(const QList<OutboxEntry>& entries, bool more);
    // Counts the outcomes of a batch among the readings sent again, and
    // writes the follow-up line once none is left to try.
    void followResend(const BatchOutcome& outcome);
    void endResendIfDone();
    void logLine(const QString& line);
    void unrecorded(const OutboxEntry& entry, const QString& cause);
    // Writes a line into the file of unrecorded readings, or raises the alarm.
    void fileLine(const QString& line);
    // The table's entry, made when it is first met.
    DestinationStatus& destination(const QString& place);
    // Zeroes the counts of today when the clock's date has changed.
    void rollOverDay();
    void updateFull();

    const Modulo1& m_m;
    Interaccion& m_ui;
    const Clock& m_clock;
    RecordingLog& m_log;
    UnrecordedLog& m_unrecordedLog;
    QString m_outboxPath;
    std::unique_ptr<OutboxLock> m_lock;
    QString m_claimError;
    // The writers, each on its own thread, each writing its share of the
    // data tables.
    std::vector<std::unique_ptr<QThread>> m_threads;
    std::vector<RecordingWriter*> m_writers;
    bool m_writersStarted = false;
    int m_writersLettingGo = 0;
    // Appends on a thread of its own.
    std::unique_ptr<QThread> m_appenderThread;
    OutboxAppender* m_appender = nullptr;
    QList<OutboxEntry> m_batch;
    bool m_flushScheduled = false;
    bool m_recountScheduled = false;
    QTimer* m_recountTimer;
    // The database password the writer opens with: the installation's, or
    // one typed at a prompt since.
    QString m_writerPassBD;
    qint64 m_capacity = kDefaultCapacity;
    Outbox::Counts m_counts;
    qint64 m_onTheirWay = 0;
    qint64 m_recordedTotal = 0;
    qint64 m_handedOver = 0;
    qint64 m_keptTotal = 0;
    bool m_outboxOpen = false;
    bool m_full = false;
    bool m_heldBoxShown = false;
    bool m_logUnwritable = false;
    QString m_outboxError;
    QString m_setAsidePath;
    bool m_openFailureShown = false;
    bool m_notSupportedShown = false;
    QMap<QString, DestinationStatus> m_destinations;
    // The "Send again" under way: the resends asked for whose slices are
    // still coming, the readings sent and not yet tried (by id, with their
    // data table), and what came of those tried.
    struct Resend {
        int requests = 0;
        QHash<qint64, QString> untried;
        qint64 recorded = 0;
        qint64 quarantined = 0;
        qint64 waiting = 0;
    } m_resend;
    QDate m_today;
    QuarantineModel m_quarantine{m_m};
};

} // namespace telvar
