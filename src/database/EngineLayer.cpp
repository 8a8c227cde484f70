#include "database/EngineLayer.h"

#include "database/ConnectionFactory.h"
#include "database/ConnectionString.h"
#include "database/EngineErrors.h"
#include "database/FilePassword.h"
#include "database/OdbcConnectionString.h"
#include "database/OdbcDrivers.h"
#include "database/SqliteFile.h"
#include "database/WaitBounds.h"

#include <QSqlQuery>
#include <optional>

namespace telvar {

namespace {

const QString kProviderNotFound =
    QStringLiteral("Provider cannot be found. It may not be properly installed.");

std::optional<SqlDialect> dialectOfProvider(const QString& provider)
{
    const QString p = provider.trimmed().toLower();
    if (p == QLatin1String("microsoft.jet.oledb.4.0"))
        return SqlDialect::Sqlite;
    if (p.startsWith(QLatin1String("sqloledb")) || p.startsWith(QLatin1String("msoledbsql")))
        return SqlDialect::SqlServer;
    if (p.startsWith(QLatin1String("ifxoledbc")))
        return SqlDialect::Informix;
    if (p.startsWith(QLatin1String("asaprov")))
        return SqlDialect::SqlAnywhere;
    if (p == QLatin1String("postgresql"))
        return SqlDialect::PostgreSql;
    return std::nullopt;
}

// libpq's connection options that bound every wait on a PostgreSQL
// connection (WaitBounds). Qt's driver turns the ';' between them into the
// spaces of a libpq connection string and passes them on as they are; the
// server settings go in libpq's "options", quoted as one value.
QString postgresConnectOptions()
{
    using namespace WaitBounds;
    const auto number = [](auto value) { return QString::number(value); };
    return QStringLiteral("connect_timeout=") + number(kPostgresConnect.count()) +
           QStringLiteral(";keepalives=1;keepalives_idle=") +
           number(kPostgresKeepaliveIdle.count()) + QStringLiteral(";keepalives_interval=") +
           number(kPostgresKeepaliveInterval.count()) + QStringLiteral(";keepalives_count=") +
           number(kPostgresKeepaliveCount) + QStringLiteral(";tcp_user_timeout=") +
           number(kPostgresTcpUserTimeout.count()) +
           QStringLiteral(";options='-c statement_timeout=") +
           number(kPostgresStatementTimeout.count()) + QStringLiteral(" -c lock_timeout=") +
           number(kPostgresLockTimeout.count()) + QStringLiteral("'");
}

// ODBC's bounds, as Qt's driver takes them. SQL_ATTR_LOGIN_TIMEOUT bounds the
// login on every driver. SQL_ATTR_CONNECTION_TIMEOUT is ODBC's bound on any
// other request of the connection; what a driver makes of it varies:
// Microsoft's driver fails a request that outlasts it (HYT00/HYT01), FreeTDS
// applies it to the TCP connection only. Qt only warns when a driver refuses
// an attribute, so the opening goes on without it. (A bound per statement,
// SQL_ATTR_QUERY_TIMEOUT, is a statement attribute that Qt's driver does not
// offer.)
QString odbcConnectOptions()
{
    using namespace WaitBounds;
    return QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=") + QString::number(kOdbcLogin.count()) +
           QStringLiteral(";SQL_ATTR_CONNECTION_TIMEOUT=") +
           QString::number(kOdbcConnection.count());
}

Error providerMissing(SqlDialect dialect, const QString& what)
{
    return layerError(ErrorNumber::ProviderNotFound, errorSource(dialect),
                      kProviderNotFound + QStringLiteral(" (") + what + QStringLiteral(")"));
}

Result<std::unique_ptr<Connection>> openSqlite(const QString& connectionString,
                                               const ConnectionFields& fields)
{
    const QString source = errorSource(SqlDialect::Sqlite);
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return providerMissing(SqlDialect::Sqlite, QStringLiteral("Qt SQL driver QSQLITE"));
    const QString path = fields.text(QStringLiteral("Data Source"));
    // Opening never creates a database: a missing file is an opening error.
    if (auto missing = SqliteFile::checkExisting(path); !missing.ok())
        return missing.error();

    // cn removes the Qt connection when it goes; db, declared after it, is
    // released first.
    auto cn =
        ConnectionFactory::make(QStringLiteral("QSQLITE"), connectionString, SqlDialect::Sqlite);
    QSqlDatabase db = cn->database();
    SqliteFile::configure(db, path, SqliteFile::OpenMode::ReadWrite);
    if (!db.open())
        return engineError(SqlDialect::Sqlite, db.lastError(), ErrorPhase::Connect);

    // SQLite reads the file only when asked: this first query is where a
    // damaged file or one that is not a database shows.
    auto probe = cn->exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = "
                                         "'table' AND name = ?"),
                          {QString::fromLatin1(FilePassword::kTable)});
    if (!probe)
        return probe.error();
    QSqlQuery& counted = probe.value();
    const bool protectedFile = counted.next() && counted.value(0).toInt() > 0;
    counted.finish();
    if (!protectedFile)
        return cn;

