#pragma once

#include "acquisition/PageLoader.h"

#include <QList>
#include <QString>

namespace telvar::test {

// A PageLoader whose loads end when the test says so: load() only records
// the address, and complete() reports the page the test hands it.
class ScriptedPageLoader final : public PageLoader {
    Q_OBJECT
public:
    struct Request {
        Ticket ticket = 0;
        QString url;
    };

    using PageLoader::PageLoader;

    Ticket load(const QString& url) override;
    void cancel(Ticket ticket) override;

    // Ends a pending load with page (its url filled in when empty) and emits
    // pageLoaded at once; false, and no signal, when the ticket is not
    // pending.
    bool complete(Ticket ticket, LoadedPage page);

    // Copies, so that a test may complete or cancel loads while it walks
    // through them.
    // Every load in the order made, finished or not.
    QList<Request> requests() const { return m_requests; }
    // The loads neither completed nor cancelled, oldest first.
    QList<Request> pending() const { return m_pending; }
    // The tickets cancelled while pending, in order.
    QList<Ticket> cancelled() const { return m_cancelled; }

private:
    Ticket m_lastTicket = 0;
    QList<Request> m_requests;
    QList<Request> m_pending;
    QList<Ticket> m_cancelled;
};

} // namespace telvar::test
