#include "recording/RecordingService.h"

#include "acquisition/Clock.h"
#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "recording/GrabaQLTR.h"
#include "recording/RecordingLog.h"
#include "recording/UnrecordedLog.h"

#include <QMetaObject>
#include <QTimer>
#include <utility>

namespace telvar {

namespace {

// The report box of the recording: an exclamation that closes itself after 5 s.
constexpr double kReportSeconds = 5;

QString hhmmss(const QDateTime& t)
{
    return t.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

RecordingService::RecordingService(const Modulo1& m, Interaccion& ui, const Clock& clock,
                                   RecordingLog& log, UnrecordedLog& unrecorded, QString outboxPath,
                                   QObject* parent)
    : QObject(parent), m_m(m), m_ui(ui), m_clock(clock), m_log(log), m_unrecordedLog(unrecorded),
      m_outboxPath(std::move(outboxPath)), m_recountTimer(new QTimer(this))
{
    qRegisterMetaType<telvar::BatchOutcome>();
    qRegisterMetaType<telvar::Error>();
    qRegisterMetaType<QList<qint64>>();
    qRegisterMetaType<telvar::OutboxOpened>();
    qRegisterMetaType<telvar::Outbox::Counts>();
    connect(m_recountTimer, &QTimer::timeout, this, &RecordingService::recount);
}

RecordingService::~RecordingService()
{
    shutdown();
}

Status RecordingService::open()
{
    if (m_lock)
        return {};
    auto claimed = OutboxLock::claim(m_outboxPath, m_m.RutaApp);
    if (!claimed) {
        m_claimError = claimed.error().description;
        return claimed.error();
    }
    m_claimError.clear();
    m_lock = std::move(claimed.value());
    if (m_lock->unguarded())
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') +
                ownText(OwnText::OutboxUnguarded, m_m.Idioma).arg(m_outboxPath));

    // The writers are made on this thread with a copy of the start-up
    // values and handed to their own; they start once the outbox is open.
    m_writerPassBD = m_m.PassBD;
    for (int shard = 0; shard < kWriters; ++shard) {
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("Telvar writer ") + QString::number(shard + 1));
        auto* writer = new RecordingWriter(m_m, m_outboxPath);
        writer->setShard(shard, kWriters);
        writer->moveToThread(thread.get());
        connect(thread.get(), &QThread::finished, writer, &QObject::deleteLater);
        connect(writer, &RecordingWriter::batchDone, this, &RecordingService::batchDone);
        connect(writer, &RecordingWriter::outboxFailed, this, &RecordingService::outboxFailed);
        connect(writer, &RecordingWriter::resent, this, [this](qsizetype, bool more) {
            // Each writer looks for its own among those moved back.
            for (RecordingWriter* w : m_writers)
                QMetaObject::invokeMethod(w, &RecordingWriter::rescan);
            recount();
            // The list as the quarantine holds it once the sending is done.
            if (!more && m_appender)
                QMetaObject::invokeMethod(m_appender, &OutboxAppender::listQuarantine);
        });
        connect(writer, &RecordingWriter::sentAgain, this, &RecordingService::sentAgain);
        connect(writer, &RecordingWriter::letGoDone, this, [this] {
            if (--m_writersLettingGo == 0 && m_appender)
                QMetaObject::invokeMethod(m_appender, &OutboxAppender::setAside);
        });
        thread->start();
        m_threads.push_back(std::move(thread));
        m_writers.push_back(writer);
    }
    m_appenderThread = std::make_unique<QThread>();
    m_appenderThread->setObjectName(QStringLiteral("Telvar outbox"));
    m_appender = new OutboxAppender(m_outboxPath, m_writers);
    m_appender->moveToThread(m_appenderThread.get());
    connect(m_appenderThread.get(), &QThread::finished, m_appender, &QObject::deleteLater);
    connect(m_appender, &OutboxAppender::opened, this, &RecordingService::opened);
    connect(m_appender, &OutboxAppender::counted, this, &RecordingService::counted);
    connect(m_appender, &OutboxAppender::quarantineListed, this,
            [this](const QList<QuarantinedEntry>& newest) { m_quarantine.setEntries(newest); });
    connect(m_appender, &OutboxAppender::dropped, this, &RecordingService::dropped);
    connect(m_appender, &OutboxAppender::appended, this, [this](qsizetype count) {
        m_onTheirWay = std::max<qint64>(0, m_onTheirWay - count);
        m_keptTotal += count;
        updateFull();
        emit kept();
        emit statusChanged();
    });
    connect(m_appender, &OutboxAppender::failing, this, [this](const Error& error) {
        m_outboxOpen = false;
        m_outboxError = error.description;
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') +
                ownText(OwnText::OutboxFailing, m_m.Idioma).arg(error.description));
        emit statusChanged();
    });
    connect(m_appender, &OutboxAppender::recovered, this, [this] {
        m_outboxOpen = true;
        m_outboxError.clear();
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') +
                ownText(OwnText::OutboxBack, m_m.Idioma).arg(m_outboxPath));
        emit statusChanged();
    });
    connect(m_appender, &OutboxAppender::damaged, this, &RecordingService::outboxDamaged);
    m_appenderThread->start();
    QMetaObject::invokeMethod(m_appender, &OutboxAppender::start);
    m_recountTimer->start(kRecountEveryMs);
    emit statusChanged();
    return {};
}

