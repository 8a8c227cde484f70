#pragma once

#include "common/Error.h"
#include "recording/OutboxEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace telvar {

class Outbox;
class RecordingWriter;

// Appends the readings the window thread hands over to the outbox, one
// commit a batch, on a thread of its own: a commit with full sync waits on
// the disk, and the window thread never does. Once a batch is committed the
// writers of its data tables hear of them.
//
// Lives on its own thread: call its slots through queued connections.
class OutboxAppender final : public QObject {
    Q_OBJECT
public:
    // writers: the writers that share the data tables, by shard.
    OutboxAppender(QString outboxPath, std::vector<RecordingWriter*> writers,
                   QObject* parent = nullptr);
    ~OutboxAppender() override;

    // Opens the outbox (on the appender's thread).
    Status open();

public slots:
    // Appends the entries in one commit, then wakes their writers.
    void append(QList<telvar::OutboxEntry> entries);
    // Closes the outbox.
    void close();

signals:
    // A batch was committed: its readings are kept.
    void appended(qsizetype count);
    // A batch could not be kept: its readings, and why.
    void appendFailed(const QList<telvar::OutboxEntry>& entries, const telvar::Error& error);

private:
    QString m_outboxPath;
    std::vector<RecordingWriter*> m_writers;
    std::unique_ptr<Outbox> m_outbox;
};

} // namespace telvar
