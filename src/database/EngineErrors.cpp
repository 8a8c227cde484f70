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

} // namespace

QString errorSource(Dialecto dialecto)
{
    switch (dialecto) {
    case Dialecto::Sqlite:
        return QStringLiteral("SQLite");
    case Dialecto::PostgreSql:
        return QStringLiteral("PostgreSQL");
    case Dialecto::SqlServer:
        return QStringLiteral("ODBC (SQL Server)");
    case Dialecto::SqlAnywhere:
        return QStringLiteral("ODBC (SQL Anywhere)");
    case Dialecto::Informix:
        return QStringLiteral("ODBC (Informix)");
    }
    return QString();
}

RuntimeError engineError(Dialecto dialecto, const QSqlError& error, ErrorPhase phase)
{
    long long numero = 0;
    switch (dialecto) {
    case Dialecto::Sqlite:
        numero = sqliteNumber(error, phase);
        break;
    case Dialecto::PostgreSql:
        numero = postgresNumber(error, phase);
        break;
    case Dialecto::SqlServer:
    case Dialecto::SqlAnywhere:
    case Dialecto::Informix:
        numero = odbcNumber(error, phase);
        break;
    }
    return RuntimeError{numero, errorSource(dialecto), descriptionOf(error)};
}

QString engineLayerSource()
{
    return QStringLiteral("Engine layer");
}

RuntimeError layerError(long long numero, const QString& fuente, const QString& descripcion)
{
    return RuntimeError{numero, fuente, descripcion};
}

} // namespace telvar
