#include "config/ConfigTexts.h"

#include "common/ErrorReport.h"
#include "database/ArmaConexion.h"
#include "database/DatabaseDescription.h"

#include <algorithm>

namespace telvar {

QString configConnectionString(const QString& path, const QString& passBD)
{
    return jetConnectionString(path, passBD);
}

QString bareFileName(const QString& path)
{
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

QString keyWidthReport(const std::array<int, 6>& definedSizes, const KeyWidths& widths)
{
    QString report;
    for (std::size_t i = 0; i < kKeyColumns.size(); ++i) {
        const int width = widths.*kKeyColumns[i].width;
        if (definedSizes[i] != width)
            report +=
                QLatin1String(kKeyColumns[i].literal) + QString::number(width) + QLatin1Char('\n');
    }
    return report;
}

QString keyWidthStopMessage(const QString& configPath, const QString& report)
{
    return QStringLiteral("Telvar") + QStringLiteral(". Reinicia.") + QLatin1Char('\n') +
           configPath + QStringLiteral("\n\n") + report;
}

QString reiniciaReport(const Error& error, const QString& connectionString, int idioma)
{
    // Before a database is named (TLVDirec.IAU unreadable) there is nothing
    // to say about one.
    if (connectionString.isEmpty())
        return errorReport(QStringLiteral("Telvar. Reinicia."), error, SourceLine::Shown,
                           QString());
    return errorReport(QStringLiteral("Telvar. Reinicia."),
                       DatabaseDescription::explainOpenFailure(error, connectionString, idioma),
                       SourceLine::Shown, DatabaseDescription::describe(connectionString, idioma));
}

QString telvarCaption(const QString& title, int majorVersion, int revision)
{
    return title + QStringLiteral(" v.") + QString::number(majorVersion) + QLatin1Char('.') +
           QString::number(revision);
}

} // namespace telvar
