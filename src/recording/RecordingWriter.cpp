#include "recording/RecordingWriter.h"

#include "recording/Outbox.h"

#include <algorithm>

namespace telvar {

RecordingWriter::RecordingWriter(Modulo1 installation, QString outboxPath, QObject* parent)
    : QObject(parent), m_recorder(std::move(installation), m_clock),
      m_outboxPath(std::move(outboxPath)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &RecordingWriter::drain);
}

RecordingWriter::~RecordingWriter() = default;

void RecordingWriter::setShard(int index, int count)
{
    m_shard = index;
    m_shards = std::max(count, 1);
}

int RecordingWriter::shardOf(const QString& destination, int count)
{
    // qHash with a fixed seed: the same table falls to the same writer in
    // every run and on every thread.
    return count <= 1 ? 0 : static_cast<int>(qHash(destination, 0) % static_cast<size_t>(count));
}

Status RecordingWriter::open()
{
    auto opened = Outbox::open(m_outboxPath, /*checkpoints=*/true);
    if (!opened)
        return opened.error();
    m_outbox = std::move(opened.value());
    rescan();
    return {};
}

void RecordingWriter::rescan()
{
    if (!m_outbox)
        return;
    auto keys = m_outbox->destinations();
    if (!keys) {
        emit outboxFailed(keys.error());
        return;
    }
    for (const QString& key : std::as_const(keys.value())) {
        if (shardOf(key, m_shards) != m_shard)
            continue;
        m_waiting.insert(key);
        // A table sent again is tried at once, whatever its backoff.
        m_tables[key].nextTry = 0;
    }
    scheduleDrain(std::chrono::milliseconds(0));
}

void RecordingWriter::close()
{
    m_timer->stop();
    m_recorder.closeConnections();
    m_outbox.reset();
}

void RecordingWriter::wake(const QStringList& destinations)
{
    for (const QString& key : destinations)
        if (shardOf(key, m_shards) == m_shard)
            m_waiting.insert(key);
    scheduleDrain(std::chrono::milliseconds(0));
}

void RecordingWriter::resend()
{
    if (!m_outbox)
        return;
    auto moved = m_outbox->requeueAll();
    if (!moved) {
        emit outboxFailed(moved.error());
        return;
    }
    emit resent(moved.value());
    rescan();
}

void RecordingWriter::scheduleDrain(std::chrono::milliseconds in)
{
    if (m_stopping)
        return;
    if (!m_timer->isActive() || m_timer->remainingTimeAsDuration() > in)
        m_timer->start(in);
}

void RecordingWriter::step(Step s) const
{
    if (m_hook)
        m_hook(s);
}

void RecordingWriter::drain()
{
    if (!m_outbox || m_stopping)
        return;
    const qint64 now = m_clock.elapsed().count();
    // Tables in a stable order, so that a busy one cannot starve another.
    QStringList keys(m_waiting.cbegin(), m_waiting.cend());
    std::sort(keys.begin(), keys.end());
    qint64 nextTry = -1;
    for (const QString& key : std::as_const(keys)) {
        if (m_stopping)
            return;
        const Table& table = m_tables[key];
        if (table.nextTry > now) {
            nextTry = nextTry < 0 ? table.nextTry : std::min(nextTry, table.nextTry);
            continue;
        }
        if (writeBatch(key)) {
            const Table& after = m_tables.value(key);
            if (after.nextTry > m_clock.elapsed().count())
                nextTry = nextTry < 0 ? after.nextTry : std::min(nextTry, after.nextTry);
            else
                nextTry = now; // more of it waits: at once
        } else {
            m_waiting.remove(key);
        }
    }
    if (nextTry >= 0)
        scheduleDrain(std::chrono::milliseconds(std::max<qint64>(0, nextTry - now)));
}

bool RecordingWriter::writeBatch(const QString& destination)
{
    auto pending = m_outbox->pending(destination, kBatchLimit);
    if (!pending) {
        emit outboxFailed(pending.error());
        Table& table = m_tables[destination];
        table.nextTry = m_clock.elapsed().count() + kFirstBackoff.count();
        return true;
    }
    const QList<OutboxEntry>& entries = pending.value();
    if (entries.isEmpty())
        return false;

    BatchOutcome outcome;
    outcome.place = GrabaQLTR::place(entries.first());
    const auto beforeCommit = [this](const QList<OutboxEntry>& prepared) -> Status {
        step(Step::BeforeMark);
        const Status marked = m_outbox->markPrepared(prepared);
        step(Step::AfterMark);
        return marked;
    };
    const BatchResult result = m_recorder.recordBatch(entries, beforeCommit);
    if (!result.recorded.isEmpty())
        step(Step::AfterCommit);

    // The outbox hears of the commit; should that fail, the entries stay
    // with their rows noted and the next batch finds them recorded.
    if (const Status removed = m_outbox->remove(result.recorded); !removed)
        emit outboxFailed(removed.error());
    else if (!result.recorded.isEmpty())
        step(Step::AfterRemove);
    if (const Status moved = m_outbox->quarantine(result.refused); !moved)
        emit outboxFailed(moved.error());

    Table& table = m_tables[destination];
    outcome.recorded = result.recorded;
    outcome.quarantined = result.refused;
    QHash<qint64, int> puertOf;
    puertOf.reserve(entries.size());
    for (const OutboxEntry& e : entries)
        puertOf.insert(e.id, e.Puert);
    outcome.recordedPuert.reserve(result.recorded.size());
    for (qint64 id : result.recorded)
        outcome.recordedPuert.append(puertOf.value(id));
    if (result.retry) {
        outcome.startedFailing = !table.failingSince.isValid();
        if (outcome.startedFailing)
            table.failingSince = QDateTime::currentDateTime();
        table.lastError = *result.retry;
        table.backoff =
            table.backoff.count() == 0 ? kFirstBackoff : std::min(table.backoff * 2, kLastBackoff);
        table.nextTry = m_clock.elapsed().count() + table.backoff.count();
        outcome.nextTryIn = table.backoff;
    } else if (table.failingSince.isValid()) {
        outcome.recovered = true;
        outcome.late = result.recorded.size();
        table = Table{};
    }
    outcome.failingSince = table.failingSince;
    outcome.lastError = table.lastError;
    emit batchDone(outcome);
    if (result.retry)
        return true;
    return entries.size() == kBatchLimit;
}

} // namespace telvar
