#pragma once

#include "common/Error.h"
#include "config/ConfigImportRun.h"
#include "import/JetImport.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

struct Modulo1;
class Interaccion;

// What the chooser of the configuration database (TelvarConfig) does: it
// lists the paths TLVDirec.IAU remembers, and accepts one after checking that
// it really is a configuration database, by rewriting TLVDirec.IAU with it
// first. The dialog only shows and forwards.
class ConfigChooser final {
public:
    ConfigChooser(Modulo1& m, Interaccion& ui) : m_m(m), m_ui(ui) {}

    // The paths of TLVDirec.IAU in file order. A file that cannot be read is
    // reported (naming the form and the error) and gives an empty list, so
    // the person can still browse for a database.
    QStringList loadPaths();

    // The path the typed text stands for: the text itself when it ends in
    // ".mdb" (any case), otherwise RutaApp + "TLVConf.mdb".
    static QString chosenPath(const QString& text, const QString& RutaApp);

    // TLVDirec.IAU's new contents: path first, then every item that differs
    // from it (and from each other) when upper-cased, in list order.
    static QStringList newOrder(const QString& path, const QStringList& items);

    // Accepts the typed text with the combo box's items: opens the database,
    // checks that it holds HTMRELOJ and HTMCONFI and that it passes Reinicia's
    // width check (a station column Reinicia would widen passes), and
    // rewrites TLVDirec.IAU. The accepted path, or nothing after a reported
    // failure (TLVDirec.IAU is then unchanged).
    std::optional<QString> accept(const QString& text, const QStringList& items);

    // "Import a Jet file...", before the import: asks for the Jet file of
    // an existing installation and for the configuration database to write
    // (ending in ".mdb", as chosenPath takes it, and a path TLVDirec.IAU can
    // keep), and asks before an existing file is replaced (it is kept as a
    // backup). The import to run, protected by the program's database
    // password m.PassBD, or nothing after a cancel or a reported refusal.
    // The window runs it (ConfigImportRun) and hands its end to importEnded.
    std::optional<ImportRequest> askImport();

    // The end of the import of request: a failure is reported; a converted
    // file is offered (its tables, rows, backup and notes), and taking it is
    // accept() with its path. The accepted path, or nothing after a
    // reported failure or when it is not taken (TLVDirec.IAU is then
    // unchanged; a converted file stays).
    std::optional<QString> importEnded(const ImportRequest& request,
                                       const Result<ImportSummary>& imported,
                                       const QStringList& items);

    // What the window shows while an import runs: the Jet file, the time
    // since it started, then the tables converted and the table being read
    // as far as they are known, in the language idioma.
    static QString importProgressText(const QString& source, const ImportProgress& progress,
                                      qint64 elapsedMs, int idioma);

    // The caption of the entry that imports a Jet file, in the language
    // idioma (2 English, any other Spanish).
    static QString importCaption(int idioma);

    // The report of a failure while accepting.
    static QString acceptReport(const Error& error);
    // The report of a failure of the database at path while accepting: the
    // error, then the file it concerns, in the language idioma.
    static QString acceptReport(const Error& error, const QString& path, int idioma);
    // The report of a failed import.
    static QString importReport(const Error& error);
    // The report of a file that fails the width check: where, the file, and
    // the width check's lines.
    static QString acceptWidthReport(const QString& path, const QString& report);
    // The report of a failure while loading the list.
    static QString loadReport(const Error& error);

private:
    void warn(const Error& error, const QString& path);

    Modulo1& m_m;
    Interaccion& m_ui;
};

} // namespace telvar
