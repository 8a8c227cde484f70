#include "config/AmpliarTexto.h"

#include "database/Connection.h"
#include "database/SqliteWidenColumn.h"

namespace telvar {

Status AmpliarTexto(const Connection& TLVConf, const QString& Tabliux, const QString& Campiux,
                    int NewAnchiux)
{
    Result<int> width = TLVConf.definedSize(Tabliux, Campiux);
    if (!width)
        return width.error();
    if (width.value() >= NewAnchiux)
        return {};
    return widenSqliteTextColumn(TLVConf, Tabliux, Campiux, NewAnchiux);
}

} // namespace telvar
