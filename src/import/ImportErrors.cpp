#include "import/ImportErrors.h"

namespace telvar {

QString jetImportSource()
{
    return QStringLiteral("Jet import");
}

Error jetImportError(long long number, const QString& file, const QString& table,
                     const QString& what)
{
    QString where = file;
    if (!table.isEmpty())
        where += QStringLiteral(", table ") + table;
    return Error{number, jetImportSource(), where + QStringLiteral(": ") + what};
}

} // namespace telvar
