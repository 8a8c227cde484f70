#pragma once

#include "common/Error.h"
#include "recording/Outbox.h"
#include "recording/OutboxEntry.h"
#include "recording/OutboxSalvage.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

namespace telvar {

class RecordingWriter;

// What the appender found when it opened the outbox.
struct OutboxOpened {
    Outbox::Counts counts;
    // The newest quarantined readings, for the quarantine's list.
    QList<QuarantinedEntry> newest;
    // Set when the file was damaged and has been set aside.
    std::optional<OutboxSalvage> salvage;
    Error damage;
};

// Appends the readings the window thread hands over to the outbox, one
// commit a batch, on a thread of its own: a commit with full sync waits on
// the disk, and the window thread never does. Once a batch is committed the
// writers of its data tables hear of them.
//
// Nothing handed over is dropped while waiting can mend the outbox: the
// readings are held in memory (at most kMostHeld) while the outbox cannot be
// opened or is busy, locked, full, failing or read-only, and tried again
// with backoff (kFirstBackoff doubling to kLastBackoff). Beyond the bound,
// readings are handed back (dropped) with the cause, to be logged with
// their values. A damaged outbox found at opening is set aside and its
// readings salvaged into a new one; one found damaged while running is set
// aside once the writers have let go of it (damaged, then setAside).
//
// Lives on its own thread: call its slots through queued connections.
class OutboxAppender final : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMostHeld = 50000;
    static constexpr qsizetype kMostPerCommit = 5000;
    static constexpr std::chrono::milliseconds kFirstBackoff{100};
    static constexpr std::chrono::milliseconds kLastBackoff{5000};
    // How long one statement waits for another connection's transaction.
    static constexpr int kBusyTimeoutMs = 2000;

    // The moments at which tests make the outbox fail (an error to give as
    // the outbox's) or end the program.
    enum class Step { BeforeOpen, BeforeAppend };
    using StepHook = std::function<Status(Step)>;

    // writers: the writers that share the data tables, by shard.
    OutboxAppender(QString outboxPath, std::vector<RecordingWriter*> writers,
                   QObject* parent = nullptr);
    ~OutboxAppender() override;

    void setStepHook(StepHook hook) { m_hook = std::move(hook); }
    // How many readings it holds in memory at most (kMostHeld unless set).
    void setMostHeld(qsizetype most) { m_mostHeld = most; }
    bool isOpen() const { return m_outbox != nullptr; }
    qsizetype held() const { return m_held.size(); }

    // Closes the outbox, after one last try at what it holds; gives the
    // readings it could not keep (any thread, through a blocking call).
    QList<OutboxEntry> closeAndHandBack();

public slots:
    // Opens the outbox, trying again until it can (on the appender's thread).
    void start();
    // Appends the entries (with whatever waits before them), then wakes
    // their writers.
    void append(QList<telvar::OutboxEntry> entries);
    // Reads the outbox's counts again and tells them (counted).
    void refreshCounts();
    // Reads the newest quarantined readings again and tells them
    // (quarantineListed).
    void listQuarantine();
    // Sets a damaged outbox aside once nobody else has it open, and opens
    // the new one.
    void setAside();

signals:
    // The outbox is open (at start, or again after it was set aside).
    void opened(const telvar::OutboxOpened& what);
    // A batch was committed: its readings are kept. The outbox's counts
    // after it come just before (counted).
    void appended(qsizetype count);
    // The outbox's counts as the file holds them.
    void counted(const telvar::Outbox::Counts& counts);
    void quarantineListed(const QList<telvar::QuarantinedEntry>& newest);
    // Readings the appender could not hold, and why.
    void dropped(const QList<telvar::OutboxEntry>& entries, const telvar::Error& error);
    // The outbox started failing (once per stretch), or works again.
    void failing(const telvar::Error& error);
    void recovered();
    // The outbox was found damaged while running: the writers must let go
    // of it, then setAside() is called.
    void damaged(const telvar::Error& error);

private:
    // Opens the outbox; sets it aside first when it is damaged.
    void tryOpen();
    void tryAppend();
    void retryLater(const Error& error);
    void succeeded();
    Status step(Step s) const;
    void wakeWriters(const QList<OutboxEntry>& entries) const;
    // Hands back what is held beyond the bound.
    void keepWithinBound();

    QString m_outboxPath;
    std::vector<RecordingWriter*> m_writers;
    std::unique_ptr<Outbox> m_outbox;
    QList<OutboxEntry> m_held;
    qsizetype m_mostHeld = kMostHeld;
    StepHook m_hook;
    QTimer* m_retry;
    std::chrono::milliseconds m_backoff{0};
    bool m_failing = false;
    bool m_damaged = false;
    // Damaged while running: the writers are letting go of the file.
    bool m_awaitingLetGo = false;
    // Why the file was found damaged, and where it lies once set aside.
    Error m_damage;
    QString m_asidePath;
    bool m_firstOpening = true;
    bool m_closed = false;
};

} // namespace telvar

Q_DECLARE_METATYPE(telvar::OutboxOpened)
Q_DECLARE_METATYPE(telvar::Outbox::Counts)
