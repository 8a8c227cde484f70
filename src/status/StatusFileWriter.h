#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

namespace telvar {

// Keeps a file replaced by the newest document handed to it, on a thread of
// its own: each document is written beside the file and renamed over it
// (replaceFile, which also syncs it to the disk first), so a reader or a
// power cut finds the old document or the new one, never a mix; and the
// file is never written through a link, nor when another account owns it
// (the error says so). It is readable by its owner's group only. The window's
// thread never waits on the disk. A document handed over while another is
// still waiting replaces it: only the newest is worth writing.
class StatusFileWriter final : public QObject {
    Q_OBJECT
public:
    explicit StatusFileWriter(QString path, QObject* parent = nullptr);
    // Writes what is waiting, then ends the thread.
    ~StatusFileWriter() override;
    StatusFileWriter(const StatusFileWriter&) = delete;
    StatusFileWriter& operator=(const StatusFileWriter&) = delete;

    const QString& path() const { return m_path; }

    void write(QByteArray document);
    // Returns once every document handed over has been written or has
    // failed (at the end, and in tests).
    void flush();

    // Whether the last write failed, and why.
    bool failing() const { return !m_lastError.isEmpty(); }
    const QString& lastError() const { return m_lastError; }

signals:
    // The file could not be written, after being written (or never tried)
    // before: once per run of failures.
    void startedFailing(const QString& why);
    // A document was written (tests wait on it).
    void written();

private:
    void done(const QString& error);

    QString m_path;
    QThread m_thread;
    QObject* m_worker = nullptr;
    QMutex m_mutex;
    QByteArray m_waiting;
    bool m_scheduled = false;
    QString m_lastError;
};

} // namespace telvar
