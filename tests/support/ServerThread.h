#pragma once

#include <QObject>
#include <QThread>
#include <functional>

namespace telvar::test {

// A thread with its own event loop for the servers of tests whose fetch
// blocks the test's thread (a server there could never answer).
class ServerThread final {
public:
    ServerThread()
    {
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
    }
    ~ServerThread()
    {
        m_context->deleteLater();
        m_thread.quit();
        m_thread.wait();
    }

    // Runs work on the thread and waits for it.
    void run(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(m_context, work, Qt::BlockingQueuedConnection);
    }

private:
    QThread m_thread;
    QObject* m_context = nullptr;
};

} // namespace telvar::test
