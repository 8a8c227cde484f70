// Every wait on a connection of the engine layer is bounded, and the errors
// that waiting can mend say so (Error::retryable): engine errors of
// each kind, a SQLite file locked by another connection, a PostgreSQL server
// that stops answering.

#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/WaitBounds.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace telvar;
using telvar::test::EngineDatabase;
using telvar::test::EngineTest;
using telvar::test::PostgresSettings;
using telvar::test::PostgresTestServer;

std::string describe(const Error& e)
{
    return std::to_string(e.number) + " " + e.description.toStdString() +
           (e.retryable ? " [retryable]" : " [not retryable]");
}

// The error of a statement that was meant to fail.
Error failureOf(const Result<QSqlQuery>& run)
{
    if (run.ok())
        return Error{0, QString(), QStringLiteral("(the statement succeeded)")};
    return run.error();
}

Error openFailure(const QString& connectionString)
{
    auto opened = EngineLayer::open(connectionString);
    if (opened.ok())
        return Error{0, QString(), QStringLiteral("(the connection opened)")};
    return opened.error();
}

// A case of a real engine error: how to bring it about, a word of the
// engine's text that shows it is the intended error, and whether waiting
// can mend it.
struct RealError {
    const char* name;
    std::function<Error()> produce;
    const char* text;
    bool retryable;
};

void expectCases(const std::vector<RealError>& cases)
{
    for (const RealError& c : cases) {
        SCOPED_TRACE(c.name);
        const Error error = c.produce();
        EXPECT_TRUE(error.description.contains(QLatin1String(c.text), Qt::CaseInsensitive))
            << describe(error);
        EXPECT_EQ(error.retryable, c.retryable) << describe(error);
    }
}

// The engine errors that every engine's native codes map to, where no real
// engine of the kind runs here (ODBC servers, rarer SQLite and PostgreSQL
// conditions): the native code and text as Qt's drivers report them.
struct NativeError {
    const char* name;
    SqlDialect dialect;
    ErrorPhase phase;
    const char* nativeCode;
    const char* text;
    bool retryable;
};

