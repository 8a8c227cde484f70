#include "recording/OutboxAppender.h"

#include "common/ErrorNumbers.h"
#include "recording/QuarantineModel.h"
#include "recording/RecordingWriter.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QSet>
#include <QTimer>
#include <algorithm>

namespace telvar {

OutboxAppender::OutboxAppender(QString outboxPath, std::vector<RecordingWriter*> writers,
                               QObject* parent)
    : QObject(parent), m_outboxPath(std::move(outboxPath)), m_writers(std::move(writers)),
      m_retry(new QTimer(this))
{
    qRegisterMetaType<telvar::OutboxOpened>();
    qRegisterMetaType<telvar::Outbox::Counts>();
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &OutboxAppender::tryAppend);
}

OutboxAppender::~OutboxAppender() = default;

Status OutboxAppender::step(Step s) const
{
    return m_hook ? m_hook(s) : Status();
}

void OutboxAppender::start()
{
    tryOpen();
}

void OutboxAppender::tryOpen()
{
    if (m_outbox || m_closed)
        return;
    OutboxOpened what;
    // A damaged outbox an earlier run set aside and could not read into a
    // new one is read now.
    if (m_firstOpening && !m_damaged && !QFileInfo::exists(m_outboxPath)) {
        m_asidePath = unsalvagedAside(m_outboxPath);
        if (!m_asidePath.isEmpty()) {
            m_damaged = true;
            m_damage = Error{ErrorNumber::DamagedFile, QStringLiteral("Telvar outbox"),
                             m_asidePath + QStringLiteral(": a damaged outbox set aside and not "
                                                          "yet read into a new one")};
        }
    }
    if (m_damaged) {
        auto aside = setAsideDamagedOutbox(m_outboxPath, QDateTime::currentDateTime(), m_asidePath);
        if (!aside) {
            // Once set aside, the file is read again at the next try.
            if (m_asidePath.isEmpty())
                m_asidePath = unsalvagedAside(m_outboxPath);
            retryLater(aside.error());
            return;
        }
        m_asidePath.clear();
        what.salvage = aside.value();
        what.damage = m_damage;
        m_damaged = false;
    }
    auto box = [this]() -> Result<std::unique_ptr<Outbox>> {
        if (Status ready = step(Step::BeforeOpen); !ready)
            return ready.error();
        auto fresh = Outbox::open(m_outboxPath, /*checkpoints=*/false, kBusyTimeoutMs);
        // The whole file is read once a run, before anything trusts it.
        if (fresh && m_firstOpening) {
            if (Status sound = fresh.value()->check(); !sound)
                return sound.error();
        }
        return fresh;
    }();
    if (!box) {
        if (Outbox::isDamage(box.error())) {
            // Nobody else has the file open yet: it is set aside now.
            m_damage = box.error();
            m_damaged = true;
            emit failing(box.error());
            m_failing = true;
            tryOpen();
            return;
        }
        retryLater(box.error());
        return;
    }
    m_firstOpening = false;
    auto counts = box.value()->counts();
    auto newest = box.value()->quarantined(QuarantineModel::kMaxShown);
    if (!counts || !newest) {
        retryLater(!counts ? counts.error() : newest.error());
        return;
    }
    m_outbox = std::move(box.value());
    what.counts = counts.value();
    what.newest = newest.value();
    emit opened(what);
    succeeded();
    if (!m_held.isEmpty())
        tryAppend();
}

void OutboxAppender::append(QList<OutboxEntry> entries)
{
    if (m_closed) {
        emit dropped(entries,
                     Error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar outbox"),
                           m_outboxPath + QStringLiteral(": the outbox is closed")});
        return;
    }
    m_held += entries;
    keepWithinBound();
    // While backing off, the readings wait with those before them.
    if (!m_retry->isActive())
        tryAppend();
}

void OutboxAppender::tryAppend()
{
    if (m_closed)
        return;
    if (!m_outbox) {
        // Damaged while running: nothing is tried until the writers have
        // let go of the file and setAside() comes.
        if (!m_awaitingLetGo)
            tryOpen();
        return;
    }
    while (!m_held.isEmpty()) {
        QList<OutboxEntry> batch = m_held.first(std::min(m_held.size(), kMostPerCommit));
        Status kept = step(Step::BeforeAppend);
        if (kept)
            kept = m_outbox->append(batch);
        if (!kept) {
            if (Outbox::isDamage(kept.error())) {
                m_outbox.reset();
                m_damage = kept.error();
                m_damaged = true;
                m_awaitingLetGo = true;
                if (!m_failing) {
                    m_failing = true;
                    emit failing(kept.error());
                }
                emit damaged(kept.error());
                return;
            }
            retryLater(kept.error());
            return;
        }
        m_held.remove(0, batch.size());
        // The counts first: the window thread never counts less than the
        // outbox holds.
        if (auto counts = m_outbox->counts())
            emit counted(counts.value());
        emit appended(batch.size());
        wakeWriters(batch);
        succeeded();
    }
}

void OutboxAppender::retryLater(const Error& error)
{
    if (!m_failing) {
        m_failing = true;
        emit failing(error);
    }
    m_backoff = m_backoff.count() == 0 ? kFirstBackoff : std::min(m_backoff * 2, kLastBackoff);
    m_retry->start(m_backoff);
}

void OutboxAppender::succeeded()
{
    m_backoff = std::chrono::milliseconds(0);
    if (m_failing) {
        m_failing = false;
        emit recovered();
    }
}

void OutboxAppender::keepWithinBound()
{
    if (m_held.size() <= m_mostHeld)
        return;
    const QList<OutboxEntry> beyond = m_held.mid(m_mostHeld);
    m_held.resize(m_mostHeld);
    emit dropped(beyond, Error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar outbox"),
                               m_outboxPath +
                                   QStringLiteral(": the outbox cannot take readings now, and ") +
                                   QString::number(m_mostHeld) +
                                   QStringLiteral(" readings already wait in memory for it")});
}

void OutboxAppender::refreshCounts()
{
    if (!m_outbox)
        return;
    if (auto counts = m_outbox->counts())
        emit counted(counts.value());
}

void OutboxAppender::listQuarantine()
{
    if (!m_outbox)
        return;
    if (auto newest = m_outbox->quarantined(QuarantineModel::kMaxShown))
        emit quarantineListed(newest.value());
}

void OutboxAppender::setAside()
{
    m_outbox.reset();
    m_damaged = true;
    m_awaitingLetGo = false;
    m_retry->stop();
    tryOpen();
}

QList<OutboxEntry> OutboxAppender::closeAndHandBack()
{
    m_retry->stop();
    if (!m_closed) {
        tryAppend();
        m_closed = true;
    }
    m_outbox.reset();
    QList<OutboxEntry> left = std::move(m_held);
    m_held.clear();
    return left;
}

void OutboxAppender::wakeWriters(const QList<OutboxEntry>& entries) const
{
    // Each writer hears of its own tables.
    if (m_writers.empty())
        return;
    const int shards = static_cast<int>(m_writers.size());
    std::vector<QSet<QString>> keys(m_writers.size());
    for (const OutboxEntry& e : entries) {
        const QString key = e.destinationKey();
        keys[static_cast<std::size_t>(RecordingWriter::shardOf(key, shards))].insert(key);
    }
    for (std::size_t i = 0; i < m_writers.size(); ++i) {
        if (keys[i].isEmpty())
            continue;
        QMetaObject::invokeMethod(
            m_writers[i],
            [writer = m_writers[i], mine = QStringList(keys[i].cbegin(), keys[i].cend())] {
                writer->wake(mine);
            });
    }
}

} // namespace telvar
