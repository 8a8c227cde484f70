#include "recording/RecordingWriter.h"

#include "recording/Outbox.h"

#include <QFileInfo>
#include <algorithm>

namespace telvar {

namespace {

// The quarantine's codes whose cause a hand outside may mend: a missing
// format or machine folder, a missing data file.
const QList<CodeErr> kMendableCodes = {CodeErr::NoFormatDirectory, CodeErr::NoMachineDirectory,
                                       CodeErr::NoDataFile};

} // namespace

RecordingWriter::RecordingWriter(Modulo1 installation, QString outboxPath, QObject* parent)
    : QObject(parent), m_recorder(std::move(installation), m_clock),
      m_outboxPath(std::move(outboxPath)), m_timer(new QTimer(this)),
      m_rescanTimer(new QTimer(this)), m_mendedTimer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &RecordingWriter::drain);
    connect(m_rescanTimer, &QTimer::timeout, this, &RecordingWriter::rescan);
    connect(m_mendedTimer, &QTimer::timeout, this, &RecordingWriter::retryMended);
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
    m_lettingGo = false;
    m_rescanTimer->start(kRescanEvery);
    // One writer looks after the quarantine's mendable readings.
    if (m_shard == 0)
        m_mendedTimer->start(kMendedCheckEvery);
    auto opened = Outbox::open(m_outboxPath, /*checkpoints=*/true);
    if (!opened) {
        outboxTrouble(opened.error());
        return opened.error();
    }
    m_outbox = std::move(opened.value());
    outboxWorks();
    rescan();
    return {};
}

bool RecordingWriter::ensureOpen()
{
    if (m_outbox)
        return true;
    if (m_lettingGo || m_stopping)
        return false;
    if (m_outboxNextTry > m_clock.elapsed().count()) {
        scheduleDrain(std::chrono::milliseconds(m_outboxNextTry - m_clock.elapsed().count()));
        return false;
    }
    return open().ok();
}

void RecordingWriter::outboxTrouble(const Error& error)
{
    if (!m_outboxFailing) {
        m_outboxFailing = true;
        emit outboxFailed(error);
    }
    // A damaged file may be set aside and a new one made: the next try
    // opens the path again.
    if (Outbox::isDamage(error))
        m_outbox.reset();
    m_outboxBackoff =
        m_outboxBackoff.count() == 0 ? kFirstBackoff : std::min(m_outboxBackoff * 2, kLastBackoff);
    m_outboxNextTry = m_clock.elapsed().count() + m_outboxBackoff.count();
    scheduleDrain(m_outboxBackoff);
}

void RecordingWriter::outboxWorks()
{
    m_outboxBackoff = std::chrono::milliseconds(0);
    m_outboxNextTry = 0;
    if (m_outboxFailing) {
        m_outboxFailing = false;
        emit outboxRecovered();
    }
}

void RecordingWriter::rescan()
{
    if (!ensureOpen())
        return;
    auto keys = m_outbox->destinations();
    if (!keys) {
        outboxTrouble(keys.error());
        return;
    }
    for (const QString& key : std::as_const(keys.value())) {
        if (shardOf(key, m_shards) != m_shard || m_waiting.contains(key))
            continue;
        m_waiting.insert(key);
        // A table sent again is tried at once, whatever its backoff.
        m_tables[key].nextTry = 0;
    }
    scheduleDrain(std::chrono::milliseconds(0));
}

void RecordingWriter::letGo()
{
    m_lettingGo = true;
    m_timer->stop();
    m_outbox.reset();
    emit letGoDone();
}

void RecordingWriter::resume()
{
    m_lettingGo = false;
    m_outboxNextTry = 0;
    if (!m_outbox)
        (void)open();
}

void RecordingWriter::close()
{
    m_timer->stop();
    m_rescanTimer->stop();
    m_mendedTimer->stop();
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
    resendSlice();
}

void RecordingWriter::resendSlice()
{
    if (m_stopping)
        return;
    if (!ensureOpen()) {
        emit sentAgain({}, false);
        return;
    }
    QList<OutboxEntry> entries;
    auto moved = m_outbox->requeue(kResendSlice, &entries);
    if (!moved) {
        outboxTrouble(moved.error());
        emit sentAgain({}, false);
        return;
    }
    outboxWorks();
    const bool more = moved.value() == kResendSlice;
    // Told before any of them can be written: their outcomes come after.
    emit sentAgain(entries, more);
    emit resent(moved.value(), more);
    rescan();
    // The next slice after the event loop's turn: the outbox's write lock
    // is free in between, for the appender and the other writers.
    if (more)
        QMetaObject::invokeMethod(this, &RecordingWriter::resendSlice, Qt::QueuedConnection);
}