const NativeError kNativeErrors[] = {
    // SQLite: primary and extended codes.
    {"SqliteBusy", SqlDialect::Sqlite, ErrorPhase::Statement, "5", "database is locked", true},
    {"SqliteBusySnapshot", SqlDialect::Sqlite, ErrorPhase::Statement, "517", "database is locked",
     true},
    {"SqliteLockedSharedCache", SqlDialect::Sqlite, ErrorPhase::Statement, "262",
     "database table is locked", true},
    {"SqliteBusyAtOpening", SqlDialect::Sqlite, ErrorPhase::Connect, "5", "database is locked",
     true},
    // What a file system does to an existing file: full, failing, read-only,
    // or the file not to be opened now (a missing file never reaches the
    // engine: the layer answers for it first, and waiting does not mend it).
    {"SqliteCantOpen", SqlDialect::Sqlite, ErrorPhase::Connect, "14",
     "unable to open database file", true},
    {"SqliteFull", SqlDialect::Sqlite, ErrorPhase::Statement, "13", "database or disk is full",
     true},
    {"SqliteIoErrWrite", SqlDialect::Sqlite, ErrorPhase::Statement, "778", "disk I/O error", true},
    {"SqliteReadOnly", SqlDialect::Sqlite, ErrorPhase::Statement, "8",
     "attempt to write a readonly database", true},
    {"SqliteReadOnlyDirectory", SqlDialect::Sqlite, ErrorPhase::Statement, "1544",
     "attempt to write a readonly database", true},
    {"SqliteCorrupt", SqlDialect::Sqlite, ErrorPhase::Statement, "11", "malformed", false},
    {"SqliteConstraint", SqlDialect::Sqlite, ErrorPhase::Statement, "1299",
     "NOT NULL constraint failed", false},
    // PostgreSQL: SQLSTATEs of statements, texts of connections.
    {"PostgresDeadlock", SqlDialect::PostgreSql, ErrorPhase::Statement, "40P01",
     "deadlock detected", true},
    {"PostgresConnectionFailure", SqlDialect::PostgreSql, ErrorPhase::Statement, "08006",
     "connection failure", true},
    {"PostgresTooManyConnections", SqlDialect::PostgreSql, ErrorPhase::Statement, "53300",
     "too many connections", true},
    {"PostgresDiskFull", SqlDialect::PostgreSql, ErrorPhase::Statement, "53100",
     "could not extend file", true},
    {"PostgresShuttingDown", SqlDialect::PostgreSql, ErrorPhase::Statement, "57P01",
     "terminating connection due to administrator command", true},
    {"PostgresCannotConnectNow", SqlDialect::PostgreSql, ErrorPhase::Statement, "57P03",
     "the database system is starting up", true},
    {"PostgresLostConnection", SqlDialect::PostgreSql, ErrorPhase::Statement, "",
     "server closed the connection unexpectedly", true},
    {"PostgresSslLost", SqlDialect::PostgreSql, ErrorPhase::Statement, "",
     "SSL SYSCALL error: EOF detected", true},
    {"PostgresConnectionLost", SqlDialect::PostgreSql, ErrorPhase::Statement, "",
     "connection to server was lost", true},
    {"PostgresStartingUp", SqlDialect::PostgreSql, ErrorPhase::Connect, "",
     "FATAL:  the database system is starting up", true},
    {"PostgresConnectTimeout", SqlDialect::PostgreSql, ErrorPhase::Connect, "", "timeout expired",
     true},
    {"PostgresReadOnlyTransaction", SqlDialect::PostgreSql, ErrorPhase::Statement, "25006",
     "cannot execute INSERT in a read-only transaction", true},
    {"PostgresValueTooLong", SqlDialect::PostgreSql, ErrorPhase::Statement, "22001",
     "value too long for type character varying(8)", false},
    {"PostgresSyntax", SqlDialect::PostgreSql, ErrorPhase::Statement, "42601", "syntax error",
     false},
    {"PostgresDriverWithoutState", SqlDialect::PostgreSql, ErrorPhase::Statement, "",
     "Unable to prepare statement", false},
    {"PostgresAuthentication", SqlDialect::PostgreSql, ErrorPhase::Connect, "",
     "FATAL:  password authentication failed for user \"x\"", false},
    {"PostgresInvalidOption", SqlDialect::PostgreSql, ErrorPhase::Connect, "",
     "invalid connection option \"x\"", false},
    // ODBC: native codes, and SQLSTATEs at the end of the text where Qt's
    // driver puts them.
    {"SqlServerLockTimeout", SqlDialect::SqlServer, ErrorPhase::Statement, "1222",
     "[FreeTDS][SQL Server]Lock request time out period exceeded.", true},
    {"SqlServerDeadlockVictim", SqlDialect::SqlServer, ErrorPhase::Statement, "1205",
     "[FreeTDS][SQL Server]Transaction was deadlocked", true},
    {"FreeTdsUnableToConnect", SqlDialect::SqlServer, ErrorPhase::Connect, "20009",
     "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable", true},
    {"FreeTdsReadFailed", SqlDialect::SqlServer, ErrorPhase::Statement, "20004",
     "[FreeTDS][SQL Server]Read from the server failed", true},
    {"OdbcCommunicationLink", SqlDialect::SqlServer, ErrorPhase::Statement, "0",
     "[Microsoft][ODBC Driver 18 for SQL Server]TCP Provider: Error code 0x68, 08S01", true},
    {"OdbcQueryTimeout", SqlDialect::SqlServer, ErrorPhase::Statement, "0",
     "[Microsoft][ODBC Driver 18 for SQL Server]Query timeout expired, HYT00", true},
    {"OdbcConnectionTimeout", SqlDialect::SqlServer, ErrorPhase::Statement, "0",
     "[Microsoft][ODBC Driver 18 for SQL Server]Connection timeout, HYT01", true},
    {"OdbcSerialization", SqlDialect::SqlAnywhere, ErrorPhase::Statement, "0",
     "[SAP][ODBC Driver]Serialization failure, 40001", true},
    {"SqlAnywhereServerNotFound", SqlDialect::SqlAnywhere, ErrorPhase::Connect, "-100",
     "[SAP][ODBC Driver]Database server not found", true},
    {"InformixConnectFailed", SqlDialect::Informix, ErrorPhase::Connect, "-908",
     "[Informix][Informix ODBC Driver]Attempt to connect to database server failed", true},
    {"SqlServerLoginFailed", SqlDialect::SqlServer, ErrorPhase::Connect, "18456",
     "[FreeTDS][SQL Server]Login failed for user 'qlt'., 28000;08001", false},
    {"SqlServerNoDatabase", SqlDialect::SqlServer, ErrorPhase::Connect, "4060",
     "[FreeTDS][SQL Server]Cannot open database \"q\" requested by the login", false},
    {"SqlServerMissingTable", SqlDialect::SqlServer, ErrorPhase::Statement, "208",
     "[FreeTDS][SQL Server]Invalid object name 'T'., 42S02", false},
    {"SqlServerValueTooLong", SqlDialect::SqlServer, ErrorPhase::Statement, "8152",
     "[FreeTDS][SQL Server]String or binary data would be truncated., 22001", false},
    {"OdbcDriverMissing", SqlDialect::Informix, ErrorPhase::Connect, "0",
     "[unixODBC][Driver Manager]Can't open lib 'iclit09b.so' : file not found, 01000", false},
    {"InformixNoDatabase", SqlDialect::Informix, ErrorPhase::Connect, "-329",
     "[Informix][Informix ODBC Driver]Database not found or no system permission.", false},
};

