#include "status/StatusFileWriter.h"

#include "common/SafeFiles.h"

#include <QMetaObject>
#include <QMutexLocker>

namespace telvar {

StatusFileWriter::StatusFileWriter(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path))
{
    m_thread.setObjectName(QStringLiteral("Telvar status file"));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

StatusFileWriter::~StatusFileWriter()
{
    flush();
    m_thread.quit();
    m_thread.wait();
}

void StatusFileWriter::write(QByteArray document)
{
    QMutexLocker lock(&m_mutex);
    m_waiting = std::move(document);
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(m_worker, [this] {
        QByteArray newest;
        {
            QMutexLocker taken(&m_mutex);
            newest = std::move(m_waiting);
            m_waiting.clear();
            m_scheduled = false;
        }
        const Status replaced = replaceFile(m_path, newest);
        const QString error = replaced ? QString() : replaced.error().description;
        QMetaObject::invokeMethod(this, [this, error] { done(error); });
    });
}

void StatusFileWriter::flush()
{
    // The worker's calls run in order: this one runs after every write
    // asked for before it.
    if (m_thread.isRunning())
        QMetaObject::invokeMethod(
            m_worker, [] {}, Qt::BlockingQueuedConnection);
}

void StatusFileWriter::done(const QString& error)
{
    const bool wasFailing = failing();
    m_lastError = error;
    if (!error.isEmpty() && !wasFailing)
        emit startedFailing(error);
    if (error.isEmpty())
        emit written();
}

} // namespace telvar
