// Connection strings: the field parser, password masking and replacement,
// and the ODBC attribute strings built from them.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "database/ConnectionString.h"
#include "database/OdbcConnectionString.h"
#include "database/OpenDBOK.h"

#include <cstdlib>

TELVAR_FUZZ_TARGET(connection_string)
{
    const QString text = QString::fromUtf8(telvar::fuzz::bytes(data, size));
    const auto fields = telvar::ConnectionFields::parse(text);
    (void)fields.maskedPasswordField();
    // Masking fails closed: a string that holds a password field, however
    // malformed, never comes back unmasked.
    if (text.contains(QLatin1String("Password=")) &&
        !telvar::maskPassword(text).contains(QLatin1String("Password=***;")))
        std::abort();
    (void)telvar::replacePasswordField(text, QStringLiteral("secret;Password=x"));
    for (const auto engine : {telvar::OdbcEngine::SqlServer, telvar::OdbcEngine::Informix,
                              telvar::OdbcEngine::SqlAnywhere}) {
        for (const char* driver : {"FreeTDS", "ODBC Driver 18 for SQL Server"})
            (void)telvar::odbcLogin(engine, QString::fromLatin1(driver), fields);
    }
    return 0;
}