void PrintTo(const NativeError& c, std::ostream* os)
{
    *os << c.name;
}

class NativeErrors : public ::testing::TestWithParam<NativeError> {};

TEST_P(NativeErrors, SayWhetherWaitingCanMendThem)
{
    const NativeError& c = GetParam();
    const QSqlError error(QStringLiteral("driver"), QString::fromUtf8(c.text),
                          c.phase == ErrorPhase::Connect ? QSqlError::ConnectionError
                                                         : QSqlError::StatementError,
                          QString::fromLatin1(c.nativeCode));
    const Error mapped = engineError(c.dialect, error, c.phase);
    EXPECT_EQ(mapped.retryable, c.retryable) << describe(mapped);
    // The description stays the engine's own text.
    EXPECT_EQ(mapped.description, QString::fromUtf8(c.text));
}

INSTANTIATE_TEST_SUITE_P(Engines, NativeErrors, ::testing::ValuesIn(kNativeErrors),
                         [](const ::testing::TestParamInfo<NativeError>& testCase) {
                             return std::string(testCase.param.name);
                         });

// Errors of the layer itself are never retryable; neither is a server string
// that is not a host and port, which no wait turns into one.
TEST(LayerErrorsAreNotRetryable, WhateverTheirNumber)
{
    EXPECT_FALSE(
        layerError(ErrorNumber::UnspecifiedFailure, engineLayerSource(), QString()).retryable);
    EXPECT_FALSE(openFailure(QStringLiteral("Provider=PostgreSQL;Host=127.0.0.1:abc;Database=d;"
                                            "User ID=u;Password=p;"))
                     .retryable);
}

class SqliteWaits : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Datos.MDB"));
        ASSERT_TRUE(EngineLayer::createFileDatabase(path, QString()).ok());
        auto opened = EngineLayer::open(jetConnectionString(path, QString()));
        ASSERT_TRUE(opened.ok()) << describe(opened.error());
        cn = std::move(opened.value());
        ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE T (N INTEGER NOT NULL)")).ok());
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO T (N) VALUES (?)"), {n}).ok());
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<Connection> cn;
};