    const QString password =
        fields.value(QStringLiteral("Jet OLEDB:Database Password")).value_or(QString());
    auto stored = cn->exec(QStringLiteral("SELECT ") + QLatin1String(FilePassword::kColumn) +
                           QStringLiteral(" FROM ") + QLatin1String(FilePassword::kTable));
    if (!stored)
        return stored.error();
    QSqlQuery& row = stored.value();
    const QString recordName = path + QStringLiteral(" (table ") +
                               QLatin1String(FilePassword::kTable) + QStringLiteral(")");
    if (!row.next())
        return layerError(ErrorNumber::PasswordRecordDamaged, source,
                          QStringLiteral("The database password record is empty: ") + recordName);
    const QByteArray hash = row.value(0).toString().toUtf8();
    row.finish();
    auto verified = FilePassword::verify(password, hash);
    if (!verified)
        return layerError(ErrorNumber::PasswordRecordDamaged, source,
                          verified.error().description + QLatin1Char(' ') + recordName);
    if (!verified.value())
        return layerError(ErrorNumber::WrongPassword, source,
                          QStringLiteral("Not a valid password."));
    return cn;
}

// "host", "host:port", "[v6 address]:port".
struct HostPort {
    QString host;
    std::optional<int> port;
    bool valid = true;
};

HostPort splitHostPort(const QString& text)
{
    HostPort result;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            result.valid = false;
            return result;
        }
        result.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':')))
            portText = rest.mid(1);
        else if (!rest.isEmpty())
            result.valid = false;
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        result.host = text.left(colon);
        portText = text.mid(colon + 1);
        if (portText.isEmpty())
            result.valid = false;
    } else {
        result.host = text; // a name, an IPv4 address or a bare IPv6 address
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            result.valid = false;
        else
            result.port = port;
    }
    return result;
}

Result<std::unique_ptr<Connection>> openPostgres(const QString& connectionString,
                                                 const ConnectionFields& fields)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return providerMissing(SqlDialect::PostgreSql, QStringLiteral("Qt SQL driver QPSQL"));
    const QString hostField = fields.text(QStringLiteral("Host"));
    const HostPort hostPort = splitHostPort(hostField.trimmed());
    if (!hostPort.valid)
        return layerError(ErrorNumber::UnspecifiedFailure, errorSource(SqlDialect::PostgreSql),
                          QStringLiteral("The server \"") + hostField +
                              QStringLiteral("\" is not a host or host:port."));
    // cn removes the Qt connection when it goes; db, declared after it, is
    // released first.
    auto cn =
        ConnectionFactory::make(QStringLiteral("QPSQL"), connectionString, SqlDialect::PostgreSql);
    QSqlDatabase db = cn->database();
    db.setHostName(hostPort.host);
    if (hostPort.port)
        db.setPort(*hostPort.port);
    db.setDatabaseName(fields.text(QStringLiteral("Database")));
    db.setUserName(fields.text(QStringLiteral("User ID")));
    db.setPassword(fields.text(QStringLiteral("Password")));
    db.setConnectOptions(postgresConnectOptions());
    if (!db.open())
        return engineError(SqlDialect::PostgreSql, db.lastError(), ErrorPhase::Connect);
    // The server's own timeouts end what it works on; this ends the wait for
    // a server that no longer answers at all.
    ConnectionFactory::watchServerAnswers(*cn, WaitBounds::kServerAnswer);
    return cn;
}

