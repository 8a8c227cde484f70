#include "database/CompactRepair.h"

#include "database/EngineErrors.h"
#include "database/FileReplacement.h"
#include "database/ScopedSqlite.h"
#include "database/SqliteFile.h"
#include "database/SqliteSalvage.h"
#include "database/SqliteSql.h"

#include <QFile>
#include <QIODevice>
#include <QStringList>

namespace telvar {

namespace {

Error repairError(const QString& what)
{
    return layerError(ErrorNumber::DamagedFile, errorSource(SqlDialect::Sqlite), what);
}

// The damaged file rebuilt by VACUUM INTO target: every table and index of
// a file SQLite can still read whole.
QString vacuumInto(const QString& path, const QString& target)
{
    ScopedSqlite damaged(path, SqliteFile::OpenMode::ReadWrite);
    if (!damaged.isOpen())
        return damaged.openError();
    return damaged.run(QStringLiteral("VACUUM INTO ") + SqliteSql::quoteLiteral(target));
}

// "" when target passes SQLite's integrity check.
QString checkIntegrity(const QString& target)
{
    ScopedSqlite copy(target, SqliteFile::OpenMode::ReadWrite);
    if (!copy.isOpen())
        return copy.openError();
    QString error;
    QSqlQuery check = copy.query(QStringLiteral("PRAGMA integrity_check"), error);
    if (!error.isEmpty())
        return error;
    QStringList problems;
    while (check.next()) {
        const QString line = check.value(0).toString();
        if (line != QLatin1String("ok"))
            problems.append(line);
    }
    return problems.join(QStringLiteral("; "));
}

// The repaired copy of path built in target: VACUUM INTO when SQLite reads
// the file whole, else the salvage of its schema and rows. "" or why not.
QString buildRepairedCopy(const QString& path, const QString& target)
{
    if (vacuumInto(path, target).isEmpty())
        return checkIntegrity(target);
    // VACUUM INTO wants a file that does not exist or is empty.
    FileReplacement::removeWithSideFiles(target);
    QFile reserve(target);
    if (!reserve.open(QIODevice::WriteOnly))
        return reserve.errorString();
    reserve.close();
    if (QString e = salvageSqliteFile(path, target); !e.isEmpty())
        return e;
    return checkIntegrity(target);
}

} // namespace

Result<QString> compactAndRepair(const QString& path)
{
    if (Status exists = SqliteFile::checkExisting(path); !exists)
        return exists.error();
    const auto failed = [&path](const QString& why) {
        return repairError(QStringLiteral("Compact and repair of '") + path +
                           QStringLiteral("' failed: ") + why +
                           QStringLiteral(". The file was left as it was."));
    };

    Result<FileReplacement> prepared = FileReplacement::prepare(path);
    if (!prepared)
        return repairError(QStringLiteral("Compact and repair of '") + path +
                           QStringLiteral("' was not attempted: ") + prepared.error().description +
                           QStringLiteral("."));
    FileReplacement& replacement = prepared.value();

    Result<QString> backup = replacement.backUp();
    if (!backup)
        return failed(QStringLiteral("the damaged file could not be copied to a backup: ") +
                      backup.error().description);

    Result<QString> target = replacement.newVersionFile();
    QString failure;
    if (!target) {
        failure = target.error().description;
    } else {
        failure = buildRepairedCopy(replacement.realPath(), target.value());
        if (failure.isEmpty()) {
            Status replaced = replacement.replaceWith(target.value());
            if (replaced)
                return backup.value();
            failure = replaced.error().description;
        }
        FileReplacement::removeWithSideFiles(target.value());
    }
    // The original is still in place: its copy is not needed.
    replacement.discardBackup();
    return failed(failure);
}

} // namespace telvar
