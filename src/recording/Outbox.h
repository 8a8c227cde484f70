#pragma once

#include "common/Error.h"
#include "recording/OutboxEntry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QSqlError;

namespace telvar {

// The durable outbox: a SQLite file of the program's own (write-ahead log,
// full sync) where every reading that passed its limits is kept from the
// moment it is appended until its data table has committed it. Readings
// that waiting cannot record are moved to its quarantine with their reason.
//
// One Outbox is one connection to the file, used by one thread; the window
// thread appends through its own, the writer thread reads and removes
// through another. Every statement waits at most kBusyTimeoutMs for the
// other connection's transaction.
class Outbox final {
public:
    static constexpr int kBusyTimeoutMs = 5000;

    // Opens the outbox file, creating it and its tables when missing.
    // checkpoints: whether this connection folds the write-ahead log back
    // into the file as it grows (the writer's does; the window thread's
    // commits stay short).
    static Result<std::unique_ptr<Outbox>> open(const QString& path, bool checkpoints = true);
    // Where the installation keeps its outbox: beside the program, or in
    // the user's data directory when the program's folder cannot be
    // written.
    static QString pathForInstallation(const QString& appPath);

    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    const QString& path() const { return m_path; }

    // Appends the entries in one commit and gives each its id. Once this
    // returns without error the entries survive a crash or a power cut.
    Status append(QList<OutboxEntry>& entries);
    // The oldest entries waiting for the data table named by a
    // destinationKey, at most limit of them, in id order.
    Result<QList<OutboxEntry>> pending(const QString& destination, qsizetype limit) const;
    // The destinationKeys of every entry waiting.
    Result<QStringList> destinations() const;
    // Records, for each entry, the row its write went to (preparedRow).
    Status markPrepared(const QList<OutboxEntry>& entries);
    // Removes entries whose data table has committed them.
    Status remove(const QList<qint64>& ids);
    // Moves entries to the quarantine with their reasons, in one commit.
    Status quarantine(const QList<QuarantinedEntry>& entries);
    // The newest entries of the quarantine, at most limit of them, newest
    // first.
    Result<QList<QuarantinedEntry>> quarantined(qsizetype limit) const;
    // Moves every quarantined entry back to the end of the outbox (with new
    // ids, in their order), in one commit. Gives how many moved.
    Result<qsizetype> requeueAll();
    Result<qint64> pendingCount() const;
    Result<qint64> quarantinedCount() const;

    // The entries of each data table, waiting or in the quarantine: one
    // entry (only the columns that name its table) and how many it has.
    enum class Part { Pending, Quarantine };
    struct TableCount {
        OutboxEntry table;
        qint64 count = 0;
    };
    Result<QList<TableCount>> countsByTable(Part part) const;

private:
    Outbox(QString path, QString connectionName);
    Status exec(const QString& statement) const;
    Status transaction(const std::function<Status()>& work);
    Error sqlError(const QString& what, const QSqlError& error) const;

    QString m_path;
    QString m_connectionName;
};

} // namespace telvar
