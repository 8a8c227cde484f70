#pragma once

#include <QSqlDatabase>
#include <chrono>
#include <memory>

namespace telvar {

// Gives up a PostgreSQL connection whose server leaves a statement
// unanswered for longer than a bound.
//
// libpq waits for a statement's answer without any bound of its own. The
// server's statement_timeout ends a slow statement only while the server
// works; TCP keepalives and tcp_user_timeout end a connection only when the
// peer's kernel stops acknowledging. A server, pooler or proxy that still
// acknowledges at the TCP level but never answers (hung, stopped, stuck on
// its storage) would keep the statement, and the thread running it, waiting
// forever.
//
// While a Wait lives, one thread of the process keeps the deadline; if it
// passes, that thread shuts the connection's socket down. libpq's wait then
// returns at once, the server is told the client is gone, and the statement
// fails with the driver's "server closed the connection unexpectedly", which
// engineError marks as retryable. The connection is of no further use.
class ServerAnswerWatch final {
public:
    // Watches db, an open QPSQL connection; nullptr when db is another
    // engine's connection or its socket cannot be had.
    static std::unique_ptr<ServerAnswerWatch> start(const QSqlDatabase& db,
                                                    std::chrono::milliseconds bound);
    ~ServerAnswerWatch();
    ServerAnswerWatch(const ServerAnswerWatch&) = delete;
    ServerAnswerWatch& operator=(const ServerAnswerWatch&) = delete;

    // The bound runs from its construction to its destruction. Constructed
    // from nullptr it does nothing (a connection that is not watched).
    class Wait final {
    public:
        explicit Wait(const ServerAnswerWatch* watch);
        ~Wait();
        Wait(const Wait&) = delete;
        Wait& operator=(const Wait&) = delete;

    private:
        const ServerAnswerWatch* m_watch;
    };

    // True once the connection was given up for want of an answer.
    bool gaveUp() const;
    std::chrono::milliseconds bound() const { return m_bound; }

private:
    ServerAnswerWatch(unsigned long long id, std::chrono::milliseconds bound)
        : m_id(id), m_bound(bound)
    {
    }

    unsigned long long m_id;
    std::chrono::milliseconds m_bound;
};

} // namespace telvar