void RecordingWriter::retryMended()
{
    if (m_stopping || !ensureOpen())
        return;
    auto tables = m_outbox->quarantinedDestinations(kMendableCodes);
    if (!tables) {
        outboxTrouble(tables.error());
        return;
    }
    qsizetype movedAll = 0;
    for (const QString& table : std::as_const(tables.value())) {
        // One of its readings tells where the table is; only a table whose
        // data file is there now (as its name is spelled) is sent again.
        auto probe = m_outbox->quarantinedOf(table, 1);
        if (!probe) {
            outboxTrouble(probe.error());
            return;
        }
        if (probe.value().isEmpty())
            continue;
        const OutboxEntry& e = probe.value().first().entry;
        if (!QFileInfo(GrabaQLTR::dataFilePath(e.base, e.Forma, e.Maqui, e.Produ)).isFile())
            continue;
        for (;;) {
            auto moved = m_outbox->requeueTable(table, kMendableCodes, kResendSlice);
            if (!moved) {
                outboxTrouble(moved.error());
                return;
            }
            movedAll += moved.value();
            emit resent(moved.value(), false);
            if (moved.value() < kResendSlice)
                break;
        }
    }
    if (movedAll > 0)
        rescan();
}

void RecordingWriter::scheduleDrain(std::chrono::milliseconds in)
{
    if (m_stopping || m_lettingGo)
        return;
    if (!m_timer->isActive() || m_timer->remainingTimeAsDuration() > in)
        m_timer->start(in);
}

Status RecordingWriter::step(Step s) const
{
    return m_hook ? m_hook(s) : Status();
}

void RecordingWriter::drain()
{
    if (m_stopping || !ensureOpen())
        return;
    const qint64 now = m_clock.elapsed().count();
    // Tables in a stable order, so that a busy one cannot starve another.
    QStringList keys(m_waiting.cbegin(), m_waiting.cend());
    std::sort(keys.begin(), keys.end());
    qint64 nextTry = -1;
    for (const QString& key : std::as_const(keys)) {
        if (m_stopping || !m_outbox)
            return;
        const Table& table = m_tables[key];
        if (table.nextTry > now) {
            nextTry = nextTry < 0 ? table.nextTry : std::min(nextTry, table.nextTry);
            continue;
        }
        if (writeBatch(key)) {
            if (m_outboxFailing)
                return; // outboxTrouble has scheduled the next try
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
        outboxTrouble(pending.error());
        return true;
    }
    const QList<OutboxEntry>& entries = pending.value();
    if (entries.isEmpty())
        return false;

    BatchOutcome outcome;
    outcome.place = GrabaQLTR::place(entries.first());
    // The note is the outbox's: its failure is told apart from the table's.
    std::optional<Error> noteFailed;
    const auto beforeCommit = [this, &noteFailed](const QList<OutboxEntry>& prepared) -> Status {
        Status marked = step(Step::BeforeMark);
        if (marked)
            marked = m_outbox->markPrepared(prepared);
        if (!marked) {
            noteFailed = marked.error();
            Error error = marked.error();
            error.retryable = true;
            return error;
        }
        if (Status committing = step(Step::AfterMark); !committing)
            return committing;
        return {};
    };
    const BatchResult result = m_recorder.recordBatch(entries, beforeCommit);
    if (noteFailed) {
        // Nothing of the batch was committed; the table is not to blame.
        outboxTrouble(*noteFailed);
        return true;
    }

    // The outbox hears of the commit; should that fail, the entries stay
    // with their rows noted, the next batch finds them recorded, and they
    // are not counted twice.
    Status removed;
    if (!result.recorded.isEmpty()) {
        removed = step(Step::AfterCommit);
        if (removed)
            removed = m_outbox->remove(result.recorded);
    }
    QList<qint64> newlyRecorded;
    for (const qint64 id : result.recorded) {
        if (!m_recordedNotRemoved.contains(id))
            newlyRecorded.append(id);
    }
    if (!removed) {
        for (const qint64 id : result.recorded)
            m_recordedNotRemoved.insert(id);
        outboxTrouble(removed.error());
    } else {
        for (const qint64 id : result.recorded)
            m_recordedNotRemoved.remove(id);
        if (!result.recorded.isEmpty())
            (void)step(Step::AfterRemove);
    }
    // A reading counts as quarantined only once it is there. An outbox let
    // go of as damaged keeps the refused readings waiting.
    QList<QuarantinedEntry> quarantined = result.refused;
    if (!m_outbox) {
        quarantined.clear();
    } else if (Status moved = m_outbox->quarantine(quarantined); !moved) {
        quarantined.clear();
        outboxTrouble(moved.error());
    }
    if (removed && (result.refused.isEmpty() || !quarantined.isEmpty()))
        outboxWorks();

    Table& table = m_tables[destination];
    outcome.recorded = newlyRecorded;
    outcome.quarantined = quarantined;
    QHash<qint64, int> puertOf;
    puertOf.reserve(entries.size());
    for (const OutboxEntry& e : entries)
        puertOf.insert(e.id, e.Puert);
    outcome.recordedPuert.reserve(newlyRecorded.size());
    for (qint64 id : std::as_const(newlyRecorded))
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
        outcome.late = newlyRecorded.size();
        table = Table{};
    }
    outcome.failingSince = table.failingSince;
    outcome.lastError = table.lastError;
    emit batchDone(outcome);
    if (result.retry || m_outboxFailing)
        return true;
    return entries.size() == kBatchLimit;
}

} // namespace telvar