TEST_F(SqliteWaits, ErrorsOfARealFileSayWhetherWaitingCanMendThem)
{
    const QString garbage = dir.filePath(QStringLiteral("Basura.MDB"));
    {
        QFile file(garbage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    expectCases({
        {"TableLockedByThisConnectionsOwnReader",
         [&] {
             // A reader still open on T keeps this very connection from
             // dropping it (SQLITE_LOCKED).
             auto reader = cn->exec(QStringLiteral("SELECT N FROM T"));
             EXPECT_TRUE(reader.ok() && reader.value().next());
             return failureOf(cn->exec(QStringLiteral("DROP TABLE T")));
         },
         "locked", true},
        {"MissingTable", [&] { return failureOf(cn->exec(QStringLiteral("SELECT * FROM Nada"))); },
         "no such table", false},
        {"MissingColumn", [&] { return failureOf(cn->exec(QStringLiteral("SELECT Nada FROM T"))); },
         "no such column", false},
        {"NotNullValue",
         [&] { return failureOf(cn->exec(QStringLiteral("INSERT INTO T (N) VALUES (NULL)"))); },
         "NOT NULL", false},
        {"MissingFile",
         [&] {
             return openFailure(
                 jetConnectionString(dir.filePath(QStringLiteral("Falta.MDB")), QString()));
         },
         "Could not find file", false},
        {"NotADatabase", [&] { return openFailure(jetConnectionString(garbage, QString())); },
         "not a database", false},
    });
}

// Another connection (another router, the SPC program) holds the file's
// exclusive lock and does not let go: a statement fails once the busy timeout
// has run out, instead of waiting for ever, and says that it may be tried
// again.
TEST_F(SqliteWaits, AFileLockedByAnotherConnectionFailsRetryablyAfterTheBusyTimeout)
{
    auto timeout = cn->exec(QStringLiteral("PRAGMA busy_timeout"));
    ASSERT_TRUE(timeout.ok() && timeout.value().next());
    EXPECT_EQ(timeout.value().value(0).toLongLong(), WaitBounds::kSqliteBusyTimeout.count());

    const QString other = QStringLiteral("bounded-waits-other");
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
        holder.setDatabaseName(path);
        ASSERT_TRUE(holder.open());
        QSqlQuery lock(holder);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")))
            << lock.lastError().text().toStdString();

        QElapsedTimer clock;
        clock.start();
        const Error error = failureOf(cn->exec(QStringLiteral("SELECT count(*) FROM T")));
        const auto waited = std::chrono::milliseconds(clock.elapsed());
        std::cout << "[ measured ] a statement on the locked file failed after " << waited.count()
                  << " ms\n";
        EXPECT_TRUE(error.retryable) << describe(error);
        EXPECT_TRUE(error.description.contains(QLatin1String("locked"))) << describe(error);
        EXPECT_LT(waited, std::chrono::seconds(30));

        // The lock gone, the same connection goes on.
        ASSERT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
        auto counted = cn->exec(QStringLiteral("SELECT count(*) FROM T"));
        ASSERT_TRUE(counted.ok()) << describe(counted.error());
        ASSERT_TRUE(counted.value().next());
        EXPECT_EQ(counted.value().value(0).toInt(), 3);
        holder.close();
    }
    QSqlDatabase::removeDatabase(other);
}

// A connection through the engine layer to database on the test cluster,
// reached at servidor (host:port).
std::unique_ptr<Connection> openPostgres(const PostgresSettings& s, const QString& database,
                                         const QString& servidor)
{
    const ConnectionTarget target{QStringLiteral("[POSTGRESQL]"), servidor, s.user, s.password};
    auto opened = EngineLayer::open(ArmaConexion(target, database));
    EXPECT_TRUE(opened.ok()) << (opened.ok() ? std::string() : describe(opened.error()));
    if (!opened)
        return nullptr;
    return std::move(opened.value());
}

TEST(PostgresWaits, ErrorsOfARealServerSayWhetherWaitingCanMendThem)
{
    TELVAR_REQUIRE_POSTGRES();
    QString why;
    const auto database = EngineDatabase::create(telvar::test::Engine::PostgreSql, &why);
    ASSERT_TRUE(database) << why.toStdString();
    const PostgresSettings& s = database->server();
    auto a = openPostgres(s, database->location(), s.servidor());
    auto b = openPostgres(s, database->location(), s.servidor());
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->exec(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, v INTEGER, "
                                       "nota VARCHAR(3))"))
                    .ok());
    ASSERT_TRUE(a->exec(QStringLiteral("INSERT INTO t (id, v) VALUES (1, 0)")).ok());

    // The session's own bounds are in force on every connection.
    const auto setting = [&](const char* name) {
        auto q = a->exec(QStringLiteral("SELECT setting FROM pg_settings WHERE name = ?"),
                         {QString::fromLatin1(name)});
        return q.ok() && q.value().next() ? q.value().value(0).toLongLong() : -1;
    };
    EXPECT_EQ(setting("statement_timeout"), WaitBounds::kPostgresStatementTimeout.count());
    EXPECT_EQ(setting("lock_timeout"), WaitBounds::kPostgresLockTimeout.count());

    ConnectionTarget wrongPassword{QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user,
                                   s.password + QStringLiteral("x")};
    ConnectionTarget nobodyListening{QStringLiteral("[POSTGRESQL]"),
                                     QStringLiteral("127.0.0.1:") +
                                         QString::number(telvar::test::unusedLocalPort()),
                                     s.user, s.password};
    ConnectionTarget right{QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user, s.password};

    expectCases({
        {"StatementTimeout",
         [&] {
             // The session default gives way to the caller's own bound.
             EXPECT_TRUE(a->exec(QStringLiteral("SET statement_timeout = 50")).ok());
             Error e = failureOf(a->exec(QStringLiteral("SELECT pg_sleep(5)")));
             EXPECT_TRUE(a->exec(QStringLiteral("RESET statement_timeout")).ok());
             return e;
         },
         "statement timeout", true},
        {"LockTimeout",
         [&] {
             EXPECT_TRUE(b->transaction().ok());
             EXPECT_TRUE(b->exec(QStringLiteral("LOCK TABLE t IN ACCESS EXCLUSIVE MODE")).ok());
             EXPECT_TRUE(a->transaction().ok());
             EXPECT_TRUE(a->exec(QStringLiteral("SET LOCAL lock_timeout = 50")).ok());
             Error e = failureOf(a->exec(QStringLiteral("SELECT * FROM t")));
             EXPECT_TRUE(a->rollback().ok());
             EXPECT_TRUE(b->rollback().ok());
             return e;
         },
         "lock timeout", true},
        {"SerializationFailure",
         [&] {
             EXPECT_TRUE(a->transaction().ok());
             EXPECT_TRUE(
                 a->exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ")).ok());
             EXPECT_TRUE(a->exec(QStringLiteral("SELECT v FROM t")).ok());
             EXPECT_TRUE(b->exec(QStringLiteral("UPDATE t SET v = v + 1")).ok());
             Error e = failureOf(a->exec(QStringLiteral("UPDATE t SET v = v + 10")));
             EXPECT_TRUE(a->rollback().ok());
             return e;
         },
         "could not serialize", true},
        {"MissingTable", [&] { return failureOf(a->exec(QStringLiteral("SELECT * FROM nada"))); },
         "does not exist", false},
        {"MissingColumn", [&] { return failureOf(a->exec(QStringLiteral("SELECT nada FROM t"))); },
         "does not exist", false},
        {"WrongType", [&] { return failureOf(a->exec(QStringLiteral("UPDATE t SET v = 'x'"))); },
         "invalid input syntax", false},
        {"ValueTooLong",
         [&] { return failureOf(a->exec(QStringLiteral("UPDATE t SET nota = 'abcdef'"))); },
         "too long", false},
        {"AuthenticationRefused",
         [&] { return openFailure(ArmaConexion(wrongPassword, database->location())); },
         "password authentication failed", false},
        {"MissingDatabase",
         [&] {
             return openFailure(
                 ArmaConexion(right, database->location() + QStringLiteral("_nada")));
         },
         "does not exist", false},
        {"NobodyListening",
         [&] { return openFailure(ArmaConexion(nobodyListening, database->location())); },
         "refused", true},
        {"SessionEndedByTheServer",
         [&] {
             auto pid = a->exec(QStringLiteral("SELECT pg_backend_pid()"));
             EXPECT_TRUE(pid.ok() && pid.value().next());
             EXPECT_TRUE(
                 b->exec(QStringLiteral("SELECT pg_terminate_backend(?)"), {pid.value().value(0)})
                     .ok());
             return failureOf(a->exec(QStringLiteral("SELECT 1")));
         },
         "connection", true},
        {"StatementOnTheLostConnection",
         [&] { return failureOf(a->exec(QStringLiteral("SELECT 1"))); }, "connection", true},
    });
}

