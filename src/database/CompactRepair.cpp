#include "database/CompactRepair.h"

#include "database/Connection.h"
#include "database/ConnectionFactory.h"
#include "database/EngineErrors.h"
#include "database/SqliteFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvar {

namespace {

// The side files SQLite keeps beside a database.
const char* const kSideSuffixes[] = {"-journal", "-wal", "-shm"};

QString source()
{
    return errorSource(Dialecto::Sqlite);
}

RuntimeError repairError(const QString& what)
{
    return layerError(ErrorNumber::DamagedFile, source(), what);
}

QString quotedName(const QString& name)
{
    QString inner = name;
    inner.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString quotedLiteral(const QString& text)
{
    QString inner = text;
    inner.replace(QLatin1String("'"), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

// One Qt SQL connection for the length of a scope.
class ScopedSqlite final {
public:
    explicit ScopedSqlite(const QString& path, SqliteFile::OpenMode mode)
        : m_name(ConnectionFactory::newName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        SqliteFile::configure(db, path, mode);
        m_open = db.open();
        if (!m_open)
            m_error = db.lastError().databaseText();
    }
    ~ScopedSqlite()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    ScopedSqlite(const ScopedSqlite&) = delete;
    ScopedSqlite& operator=(const ScopedSqlite&) = delete;

    bool isOpen() const { return m_open; }
    const QString& openError() const { return m_error; }

    // Runs statement; "" when it worked, else the engine's text.
    QString run(const QString& statement)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (query.exec(statement))
            return QString();
        const QString text = query.lastError().databaseText();
        return text.isEmpty() ? query.lastError().text() : text;
    }

    QSqlQuery query(const QString& statement, QString& error)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (!query.exec(statement))
            error = query.lastError().databaseText();
        return query;
    }

private:
    QString m_name;
    bool m_open = false;
    QString m_error;
};

// Temporary files of a repair of path, beside it:
// .<name>.repair-XXXXXX the repaired copy being built (with SQLite's side
// files while it is open), .<name>.backup-XXXXXX a backup being written.
QString temporaryPattern(const QString& path, const char* kind)
{
    const QFileInfo info(path);
    return info.absoluteDir().filePath(QStringLiteral(".") + info.fileName() + QLatin1Char('.') +
                                       QLatin1String(kind) + QStringLiteral("-XXXXXX"));
}

// Removes what an interrupted repair of path left beside it. Only names of
// the two patterns above, with exactly the six characters the temporary
// name got, so that another database's files never match.
void removeLeftovers(const QString& path)
{
    const QFileInfo info(path);
    const QRegularExpression leftover(QStringLiteral("^\\.") +
                                      QRegularExpression::escape(info.fileName()) +
                                      QStringLiteral("\\.(repair|backup)-[A-Za-z0-9]{6}"
                                                     "(-journal|-wal|-shm)?$"));
    QDir dir = info.absoluteDir();
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (leftover.match(name).hasMatch())
            dir.remove(name);
    }
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Flushes a directory's entries to the disk. File systems that cannot sync
// a directory (EINVAL) count as done.
QString syncDirectory(const QString& dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return systemError(errno);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL)
        return systemError(error);
    return QString();
}

// Gives the open file fd the owner, group and permissions of original
// (the owner and group where this user may set them: a user who may not
// keeps the file's owner and, when allowed, the original's group) and
// flushes it to the disk. "" or the reason it failed.
QString takeOverAndSync(int fd, const struct stat& original)
{
    if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    // After the owner: changing it clears the set-id bits.
    if (::fchmod(fd, original.st_mode & 07777) != 0)
        return QStringLiteral("its permissions cannot be set: ") + systemError(errno);
    if (::fsync(fd) != 0)
        return QStringLiteral("it cannot be written to the disk: ") + systemError(errno);
    return QString();
}

// Copies source into a new temporary file beside path, with the metadata
// of original, flushed to the disk. The temporary name, or "" with error set.
QString copyDurably(const QString& source, const QString& path, const struct stat& original,
                    QString& error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        error = source + QStringLiteral(": ") + in.errorString();
        return QString();
    }
    QTemporaryFile out(temporaryPattern(path, "backup"));
    if (!out.open()) {
        error = out.errorString();
        return QString();
    }
    for (;;) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                error = source + QStringLiteral(": ") + in.errorString();
                return QString();
            }
            break;
        }
        if (out.write(chunk) != chunk.size()) {
            error = out.errorString();
            return QString();
        }
    }
    if (!out.flush()) {
        error = out.errorString();
        return QString();
    }
    if (QString e = takeOverAndSync(out.handle(), original); !e.isEmpty()) {
        error = QStringLiteral("the backup copy: ") + e;
        return QString();
    }
    out.setAutoRemove(false);
    const QString name = out.fileName();
    out.close();
    return name;
}

const QStringList& sideSuffixes()
{
    static const QStringList suffixes = [] {
        QStringList list;
        for (const char* suffix : kSideSuffixes)
            list.append(QLatin1String(suffix));
        return list;
    }();
    return suffixes;
}

