#include "config/ConfigChooser.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/OpenConfigDatabase.h"
#include "config/TLVDirec.h"
#include "database/Connection.h"

namespace telvar {

QStringList ConfigChooser::loadPaths()
{
    Result<QStringList> paths = readConfigPaths(m_m);
    if (!paths) {
        m_ui.messageBox(loadReport(paths.error()), BoxKind::Exclamation);
        return {};
    }
    return paths.value();
}

QString ConfigChooser::chosenPath(const QString& text, const QString& RutaApp)
{
    if (text.right(4).toUpper() == QLatin1String(".MDB"))
        return text;
    return RutaApp + QStringLiteral("TLVConf.mdb");
}

QStringList ConfigChooser::newOrder(const QString& path, const QStringList& items)
{
    QStringList order{path};
    QStringList seen{path.toUpper()};
    for (const QString& item : items) {
        const QString key = item.toUpper();
        if (seen.contains(key))
            continue;
        seen.append(key);
        order.append(item);
    }
    return order;
}

std::optional<QString> ConfigChooser::accept(const QString& text, const QStringList& items)
{
    const QString path = chosenPath(text, m_m.RutaApp);

    // A path TLVDirec.IAU cannot hold would come back as another path.
    const QString reason = unstorablePathReason(path);
    if (!reason.isEmpty()) {
        warn(Error{ErrorNumber::InvalidProcedureCall, QStringLiteral("Telvar"),
                   QStringLiteral("The path \"") + path + QStringLiteral("\" ") + reason +
                       QStringLiteral(": TLVDirec.IAU cannot keep it. Rename the file or "
                                      "its folder and choose it again.")});
        return std::nullopt;
    }

    OpenDBOKResult opened = openConfigDatabase(m_m, m_ui, configConnectionString(path, m_m.PassBD));
    if (!opened)
        return std::nullopt;
    std::unique_ptr<Connection> cn = std::move(opened.cn);

    // A configuration database holds both tables.
    for (const QString& query :
         {QStringLiteral("Select * from HTMRELOJ"), QStringLiteral("Select * from HTMCONFI")}) {
        Result<QSqlQuery> selected = cn->exec(query);
        if (!selected) {
            warn(selected.error());
            return std::nullopt;
        }
    }
    // ...whose key columns fit the master keys, as Reinicia will check next:
    // a file it refuses would end the program now and at every later start,
    // since TLVDirec.IAU would name it.
    Result<QString> report = checkKeyWidths(*cn, KeyWidths::from(m_m));
    cn.reset();
    if (!report) {
        warn(report.error());
        return std::nullopt;
    }
    if (!report.value().isEmpty()) {
        m_ui.mensaBox(acceptWidthReport(path, report.value()), BoxKind::Exclamation, 5);
        return std::nullopt;
    }

    if (Status written = writeConfigPaths(m_m, newOrder(path, items)); !written) {
        warn(written.error());
        return std::nullopt;
    }
    return path;
}

QString ConfigChooser::acceptReport(const Error& error)
{
    return errorReport(QStringLiteral("TelvarConfig. bAceptar_Click."), error);
}

QString ConfigChooser::acceptWidthReport(const QString& path, const QString& report)
{
    return QStringLiteral("TelvarConfig. bAceptar_Click.") + QLatin1Char('\n') + path +
           QStringLiteral("\n\n") + report;
}

QString ConfigChooser::loadReport(const Error& error)
{
    return errorReport(QStringLiteral("TelvarConfig (Form_Load)"), error);
}

void ConfigChooser::warn(const Error& error)
{
    m_ui.mensaBox(acceptReport(error), BoxKind::Exclamation, 5);
}

} // namespace telvar
