#include "database/OdbcConnectionString.h"

#include "database/EngineErrors.h"

namespace telvar {

namespace {

SqlDialect dialectOf(OdbcEngine engine)
{
    switch (engine) {
    case OdbcEngine::SqlServer:
        return SqlDialect::SqlServer;
    case OdbcEngine::Informix:
        return SqlDialect::Informix;
    case OdbcEngine::SqlAnywhere:
        return SqlDialect::SqlAnywhere;
    }
    return SqlDialect::SqlServer;
}

// Builds an attribute string, stopping at the first value that cannot be
// written for the driver.
class AttributeWriter final {
public:
    explicit AttributeWriter(const QString& driverName, OdbcEngine engine)
        : m_braces(odbcBracesOf(driverName)), m_engine(engine)
    {
        m_text = QStringLiteral("Driver={") + driverName + QLatin1Char('}');
    }

    void add(const char* key, const QString& value)
    {
        if (m_error)
            return;
        // Qt's ODBC driver reads an attribute string that holds ".dsn"
        // anywhere as the name of a file data source, and the driver
        // manager's answer would read as a missing driver.
        if (value.contains(QLatin1String(".dsn"), Qt::CaseInsensitive)) {
            fail(key, layerError(ErrorNumber::InvalidArgument, engineLayerSource(),
                                 QStringLiteral("the value \"") + value +
                                     QStringLiteral("\" contains \".dsn\", which Qt's ODBC "
                                                    "driver takes for a file data source; it "
                                                    "cannot be used in this name.")));
            return;
        }
        auto written = odbcValue(value, m_braces);
        if (!written) {
            fail(key, written.error());
            return;
        }
        m_text += QLatin1Char(';') + QLatin1String(key) + QLatin1Char('=') + written.value();
    }

    void addRaw(const char* attribute) { m_text += QLatin1Char(';') + QLatin1String(attribute); }

    void addCredentials(const ConnectionFields& fields, OdbcLogin& login)
    {
        const auto user = fields.value(QStringLiteral("User ID"));
        if (!user || m_error)
            return;
        auto uid = odbcValue(*user, m_braces);
        if (!uid) {
            fail("UID", uid.error());
            return;
        }
        auto pwd = odbcValue(fields.text(QStringLiteral("Password")), m_braces, true);
        if (!pwd) {
            fail("PWD", pwd.error());
            return;
        }
        login.hasCredentials = true;
        login.user = uid.value();
        login.password = pwd.value();
    }

    Result<OdbcLogin> finish(OdbcLogin login) const
    {
        if (m_error)
            return *m_error;
        login.attributes = m_text;
        return login;
    }

private:
    void fail(const char* key, const Error& why)
    {
        Error error = why;
        error.source = errorSource(dialectOf(m_engine));
        error.description = QLatin1String(key) + QStringLiteral(": ") + error.description;
        m_error = error;
    }

    OdbcBraces m_braces;
    OdbcEngine m_engine;
    QString m_text;
    std::optional<Error> m_error;
};

} // namespace

OdbcBraces odbcBracesOf(const QString& driverName)
{
    return driverName.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0
               ? OdbcBraces::FreeTds
               : OdbcBraces::Standard;
}

Result<QString> odbcValue(const QString& value, OdbcBraces braces, bool secret)
{
    const bool needsBraces = secret || value.contains(QLatin1Char(';')) ||
                             value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}')) ||
                             value != value.trimmed();
    if (!needsBraces)
        return value;
    if (braces == OdbcBraces::FreeTds) {
        if (value.contains(QLatin1String("};")))
            return layerError(ErrorNumber::InvalidArgument, engineLayerSource(),
                              QStringLiteral("the FreeTDS ODBC driver cannot be given a value "
                                             "that contains \"};\"."));
        return QString(QLatin1Char('{') + value + QLatin1Char('}'));
    }
    QString inner = value;
    inner.replace(QLatin1String("}"), QLatin1String("}}"));
    return QString(QLatin1Char('{') + inner + QLatin1Char('}'));
}

Result<OdbcLogin> odbcLogin(OdbcEngine engine, const QString& driverName,
                            const ConnectionFields& fields)
{
    AttributeWriter out(driverName, engine);
    OdbcLogin login;
    switch (engine) {
    case OdbcEngine::SqlServer: {
        QString server = fields.text(QStringLiteral("Data Source")).trimmed();
        if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
            server = server.mid(4);
        const bool freeTds = odbcBracesOf(driverName) == OdbcBraces::FreeTds;
        const qsizetype comma = server.indexOf(QLatin1Char(','));
        if (freeTds && comma >= 0) {
            out.add("Server", server.left(comma).trimmed());
            out.add("Port", server.mid(comma + 1).trimmed());
        } else {
            out.add("Server", server);
        }
        out.add("Database", fields.text(QStringLiteral("Initial Catalog")));
        if (fields.contains(QStringLiteral("User ID")))
            out.addCredentials(fields, login);
        else if (!freeTds)
            // Integrated security: the operating system's identity (Kerberos).
            out.addRaw("Trusted_Connection=yes");
        if (freeTds)
            out.addRaw("ClientCharset=UTF-8");
        break;
    }
    case OdbcEngine::Informix: {
        // "Data Source" is database@server.
        const QString source = fields.text(QStringLiteral("Data Source"));
        const qsizetype at = source.lastIndexOf(QLatin1Char('@'));
        out.add("Database", at < 0 ? source : source.left(at));
        if (at >= 0)
            out.add("Server", source.mid(at + 1));
        // Names the program writes in brackets reach Informix in double
        // quotes, which it reads as names only with delimited identifiers on.
        out.addRaw("DELIMIDENT=y");
        out.addCredentials(fields, login);
        break;
    }
    case OdbcEngine::SqlAnywhere:
        out.add("ENG", fields.text(QStringLiteral("ENG")));
        out.add("DBN", fields.text(QStringLiteral("DBN")));
        if (auto links = fields.value(QStringLiteral("Links")))
            out.add("LINKS", *links);
        out.addCredentials(fields, login);
        break;
    }
    return out.finish(login);
}

void configureOdbc(QSqlDatabase& db, const OdbcLogin& login)
{
    db.setDatabaseName(login.attributes);
    if (!login.hasCredentials)
        return;
    db.setUserName(login.user);
    // The closing ";" ends the braced password for FreeTDS, which otherwise
    // reads a brace at the very end of the string as part of the value.
    db.setPassword(login.password + QLatin1Char(';'));
}

} // namespace telvar
