// Statements rewritten for each engine's dialect.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "database/SqlDialect.h"

TELVAR_FUZZ_TARGET(sql_rewrite)
{
    const QString statement = QString::fromUtf8(telvar::fuzz::bytes(data, size));
    for (const auto dialect :
         {telvar::SqlDialect::Sqlite, telvar::SqlDialect::PostgreSql, telvar::SqlDialect::SqlServer,
          telvar::SqlDialect::Informix, telvar::SqlDialect::SqlAnywhere})
        (void)telvar::rewriteSql(dialect, statement);
    (void)telvar::bracketName(statement);
    return 0;
}