// The first of <path>.bak, <path>.1.bak, ... that is free with its side
// file names.
QString freeBackupName(const QString& path)
{
    for (int n = 0;; ++n) {
        const QString name =
            n == 0 ? path + QStringLiteral(".bak")
                   : path + QLatin1Char('.') + QString::number(n) + QStringLiteral(".bak");
        bool free = !QFileInfo::exists(name) && !QFileInfo(name).isSymLink();
        for (const QString& suffix : sideSuffixes())
            free = free && !QFileInfo::exists(name + suffix);
        if (free)
            return name;
    }
}

// A name beside path that nothing uses yet, reserved as an empty file.
QString reserveTemporary(const QString& path, QString& error)
{
    QTemporaryFile file(temporaryPattern(path, "repair"));
    if (!file.open()) {
        error = file.errorString();
        return QString();
    }
    file.setAutoRemove(false);
    return file.fileName();
}

void removeWithSideFiles(const QString& path)
{
    QFile::remove(path);
    for (const char* suffix : kSideSuffixes)
        QFile::remove(path + QLatin1String(suffix));
}

// Backs path (and any side file) up as the first free <path>.bak /
// <path>.<n>.bak, with the original's owner and permissions. Each copy is
// written under a temporary name, flushed to the disk and only then given
// its name, so a backup that bears the name is always whole; the main file
// is named last. The backup's name, or "" with error set.
QString backUp(const QString& path, const struct stat& original, QString& error)
{
    const QString backup = freeBackupName(path);
    QStringList sources{path};
    QStringList targets{backup};
    for (const QString& suffix : sideSuffixes()) {
        if (QFileInfo::exists(path + suffix)) {
            sources.prepend(path + suffix);
            targets.prepend(backup + suffix);
        }
    }
    QStringList named;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString copy = copyDurably(sources.at(i), path, original, error);
        // QFile::rename never replaces an existing file.
        if (copy.isEmpty() || !QFile::rename(copy, targets.at(i))) {
            if (!copy.isEmpty()) {
                error = QStringLiteral("the backup cannot be named ") + targets.at(i);
                QFile::remove(copy);
            }
            for (const QString& done : named)
                QFile::remove(done);
            return QString();
        }
        named.append(targets.at(i));
    }
    if (QString e = syncDirectory(QFileInfo(path).absolutePath()); !e.isEmpty()) {
        error = QStringLiteral("the backup cannot be written to the disk: ") + e;
        for (const QString& done : named)
            QFile::remove(done);
        return QString();
    }
    return backup;
}

// Step 1: the damaged file rebuilt by VACUUM INTO target.
QString vacuumInto(const QString& path, const QString& target)
{
    ScopedSqlite damaged(path, SqliteFile::OpenMode::ReadWrite);
    if (!damaged.isOpen())
        return damaged.openError();
    return damaged.run(QStringLiteral("VACUUM INTO ") + quotedLiteral(target));
}

