// Schema statements read from a file: one column's declared width changed,
// as the configuration database's widening does it, and the check that an
// entry is a single CREATE of its own type and name.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "database/SqliteSql.h"

TELVAR_FUZZ_TARGET(schema_sql)
{
    const QString createSql = QString::fromUtf8(telvar::fuzz::bytes(data, size));
    (void)telvar::SqliteSql::withColumnWidth(createSql, QStringLiteral("Produ"), 20);
    (void)telvar::SqliteSql::withColumnWidth(createSql, QStringLiteral("Produ"), 8,
                                             QStringLiteral("t2"));
    for (const char* type : {"table", "index", "view", "trigger"})
        (void)telvar::SqliteSql::isSingleCreate(createSql, QLatin1String(type),
                                                QStringLiteral("HTMCONFI"));
    return 0;
}
