#pragma once

#include "common/Error.h"
#include "recording/OutboxEntry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class QSqlError;
class QSqlQuery;

namespace telvar {

// The durable outbox: a SQLite file of the router's own (write-ahead log,
// full sync) where every reading that passed its limits is kept from the
// moment it is appended until its data table has committed it. Readings
// that waiting cannot record are moved to its quarantine with their reason.
//
// The protocol, shared by the appender and the writers:
// 1. append: a reading enters `pending` in one commit; from then on it is
//    kept.
// 2. note: inside the data table's transaction, after the reading's write
//    and before that transaction commits, the row it went to (preparedRow,
//    and whether the write made the row) is noted on the entry in one
//    outbox commit.
// 3. the data table commits.
// 4. remove: the entry leaves `pending`.
// A crash between 2 and 4 leaves the note: the next attempt (recovery)
// looks in the noted row and cell first and writes only when the reading
// is not there. A quarantined entry keeps its note, and sending it again
// checks the noted row the same way.
//
// The file also keeps a tally of its entries per data table, maintained by
// triggers in the same commits, so that every count shown (the bound, the
// status) is what the file holds.
//
// One Outbox is one connection to the file, used by one thread. The
// appender and each writer have their own. Every statement waits at most
// busyTimeoutMs for another connection's transaction.
class Outbox final {
public:
    static constexpr int kBusyTimeoutMs = 5000;

    // Opens the outbox file, creating it and its tables when missing (and
    // bringing a file of an earlier version up to date). checkpoints:
    // whether this connection folds the write-ahead log back into the file
    // as it grows (the writers' do; the appender's commits stay short).
    static Result<std::unique_ptr<Outbox>> open(const QString& path, bool checkpoints = true,
                                                int busyTimeoutMs = kBusyTimeoutMs);
    // Where the installation keeps its outbox: in its folder, or in the
    // user's data folder that stands for it when the folder cannot be
    // written.
    static QString pathForInstallation(const QString& appPath);
    // Whether an error says the file is damaged (not a database, or
    // corrupt): waiting will not mend it.
    static bool isDamage(const Error& error);

    // What can be read of a damaged outbox file, opened read-only: its
    // waiting and quarantined entries, each table read forward from its
    // first entry and backward from its last until a page cannot be read,
    // and why not all could be.
    struct Readable {
        QList<OutboxEntry> pending;
        QList<QuarantinedEntry> quarantined;
        QString incomplete;
    };
    static Readable readDamaged(const QString& path);

    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    const QString& path() const { return m_path; }

    // Reads the whole file's structure (SQLite's quick check): an error
    // that isDamage() recognises when it is damaged.
    Status check() const;

    // Appends the entries in one commit and gives each its id. Once this
    // returns without error the entries survive a crash or a power cut.
    Status append(QList<OutboxEntry>& entries);
    // The oldest entries waiting for the data table named by a
    // destinationKey, at most limit of them, in id order, with their notes.
    Result<QList<OutboxEntry>> pending(const QString& destination, qsizetype limit) const;
    // Every entry waiting, in id order, from the entry after afterId, at
    // most limit of them.
    Result<QList<OutboxEntry>> pendingAfter(qint64 afterId, qsizetype limit) const;
    // The destinationKeys of every entry waiting.
    Result<QStringList> destinations() const;
    // Notes, for each entry, the row its write went to (preparedRow).
    Status markPrepared(const QList<OutboxEntry>& entries);
    // Removes entries whose data table has committed them.
    Status remove(const QList<qint64>& ids);
    // Moves entries to the quarantine with their reasons and notes, in one
    // commit.
    Status quarantine(const QList<QuarantinedEntry>& entries);
    // The newest entries of the quarantine, at most limit of them, newest
    // first.
    Result<QList<QuarantinedEntry>> quarantined(qsizetype limit) const;
    // The quarantine in id order, from the entry after afterId, at most
    // limit of them (a listing page by page).
    Result<QList<QuarantinedEntry>> quarantinedAfter(qint64 afterId, qsizetype limit) const;
    // The oldest quarantined entries of one data table, at most limit.
    Result<QList<QuarantinedEntry>> quarantinedOf(const QString& destination,
                                                  qsizetype limit) const;
    // Moves the oldest quarantined entries back to the end of the outbox
    // (with new ids, in their order, notes kept), at most limit of them, in
    // one commit. Gives how many moved; 0 when the quarantine is empty. A
    // long quarantine is sent again in slices, so that no commit holds the
    // file long. When moved is given it receives the entries as they wait
    // now, with their new ids.
    Result<qsizetype> requeue(qsizetype limit, QList<OutboxEntry>* moved = nullptr);
    // The same for the quarantined entries of one data table that were
    // refused with one of codes, at most limit of them.
    Result<qsizetype> requeueTable(const QString& destination, const QList<CodeErr>& codes,
                                   qsizetype limit);
    // Every quarantined entry back, slice after slice. Gives how many moved.
    Result<qsizetype> requeueAll();

    // The entries of each data table, waiting or in the quarantine: one
    // entry (only the columns that name its table) and how many it has.
    enum class Part { Pending = 0, Quarantine = 1 };
    struct TableCount {
        OutboxEntry table;
        QString destination;
        qint64 count = 0;
    };
    struct Counts {
        qint64 pending = 0;
        qint64 quarantined = 0;
        QList<TableCount> pendingByTable;
        QList<TableCount> quarantinedByTable;
    };
    // Every count at once, from the file's tally.
    Result<Counts> counts() const;
    Result<QList<TableCount>> countsByTable(Part part) const;
    Result<qint64> pendingCount() const;
    Result<qint64> quarantinedCount() const;
    // The quarantined tables whose entries were refused with one of codes.
    Result<QStringList> quarantinedDestinations(const QList<CodeErr>& codes) const;

private:
    Outbox(QString path, QString connectionName);
    Status setUp(bool checkpoints);
    Status exec(const QString& statement) const;
    Status transaction(const std::function<Status()>& work);
    Status bringUpToDate();
    Result<qsizetype> requeueSelected(const QString& where, const QVariantList& values,
                                      qsizetype limit, QList<OutboxEntry>* moved = nullptr);
    Error sqlError(const QString& what, const QSqlError& error) const;
    Error queryError(const QString& what, const QSqlQuery& query) const;
    // The rows a statement selects (its values bound in order), at most
    // limit of them, each read by read.
    template <typename Row>
    Result<QList<Row>> select(const QString& statement, const QVariantList& values, qsizetype limit,
                              Row (*read)(const QSqlQuery&)) const;

    QString m_path;
    QString m_connectionName;
};

} // namespace telvar
