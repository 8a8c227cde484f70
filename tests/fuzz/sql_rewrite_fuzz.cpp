// Statements rewritten for each engine's dialect.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "database/SqlDialect.h"

TELVAR_FUZZ_TARGET(sql_rewrite)
{
    const QString statement = QString::fromUtf8(telvar::fuzz::bytes(data, size));
    for (const auto dialect :
         {telvar::Dialecto::Sqlite, telvar::Dialecto::PostgreSql, telvar::Dialecto::SqlServer,
          telvar::Dialecto::Informix, telvar::Dialecto::SqlAnywhere})
        (void)telvar::rewriteSql(dialect, statement);
    (void)telvar::bracketName(statement);
    return 0;
}
