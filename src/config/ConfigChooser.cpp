#include "config/ConfigChooser.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/OpenConfigDatabase.h"
#include "config/TLVDirec.h"
#include "database/Connection.h"
#include "database/DatabaseDescription.h"

#include <QFileInfo>
#include <algorithm>

namespace telvar {

namespace {

// The chooser's own texts, in the installation's language.
QString chooserText(OwnText text, int idioma)
{
    return ownText(text, idioma);
}

// The report of a path TLVDirec.IAU could not keep, in the language idioma.
Error unstorablePath(const QString& path, const QString& reason, int idioma)
{
    return Error{ErrorNumber::InvalidProcedureCall, QStringLiteral("Telvar"),
                 chooserText(OwnText::ChooserPathUnstorable, idioma).arg(path, reason)};
}

} // namespace

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
    const QString reason = unstorablePathReason(path, m_m.Idioma);
    if (!reason.isEmpty()) {
        m_ui.mensaBox(acceptReport(unstorablePath(path, reason, m_m.Idioma)), BoxKind::Exclamation,
                      5);
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
            warn(selected.error(), path);
            return std::nullopt;
        }
    }
    // ...whose key columns fit the master keys, as Reinicia will check next:
    // a file it refuses would end the program now and at every later start,
    // since TLVDirec.IAU would name it.
    Result<QString> report = checkKeyWidths(*cn, KeyWidths::from(m_m));
    cn.reset();
    if (!report) {
        warn(report.error(), path);
        return std::nullopt;
    }
    if (!report.value().isEmpty()) {
        m_ui.mensaBox(acceptWidthReport(path, report.value()), BoxKind::Exclamation, 5);
        return std::nullopt;
    }

    if (Status written = writeConfigPaths(m_m, newOrder(path, items)); !written) {
        m_ui.mensaBox(acceptReport(written.error()), BoxKind::Exclamation, 5);
        return std::nullopt;
    }
    return path;
}

std::optional<ImportRequest> ConfigChooser::askImport()
{
    const int idioma = m_m.Idioma;
    const std::optional<QString> source =
        m_ui.inputBox(chooserText(OwnText::ChooserImportSource, idioma));
    if (!source || source->trimmed().isEmpty())
        return std::nullopt;
    const std::optional<QString> answer =
        m_ui.inputBox(chooserText(OwnText::ChooserImportTarget, idioma));
    if (!answer || answer->trimmed().isEmpty())
        return std::nullopt;
    const QString target = answer->trimmed();

    // Only a path the chooser itself would take: one ending in ".mdb" that
    // TLVDirec.IAU can keep.
    if (target.right(4).toUpper() != QLatin1String(".MDB")) {
        m_ui.messageBox(chooserText(OwnText::ChooserImportTargetNotMdb, idioma).arg(target),
                        BoxKind::Exclamation);
        return std::nullopt;
    }
    if (const QString reason = unstorablePathReason(target, idioma); !reason.isEmpty()) {
        m_ui.messageBox(importReport(unstorablePath(target, reason, idioma)), BoxKind::Exclamation);
        return std::nullopt;
    }
    const QFileInfo existing(target);
    const bool replace = existing.exists() || existing.isSymLink();
    if (replace &&
        !m_ui.questionBox(chooserText(OwnText::ChooserImportReplace, idioma).arg(target)))
        return std::nullopt;

    ImportRequest request;
    request.source = source->trimmed();
    request.target = target;
    request.password = m_m.PassBD;
    request.replaceExisting = replace;
    return request;
}

std::optional<QString> ConfigChooser::importEnded(const ImportRequest& request,
                                                  const Result<ImportSummary>& imported,
                                                  const QStringList& items)
{
    const int idioma = m_m.Idioma;
    if (!imported) {
        m_ui.messageBox(importReport(imported.error()), BoxKind::Exclamation);
        return std::nullopt;
    }

    const ImportSummary& summary = imported.value();
    QString done = chooserText(OwnText::ChooserImportDone, idioma)
                       .arg(summary.tables.size())
                       .arg(summary.rows())
                       .arg(request.source, request.target);
    if (!summary.backup.isEmpty())
        done += QLatin1Char('\n') +
                chooserText(OwnText::ChooserImportBackup, idioma).arg(summary.backup);
    if (!summary.notes.isEmpty()) {
        // The box shows the first notes; telvar-import prints them all.
        constexpr qsizetype kShown = 8;
        done += QStringLiteral("\n\n") + chooserText(OwnText::ChooserImportNotConverted, idioma);
        for (qsizetype i = 0; i < std::min(kShown, summary.notes.size()); ++i)
            done += QStringLiteral("\n- ") + summary.notes[i];
        if (summary.notes.size() > kShown)
            done +=
                QStringLiteral("\n") +
                chooserText(OwnText::ChooserImportMore, idioma).arg(summary.notes.size() - kShown);
    }
    done += QStringLiteral("\n\n") + chooserText(OwnText::ChooserImportUseIt, idioma);
    if (!m_ui.questionBox(done))
        return std::nullopt;
    return accept(request.target, items);
}

QString ConfigChooser::importProgressText(const QString& source, const ImportProgress& progress,
                                          qint64 elapsedMs, int idioma)
{
    QString text =
        chooserText(OwnText::ChooserImportRunning, idioma).arg(source).arg(elapsedMs / 1000);
    QStringList parts;
    if (progress.tables > 0)
        parts.append(chooserText(OwnText::ChooserImportTablesDone, idioma)
                         .arg(progress.tables)
                         .arg(progress.rows)
                         .arg(progress.lastTable));
    if (!progress.table.isEmpty())
        parts.append(progress.tableRows > 0
                         ? chooserText(OwnText::ChooserImportReadingRows, idioma)
                               .arg(progress.table)
                               .arg(progress.tableRows)
                         : chooserText(OwnText::ChooserImportReading, idioma).arg(progress.table));
    if (!parts.isEmpty())
        text += QStringLiteral("\n") + parts.join(QStringLiteral("; "));
    return text;
}

QString ConfigChooser::importCaption(int idioma)
{
    return chooserText(OwnText::ChooserImportCaption, idioma);
}

QString ConfigChooser::importReport(const Error& error)
{
    return errorReport(QStringLiteral("TelvarConfig. cmdImportar_Click."), error);
}

QString ConfigChooser::acceptReport(const Error& error)
{
    return errorReport(QStringLiteral("TelvarConfig. bAceptar_Click."), error);
}

QString ConfigChooser::acceptReport(const Error& error, const QString& path, int idioma)
{
    return errorReport(QStringLiteral("TelvarConfig. bAceptar_Click."), error, SourceLine::Omitted,
                       ownText(OwnText::DatabaseFile, idioma).arg(path));
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

void ConfigChooser::warn(const Error& error, const QString& path)
{
    m_ui.mensaBox(acceptReport(error, path, m_m.Idioma), BoxKind::Exclamation, 5);
}

} // namespace telvar
