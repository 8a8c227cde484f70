// A table's CREATE statement with one column's declared width changed, as
// the configuration database's widening does it.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "config/SqliteSchemaEdit.h"

TELVAR_FUZZ_TARGET(column_widening)
{
    const QString createSql = QString::fromUtf8(telvar::fuzz::bytes(data, size));
    (void)telvar::cambiaAnchoColumna(createSql, QStringLiteral("Produ"), 20);
    (void)telvar::cambiaAnchoColumna(createSql, QStringLiteral("Produ"), 8, QStringLiteral("t2"));
    return 0;
}
