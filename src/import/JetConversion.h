#pragma once

#include "common/Error.h"
#include "import/ImportLimits.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace telvar {

// One table as it was converted.
struct ImportedTable {
    QString name;
    qint64 rows = 0;
    int columns = 0;
    int indexes = 0; // the primary key and the other indexes
};

// What an import did.
struct ImportSummary {
    QString source;
    QString target;
    QString format; // the Jet file's format, "Jet 3 (Access 97)" ...
    QList<ImportedTable> tables;
    // What was left out and why, one sentence each (those about one table
    // start with its name).
    QStringList notes;
    // The backup of the file the import replaced; "" when it replaced none.
    QString backup;

    qint64 rows() const;
};

// What a conversion reports as it goes.
struct ConversionEvent {
    enum class Kind { Format, TableStarted, TableDone, Note };
    Kind kind = Kind::Note;
    QString text;        // the format, the table's name or the note
    ImportedTable table; // TableDone
};
using ConversionObserver = std::function<void(const ConversionEvent&)>;

// How a conversion goes besides its bounds.
struct ConversionOptions {
    // A file without a user table converts (into a file without tables)
    // only when this is set; otherwise it is an error 3049: such a file is
    // more likely damaged than meant.
    bool allowEmpty = false;
    // Runs once the Jet file and the new file are open, before libmdb
    // reads the Jet file's catalog: the reader confines itself there (see
    // ReaderConfinement.h). An error from it ends the conversion.
    std::function<Status()> beforeParsing;
};

// Converts every user table of the Jet file source (columns, rows, primary
// key and indexes; see JetToSqlite for the declarations) into the new
// SQLite file newFile, created as EngineLayer::createFileDatabase creates
// the program's file databases: protected by password, opened later with
// the same connection string the program uses. newFile must not exist.
// Runs in the calling process and trusts libmdb with the file: the program
// calls importJetFile (JetImport.h), which runs this in a process of its
// own under the bounds of limits and puts the file in place. On failure
// newFile may be left half written.
Result<ImportSummary> convertJetFile(const QString& source, const QString& newFile,
                                     const QString& password, const ImportLimits& limits,
                                     const ConversionObserver& observe = {},
                                     const ConversionOptions& options = {});

} // namespace telvar