void RecordingService::opened(const OutboxOpened& what)
{
    m_outboxOpen = true;
    m_outboxError.clear();
    m_quarantine.setEntries(what.newest);
    counted(what.counts);
    if (what.salvage) {
        const OutboxSalvage& s = *what.salvage;
        m_setAsidePath = s.asidePath;
        QString text = ownText(OwnText::OutboxSetAsideBox, m_m.Idioma)
                           .arg(m_outboxPath, s.asidePath, QString::number(s.pending),
                                QString::number(s.quarantined));
        if (!s.incomplete.isEmpty())
            text += QLatin1Char(' ') +
                    ownText(OwnText::OutboxSalvageIncomplete, m_m.Idioma).arg(s.incomplete);
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') + what.damage.description);
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') + text);
        m_ui.notice(QStringLiteral("Telvar. Outbox.\n\n") + text, BoxKind::Critical,
                    kReportSeconds);
    }
    if (!m_writersStarted) {
        startWriters();
    } else {
        for (RecordingWriter* writer : m_writers)
            QMetaObject::invokeMethod(writer, &RecordingWriter::resume);
    }
    emit outboxOpened();
    emit statusChanged();
}

void RecordingService::startWriters()
{
    m_writersStarted = true;
    for (RecordingWriter* writer : m_writers)
        QMetaObject::invokeMethod(writer, [writer] { (void)writer->open(); });
}

void RecordingService::outboxDamaged()
{
    m_outboxOpen = false;
    // The writers let go of the file first; the last of them to do so
    // hands it to the appender to be set aside.
    if (!m_writersStarted || m_writers.empty()) {
        QMetaObject::invokeMethod(m_appender, &OutboxAppender::setAside);
        return;
    }
    m_writersLettingGo = static_cast<int>(m_writers.size());
    for (RecordingWriter* writer : m_writers)
        QMetaObject::invokeMethod(writer, &RecordingWriter::letGo);
    emit statusChanged();
}

void RecordingService::counted(const Outbox::Counts& counts)
{
    m_counts = counts;
    for (DestinationStatus& d : m_destinations) {
        d.waiting = 0;
        d.quarantined = 0;
    }
    for (const Outbox::TableCount& t : counts.pendingByTable)
        destination(GrabaQLTR::place(t.table)).waiting += t.count;
    for (const Outbox::TableCount& t : counts.quarantinedByTable)
        destination(GrabaQLTR::place(t.table)).quarantined += t.count;
    updateFull();
    emit statusChanged();
}

void RecordingService::recount()
{
    m_recountScheduled = false;
    if (m_appender)
        QMetaObject::invokeMethod(m_appender, &OutboxAppender::refreshCounts);
}