Result<std::unique_ptr<Connection>> openOdbc(const QString& connectionString,
                                             const ConnectionFields& fields, SqlDialect dialect)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
        return providerMissing(dialect, QStringLiteral("Qt SQL driver QODBC"));
    const OdbcEngine engine = dialect == SqlDialect::SqlServer  ? OdbcEngine::SqlServer
                              : dialect == SqlDialect::Informix ? OdbcEngine::Informix
                                                                : OdbcEngine::SqlAnywhere;
    const auto driver = odbcDriverFor(engine, installedOdbcDrivers());
    if (!driver) {
        const char* wanted = engine == OdbcEngine::SqlServer  ? "SQL Server (FreeTDS)"
                             : engine == OdbcEngine::Informix ? "Informix"
                                                              : "SQL Anywhere";
        return providerMissing(dialect, QStringLiteral("no ODBC driver for ") +
                                            QLatin1String(wanted) +
                                            QStringLiteral(" is installed"));
    }
    auto login = odbcLogin(engine, *driver, fields);
    if (!login)
        return login.error();
    // cn removes the Qt connection when it goes; db, declared after it, is
    // released first.
    auto cn = ConnectionFactory::make(QStringLiteral("QODBC"), connectionString, dialect);
    QSqlDatabase db = cn->database();
    configureOdbc(db, login.value());
    db.setConnectOptions(odbcConnectOptions());
    if (db.open())
        return cn;
    Error error = engineError(dialect, db.lastError(), ErrorPhase::Connect);
    // The driver manager says "file not found" for any library it cannot
    // load: a library that is there but broken is an error in the DLL.
    if (error.number == ErrorNumber::ProviderNotFound &&
        error.description.contains(QLatin1String("Can't open lib"), Qt::CaseInsensitive)) {
        if (const auto broken = brokenDriverLibrary(*driver)) {
            error.number = ErrorNumber::ErrorInDll;
            error.description += QStringLiteral(" (") + *broken + QStringLiteral(")");
        }
    }
    return error;
}

} // namespace

Result<std::unique_ptr<Connection>> EngineLayer::open(const QString& connectionString)
{
    if (connectionString.trimmed().isEmpty())
        return layerError(ErrorNumber::InvalidArgument, engineLayerSource(),
                          QStringLiteral("The connection string is empty: no database engine is "
                                         "chosen."));
    const ConnectionFields fields = ConnectionFields::parse(connectionString);
    const auto provider = fields.value(QStringLiteral("Provider"));
    if (!provider)
        return layerError(ErrorNumber::InvalidArgument, engineLayerSource(),
                          QStringLiteral("The connection string names no provider."));
    const auto dialect = dialectOfProvider(*provider);
    if (!dialect)
        return layerError(ErrorNumber::ProviderNotFound, engineLayerSource(),
                          kProviderNotFound + QStringLiteral(" (") + *provider +
                              QStringLiteral(")"));
    switch (*dialect) {
    case SqlDialect::Sqlite:
        return openSqlite(connectionString, fields);
    case SqlDialect::PostgreSql:
        return openPostgres(connectionString, fields);
    case SqlDialect::SqlServer:
    case SqlDialect::Informix:
    case SqlDialect::SqlAnywhere:
        return openOdbc(connectionString, fields, *dialect);
    }
    return layerError(ErrorNumber::ProviderNotFound, engineLayerSource(), kProviderNotFound);
}

std::optional<SqlDialect> EngineLayer::dialectOf(const QString& connectionString)
{
    const auto provider =
        ConnectionFields::parse(connectionString).value(QStringLiteral("Provider"));
    if (!provider)
        return std::nullopt;
    return dialectOfProvider(*provider);
}

Status EngineLayer::createFileDatabase(const QString& path, const QString& passBD)
{
    return SqliteFile::create(path, passBD);
}

} // namespace telvar
