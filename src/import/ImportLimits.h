#pragma once

#include <QtGlobal>

namespace telvar {

// The bounds of one import. A Jet file is read as hostile input: each bound
// that a file would pass ends the import with an error naming the bound, the
// file and, where known, the table, and nothing is written.
struct ImportLimits {
    // User tables in the file (Jet itself holds at most 32768 objects).
    int maxTables = 4096;
    // Columns of one table (Jet's own maximum is 255).
    int maxColumns = 255;
    // Rows of one table.
    qint64 maxRowsPerTable = 100'000'000;
    // One value: a memo or OLE object's bytes as the file keeps them
    // (libmdb reads values of up to 16 MiB).
    qint64 maxValueBytes = 16 * 1024 * 1024;
    // Every value of every row together, as written to the SQLite file. A
    // damaged file can point many rows at the same large value, so this is
    // not bounded by the file's own size.
    qint64 maxTotalBytes = qint64(8) * 1024 * 1024 * 1024;

    // The process that reads the Jet file (libmdb runs there, away from the
    // program): its address space and its resident memory in bytes (0:
    // unbounded; a build with AddressSanitizer, which reserves far more
    // address space than it uses, bounds the resident memory only) and its
    // CPU time in seconds.
    qint64 readerMemoryBytes = qint64(2) * 1024 * 1024 * 1024;
    int readerCpuSeconds = 3600;
    // The whole import, as the caller waits for it, in seconds.
    int wallSeconds = 3600;
};

} // namespace telvar