// A TCP proxy on 127.0.0.1 to another local port that forwards faithfully
// until stall(); from then on it forwards nothing and reads nothing, yet
// keeps every socket open: the peer's kernel still acknowledges, the server
// never answers. After releaseAfter of that it closes everything, so that a
// client without a bound of its own fails the test instead of hanging it.
// Runs on its own thread.
class StallingProxy final {
public:
    StallingProxy(int upstreamPort, std::chrono::seconds releaseAfter)
        : m_upstreamPort(upstreamPort), m_releaseAfter(releaseAfter)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t size = sizeof(address);
        if (m_listener < 0 || ::pipe2(m_wake, O_CLOEXEC) != 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~StallingProxy()
    {
        m_stop = true;
        poke();
        if (m_thread.joinable())
            m_thread.join();
        closePairs();
        for (const int fd : {m_listener, m_wake[0], m_wake[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    StallingProxy(const StallingProxy&) = delete;
    StallingProxy& operator=(const StallingProxy&) = delete;

    // 0 when the proxy could not be set up.
    int port() const { return m_port; }

    void stall()
    {
        m_stalled = true;
        poke();
    }

private:
    void poke()
    {
        if (m_wake[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] const auto written = ::write(m_wake[1], &byte, 1);
        }
    }

    int connectUpstream() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_upstreamPort));
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
            return fd;
        if (fd >= 0)
            ::close(fd);
        return -1;
    }

    // Copies what is waiting on from to to; false when from has ended.
    static bool forward(int from, int to)
    {
        char buffer[65536];
        const ssize_t got = ::read(from, buffer, sizeof(buffer));
        if (got <= 0)
            return false;
        for (ssize_t sent = 0; sent < got;) {
            const ssize_t n = ::write(to, buffer + sent, static_cast<size_t>(got - sent));
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    void closePairs()
    {
        for (const auto& [client, server] : m_pairs) {
            ::close(client);
            ::close(server);
        }
        m_pairs.clear();
    }

    void run()
    {
        std::optional<std::chrono::steady_clock::time_point> release;
        while (!m_stop) {
            std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
            const bool stalled = m_stalled;
            int timeout = -1;
            if (!stalled) {
                for (const auto& [client, server] : m_pairs) {
                    fds.push_back({client, POLLIN, 0});
                    fds.push_back({server, POLLIN, 0});
                }
            } else {
                const auto now = std::chrono::steady_clock::now();
                if (!release)
                    release = now + m_releaseAfter;
                if (now >= *release) {
                    closePairs();
                    m_stalled = false;
                    continue;
                }
                timeout = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(*release - now).count());
            }
            if (::poll(fds.data(), fds.size(), timeout) < 0)
                continue;
            if (fds[0].revents) {
                char drain[64];
                [[maybe_unused]] const auto got = ::read(m_wake[0], drain, sizeof(drain));
            }
            if (fds[1].revents & POLLIN) {
                const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                // Once stalled, a new connection is held without an answer too.
                const int server = client >= 0 ? connectUpstream() : -1;
                if (server >= 0)
                    m_pairs.emplace_back(client, server);
                else if (client >= 0)
                    ::close(client);
            }
            if (stalled)
                continue;
            std::vector<std::pair<int, int>> open;
            for (size_t i = 2; i + 1 < fds.size(); i += 2) {
                const auto [client, server] = m_pairs[(i - 2) / 2];
                const bool clientEnded =
                    (fds[i].revents & (POLLIN | POLLHUP)) && !forward(client, server);
                const bool serverEnded =
                    (fds[i + 1].revents & (POLLIN | POLLHUP)) && !forward(server, client);
                if (clientEnded || serverEnded) {
                    ::close(client);
                    ::close(server);
                } else {
                    open.emplace_back(client, server);
                }
            }
            // Pairs accepted during this round were not polled yet.
            for (size_t i = (fds.size() - 2) / 2; i < m_pairs.size(); ++i)
                open.push_back(m_pairs[i]);
            m_pairs = std::move(open);
        }
    }

    int m_upstreamPort;
    std::chrono::seconds m_releaseAfter;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<bool> m_stalled{false};
    std::atomic<bool> m_stop{false};
    std::vector<std::pair<int, int>> m_pairs;
    std::thread m_thread;
};

// The server stops answering in the middle of the work (hung, stopped, its
// storage stuck) while the network and its kernel are fine: nothing but the
// layer's own bound ends the wait. The statement fails with a retryable
// error within that bound, and so does the next one on the same connection.
TEST(PostgresWaits, AServerThatStopsAnsweringFailsTheStatementRetryablyWithinTheBound)
{
    TELVAR_REQUIRE_POSTGRES();
    const PostgresSettings s = *PostgresTestServer::settings();
    StallingProxy proxy(s.port, std::chrono::seconds(60));
    ASSERT_NE(proxy.port(), 0);
    auto cn = openPostgres(s, s.maintenanceDatabase,
                           QStringLiteral("127.0.0.1:") + QString::number(proxy.port()));
    ASSERT_TRUE(cn);
    auto answered = cn->exec(QStringLiteral("SELECT 1"));
    ASSERT_TRUE(answered.ok()) << describe(answered.error());

    proxy.stall();
    QElapsedTimer clock;
    clock.start();
    const Error error = failureOf(cn->exec(QStringLiteral("SELECT 1")));
    const auto waited = std::chrono::milliseconds(clock.elapsed());
    std::cout << "[ measured ] the statement to the stalled server failed after " << waited.count()
              << " ms\n";
    EXPECT_TRUE(error.retryable) << describe(error);
    EXPECT_TRUE(error.description.contains(QLatin1String("gave no answer"))) << describe(error);
    EXPECT_LT(waited, std::chrono::seconds(40));

    const Error next = failureOf(cn->exec(QStringLiteral("SELECT 1")));
    EXPECT_TRUE(next.retryable) << describe(next);
}

// The layer's transaction steps commit and roll back on every engine, and an
// error in one is an engine error like a statement's.
class TransactionSteps : public EngineTest {};

TEST_P(TransactionSteps, CommitAndRollBack)
{
    auto cn = db->open();
    ASSERT_TRUE(cn);
    ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE T (N INTEGER)")).ok());
    const auto rows = [&] {
        auto q = cn->exec(QStringLiteral("SELECT count(*) FROM T"));
        return q.ok() && q.value().next() ? q.value().value(0).toInt() : -1;
    };
    ASSERT_TRUE(cn->transaction().ok());
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO T (N) VALUES (1)")).ok());
    ASSERT_TRUE(cn->rollback().ok());
    EXPECT_EQ(rows(), 0);
    ASSERT_TRUE(cn->transaction().ok());
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO T (N) VALUES (2)")).ok());
    ASSERT_TRUE(cn->commit().ok());
    EXPECT_EQ(rows(), 1);

    cn->close();
    const Status closed = cn->transaction();
    ASSERT_FALSE(closed.ok());
    EXPECT_EQ(closed.error().number, ErrorNumber::ObjectClosed);
    EXPECT_FALSE(closed.error().retryable);
}

TELVAR_INSTANTIATE_ENGINES(TransactionSteps);

} // namespace
