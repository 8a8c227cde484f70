#include "config/ConfigSchema.h"

#include "common/Modulo1.h"
#include "config/ConfigTexts.h"
#include "database/Connection.h"

#include <algorithm>

namespace telvar {

KeyWidths KeyWidths::from(const Modulo1& m)
{
    return {m.AnchoUSU, m.AnchoEST, m.AnchoMAQ, m.AnchoPRO, m.AnchoFRM, m.AnchoCAR};
}

Result<QString> checkKeyWidths(const Connection& cn, const KeyWidths& widths)
{
    std::array<int, 6> definedSizes{};
    for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
        Result<int> width =
            cn.definedSize(QStringLiteral("HTMCONFI"), QLatin1String(kKeyColumns[i].column));
        if (!width)
            return width.error();
        definedSizes[i] = width.value();
        if (kKeyColumns[i].width == &KeyWidths::Estac)
            definedSizes[i] = std::max(definedSizes[i], kWidenedEstacWidth);
    }
    return keyWidthReport(definedSizes, widths);
}

Status createConfigTables(const Connection& cn, const KeyWidths& widths)
{
    const auto varchar = [](int n) {
        return QStringLiteral("VARCHAR(") + QString::number(n) + QStringLiteral(")");
    };
    const QString freeText = varchar(kFreeTextWidth);
    const QString statements[] = {
        QStringLiteral("CREATE TABLE HTMRELOJ (CLAVE INTEGER NOT NULL PRIMARY KEY, INTER INTEGER)"),
        QStringLiteral("CREATE TABLE HTMCONFI (Puert INTEGER NOT NULL PRIMARY KEY, Descr ") +
            freeText + QStringLiteral(", WebPg ") + freeText + QStringLiteral(", Ident ") +
            freeText + QStringLiteral(", Inici INTEGER, Longi INTEGER, Estac ") +
            varchar(widths.Estac) + QStringLiteral(", Maqui ") + varchar(widths.Maqui) +
            QStringLiteral(", Produ ") + varchar(widths.Produ) + QStringLiteral(", Forma ") +
            varchar(widths.Forma) + QStringLiteral(", Carac ") + varchar(widths.Carac) +
            QStringLiteral(", Opera ") + varchar(widths.Opera) + QStringLiteral(", Reloj INTEGER)"),
        QStringLiteral("CREATE INDEX HTMCONFI_Reloj ON HTMCONFI (Reloj)"),
    };
    for (const QString& statement : statements) {
        Result<QSqlQuery> done = cn.exec(statement);
        if (!done)
            return done.error();
    }
    return {};
}

} // namespace telvar