void RecordingService::updateFull()
{
    if (m_full && m_counts.pending + m_counts.quarantined + m_onTheirWay < m_capacity)
        m_full = false;
}

void RecordingService::shutdown()
{
    m_recountTimer->stop();
    if (m_writers.empty() && !m_appender) {
        m_lock.reset();
        return;
    }
    flush();
    // The batches handed over are appended first (the appender's events run
    // in order, this one last), then it ends; the writers after it, each
    // after its current batch. What is left waits for the next start; what
    // the appender could not keep is logged with its value.
    QList<OutboxEntry> left;
    QMetaObject::invokeMethod(
        m_appender, [&left, appender = m_appender] { left = appender->closeAndHandBack(); },
        Qt::BlockingQueuedConnection);
    m_appenderThread->quit();
    m_appenderThread->wait();
    m_appender = nullptr;
    m_appenderThread.reset();
    for (const OutboxEntry& e : std::as_const(left))
        unrecorded(e, ownText(OwnText::OutboxEndedCause, m_m.Idioma));
    for (RecordingWriter* writer : m_writers)
        writer->requestStop();
    for (std::size_t i = 0; i < m_writers.size(); ++i) {
        QMetaObject::invokeMethod(m_writers[i], &RecordingWriter::close,
                                  Qt::BlockingQueuedConnection);
        m_threads[i]->quit();
        m_threads[i]->wait();
    }
    m_writers.clear();
    m_threads.clear();
    m_lock.reset();
}

void RecordingService::setLockWait(std::chrono::milliseconds wait)
{
    for (RecordingWriter* writer : m_writers)
        QMetaObject::invokeMethod(writer, [writer, wait] { writer->setLockWait(wait); });
}

void RecordingService::keep(OutboxEntry entry)
{
    m_batch.append(std::move(entry));
    if (m_flushScheduled)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(0, this, &RecordingService::flush);
}

void RecordingService::flush()
{
    m_flushScheduled = false;
    if (m_batch.isEmpty())
        return;
    QList<OutboxEntry> batch = std::move(m_batch);
    m_batch.clear();
    if (!m_appender) {
        if (!m_openFailureShown) {
            m_openFailureShown = true;
            m_ui.notice(
                QStringLiteral("Telvar. Outbox.\n\n") +
                    ownText(OwnText::OutboxCannotOpenBox, m_m.Idioma).arg(m_outboxPath) +
                    (m_claimError.isEmpty() ? QString() : QStringLiteral("\n\n") + m_claimError),
                BoxKind::Critical, kReportSeconds);
        }
        for (const OutboxEntry& e : std::as_const(batch))
            unrecorded(e, ownText(OwnText::OutboxCannotOpenCause, m_m.Idioma));
        return;
    }

    // Beyond the bound nothing is kept, and each reading says so.
    const qint64 room =
        std::max<qint64>(0, m_capacity - m_counts.pending - m_counts.quarantined - m_onTheirWay);
    QList<OutboxEntry> refused;
    if (batch.size() > room) {
        refused = batch.mid(room);
        batch.resize(room);
    }
    if (!batch.isEmpty()) {
        m_onTheirWay += batch.size();
        if (m_m.PassBD != m_writerPassBD) {
            m_writerPassBD = m_m.PassBD;
            for (RecordingWriter* writer : m_writers)
                QMetaObject::invokeMethod(
                    writer, [writer, pass = m_writerPassBD] { writer->setPassBD(pass); });
        }
        m_handedOver += batch.size();
        QMetaObject::invokeMethod(m_appender,
                                  [appender = m_appender, batch] { appender->append(batch); });
    }
    if (!refused.isEmpty()) {
        const QString cause = ownText(OwnText::OutboxFullCause, m_m.Idioma).arg(m_capacity);
        if (!m_full) {
            m_full = true;
            m_ui.notice(QStringLiteral("Telvar. Outbox.\n\n") +
                            ownText(OwnText::OutboxFullBox, m_m.Idioma).arg(m_outboxPath, cause),
                        BoxKind::Critical, kReportSeconds);
        }
        for (const OutboxEntry& e : std::as_const(refused))
            unrecorded(e, cause);
    }
    emit statusChanged();
}

