#include "database/EngineErrors.h"

#include <QRegularExpression>
#include <initializer_list>
#include <optional>

namespace telvar {

namespace {

QString descriptionOf(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text;
}

bool containsAny(const QString& text, std::initializer_list<const char*> needles)
{
    for (const char* needle : needles) {
        if (text.contains(QLatin1String(needle), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// The first whole number in a native error code ("20009", "-103;..."), if any.
std::optional<long long> firstNumber(const QString& code)
{
    static const QRegularExpression number(QStringLiteral("^\\s*(-?\\d+)"));
    const auto match = number.match(code);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const long long value = match.captured(1).toLongLong(&ok);
    return ok ? std::optional<long long>(value) : std::nullopt;
}

long long sqliteNumber(const QSqlError& error, ErrorPhase phase)
{
    const auto native = firstNumber(error.nativeErrorCode());
    if (!native)
        return phase == ErrorPhase::Connect ? ErrorNumber::UnspecifiedFailure
                                            : ErrorNumber::ErrorsInCommand;
    // Extended result codes carry the primary code in their low byte.
    switch (*native & 0xff) {
    case 11: // SQLITE_CORRUPT
        return ErrorNumber::DamagedFile;
    case 26: // SQLITE_NOTADB
        return ErrorNumber::NotADatabase;
    case 14: // SQLITE_CANTOPEN
        return ErrorNumber::UnspecifiedFailure;
    default:
        return *native;
    }
}

long long postgresNumber(const QSqlError& error, ErrorPhase phase)
{
    const QString text = descriptionOf(error);
    if (phase == ErrorPhase::Connect) {
        // libpq reports connection failures as text only.
        if (containsAny(text, {"password authentication failed", "no password supplied",
                               "authentication failed", "pg_hba.conf", "role \""}))
            return ErrorNumber::AuthenticationFailed;
        return ErrorNumber::UnspecifiedFailure;
    }
    // Statement errors carry a SQLSTATE, which is not a number.
    const QString state = error.nativeErrorCode();
    if (state.startsWith(QLatin1String("28")))
        return ErrorNumber::AuthenticationFailed;
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("3D")))
        return ErrorNumber::UnspecifiedFailure;
    if (state == QLatin1String("XX001") || state == QLatin1String("XX002"))
        return ErrorNumber::DamagedFile;
    return ErrorNumber::ErrorsInCommand;
}

long long odbcNumber(const QSqlError& error, ErrorPhase phase)
{
    const QString text = descriptionOf(error);
    // The driver manager cannot load the driver's library, or knows no such
    // driver. (The engine layer tells a broken library from a missing one.)
    if (containsAny(
            text, {"Can't open lib", "Data source name not found", "no default driver specified"}))
        return ErrorNumber::ProviderNotFound;

    const auto native = firstNumber(error.nativeErrorCode());
    if (native && *native != 0) {
        switch (*native) {
        // SQL Server: login failed (and its variants).
        case 18456:
        case 18452:
        case 18470:
        case 18486:
        case 18487:
        case 18488:
        // SQL Anywhere: invalid user ID or password.
        case -103:
        // Informix: incorrect password or user.
        case -951:
            return ErrorNumber::AuthenticationFailed;
        // SQL Server: cannot open the requested database.
        case 4060:
        // FreeTDS: unable to connect, connection failed, timed out, read or
        // write failed, unexpected end of file.
        case 20009:
        case 20002:
        case 20003:
        case 20004:
        case 20006:
        case 20017:
        // SQL Anywhere: server not found, database not found.
        case -100:
        case -83:
        // Informix: connection to the server failed, server not listed,
        // database not found.
        case -908:
        case -25555:
        case -25596:
        case -329:
            return ErrorNumber::UnspecifiedFailure;
        default:
            break;
        }
        if (phase == ErrorPhase::Statement)
            return *native;
    }
    if (containsAny(text, {"Login failed"}))
        return ErrorNumber::AuthenticationFailed;
    if (phase == ErrorPhase::Connect)
        return native && *native != 0 ? *native : ErrorNumber::UnspecifiedFailure;
    return ErrorNumber::ErrorsInCommand;
}

// SQLite: what waiting may mend. The file is locked by another connection
// or process (SQLITE_BUSY, once the busy timeout has run out) or a table is
// locked within this one (SQLITE_LOCKED); the disk is full (SQLITE_FULL); an
// I/O error (SQLITE_IOERR: a network share that went away, a failing
// disk); the file or its file system is read-only (SQLITE_READONLY: someone
// set it so, or the system remounted it after an error); the file cannot be
// opened (SQLITE_CANTOPEN: its permissions, its directory, a share not
// mounted now). A missing file never reaches the engine: the engine layer
// answers for it before opening ("Could not find file"), so a CANTOPEN is an
// existing file's, or its journal's beside it. The extended codes carry
// the primary code in their low byte.
bool sqliteRetryable(const QSqlError& error)
{
    const auto native = firstNumber(error.nativeErrorCode());
    if (!native)
        return false;
    switch (*native & 0xff) {
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
    case 8:  // SQLITE_READONLY
    case 10: // SQLITE_IOERR
    case 13: // SQLITE_FULL
    case 14: // SQLITE_CANTOPEN
        return true;
    default:
        return false;
    }
}

// The texts libpq and Qt's driver give for a connection that is gone: the
// server ended it or the network dropped it (no SQLSTATE comes with them).
bool isLostPostgresConnection(const QString& text)
{
    return containsAny(text,
                       {"server closed the connection unexpectedly", "no connection to the server",
                        "terminating connection", "could not receive data", "could not send data",
                        "SSL SYSCALL error", "SSL connection has been closed unexpectedly",
                        "connection not open", "Connection reset by peer", "Broken pipe"}) ||
           (text.contains(QLatin1String("connection to server"), Qt::CaseInsensitive) &&
            text.contains(QLatin1String("lost"), Qt::CaseInsensitive));
}

bool postgresRetryable(const QSqlError& error, ErrorPhase phase, long long number)
{
    if (number == ErrorNumber::AuthenticationFailed)
        return false;
    const QString text = descriptionOf(error);
    if (phase == ErrorPhase::Connect) {
        // libpq reports connection failures as text only. The server could
        // not be reached, refused, timed out, is starting up or shutting
        // down, or has no connection slot free: all of these pass. A missing
        // database and a malformed connection option do not.
        return !containsAny(text, {"does not exist", "invalid connection option",
                                   "invalid integer value", "invalid value for parameter",
                                   "missing \"=\"", "unterminated quoted string"});
    }
    const QString state = error.nativeErrorCode();
    if (state.isEmpty())
        return isLostPostgresConnection(text);
    static const char* const retryableStates[] = {
        "57P01", // admin_shutdown: the server (or someone) ended the session
        "57P02", // crash_shutdown
        "57P03", // cannot_connect_now: starting up, shutting down
        "57P05", // idle_session_timeout: the session was ended while idle
        "25P03", // idle_in_transaction_session_timeout: likewise, in a transaction
        "57014", // query_canceled: statement_timeout, or a cancel
        "55P03", // lock_not_available: lock_timeout, NOWAIT
        "40001", // serialization_failure
        "40P01", // deadlock_detected
        "25006", // read_only_sql_transaction: a standby, or a primary turned
                 // read-only, until a failover ends
    };
    for (const char* retryableState : retryableStates) {
        if (state == QLatin1String(retryableState))
            return true;
    }
    // Class 08: connection exception; class 53: insufficient resources (disk
    // full, out of memory, too many connections).
    return state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("53"));
}

// The SQLSTATEs of an ODBC error where Qt's driver gives them: at the end of
// the driver's text, after ", ", separated by ';' ("..., 08001;01000").
QStringList odbcStates(const QString& text)
{
    static const QRegularExpression states(
        QStringLiteral(", ((?:[0-9A-Z]{5})(?:;[0-9A-Z]{5})*)\\s*$"));
    const auto match = states.match(text);
    if (!match.hasMatch())
        return {};
    return match.captured(1).split(QLatin1Char(';'));
}

// All whole numbers among the native codes of an ODBC error ("1222;0").
QList<long long> odbcNatives(const QString& codes)
{
    QList<long long> natives;
    for (const QString& code : codes.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (const auto native = firstNumber(code))
            natives.append(*native);
    }
    return natives;
}

bool odbcRetryable(const QSqlError& error, ErrorPhase phase, long long number)
{
    if (number == ErrorNumber::AuthenticationFailed || number == ErrorNumber::ProviderNotFound)
        return false;
    const QString text = descriptionOf(error);
    const QList<long long> natives = odbcNatives(error.nativeErrorCode());
    for (const long long native : natives) {
        switch (native) {
        // SQL Server: lock request time out (SET LOCK_TIMEOUT), chosen as a
        // deadlock victim.
        case 1222:
        case 1205:
        // FreeTDS: unable to connect, connection failed, timed out, read or
        // write failed, unexpected end of file.
        case 20009:
        case 20002:
        case 20003:
        case 20004:
        case 20006:
        case 20017:
        // SQL Anywhere: database server not found.
        case -100:
        // Informix: connection to the server failed.
        case -908:
            return true;
        // The database itself is missing, or the client's configuration
        // names no such server: waiting does not mend these.
        // SQL Server: cannot open the database; SQL Anywhere: database not
        // found; Informix: database not found, server not in sqlhosts.
        case 4060:
        case -83:
        case -329:
        case -25555:
        case -25596:
            return false;
        default:
            break;
        }
    }
    for (const QString& state : odbcStates(text)) {
        // 08: connection exception; HYT00/HYT01: timeout expired, connection
        // timeout expired; 40001/40P01: serialization failure, deadlock.
        if (state.startsWith(QLatin1String("08")) || state == QLatin1String("HYT00") ||
            state == QLatin1String("HYT01") || state == QLatin1String("40001") ||
            state == QLatin1String("40P01"))
            return true;
    }
    // Drivers' own words for the same, where Qt gives no SQLSTATE.
    if (containsAny(text, {"Communication link failure", "Timeout expired", "Login timeout expired",
                           "Unable to connect", "Connection refused"}))
        return true;
    // A server that cannot be reached, as the layer maps it at connection.
    return phase == ErrorPhase::Connect && number == ErrorNumber::UnspecifiedFailure;
}

} // namespace

QString errorSource(SqlDialect dialect)
{
    switch (dialect) {
    case SqlDialect::Sqlite:
        return QStringLiteral("SQLite");
    case SqlDialect::PostgreSql:
        return QStringLiteral("PostgreSQL");
    case SqlDialect::SqlServer:
        return QStringLiteral("ODBC (SQL Server)");
    case SqlDialect::SqlAnywhere:
        return QStringLiteral("ODBC (SQL Anywhere)");
    case SqlDialect::Informix:
        return QStringLiteral("ODBC (Informix)");
    }
    return QString();
}

Error engineError(SqlDialect dialect, const QSqlError& error, ErrorPhase phase)
{
    long long number = 0;
    bool retryable = false;
    switch (dialect) {
    case SqlDialect::Sqlite:
        number = sqliteNumber(error, phase);
        retryable = sqliteRetryable(error);
        break;
    case SqlDialect::PostgreSql:
        number = postgresNumber(error, phase);
        retryable = postgresRetryable(error, phase, number);
        break;
    case SqlDialect::SqlServer:
    case SqlDialect::SqlAnywhere:
    case SqlDialect::Informix:
        number = odbcNumber(error, phase);
        retryable = odbcRetryable(error, phase, number);
        break;
    }
    Error result{number, errorSource(dialect), descriptionOf(error)};
    result.retryable = retryable;
    return result;
}

QString engineLayerSource()
{
    return QStringLiteral("Engine layer");
}

Error layerError(long long number, const QString& source, const QString& description)
{
    return Error{number, source, description};
}

} // namespace telvar
