#pragma once

#include "common/Error.h"
#include "import/ImportLimits.h"
#include "import/JetConversion.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace telvar {

struct ImportRequest {
    QString source; // the Jet file (.mdb, .accdb)
    QString target; // the SQLite file to write
    // The database password the target is protected with (as the program's
    // own file databases are: see FilePassword); "" for none.
    QString password;
    // An existing target is replaced (and kept as a backup beside it, see
    // FileReplacement) only when this is set; otherwise it is an error.
    bool replaceExisting = false;
    // A Jet file without a user table converts only when this is set (see
    // ConversionOptions::allowEmpty).
    bool allowEmpty = false;
    // The code page of a Jet 3 file's text, as iconv names it ("CP1251"),
    // for a file whose own is wrong; "" reads the file's own.
    QString jet3Charset;
    ImportLimits limits;
    // The program that reads the Jet file (telvar-import); "" for
    // defaultImportHelper().
    QString helper;
    // Told of each table as it is converted.
    ConversionObserver progress;
    // Asked while the reader runs (a few times a second): true ends the
    // import with an error 18, the reader stopped and nothing left behind.
    std::function<bool()> cancelled;
};

// Converts the Jet file request.source into the SQLite file request.target
// (see convertJetFile for what is converted). libmdb reads the file in a
// process of its own, the helper program started with the reader's
// arguments, which writes the new file into a temporary folder beside the
// target under the bounds of request.limits (address space, CPU time; the
// whole import's time is bounded here): a file that makes libmdb crash,
// loop or allocate without end costs that process, not the caller. The new
// file takes the target's place only when everything succeeded, and a
// failure leaves neither a target nor a temporary file, and an existing
// target as it was. Errors name the Jet file and, where known, the table:
// 53 no such file, 3343 not a Jet file, 3049 damaged, 7 a bound passed,
// 3204 the target exists, 75 its folder cannot be written, 3706 the
// helper cannot be started, 70 the reader cannot be confined or broke its
// confinement (see ReaderConfinement.h), 18 cancelled. A file with no user
// table is refused (3049) unless request.allowEmpty.
Result<ImportSummary> importJetFile(const ImportRequest& request);
// Whether request's target may be written: named, in a folder that exists,
// not a folder, not the source itself, and an existing file only when
// replacing is asked for.
Status checkImportTarget(const ImportRequest& request);

// telvar-import beside the running program.
QString defaultImportHelper();

// The helper's side. A program that is to serve as the helper calls this
// first with its arguments: when they are the reader's ("<program>
// --read-jet-into ..."), it converts as asked, reports to the caller on
// its standard output, and returns the process's exit code; otherwise it
// returns nothing and the program goes on.
std::optional<int> runImportReaderIfAsked(const QStringList& arguments);

} // namespace telvar