void RecordingService::dropped(const QList<OutboxEntry>& entries, const Error& error)
{
    m_onTheirWay = std::max<qint64>(0, m_onTheirWay - entries.size());
    if (!m_heldBoxShown) {
        m_heldBoxShown = true;
        m_ui.notice(
            QStringLiteral("Telvar. Outbox.\n\n") +
                ownText(OwnText::OutboxHeldBox, m_m.Idioma).arg(m_outboxPath, error.description),
            BoxKind::Critical, kReportSeconds);
    }
    for (const OutboxEntry& e : entries)
        unrecorded(e, error.description);
    emit statusChanged();
}

void RecordingService::resendQuarantined()
{
    if (m_writers.empty() || m_counts.quarantined == 0)
        return;
    // Each resend ends with one slice that says no more follow.
    ++m_resend.requests;
    QMetaObject::invokeMethod(m_writers.front(), &RecordingWriter::resend);
}

void RecordingService::sentAgain(const QList<OutboxEntry>& entries, bool more)
{
    // The writer tells of a slice before any of its readings is written,
    // and the other writers find them only after the slice was told (the
    // service's rescan, or their own a while later): every outcome of a
    // reading sent comes after it is listed here.
    for (const OutboxEntry& e : entries)
        m_resend.untried.insert(e.id, GrabaQLTR::place(e));
    if (!more && m_resend.requests > 0)
        --m_resend.requests;
    endResendIfDone();
}

void RecordingService::followResend(const BatchOutcome& outcome)
{
    if (m_resend.untried.isEmpty())
        return;
    for (qint64 id : outcome.recorded)
        m_resend.recorded += m_resend.untried.remove(id) ? 1 : 0;
    for (const QuarantinedEntry& q : outcome.quarantined)
        m_resend.quarantined += m_resend.untried.remove(q.entry.id) ? 1 : 0;
    // A table that cannot be written now keeps its readings waiting: they
    // have been tried, and are recorded once it is back.
    if (outcome.failingSince.isValid() && outcome.recorded.isEmpty()) {
        for (auto it = m_resend.untried.begin(); it != m_resend.untried.end();) {
            if (*it == outcome.place) {
                ++m_resend.waiting;
                it = m_resend.untried.erase(it);
            } else {
                ++it;
            }
        }
    }
    endResendIfDone();
}

void RecordingService::endResendIfDone()
{
    if (m_resend.requests > 0 || !m_resend.untried.isEmpty())
        return;
    const Resend done = std::exchange(m_resend, Resend{});
    if (done.recorded + done.quarantined + done.waiting == 0)
        return;
    const QString text =
        done.waiting > 0
            ? ownText(OwnText::ResendFollowUpWaiting, m_m.Idioma)
                  .arg(QString::number(done.recorded), QString::number(done.quarantined),
                       QString::number(done.waiting))
            : ownText(OwnText::ResendFollowUp, m_m.Idioma)
                  .arg(QString::number(done.recorded), QString::number(done.quarantined));
    logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') + text);
}

DestinationStatus& RecordingService::destination(const QString& place)
{
    auto it = m_destinations.find(place);
    if (it == m_destinations.end()) {
        it = m_destinations.insert(place, DestinationStatus{});
        it->place = place;
    }
    return *it;
}

void RecordingService::rollOverDay()
{
    const QDate today = m_clock.now().date();
    if (today == m_today)
        return;
    m_today = today;
    for (DestinationStatus& d : m_destinations) {
        d.recordedToday = 0;
        d.quarantinedToday = 0;
    }
}

QList<DestinationStatus> RecordingService::destinations() const
{
    QList<DestinationStatus> list = m_destinations.values();
    // Nothing written since midnight: yesterday's counts are not today's.
    if (m_clock.now().date() != m_today) {
        for (DestinationStatus& d : list) {
            d.recordedToday = 0;
            d.quarantinedToday = 0;
        }
    }
    return list;
}

