#pragma once

#include "acquisition/Clock.h"
#include "common/Error.h"
#include "common/Modulo1.h"
#include "recording/GrabaQLTR.h"
#include "recording/OutboxEntry.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace telvar {

class Outbox;

// What the writer tells the window thread after each batch of one data
// table. Values only: the writer never shows a box or asks a question.
struct BatchOutcome {
    // The data file, or the table and its database.
    QString place;
    // Readings committed by the batch (found committed already among them).
    QList<qint64> recorded;
    // The port (Puert) of each of them, in the same order.
    QList<int> recordedPuert;
    // Readings moved to the quarantine, with why.
    QList<QuarantinedEntry> quarantined;
    // How many of the recorded readings had waited for the table to come
    // back.
    qsizetype late = 0;
    // The table's state after the batch: failing since when (invalid when
    // it is not failing), with the last error, and how long until the
    // next try.
    QDateTime failingSince;
    Error lastError;
    std::chrono::milliseconds nextTryIn{0};
    // True for the batch at which the table started failing, and for the
    // batch at which a failing table recorded again.
    bool startedFailing = false;
    bool recovered = false;
};

// Drains the outbox into the data tables on a thread of its own, with its
// own connections, following the outbox's protocol (see Outbox): for each
// data table the readings waiting for it are written in one transaction,
// in outbox order; the row each went to is noted in the outbox before the
// table commits, and the entry leaves the outbox only after. A table that
// fails for a reason waiting can mend keeps its readings and is tried again
// with backoff (kFirstBackoff doubling to kLastBackoff) while the other
// tables go on; readings that waiting cannot record go to the quarantine.
//
// The outbox's own failures are never the readings': a batch whose note,
// removal or move to the quarantine fails leaves its readings where they
// are, and the outbox is tried again with the same backoff, reported once
// a stretch (outboxFailed, then outboxRecovered). An outbox that cannot be
// opened is tried again the same way.
//
// Lives on the writer thread: create it there or move it there, then call
// its slots through queued connections.
class RecordingWriter final : public QObject {
    Q_OBJECT
public:
    // The moments of a batch at which tests make something fail or end the
    // program: before the note (inside the table's transaction), after it
    // (before the table commits), after the table's commit, and after the
    // removal. An error the hook gives is taken as that step's own failure:
    // the note's, the table's commit's, the removal's. The hook may also
    // throw to stand for a crash at that moment.
    enum class Step { BeforeMark, AfterMark, AfterCommit, AfterRemove };
    using StepHook = std::function<Status(Step)>;

    // How many readings of one table are written in one transaction at most.
    static constexpr qsizetype kBatchLimit = 5000;
    static constexpr std::chrono::milliseconds kFirstBackoff{1000};
    static constexpr std::chrono::milliseconds kLastBackoff{60000};
    // How many quarantined readings one commit sends again.
    static constexpr qsizetype kResendSlice = 1000;
    // How often the outbox is looked at for readings put back by someone
    // else (the quarantine command of the program), and how often the
    // quarantined readings of a missing folder or file are tried again.
    static constexpr std::chrono::milliseconds kRescanEvery{30000};
    static constexpr std::chrono::milliseconds kMendedCheckEvery{3600000};

    // installation: the start-up values (see GrabaQLTR).
    RecordingWriter(Modulo1 installation, QString outboxPath, QObject* parent = nullptr);
    ~RecordingWriter() override;

    // The writer of the data tables whose destinationKey falls to shard
    // index of count (all of them unless set): several writers, each on its
    // own thread, write different tables at the same time, and each table
    // has exactly one writer.
    void setShard(int index, int count);
    // Whether the data table of a destinationKey is this writer's.
    static int shardOf(const QString& destination, int count);

    void setStepHook(StepHook hook) { m_hook = std::move(hook); }
    void setLockWait(std::chrono::milliseconds wait) { m_recorder.setLockWait(wait); }
    // Asks a drain under way to end after its current batch (any thread).
    void requestStop() { m_stopping = true; }
    bool isOpen() const { return m_outbox != nullptr; }

    // Opens the outbox and drains whatever it holds (left by an earlier run
    // too). Gives the outbox's error when it cannot be opened; it is then
    // tried again with backoff.
    Status open();
    // Writes every table that is not waiting for its next try, one batch
    // each (more when a table has more than kBatchLimit readings waiting).
    void drain();

public slots:
    // Readings were appended for these tables.
    void wake(const QStringList& destinations);
    // Moves every quarantined reading back to the outbox, a slice at a time
    // (each in a commit of its own, so that appends go on in between), and
    // writes its own; the other writers hear of theirs through rescan().
    void resend();
    // Looks for this writer's tables among the readings waiting (after
    // readings were moved back from the quarantine), and writes them.
    void rescan();
    // Sends again the quarantined readings of a missing folder or data file
    // that is there now.
    void retryMended();
    // Lets go of the outbox (it is being set aside); resume() opens it again.
    void letGo();
    void resume();
    // Closes the connections and the outbox.
    void close();
    // The database password the person typed at a prompt of the window's.
    void setPassBD(const QString& passBD) { m_recorder.setPassBD(passBD); }

signals:
    void batchDone(const telvar::BatchOutcome& outcome);
    // The outbox itself failed (the readings stay where they are): said
    // once a stretch.
    void outboxFailed(const telvar::Error& error);
    void outboxRecovered();
    // Readings were sent again from the quarantine (one slice), and whether
    // more are left.
    void resent(qsizetype count, bool more);
    // The same for the sending asked for by resend() alone: the readings
    // moved back by one slice, as they wait now (new ids), and whether more
    // slices follow. A resend that ends early (the outbox failed) ends with
    // an empty slice and no more.
    void sentAgain(const QList<telvar::OutboxEntry>& entries, bool more);
    // The writer has let go of the outbox.
    void letGoDone();

private:
    struct Table {
        QDateTime failingSince;
        Error lastError;
        std::chrono::milliseconds backoff{0};
        qint64 nextTry = 0; // on m_time's scale, in ms
    };

    void scheduleDrain(std::chrono::milliseconds in);
    // One batch of one table; true when the table has more waiting.
    bool writeBatch(const QString& destination);
    Status step(Step s) const;
    // Opens the outbox when it is not open; false while it cannot be.
    bool ensureOpen();
    // The outbox failed: said once a stretch; tried again after the backoff.
    void outboxTrouble(const Error& error);
    void outboxWorks();
    void resendSlice();

    SystemClock m_clock;
    GrabaQLTR m_recorder;
    QString m_outboxPath;
    std::unique_ptr<Outbox> m_outbox;
    StepHook m_hook;
    std::atomic<bool> m_stopping{false};
    int m_shard = 0;
    int m_shards = 1;
    // The tables with readings waiting, and the state of each that failed.
    QSet<QString> m_waiting;
    QHash<QString, Table> m_tables;
    // Readings whose table committed them but whose removal failed: they
    // are removed at the next try without being counted again.
    QSet<qint64> m_recordedNotRemoved;
    // The outbox's own trouble: its backoff and next try (m_clock's scale).
    bool m_outboxFailing = false;
    bool m_lettingGo = false;
    std::chrono::milliseconds m_outboxBackoff{0};
    qint64 m_outboxNextTry = 0;
    QTimer* m_timer;
    QTimer* m_rescanTimer;
    QTimer* m_mendedTimer;
};

} // namespace telvar

Q_DECLARE_METATYPE(telvar::BatchOutcome)
