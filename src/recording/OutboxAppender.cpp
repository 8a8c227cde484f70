#include "recording/OutboxAppender.h"

#include "recording/Outbox.h"
#include "recording/RecordingWriter.h"

#include <QMetaObject>

namespace telvar {

OutboxAppender::OutboxAppender(QString outboxPath, std::vector<RecordingWriter*> writers,
                               QObject* parent)
    : QObject(parent), m_outboxPath(std::move(outboxPath)), m_writers(std::move(writers))
{
}

OutboxAppender::~OutboxAppender() = default;

Status OutboxAppender::open()
{
    // The writers' connections fold the log back into the file; this one
    // keeps its commits short.
    auto opened = Outbox::open(m_outboxPath, /*checkpoints=*/false);
    if (!opened)
        return opened.error();
    m_outbox = std::move(opened.value());
    return {};
}

void OutboxAppender::close()
{
    m_outbox.reset();
}

void OutboxAppender::append(QList<OutboxEntry> entries)
{
    if (!m_outbox) {
        emit appendFailed(entries,
                          Error{0, QStringLiteral("Telvar outbox"),
                                m_outboxPath + QStringLiteral(": the outbox is not open")});
        return;
    }
    if (const Status appended = m_outbox->append(entries); !appended) {
        emit appendFailed(entries, appended.error());
        return;
    }
    emit appended(entries.size());
    // Each writer hears of its own tables.
    const int shards = static_cast<int>(m_writers.size());
    std::vector<QStringList> keys(m_writers.size());
    for (const OutboxEntry& e : std::as_const(entries)) {
        const QString key = e.destinationKey();
        QStringList& mine = keys[static_cast<std::size_t>(RecordingWriter::shardOf(key, shards))];
        if (!mine.contains(key))
            mine.append(key);
    }
    for (std::size_t i = 0; i < m_writers.size(); ++i) {
        if (keys[i].isEmpty())
            continue;
        QMetaObject::invokeMethod(m_writers[i],
                                  [writer = m_writers[i], mine = keys[i]] { writer->wake(mine); });
    }
}

} // namespace telvar
