#pragma once

#include "import/JetImport.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace telvar::test {

// The real Jet files kept with the tests (tests/data/jet, see its README).
QString jetSample(const QString& name);

// The import's reader beside the test program (the build puts both in one
// folder).
QString importHelper();

// An import request of source into target with the reader above.
ImportRequest importRequest(const QString& source, const QString& target);

// What one of mdbtools' programs (mdb-export, mdb-tables, mdb-schema)
// prints for arguments; fails the test when it cannot be run.
QByteArray mdbTool(const QString& program, const QStringList& arguments);

// One field of a CSV record as mdb-export writes it: text fields are
// quoted (a quote inside doubled), numbers, dates of unquoted formats and
// NULL are not.
struct CsvField {
    QString text;
    bool quoted = false;
};
using CsvRecord = QList<CsvField>;

// The records of mdb-export's CSV output (fields may hold line breaks).
QList<CsvRecord> parseCsv(const QByteArray& csv);

// The columns mdb-schema declares for each table ("Text (5)", "Memo/Hyperlink
// (255)", "Long Integer", ...), by table and column, in order.
QMap<QString, QList<std::pair<QString, QString>>> mdbSchema(const QString& file);

} // namespace telvar::test
