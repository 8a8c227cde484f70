#pragma once

#include "common/Error.h"
#include "import/ImportLimits.h"
#include "import/JetSchema.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <vector>

namespace telvar {

class JetTableReader;

// A Jet file (.mdb of Jet 3 or Jet 4, .accdb as far as libmdb reads it) open
// for reading through mdbtools' library. It is the only place that speaks to
// libmdb. Every error names the file and, where known, the table.
//
// libmdb trusts the file: a damaged one can make it loop or allocate without
// end, so this runs in a process of its own, under the bounds of
// ImportLimits (see JetImport.h).
class JetReader final {
public:
    ~JetReader();
    JetReader(const JetReader&) = delete;
    JetReader& operator=(const JetReader&) = delete;

    // Opens path: an error 53 when there is no such file, 3343 when libmdb
    // does not take it for a Jet file, 3049 when it is cut short (not a
    // whole number of pages) or its catalog cannot be read whole (every row
    // of MSysObjects that its definition counts). beforeParsing runs once
    // libmdb holds the file open, before the catalog is read: an error from
    // it ends the opening.
    static Result<std::unique_ptr<JetReader>>
    open(const QString& path, const std::function<Status()>& beforeParsing = {});

    // From here on, what libmdb prints on the standard error or output
    // (its "reading page N failed" and the like) is kept instead, and every
    // read of a file that finds something kept fails naming it: libmdb says
    // little of a failure otherwise. For a process of its own (the reader):
    // the process's stderr and stdout streams are taken for good.
    static void keepLibraryMessages();

    const QString& path() const { return m_path; }
    // "Jet 3", "Jet 4", "ACE 12" ...
    QString formatName() const;

    // The user tables, in the catalog's order (system and temporary tables
    // are not user tables).
    const QStringList& tableNames() const { return m_tableNames; }
    // What the file holds besides its tables and the import leaves out
    // (linked tables, queries, forms, ...), one sentence each.
    const QStringList& catalogNotes() const { return m_catalogNotes; }

    // The reader of the table at position of tableNames(). Only one table
    // is read at a time, and the reader must go before this object.
    Result<std::unique_ptr<JetTableReader>> openTable(qsizetype position,
                                                      const ImportLimits& limits);

    // An error 3049 naming the file and table (and the part of the file
    // read, "its catalog of tables", where it is no table's) when libmdb
    // printed a complaint since the last call (see keepLibraryMessages).
    Status libraryComplaint(const QString& table, const QString& part = {}) const;

private:
    struct Handle;
    JetReader(QString path, std::unique_ptr<Handle> handle);
    Status readCatalog();
    Status checkCatalogRows(unsigned int entries);

    QString m_path;
    std::unique_ptr<Handle> m_handle;
    QStringList m_tableNames;
    QStringList m_catalogNotes;
    std::vector<void*> m_entries; // the tables' catalog entries
};

// The rows of one table, one at a time, as the values the SQLite file gets:
// a null QVariant for NULL, qint64 for whole numbers and yes/no (1/0),
// double for the other numbers, QString for text (dates as text in the
// program's form, see jetDateText) and QByteArray for bytes.
class JetTableReader final {
public:
    ~JetTableReader();
    JetTableReader(const JetTableReader&) = delete;
    JetTableReader& operator=(const JetTableReader&) = delete;

    const JetTable& definition() const { return m_table; }

    // Fills row with the next row's values, one per column of
    // definition(); false after the last row. An error 3049 names the row
    // (counted from 1) and column a damaged file breaks; 7 a bound passed.
    Result<bool> next(QVariantList& row);

    qint64 rowsRead() const { return m_rowsRead; }
    // After the last row: an error 3049 unless every row the table's
    // definition counts was read (libmdb skips rows it cannot read).
    Status checkComplete() const;

private:
    friend class JetReader;
    struct State;
    JetTableReader(const JetReader& file, std::unique_ptr<State> state, JetTable table);

    Error damaged(const QString& what) const;
    Result<QVariant> value(int column, int start, int size, bool isNull);
    Result<QByteArray> longValue(int column, int start, int size);
    QString text(const char* data, qsizetype size);

    const JetReader& m_file;
    std::unique_ptr<State> m_state;
    JetTable m_table;
    qint64 m_rowsRead = 0;
};

} // namespace telvar
