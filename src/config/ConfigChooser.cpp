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

#include <QFileInfo>
#include <algorithm>

namespace telvar {

namespace {

// The texts of the import, which the installation's message table does not
// hold: Spanish (any language but 2) and English.
enum class ImportText {
    Caption,
    SourcePrompt,
    TargetPrompt,
    TargetNotMdb,
    Replace,
    Done,
    Backup,
    NotConverted,
    More,
    UseIt
};

QString importText(ImportText text, int idioma)
{
    struct Texts {
        const char* spanish;
        const char* english;
    };
    static constexpr Texts kTexts[] = {
        {"Importar un archivo Jet…", "Import a Jet file…"},
        {"Archivo Jet (.mdb o .accdb) de la instalación anterior:",
         "Jet file (.mdb or .accdb) of the earlier installation:"},
        {"Base de datos de configuración que se escribirá (termina en .mdb):",
         "Configuration database to write (ending in .mdb):"},
        {"La base de datos de configuración debe terminar en .mdb: %1",
         "The configuration database must end in .mdb: %1"},
        {"%1 ya existe. ¿Reemplazarlo por el archivo importado? El actual se guarda como copia "
         "de respaldo (.bak).",
         "%1 already exists. Replace it with the imported file? The current one is kept as a "
         "backup (.bak)."},
        {"Se importaron %1 tablas (%2 filas) de %3 a %4.",
         "Imported %1 tables (%2 rows) from %3 into %4."},
        {"El archivo reemplazado se guarda como %1.", "The file it replaced is kept as %1."},
        {"No se convirtió:", "Not converted:"},
        {"… y %1 más", "… and %1 more"},
        {"¿Usarlo como base de datos de configuración?", "Use it as the configuration database?"},
    };
    const Texts& t = kTexts[static_cast<int>(text)];
    return QString::fromUtf8(idioma == 2 ? t.english : t.spanish);
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

std::optional<QString> ConfigChooser::importJet(const QStringList& items)
{
    const int idioma = m_m.Idioma;
    const std::optional<QString> source =
        m_ui.inputBox(importText(ImportText::SourcePrompt, idioma));
    if (!source || source->trimmed().isEmpty())
        return std::nullopt;
    const std::optional<QString> answer =
        m_ui.inputBox(importText(ImportText::TargetPrompt, idioma));
    if (!answer || answer->trimmed().isEmpty())
        return std::nullopt;
    const QString target = answer->trimmed();

    // Only a path the chooser itself would take: one ending in ".mdb" that
    // TLVDirec.IAU can keep.
    if (target.right(4).toUpper() != QLatin1String(".MDB")) {
        m_ui.messageBox(importText(ImportText::TargetNotMdb, idioma).arg(target),
                        BoxKind::Exclamation);
        return std::nullopt;
    }
    if (const QString reason = unstorablePathReason(target); !reason.isEmpty()) {
        m_ui.messageBox(
            importReport(Error{ErrorNumber::InvalidProcedureCall, QStringLiteral("Telvar"),
                               QStringLiteral("The path \"") + target + QStringLiteral("\" ") +
                                   reason +
                                   QStringLiteral(": TLVDirec.IAU cannot keep it. "
                                                  "Choose another name or folder.")}),
            BoxKind::Exclamation);
        return std::nullopt;
    }
    const QFileInfo existing(target);
    const bool replace = existing.exists() || existing.isSymLink();
    if (replace && !m_ui.questionBox(importText(ImportText::Replace, idioma).arg(target)))
        return std::nullopt;

    ImportRequest request;
    request.source = source->trimmed();
    request.target = target;
    request.password = m_m.PassBD;
    request.replaceExisting = replace;
    m_ui.setMousePointer(PointerShape::Hourglass);
    const Result<ImportSummary> imported = m_importer(request);
    m_ui.setMousePointer(PointerShape::Default);
    if (!imported) {
        m_ui.messageBox(importReport(imported.error()), BoxKind::Exclamation);
        return std::nullopt;
    }

    const ImportSummary& summary = imported.value();
    QString done = importText(ImportText::Done, idioma)
                       .arg(summary.tables.size())
                       .arg(summary.rows())
                       .arg(request.source, target);
    if (!summary.backup.isEmpty())
        done += QLatin1Char('\n') + importText(ImportText::Backup, idioma).arg(summary.backup);
    if (!summary.notes.isEmpty()) {
        // The box shows the first notes; telvar-import prints them all.
        constexpr qsizetype kShown = 8;
        done += QStringLiteral("\n\n") + importText(ImportText::NotConverted, idioma);
        for (qsizetype i = 0; i < std::min(kShown, summary.notes.size()); ++i)
            done += QStringLiteral("\n- ") + summary.notes[i];
        if (summary.notes.size() > kShown)
            done += QStringLiteral("\n") +
                    importText(ImportText::More, idioma).arg(summary.notes.size() - kShown);
    }
    done += QStringLiteral("\n\n") + importText(ImportText::UseIt, idioma);
    if (!m_ui.questionBox(done))
        return std::nullopt;
    return accept(target, items);
}

QString ConfigChooser::importCaption(int idioma)
{
    return importText(ImportText::Caption, idioma);
}

QString ConfigChooser::importReport(const Error& error)
{
    return errorReport(QStringLiteral("TelvarConfig. cmdImportar_Click."), error);
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
