#include "database/DatabaseDescription.h"

#include "common/ErrorNumbers.h"
#include "common/OwnTexts.h"
#include "database/ConnectionString.h"
#include "database/EngineLayer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telvar::DatabaseDescription {

namespace {

// Where a server database lives, read from the fields of its engine's
// connection string.
struct ServerDatabase {
    QString engine;
    QString server;
    QString database;
    QString user;
};

ServerDatabase serverDatabase(SqlDialect dialect, const ConnectionFields& fields)
{
    ServerDatabase d;
    d.user = fields.text(QStringLiteral("User ID")).trimmed();
    switch (dialect) {
    case SqlDialect::PostgreSql:
        d.engine = QStringLiteral("PostgreSQL");
        d.server = fields.text(QStringLiteral("Host")).trimmed();
        if (d.server.isEmpty())
            d.server = QStringLiteral("localhost");
        d.database = fields.text(QStringLiteral("Database"));
        break;
    case SqlDialect::SqlServer:
        d.engine = QStringLiteral("SQL Server");
        d.server = fields.text(QStringLiteral("Data Source"));
        d.database = fields.text(QStringLiteral("Initial Catalog"));
        break;
    case SqlDialect::Informix: {
        // Informix names its database as database@server.
        d.engine = QStringLiteral("Informix");
        const QString source = fields.text(QStringLiteral("Data Source"));
        const qsizetype at = source.lastIndexOf(QLatin1Char('@'));
        d.database = at < 0 ? source : source.left(at);
        d.server = at < 0 ? QString() : source.mid(at + 1);
        break;
    }
    case SqlDialect::SqlAnywhere:
        d.engine = QStringLiteral("SQL Anywhere");
        d.server = fields.text(QStringLiteral("ENG"));
        d.database = fields.text(QStringLiteral("DBN"));
        break;
    case SqlDialect::Sqlite:
        break;
    }
    return d;
}

QString text(OwnText id, int idioma)
{
    return ownText(id, idioma);
}

// The engine layer's words for a missing driver lead with the provider
// sentence of the platform the system comes from; what is missing here is
// said in the parentheses that follow it.
QString whatIsMissing(const QString& description)
{
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && description.endsWith(QLatin1Char(')')))
        return description.mid(open + 1, description.size() - open - 2);
    return description;
}

QString explainFileFailure(const Error& error, const QString& path, int idioma)
{
    const QString& engineText = error.description;
    switch (error.number) {
    case ErrorNumber::WrongPassword:
        return text(OwnText::CauseWrongPassword, idioma).arg(path);
    case ErrorNumber::DamagedFile:
        return text(OwnText::CauseDamaged, idioma).arg(path, engineText);
    case ErrorNumber::NotADatabase:
        return text(OwnText::CauseNotADatabase, idioma).arg(path, engineText);
    case ErrorNumber::ProviderNotFound:
        return text(OwnText::CauseDriverMissing, idioma)
            .arg(QStringLiteral("SQLite"), whatIsMissing(engineText));
    default:
        break;
    }
    // The file itself says what is wrong with it, whatever the engine made
    // of it: looked at now, as the person will find it.
    if (path.trimmed().isEmpty())
        return text(OwnText::CauseNoFileNamed, idioma);
    const QFileInfo info(path);
    if (!info.exists()) {
        const QDir folder = info.absoluteDir();
        if (!folder.exists())
            return text(OwnText::CauseFolderMissing, idioma)
                .arg(QDir::toNativeSeparators(folder.path()), path);
        return text(OwnText::CauseFileMissing, idioma).arg(path);
    }
    if (!info.isFile())
        return text(OwnText::CauseNotAFile, idioma).arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return text(OwnText::CauseFileUnreadable, idioma).arg(path, file.errorString());
    if (error.number == ErrorNumber::UnspecifiedFailure)
        return text(OwnText::CauseFileCannotOpen, idioma).arg(path, engineText);
    return engineText;
}

QString explainServerFailure(const Error& error, const ServerDatabase& d, int idioma)
{
    switch (error.number) {
    case ErrorNumber::UnspecifiedFailure:
        return text(OwnText::CauseServerUnreachable, idioma)
            .arg(d.server, d.database, error.description);
    case ErrorNumber::AuthenticationFailed:
        return text(OwnText::CauseLoginRefused, idioma)
            .arg(d.server, d.user, d.database, error.description);
    case ErrorNumber::ProviderNotFound:
        return text(OwnText::CauseDriverMissing, idioma)
            .arg(d.engine, whatIsMissing(error.description));
    default:
        return error.description;
    }
}

} // namespace

QString describe(const QString& Conexion, int idioma)
{
    if (Conexion.trimmed().isEmpty())
        return text(OwnText::DatabaseNoneChosen, idioma);
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    const std::optional<SqlDialect> dialect = EngineLayer::dialectOf(Conexion);
    if (!dialect || *dialect == SqlDialect::Sqlite)
        return text(OwnText::DatabaseFile, idioma).arg(fields.text(QStringLiteral("Data Source")));
    const ServerDatabase d = serverDatabase(*dialect, fields);
    QString line = text(OwnText::DatabaseOnServer, idioma).arg(d.database, d.server, d.engine);
    if (!d.user.isEmpty())
        line += text(OwnText::DatabaseUser, idioma).arg(d.user);
    return line;
}

Error explainOpenFailure(const Error& error, const QString& Conexion, int idioma)
{
    Error explained = error;
    if (Conexion.trimmed().isEmpty()) {
        explained.description = text(OwnText::DatabaseNoneChosen, idioma);
        return explained;
    }
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    const std::optional<SqlDialect> dialect = EngineLayer::dialectOf(Conexion);
    if (!dialect) {
        // Only a string no installation entry builds names an unknown
        // provider: the engine layer's words stand.
        explained.description = withoutPassword(error.description, Conexion);
        return explained;
    }
    explained.description =
        *dialect == SqlDialect::Sqlite
            ? explainFileFailure(error, fields.text(QStringLiteral("Data Source")), idioma)
            : explainServerFailure(error, serverDatabase(*dialect, fields), idioma);
    explained.description = withoutPassword(explained.description, Conexion);
    return explained;
}

QString withoutPassword(const QString& text, const QString& Conexion)
{
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    QString result = text;
    for (const ConnectionField& field : fields.fields()) {
        if (!field.key.endsWith(QLatin1String("Password"), Qt::CaseInsensitive))
            continue;
        if (field.value.size() >= 3)
            result.replace(field.value, QStringLiteral("***"));
    }
    return result;
}

} // namespace telvar::DatabaseDescription