void RecordingService::batchDone(const BatchOutcome& outcome)
{
    rollOverDay();
    DestinationStatus& status = destination(outcome.place);
    const bool failing = outcome.failingSince.isValid();
    if (!status.tried || failing != status.failingSince.isValid())
        status.since = m_clock.now();
    status.tried = true;
    status.failingSince = outcome.failingSince;
    status.lastError = outcome.lastError;
    status.recordedToday += outcome.recorded.size();
    status.quarantinedToday += outcome.quarantined.size();
    m_recordedTotal += outcome.recorded.size();

    if (outcome.startedFailing)
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') +
                ownText(OwnText::TableFailing, m_m.Idioma)
                    .arg(outcome.place, QString::number(outcome.lastError.number) +
                                            QStringLiteral(".- ") + outcome.lastError.description));
    if (outcome.recovered)
        logLine(hhmmss(m_clock.now()) + QLatin1Char(' ') +
                ownText(OwnText::TableBack, m_m.Idioma)
                    .arg(outcome.place, QString::number(outcome.late)));
    for (const QuarantinedEntry& q : outcome.quarantined)
        logQuarantined(q);
    // The list takes the new ones on top, without reading the outbox again.
    m_quarantine.addEntries(outcome.quarantined);
    followResend(outcome);
    // The counts as the outbox holds them after the batch, once a turn of
    // the event loop however many batches end in it.
    if (!m_recountScheduled) {
        m_recountScheduled = true;
        QTimer::singleShot(0, this, &RecordingService::recount);
    }
    emit statusChanged();
    emit batchWritten(outcome);
}

void RecordingService::logQuarantined(const QuarantinedEntry& q)
{
    const OutboxEntry& e = q.entry;
    switch (q.code) {
    case CodeErr::NoFormatDirectory:
    case CodeErr::NoMachineDirectory:
        unrecorded(e, m_m.Mensajes(76, 9) + QLatin1Char(' ') + q.reason.description);
        return;
    case CodeErr::NoDataFile:
        unrecorded(e, m_m.Mensajes(76, 10) + QLatin1Char(' ') + q.reason.description);
        return;
    case CodeErr::Recorded:
        break;
    }
    unrecorded(e, q.reason.description);
    // An engine without data tables is reported once; its readings are
    // still logged one by one.
    if (q.reason.number == ErrorNumber::NotSupported && !m_notSupportedShown) {
        m_notSupportedShown = true;
        m_ui.notice(errorReport(QStringLiteral("Telvar. GrabaQLTR."), q.reason),
                    BoxKind::Exclamation, kReportSeconds);
    }
}

void RecordingService::outboxFailed(const Error& error)
{
    logLine(hhmmss(m_clock.now()) + QStringLiteral(" ") + error.description);
    emit statusChanged();
}

void RecordingService::unrecorded(const OutboxEntry& entry, const QString& cause)
{
    // The value right after the port, where the box's cut of a long line
    // (a data file's path, an engine's text) cannot reach it.
    const QString line = hhmmss(entry.stamp) + QLatin1Char(' ') + m_m.Mensajes(76, 1) +
                         QStringLiteral(": ") + QString::number(entry.Puert) +
                         QStringLiteral(" = ") + entry.Valor + QLatin1Char(' ') + cause;
    m_log.append(line);
    fileLine(entry.stamp.toString(QStringLiteral("yyyy-MM-dd ")) + line);
}

void RecordingService::fileLine(const QString& line)
{
    if (!m_unrecordedLog.append(line) && !m_logUnwritable) {
        // A line that can be written nowhere is an alarm, never silence.
        m_logUnwritable = true;
        m_ui.notice(QStringLiteral("Telvar. TelvarNoGrabadas.log.\n\n") +
                        ownText(OwnText::LogUnwritableBox, m_m.Idioma)
                            .arg(m_unrecordedLog.path(), m_unrecordedLog.fallbackPath()),
                    BoxKind::Critical, kReportSeconds);
        emit statusChanged();
    }
}

void RecordingService::logLine(const QString& line)
{
    m_log.append(line);
    fileLine(m_clock.now().toString(QStringLiteral("yyyy-MM-dd ")) + line);
}

} // namespace telvar
