#pragma once

#include <chrono>

// How long anything waits on a database connection that the engine layer
// opens. Every wait is bounded so that a writer never hangs: a failure that
// waiting can mend (a lock held elsewhere, a server gone or stalled) comes
// back as a retryable error within seconds, and the caller decides when to
// try again.
//
// The figures fit each other:
// - The recording waits at most 2 s (its writers' default lock wait) for
//   another writer's table lock, through SET LOCAL lock_timeout or SQLite's busy timeout; the
//   session defaults below are longer, so that wait is never cut short.
// - A lock wait reports itself as such (55P03) because lock_timeout is
//   shorter than statement_timeout.
// - A live server ends a statement itself at statement_timeout (57014) and
//   keeps the connection; the layer gives up on a server that has not
//   answered a little later still (kServerAnswer), which leaves the server
//   time to report its own timeout.
// - A server that cannot be reached fails the connection in kPostgresConnect;
//   a connection whose peer vanished (no acknowledgements) ends within about
//   11 s through TCP keepalives and tcp_user_timeout; a server that still
//   acknowledges but never answers ends in kServerAnswer.
namespace telvar::WaitBounds {

// PostgreSQL (libpq connection options).
// connect_timeout: the whole connection set-up, per address the host name
// resolves to. libpq takes whole seconds (at least 2).
inline constexpr std::chrono::seconds kPostgresConnect{5};
// TCP keepalives on an idle connection: the first probe after 5 s without
// traffic, then every 2 s; 3 unanswered probes end it (5 + 3 x 2 = 11 s).
inline constexpr std::chrono::seconds kPostgresKeepaliveIdle{5};
inline constexpr std::chrono::seconds kPostgresKeepaliveInterval{2};
inline constexpr int kPostgresKeepaliveCount = 3;
// tcp_user_timeout: data sent and not acknowledged for this long ends the
// connection (the peer or the network is gone while a statement is sent).
inline constexpr std::chrono::milliseconds kPostgresTcpUserTimeout{10000};
// Session defaults of the server's own bounds. A caller may still set its own
// for a transaction (SET LOCAL), which overrides these.
inline constexpr std::chrono::milliseconds kPostgresLockTimeout{10000};
inline constexpr std::chrono::milliseconds kPostgresStatementTimeout{12000};
// The longest a statement waits for a server that acknowledges what it is
// sent but answers nothing (hung, stopped, stuck on its storage): the
// connection is then given up (ServerAnswerWatch).
inline constexpr std::chrono::milliseconds kServerAnswer{15000};

// SQLite: how long a statement waits for a lock on the file held by another
// connection or process before it fails with SQLITE_BUSY.
inline constexpr std::chrono::milliseconds kSqliteBusyTimeout{5000};

// ODBC (whole seconds): the login, and every other request on the
// connection where the driver honours SQL_ATTR_CONNECTION_TIMEOUT.
inline constexpr std::chrono::seconds kOdbcLogin{10};
inline constexpr std::chrono::seconds kOdbcConnection{10};

static_assert(kPostgresLockTimeout < kPostgresStatementTimeout);
static_assert(kPostgresStatementTimeout < kServerAnswer);

} // namespace telvar::WaitBounds