// Step 2: the schema and every table's rows copied into target.
QString salvageInto(const QString& path, const QString& target)
{
    ScopedSqlite repaired(target, SqliteFile::OpenMode::ReadWrite);
    if (!repaired.isOpen())
        return repaired.openError();
    // Reads the damaged file up to its real end, even where its header
    // claims more pages than the file holds.
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = ON")); !e.isEmpty())
        return e;
    if (QString e =
            repaired.run(QStringLiteral("ATTACH DATABASE ") +
                         quotedLiteral(SqliteFile::uri(path, SqliteFile::OpenMode::ReadWrite)) +
                         QStringLiteral(" AS damaged"));
        !e.isEmpty())
        return e;

    struct Entry {
        QString type, name, sql;
    };
    QList<Entry> entries;
    QString error;
    {
        QSqlQuery schema =
            repaired.query(QStringLiteral("SELECT type, name, sql FROM damaged.sqlite_master "
                                          "WHERE sql IS NOT NULL ORDER BY rowid"),
                           error);
        if (!error.isEmpty())
            return QStringLiteral("the schema cannot be read: ") + error;
        while (schema.next())
            entries.append({schema.value(0).toString(), schema.value(1).toString(),
                            schema.value(2).toString()});
        if (schema.lastError().isValid())
            return QStringLiteral("the schema cannot be read: ") +
                   schema.lastError().databaseText();
    }
    if (QString e = repaired.run(QStringLiteral("PRAGMA writable_schema = OFF")); !e.isEmpty())
        return e;
    if (QString e = repaired.run(QStringLiteral("BEGIN")); !e.isEmpty())
        return e;

    QStringList unreadable;
    bool hasSequence = false;
    for (const Entry& entry : entries) {
        if (entry.type != QLatin1String("table"))
            continue;
        if (entry.name == QLatin1String("sqlite_sequence")) {
            hasSequence = true;
            continue; // created with the first AUTOINCREMENT table
        }
        if (entry.name.startsWith(QLatin1String("sqlite_")))
            continue;
        if (QString e = repaired.run(entry.sql); !e.isEmpty())
            return QStringLiteral("table ") + entry.name + QStringLiteral(": ") + e;
        const QString e =
            repaired.run(QStringLiteral("INSERT INTO main.") + quotedName(entry.name) +
                         QStringLiteral(" SELECT * FROM damaged.") + quotedName(entry.name));
        if (!e.isEmpty())
            unreadable.append(entry.name + QStringLiteral(" (") + e + QStringLiteral(")"));
    }
    if (hasSequence) {
        // AUTOINCREMENT counters: the damaged file's, so that row numbers
        // are never given out twice.
        repaired.run(QStringLiteral("DELETE FROM main.sqlite_sequence"));
        const QString e = repaired.run(QStringLiteral(
            "INSERT INTO main.sqlite_sequence SELECT * FROM damaged.sqlite_sequence"));
        if (!e.isEmpty())
            unreadable.append(QStringLiteral("sqlite_sequence (") + e + QStringLiteral(")"));
    }
    if (!unreadable.isEmpty()) {
        repaired.run(QStringLiteral("ROLLBACK"));
        return QStringLiteral("rows that cannot be read in ") +
               unreadable.join(QStringLiteral(", "));
    }
    for (const Entry& entry : entries) {
        if (entry.type == QLatin1String("table"))
            continue;
        // Indexes are rebuilt from the copied rows; views and triggers
        // follow as declared.
        if (QString e = repaired.run(entry.sql); !e.isEmpty()) {
            repaired.run(QStringLiteral("ROLLBACK"));
            return entry.type + QLatin1Char(' ') + entry.name + QStringLiteral(": ") + e;
        }
    }
    {
        QSqlQuery version = repaired.query(QStringLiteral("PRAGMA damaged.user_version"), error);
        if (error.isEmpty() && version.next())
            repaired.run(QStringLiteral("PRAGMA main.user_version = ") +
                         QString::number(version.value(0).toLongLong()));
    }
    if (QString e = repaired.run(QStringLiteral("COMMIT")); !e.isEmpty())
        return e;
    return repaired.run(QStringLiteral("DETACH DATABASE damaged"));
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

    // Through a link the repair works on the file it points to, so that the
    // link stays and the repaired file takes the real file's place.
    const QString real = QFileInfo(path).canonicalFilePath();
    struct stat original {};
    if (real.isEmpty() || ::stat(QFile::encodeName(real).constData(), &original) != 0)
        return failed(QStringLiteral("the file cannot be found behind its path"));
    if (::access(QFile::encodeName(real).constData(), W_OK) != 0) {
        const int error = errno;
        return repairError(QStringLiteral("Compact and repair of '") + path +
                           QStringLiteral("' was not attempted: this user may not write the "
                                          "file (") +
                           systemError(error) + QStringLiteral(")."));
    }
    removeLeftovers(real);

    QString error;
    const QString backup = backUp(real, original, error);
    if (backup.isEmpty())
        return failed(QStringLiteral("the damaged file could not be copied to a backup: ") + error);

    QString failure;
    QString target = reserveTemporary(real, error);
    if (target.isEmpty()) {
        failure = QStringLiteral("no temporary file beside it: ") + error;
    } else {
        // VACUUM INTO wants a file that does not exist or is empty.
        const QString vacuumError = vacuumInto(real, target);
        QString repairText;
        if (!vacuumError.isEmpty()) {
            removeWithSideFiles(target);
            QFile reserve(target);
            reserve.open(QIODevice::WriteOnly);
            reserve.close();
            repairText = salvageInto(real, target);
        }
        if (repairText.isEmpty())
            repairText = checkIntegrity(target);
        if (!repairText.isEmpty())
            failure = repairText;
    }

    if (failure.isEmpty()) {
        // The repaired copy gets the original's owner and permissions and
        // is on the disk before it replaces the original.
        const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            failure = QStringLiteral("the repaired copy cannot be opened: ") + systemError(errno);
        } else {
            const QString synced = takeOverAndSync(fd, original);
            ::close(fd);
            if (!synced.isEmpty())
                failure = QStringLiteral("the repaired copy: ") + synced;
        }
    }
    if (failure.isEmpty()) {
        // The repaired copy takes the file's place in one step; the side
        // files of the damaged file would corrupt it and are in the backup.
        if (std::rename(QFile::encodeName(target).constData(),
                        QFile::encodeName(real).constData()) != 0) {
            failure =
                QStringLiteral("the repaired copy could not replace it: ") + systemError(errno);
        } else {
            for (const char* suffix : kSideSuffixes)
                QFile::remove(real + QLatin1String(suffix));
            // The new directory entry reaches the disk here. Should that
            // fail, a crash could at worst bring back the damaged file under
            // its name, beside its complete backup: nothing is lost, so the
            // repair still counts as done.
            (void)syncDirectory(QFileInfo(real).absolutePath());
            return backup;
        }
    }

    if (!target.isEmpty())
        removeWithSideFiles(target);
    // The original is still in place: its copy is not needed.
    removeWithSideFiles(backup);
    return failed(failure);
}

} // namespace telvar
