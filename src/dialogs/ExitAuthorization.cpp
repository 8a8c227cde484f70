#include "dialogs/ExitAuthorization.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/OpenDBOK.h"
#include "dialogs/ContraMatch.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace telvar {

bool configuratorPasswordMatches(Modulo1& m, Interaccion& ui, const QString& typed)
{
    OpenDBOKResult opened = OpenDBOK(m, ui, OpenRequest{m.CadConexion, m.TipoBD, true});
    keepTypedPassword(m, opened);
    if (!opened)
        return false;
    bool matched = false;
    {
        const auto report = [&ui](const Error& error) {
            ui.mensaBox(errorReport(QStringLiteral("Telvar. Form_QueryUnload."), error),
                        BoxKind::Exclamation, 5);
        };
        Result<QSqlQuery> users = opened.cn->exec(QLatin1String(kActiveConfigurators));
        if (!users) {
            report(users.error());
        } else if (const int password = users.value().record().indexOf(QStringLiteral("USUCONTR"));
                   password < 0) {
            report(Error{ErrorNumber::ItemNotFound, QStringLiteral("Telvar"),
                         QStringLiteral("Item cannot be found in the collection "
                                        "corresponding to the requested name or ordinal: "
                                        "USU.USUCONTR")});
        } else {
            QSqlQuery& rows = users.value();
            while (!matched && rows.next()) {
                const QVariant stored = rows.value(password);
                const QString h = stored.isNull() ? QString() : stored.toString();
                matched = ContraMatch(typed, h, QString()) == QLatin1String("Y");
            }
        }
    }
    opened.cn->close();
    return matched;
}

} // namespace telvar
