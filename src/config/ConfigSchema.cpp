#include "config/ConfigSchema.h"

#include "common/Modulo1.h"
#include "config/ConfigTexts.h"
#include "database/Connection.h"

#include <algorithm>

namespace telvar {

AnchosClave AnchosClave::de(const Modulo1& m)
{
    return {m.AnchoUSU, m.AnchoEST, m.AnchoMAQ, m.AnchoPRO, m.AnchoFRM, m.AnchoCAR};
}

Result<QString> revisaAnchos(const Connection& cn, const AnchosClave& anchos)
{
    std::array<int, 6> definidos{};
    for (std::size_t i = 0; i < kColumnasClave.size(); ++i) {
        Result<int> ancho =
            cn.definedSize(QStringLiteral("HTMCONFI"), QLatin1String(kColumnasClave[i].columna));
        if (!ancho)
            return ancho.error();
        definidos[i] = ancho.value();
        if (kColumnasClave[i].ancho == &AnchosClave::Estac)
            definidos[i] = std::max(definidos[i], kAnchoEstacAmpliado);
    }
    return reporteAnchos(definidos, anchos);
}

Status creaTablasConfig(const Connection& cn, const AnchosClave& anchos)
{
    const auto varchar = [](int n) {
        return QStringLiteral("VARCHAR(") + QString::number(n) + QStringLiteral(")");
    };
    const QString libre = varchar(kAnchoTextoLibre);
    const QString statements[] = {
        QStringLiteral("CREATE TABLE HTMRELOJ (CLAVE INTEGER NOT NULL PRIMARY KEY, INTER INTEGER)"),
        QStringLiteral("CREATE TABLE HTMCONFI (Puert INTEGER NOT NULL PRIMARY KEY, Descr ") +
            libre + QStringLiteral(", WebPg ") + libre + QStringLiteral(", Ident ") + libre +
            QStringLiteral(", Inici INTEGER, Longi INTEGER, Estac ") + varchar(anchos.Estac) +
            QStringLiteral(", Maqui ") + varchar(anchos.Maqui) + QStringLiteral(", Produ ") +
            varchar(anchos.Produ) + QStringLiteral(", Forma ") + varchar(anchos.Forma) +
            QStringLiteral(", Carac ") + varchar(anchos.Carac) + QStringLiteral(", Opera ") +
            varchar(anchos.Opera) + QStringLiteral(", Reloj INTEGER)"),
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
