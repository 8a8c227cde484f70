#include "recording/RecordingService.h"

#include "acquisition/Clock.h"
#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "recording/OutboxAppender.h"
#include "recording/RecordingLog.h"
#include "recording/UnrecordedLog.h"

#include <QMetaObject>
#include <QTimer>

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
      m_outboxPath(std::move(outboxPath))
{
    qRegisterMetaType<telvar::BatchOutcome>();
    qRegisterMetaType<telvar::Error>();
    qRegisterMetaType<QList<qint64>>();
}

RecordingService::~RecordingService()
{
    shutdown();
}

Status RecordingService::open()
{
    if (m_outbox)
        return {};
    auto opened = Outbox::open(m_outboxPath, /*checkpoints=*/false);
    if (!opened)
        return opened.error();
    // What an earlier run left: the readings waiting, and the quarantine.
    const Outbox& box = *opened.value();
    auto waiting = box.pendingCount();
    if (!waiting)
        return waiting.error();
    auto quarantined = box.quarantinedCount();
    if (!quarantined)
        return quarantined.error();
    auto listed = box.quarantined(QuarantineModel::kMaxShown);
    if (!listed)
        return listed.error();
    auto waitingByTable = box.countsByTable(Outbox::Part::Pending);
    if (!waitingByTable)
        return waitingByTable.error();
    auto quarantinedByTable = box.countsByTable(Outbox::Part::Quarantine);
    if (!quarantinedByTable)
        return quarantinedByTable.error();
    m_outbox = std::move(opened.value());
    m_waiting = waiting.value();
    m_quarantined = quarantined.value();
    m_quarantine.setEntries(listed.value());
    for (const Outbox::TableCount& t : waitingByTable.value())
        destination(GrabaQLTR::place(t.table)).waiting += t.count;
    for (const Outbox::TableCount& t : quarantinedByTable.value())
        destination(GrabaQLTR::place(t.table)).quarantined += t.count;

    // The writers are made on this thread with a copy of the start-up
    // values and then handed to their own.
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
        connect(writer, &RecordingWriter::resent, this, [this](qsizetype moved) {
            // Every quarantined reading is back among those waiting; each
            // writer looks for its own.
            m_waiting += moved;
            m_quarantined = 0;
            m_quarantine.setEntries({});
            for (DestinationStatus& d : m_destinations) {
                d.waiting += d.quarantined;
                d.quarantined = 0;
            }
            for (RecordingWriter* w : m_writers)
                QMetaObject::invokeMethod(w, &RecordingWriter::rescan);
            emit statusChanged();
        });
        thread->start();
        QMetaObject::invokeMethod(writer, [writer] {
            if (const Status ready = writer->open(); !ready)
                emit writer->outboxFailed(ready.error());
        });
        m_threads.push_back(std::move(thread));
        m_writers.push_back(writer);
    }
    m_appenderThread = std::make_unique<QThread>();
    m_appenderThread->setObjectName(QStringLiteral("Telvar outbox"));
    m_appender = new OutboxAppender(m_outboxPath, m_writers);
    m_appender->moveToThread(m_appenderThread.get());
    connect(m_appenderThread.get(), &QThread::finished, m_appender, &QObject::deleteLater);
    connect(m_appender, &OutboxAppender::appendFailed, this, &RecordingService::appendFailed);
    connect(m_appender, &OutboxAppender::appended, this, [this](qsizetype count) {
        m_keptTotal += count;
        emit kept();
    });
    m_appenderThread->start();
    QMetaObject::invokeMethod(m_appender, [this, appender = m_appender] {
        if (const Status ready = appender->open(); !ready)
            QMetaObject::invokeMethod(this, [this, error = ready.error()] { outboxFailed(error); });
    });
    emit statusChanged();
    return {};
}

void RecordingService::shutdown()
{
    if (m_writers.empty())
        return;
    flush();
    // The batches handed over are appended first (the appender's events run
    // in order, this one last), then it ends; the writers after it, each
    // after its current batch. What is left waits for the next start.
    QMetaObject::invokeMethod(m_appender, &OutboxAppender::close, Qt::BlockingQueuedConnection);
    m_appenderThread->quit();
    m_appenderThread->wait();
    m_appender = nullptr;
    m_appenderThread.reset();
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
    if (!m_outbox) {
        if (!m_openFailureShown) {
            m_openFailureShown = true;
            m_ui.mensaBox(QStringLiteral("Telvar. Outbox.\n\n") +
                              ownText(OwnText::OutboxCannotOpenBox, m_m.Idioma).arg(m_outboxPath),
                          BoxKind::Critical, kReportSeconds);
        }
        for (const OutboxEntry& e : std::as_const(batch))
            unrecorded(e, ownText(OwnText::OutboxCannotOpenCause, m_m.Idioma));
        return;
    }

    // Beyond the bound nothing is kept, and each reading says so.
    const qint64 room = std::max<qint64>(0, m_capacity - m_waiting - quarantinedCount());
    QList<OutboxEntry> refused;
    if (batch.size() > room) {
        refused = batch.mid(room);
        batch.resize(room);
    }
    if (!batch.isEmpty()) {
        m_waiting += batch.size();
        for (const OutboxEntry& e : std::as_const(batch))
            ++destination(GrabaQLTR::place(e)).waiting;
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
            m_ui.mensaBox(QStringLiteral("Telvar. Outbox.\n\n") +
                              ownText(OwnText::OutboxFullBox, m_m.Idioma).arg(m_outboxPath, cause),
                          BoxKind::Critical, kReportSeconds);
        }
        for (const OutboxEntry& e : std::as_const(refused))
            unrecorded(e, cause);
    }
    emit statusChanged();
}

void RecordingService::appendFailed(const QList<OutboxEntry>& entries, const Error& error)
{
    m_waiting = std::max<qint64>(0, m_waiting - entries.size());
    for (const OutboxEntry& e : entries) {
        DestinationStatus& d = destination(GrabaQLTR::place(e));
        d.waiting = std::max<qint64>(0, d.waiting - 1);
    }
    m_ui.mensaBox(errorReport(QStringLiteral("Telvar. Outbox."), error), BoxKind::Critical,
                  kReportSeconds);
    for (const OutboxEntry& e : entries)
        unrecorded(e, error.description);
    emit statusChanged();
}

void RecordingService::resendQuarantined()
{
    if (m_writers.empty() || m_quarantined == 0)
        return;
    QMetaObject::invokeMethod(m_writers.front(), &RecordingWriter::resend);
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
    status.waiting =
        std::max<qint64>(0, status.waiting - outcome.recorded.size() - outcome.quarantined.size());
    status.quarantined += outcome.quarantined.size();
    m_recordedTotal += outcome.recorded.size();
    m_waiting -= outcome.recorded.size() + outcome.quarantined.size();
    if (m_waiting < 0)
        m_waiting = 0;
    if (m_full && m_waiting + m_quarantined + outcome.quarantined.size() < m_capacity)
        m_full = false;

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
    m_quarantined += outcome.quarantined.size();
    m_quarantine.addEntries(outcome.quarantined);
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
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. GrabaQLTR."), q.reason),
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
        m_ui.mensaBox(QStringLiteral("Telvar. TelvarNoGrabadas.log.\n\n") +
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
