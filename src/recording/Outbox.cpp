#include "recording/Outbox.h"

#include "common/ErrorNumbers.h"
#include "common/InstallationFolder.h"
#include "database/ConnectionFactory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <algorithm>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar outbox");
// The version of the file's tables (SQLite's user_version): 0 for a new
// file or one of the first version, which had no tally and kept no notes
// in its quarantine.
constexpr int kSchemaVersion = 2;

// The columns of a reading, in the order valuesOf binds them and entryOf
// reads them: stated once for every statement below.
const QStringList kEntryColumns = {
    QStringLiteral("reloj"), QStringLiteral("puert"),    QStringLiteral("engine"),
    QStringLiteral("base"),  QStringLiteral("forma"),    QStringLiteral("maqui"),
    QStringLiteral("produ"), QStringLiteral("carac"),    QStringLiteral("valor"),
    QStringLiteral("opera"), QStringLiteral("stamp_ms"), QStringLiteral("turno")};
// Text columns take null too: Qt binds an empty text that was never set as
// null, and it is read back as empty.
const QString kColumnDefinitions = QStringLiteral(
    "reloj INTEGER NOT NULL, puert INTEGER NOT NULL, engine TEXT, base TEXT, forma TEXT, "
    "maqui TEXT, produ TEXT, carac TEXT, valor TEXT, opera TEXT, stamp_ms INTEGER NOT NULL, "
    "turno TEXT, destination TEXT, prepared_row INTEGER, prepared_new INTEGER NOT NULL "
    "DEFAULT 0");
// What a reading carries besides its columns: its table's key and its note.
const QStringList kTrailingColumns = {QStringLiteral("destination"), QStringLiteral("prepared_row"),
                                      QStringLiteral("prepared_new")};

// SQLite's primary result codes that the outbox tells apart.
enum SqliteCode {
    Busy = 5,
    Locked = 6,
    ReadOnly = 8,
    IoError = 10,
    Corrupt = 11,
    Full = 13,
    CantOpen = 14,
    Protocol = 15,
    NotADb = 26,
};

QString columnList(const QStringList& columns)
{
    return columns.join(QStringLiteral(", "));
}

QString placeholders(qsizetype count)
{
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks.append(QStringLiteral("?"));
    return marks.join(QStringLiteral(", "));
}

// Every column of an entry with its key and note, in kEntryColumns then
// kTrailingColumns order.
QVariantList valuesOf(const OutboxEntry& e)
{
    return {e.reloj,
            e.Puert,
            e.engine,
            e.base,
            e.Forma,
            e.Maqui,
            e.Produ,
            e.Carac,
            e.Valor,
            e.Opera,
            e.stamp.toMSecsSinceEpoch(),
            e.Turno,
            e.destinationKey(),
            e.preparedRow ? QVariant(*e.preparedRow) : QVariant(),
            e.preparedNewRow ? 1 : 0};
}

// Text columns hold "" rather than null, so that a value read back equals
// the one appended.
QString text(const QSqlQuery& q, const QString& column)
{
    const QVariant value = q.value(column);
    return value.isNull() ? QString() : value.toString();
}

// The entry on q's current row, read by column name (the id, the
// reading's columns and its note).
OutboxEntry entryOf(const QSqlQuery& q)
{
    OutboxEntry e;
    e.id = q.value(QStringLiteral("id")).toLongLong();
    e.reloj = q.value(QStringLiteral("reloj")).toInt();
    e.Puert = q.value(QStringLiteral("puert")).toInt();
    e.engine = text(q, QStringLiteral("engine"));
    e.base = text(q, QStringLiteral("base"));
    e.Forma = text(q, QStringLiteral("forma"));
    e.Maqui = text(q, QStringLiteral("maqui"));
    e.Produ = text(q, QStringLiteral("produ"));
    e.Carac = text(q, QStringLiteral("carac"));
    e.Valor = text(q, QStringLiteral("valor"));
    e.Opera = text(q, QStringLiteral("opera"));
    e.stamp = QDateTime::fromMSecsSinceEpoch(q.value(QStringLiteral("stamp_ms")).toLongLong());
    e.Turno = text(q, QStringLiteral("turno"));
    const QVariant row = q.value(QStringLiteral("prepared_row"));
    if (!row.isNull())
        e.preparedRow = row.toLongLong();
    e.preparedNewRow = q.value(QStringLiteral("prepared_new")).toInt() != 0;
    return e;
}

QuarantinedEntry quarantinedEntryOf(const QSqlQuery& q)
{
    QuarantinedEntry e;
    e.entry = entryOf(q);
    e.code = static_cast<CodeErr>(q.value(QStringLiteral("code")).toInt());
    e.reason = Error{q.value(QStringLiteral("reason_number")).toLongLong(),
                     text(q, QStringLiteral("reason_source")), text(q, QStringLiteral("reason"))};
    e.since = QDateTime::fromMSecsSinceEpoch(q.value(QStringLiteral("since_ms")).toLongLong());
    return e;
}

const QString kEveryColumn = QStringLiteral("id, ") + columnList(kEntryColumns) +
                             QStringLiteral(", ") + columnList(kTrailingColumns);
const QString kInsertPending =
    QStringLiteral("INSERT INTO pending (") + columnList(kEntryColumns + kTrailingColumns) +
    QStringLiteral(") VALUES (") + placeholders(kEntryColumns.size() + kTrailingColumns.size()) +
    QStringLiteral(")");
const QStringList kReasonColumns = {QStringLiteral("code"), QStringLiteral("reason_number"),
                                    QStringLiteral("reason_source"), QStringLiteral("reason"),
                                    QStringLiteral("since_ms")};
const QString kInsertQuarantine =
    QStringLiteral("INSERT OR REPLACE INTO quarantine (id, ") +
    columnList(kEntryColumns + kTrailingColumns + kReasonColumns) + QStringLiteral(") VALUES (") +
    placeholders(1 + kEntryColumns.size() + kTrailingColumns.size() + kReasonColumns.size()) +
    QStringLiteral(")");
const QString kQuarantineColumns = kEveryColumn + QStringLiteral(", ") + columnList(kReasonColumns);

// The tally: per part (0 waiting, 1 quarantined) and data table, how many
// entries the file holds, kept by triggers in the commits that change it.
const QString kTallyTable = QStringLiteral(
    "CREATE TABLE tally (part INTEGER NOT NULL, destination TEXT NOT NULL, engine TEXT, "
    "base TEXT, forma TEXT, maqui TEXT, produ TEXT, n INTEGER NOT NULL, "
    "PRIMARY KEY (part, destination)) WITHOUT ROWID");

QStringList tallyTriggers()
{
    QStringList triggers;
    const QList<std::pair<QString, int>> parts = {{QStringLiteral("pending"), 0},
                                                  {QStringLiteral("quarantine"), 1}};
    for (const auto& [table, part] : parts) {
        const QString p = QString::number(part);
        triggers.append(QStringLiteral("CREATE TRIGGER IF NOT EXISTS ") + table +
                        QStringLiteral("_in AFTER INSERT ON ") + table +
                        QStringLiteral(" BEGIN INSERT INTO tally VALUES (") + p +
                        QStringLiteral(", NEW.destination, NEW.engine, NEW.base, NEW.forma, "
                                       "NEW.maqui, NEW.produ, 1) ON CONFLICT (part, destination) "
                                       "DO UPDATE SET n = n + 1; END"));
        triggers.append(QStringLiteral("CREATE TRIGGER IF NOT EXISTS ") + table +
                        QStringLiteral("_out AFTER DELETE ON ") + table +
                        QStringLiteral(" BEGIN UPDATE tally SET n = n - 1 WHERE part = ") + p +
                        QStringLiteral(" AND destination = OLD.destination; DELETE FROM tally "
                                       "WHERE part = ") +
                        p + QStringLiteral(" AND destination = OLD.destination AND n <= 0; END"));
    }
    return triggers;
}

QString codeList(const QList<CodeErr>& codes)
{
    QStringList numbers;
    for (const CodeErr code : codes)
        numbers.append(QString::number(static_cast<int>(code)));
    return numbers.join(QStringLiteral(", "));
}

} // namespace

Outbox::Outbox(QString path, QString connectionName)
    : m_path(std::move(path)), m_connectionName(std::move(connectionName))
{
}

Outbox::~Outbox()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString Outbox::pathForInstallation(const QString& appPath)
{
    return QDir(installationFolder(appPath)).filePath(QStringLiteral("TelvarOutbox.sqlite"));
}

bool Outbox::isDamage(const Error& error)
{
    return error.number == ErrorNumber::DamagedFile || error.number == ErrorNumber::NotADatabase;
}

namespace {

// Reads the rows of one table of a damaged file, by id from both ends,
// until a page cannot be read; each row once. Gives why it stopped short.
template <typename Row, typename Read, typename IdOf>
QString readBothWays(const QSqlDatabase& db, const QString& select, Read read, IdOf idOf,
                     QList<Row>& rows)
{
    QString stopped;
    QSet<qint64> seen;
    QList<Row> backward;
    for (const QString& order :
         {QStringLiteral(" ORDER BY id"), QStringLiteral(" ORDER BY id DESC")}) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        QList<Row>& into = order.endsWith(QLatin1String("DESC")) ? backward : rows;
        if (!q.exec(select + order)) {
            stopped = q.lastError().text();
            continue;
        }
        while (q.next()) {
            Row row = read(q);
            if (seen.contains(idOf(row)))
                break; // the two ends have met
            seen.insert(idOf(row));
            into.append(std::move(row));
        }
        if (q.lastError().isValid())
            stopped = q.lastError().text();
    }
    std::reverse(backward.begin(), backward.end());
    rows += backward;
    return stopped;
}

Outbox::Readable readOpened(const QSqlDatabase& db)
{
    Outbox::Readable found;
    QStringList stopped;
    const QString pendingStop = readBothWays<OutboxEntry>(
        db, QStringLiteral("SELECT ") + kEveryColumn + QStringLiteral(" FROM pending"), entryOf,
        [](const OutboxEntry& e) { return e.id; }, found.pending);
    if (!pendingStop.isEmpty())
        stopped.append(QStringLiteral("waiting readings: ") + pendingStop);
    const QString quarantineStop = readBothWays<QuarantinedEntry>(
        db, QStringLiteral("SELECT ") + kQuarantineColumns + QStringLiteral(" FROM quarantine"),
        quarantinedEntryOf, [](const QuarantinedEntry& e) { return e.entry.id; },
        found.quarantined);
    if (!quarantineStop.isEmpty())
        stopped.append(QStringLiteral("quarantined readings: ") + quarantineStop);
    found.incomplete = stopped.join(QStringLiteral("; "));
    return found;
}

// Reads the file at path (a copy of a damaged outbox), through a
// connection of its own.
Outbox::Readable readFile(const QString& path)
{
    const QString name = ConnectionFactory::newName();
    Outbox::Readable found;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        // SQLite reads a file whose header counts more pages than it holds
        // (a file cut short) up to its real end only while the schema is
        // writable; nothing is written through this connection.
        if (db.open()) {
            QSqlQuery(db).exec(QStringLiteral("PRAGMA writable_schema = ON"));
            found = readOpened(db);
        } else
            found.incomplete = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return found;
}

} // namespace

Outbox::Readable Outbox::readDamaged(const QString& path)
{
    // A copy is read, with its write-ahead log: SQLite may write while it
    // opens a file whose log holds commits (and would need the shared
    // memory index a read-only file cannot make), and the damaged file
    // stays as it was found.
    const QString copy = path + QStringLiteral(".reading");
    const QStringList suffixes = {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"),
                                  QStringLiteral("-journal")};
    for (const QString& suffix : suffixes)
        QFile::remove(copy + suffix);
    Readable found;
    if (!QFile::copy(path, copy)) {
        found.incomplete = path + QStringLiteral(": cannot be copied to be read");
        return found;
    }
    if (QFileInfo::exists(path + QStringLiteral("-wal")))
        QFile::copy(path + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));
    found = readFile(copy);
    if (found.pending.isEmpty() && found.quarantined.isEmpty()) {
        // A file whose first bytes were overwritten is not taken for a
        // database at all: SQLite's own header string is put back.
        QFile mended(copy);
        if (mended.open(QIODevice::ReadWrite) && mended.write("SQLite format 3", 16) == 16) {
            mended.close();
            Readable again = readFile(copy);
            if (!again.pending.isEmpty() || !again.quarantined.isEmpty())
                found = std::move(again);
        }
    }
    for (const QString& suffix : suffixes)
        QFile::remove(copy + suffix);
    return found;
}

Error Outbox::sqlError(const QString& what, const QSqlError& error) const
{
    Error e{ErrorNumber::UnspecifiedFailure, kSource,
            m_path + QStringLiteral(": ") + what + QStringLiteral(": ") + error.text()};
    bool known = false;
    const int code = error.nativeErrorCode().toInt(&known) & 0xff;
    switch (known ? code : 0) {
    case Corrupt:
        e.number = ErrorNumber::DamagedFile;
        break;
    case NotADb:
        e.number = ErrorNumber::NotADatabase;
        break;
    // Another connection's transaction, a full disk, an I/O error, a file
    // or file system made read-only, a file that cannot be opened now: all
    // of these clear by themselves or by a hand outside, and the readings
    // wait for it.
    case Busy:
    case Locked:
    case ReadOnly:
    case IoError:
    case Full:
    case CantOpen:
    case Protocol:
        e.retryable = true;
        break;
    default:
        // Qt gives no code when the file cannot be opened at all.
        e.retryable = !known;
        break;
    }
    return e;
}

Error Outbox::queryError(const QString& what, const QSqlQuery& query) const
{
    return sqlError(what, query.lastError());
}

Result<std::unique_ptr<Outbox>> Outbox::open(const QString& path, bool checkpoints,
                                             int busyTimeoutMs)
{
    std::unique_ptr<Outbox> box(new Outbox(path, ConnectionFactory::newName()));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), box->m_connectionName);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                             QString::number(busyTimeoutMs));
        if (!db.open())
            return box->sqlError(QStringLiteral("cannot open"), db.lastError());
    }
    if (Status ready = box->setUp(checkpoints); !ready)
        return ready.error();
    return box;
}

Status Outbox::setUp(bool checkpoints)
{
    const QStringList pragmas = {
        QStringLiteral("PRAGMA journal_mode = WAL"),
        QStringLiteral("PRAGMA synchronous = FULL"),
        checkpoints ? QStringLiteral("PRAGMA wal_autocheckpoint = 1000")
                    : QStringLiteral("PRAGMA wal_autocheckpoint = 0"),
    };
    for (const QString& statement : pragmas) {
        if (Status done = exec(statement); !done)
            return done;
    }
    // A file of this version needs nothing more.
    {
        QSqlQuery version(QSqlDatabase::database(m_connectionName, false));
        if (version.exec(QStringLiteral("PRAGMA user_version")) && version.next() &&
            version.value(0).toInt() == kSchemaVersion)
            return {};
    }
    // The tables are made, or brought up to date, in one transaction: the
    // appender and the writers open the file at the same moment.
    return transaction([this]() -> Status {
        if (Status done = bringUpToDate(); !done)
            return done;
        return exec(QStringLiteral("PRAGMA user_version = ") + QString::number(kSchemaVersion));
    });
}

Status Outbox::bringUpToDate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    const auto has = [&db](const QString& table) { return db.tables().contains(table); };
    const bool hadTally = has(QStringLiteral("tally"));
    QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS pending (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT, ") +
            kColumnDefinitions + QStringLiteral(")"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS pending_destination ON pending "
                       "(destination, id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS quarantine (id INTEGER PRIMARY KEY, ") +
            kColumnDefinitions +
            QStringLiteral(", code INTEGER NOT NULL, reason_number INTEGER NOT NULL, "
                           "reason_source TEXT, reason TEXT, since_ms INTEGER NOT NULL)"),
    };
    for (const QString& statement : statements) {
        if (Status done = exec(statement); !done)
            return done;
    }
    // A quarantine of an earlier version has neither its entries' keys nor
    // their notes: the columns are added, and the keys worked out.
    const QSqlRecord quarantine = db.record(QStringLiteral("quarantine"));
    for (const QString& column : kTrailingColumns) {
        if (quarantine.contains(column))
            continue;
        const QString type = column == QLatin1String("destination") ? QStringLiteral("TEXT")
                             : column == QLatin1String("prepared_row")
                                 ? QStringLiteral("INTEGER")
                                 : QStringLiteral("INTEGER NOT NULL "
                                                  "DEFAULT 0");
        if (Status done = exec(QStringLiteral("ALTER TABLE quarantine ADD COLUMN ") + column +
                               QLatin1Char(' ') + type);
            !done)
            return done;
    }
    {
        QSqlQuery read(db);
        read.setForwardOnly(true);
        if (!read.exec(QStringLiteral("SELECT ") + kQuarantineColumns +
                       QStringLiteral(" FROM quarantine WHERE destination IS NULL")))
            return queryError(QStringLiteral("bring up to date"), read);
        QList<std::pair<qint64, QString>> keys;
        while (read.next()) {
            const OutboxEntry e = entryOf(read);
            keys.append({e.id, e.destinationKey()});
        }
        read.finish();
        QSqlQuery update(db);
        if (!update.prepare(QStringLiteral("UPDATE quarantine SET destination = ? WHERE id = ?")))
            return queryError(QStringLiteral("bring up to date"), update);
        for (const auto& [id, key] : keys) {
            update.bindValue(0, key);
            update.bindValue(1, id);
            if (!update.exec())
                return queryError(QStringLiteral("bring up to date"), update);
        }
    }
    statements = {QStringLiteral("CREATE INDEX IF NOT EXISTS quarantine_destination ON "
                                 "quarantine (destination, code, id)")};
    if (!hadTally) {
        statements.append(kTallyTable);
        for (const auto& [table, part] :
             {std::pair{QStringLiteral("pending"), 0}, std::pair{QStringLiteral("quarantine"), 1}})
            statements.append(QStringLiteral("INSERT INTO tally SELECT ") + QString::number(part) +
                              QStringLiteral(", destination, engine, base, forma, maqui, produ, "
                                             "count(*) FROM ") +
                              table + QStringLiteral(" GROUP BY destination"));
    }
    statements += tallyTriggers();
    for (const QString& statement : statements) {
        if (Status done = exec(statement); !done)
            return done;
    }
    return {};
}

Status Outbox::exec(const QString& statement) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(statement))
        return queryError(statement, q);
    return {};
}

Status Outbox::check() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")))
        return queryError(QStringLiteral("check"), q);
    if (!q.next())
        return queryError(QStringLiteral("check"), q);
    const QString verdict = q.value(0).toString();
    if (verdict == QLatin1String("ok"))
        return {};
    return Error{ErrorNumber::DamagedFile, kSource,
                 m_path + QStringLiteral(": the file is damaged: ") + verdict.left(200)};
}

Status Outbox::transaction(const std::function<Status()>& work)
{
    // Immediate: the write lock is taken at once, so that the transaction
    // cannot fail half-way for want of it.
    if (Status begun = exec(QStringLiteral("BEGIN IMMEDIATE")); !begun)
        return begun;
    const Status done = work();
    if (!done) {
        (void)exec(QStringLiteral("ROLLBACK"));
        return done;
    }
    if (Status committed = exec(QStringLiteral("COMMIT")); !committed) {
        (void)exec(QStringLiteral("ROLLBACK"));
        return committed;
    }
    return {};
}

Status Outbox::append(QList<OutboxEntry>& entries)
{
    if (entries.isEmpty())
        return {};
    QList<qint64> ids;
    ids.reserve(entries.size());
    const Status done = transaction([&]() -> Status {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        if (!q.prepare(kInsertPending))
            return queryError(QStringLiteral("append"), q);
        for (const OutboxEntry& e : std::as_const(entries)) {
            const QVariantList values = valuesOf(e);
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, values[i]);
            if (!q.exec())
                return queryError(QStringLiteral("append"), q);
            ids.append(q.lastInsertId().toLongLong());
        }
        return {};
    });
    // The ids are the entries' only once the commit stands: a batch tried
    // again after a failed commit gets new ones.
    if (done) {
        for (qsizetype i = 0; i < entries.size(); ++i)
            entries[i].id = ids[i];
    }
    return done;
}

Result<QStringList> Outbox::destinations() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT destination FROM tally WHERE part = 0")))
        return queryError(QStringLiteral("read"), q);
    QStringList keys;
    while (q.next())
        keys.append(q.value(0).toString());
    return keys;
}

template <typename Row>
Result<QList<Row>> Outbox::select(const QString& statement, const QVariantList& values,
                                  qsizetype limit, Row (*read)(const QSqlQuery&)) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.prepare(statement + QStringLiteral(" LIMIT ") + QString::number(limit)))
        return queryError(QStringLiteral("read"), q);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        return queryError(QStringLiteral("read"), q);
    QList<Row> rows;
    while (q.next())
        rows.append(read(q));
    return rows;
}

Result<QList<OutboxEntry>> Outbox::pending(const QString& destination, qsizetype limit) const
{
    return select<OutboxEntry>(
        QStringLiteral("SELECT ") + kEveryColumn +
            QStringLiteral(" FROM pending WHERE destination = ? ORDER BY id"),
        {destination}, limit, entryOf);
}

Result<QList<OutboxEntry>> Outbox::pendingAfter(qint64 afterId, qsizetype limit) const
{
    return select<OutboxEntry>(QStringLiteral("SELECT ") + kEveryColumn +
                                   QStringLiteral(" FROM pending WHERE id > ? ORDER BY id"),
                               {afterId}, limit, entryOf);
}

Status Outbox::markPrepared(const QList<OutboxEntry>& entries)
{
    return transaction([&]() -> Status {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        if (!q.prepare(QStringLiteral(
                "UPDATE pending SET prepared_row = ?, prepared_new = ? WHERE id = ?")))
            return queryError(QStringLiteral("note"), q);
        for (const OutboxEntry& e : entries) {
            q.bindValue(0, e.preparedRow ? QVariant(*e.preparedRow) : QVariant());
            q.bindValue(1, e.preparedNewRow ? 1 : 0);
            q.bindValue(2, e.id);
            if (!q.exec())
                return queryError(QStringLiteral("note"), q);
        }
        return {};
    });
}

Status Outbox::remove(const QList<qint64>& ids)
{
    if (ids.isEmpty())
        return {};
    return transaction([&]() -> Status {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        if (!q.prepare(QStringLiteral("DELETE FROM pending WHERE id = ?")))
            return queryError(QStringLiteral("remove"), q);
        for (const qint64 id : ids) {
            q.bindValue(0, id);
            if (!q.exec())
                return queryError(QStringLiteral("remove"), q);
        }
        return {};
    });
}

Status Outbox::quarantine(const QList<QuarantinedEntry>& entries)
{
    if (entries.isEmpty())
        return {};
    return transaction([&]() -> Status {
        QSqlQuery insert(QSqlDatabase::database(m_connectionName, false));
        if (!insert.prepare(kInsertQuarantine))
            return queryError(QStringLiteral("quarantine"), insert);
        QSqlQuery remove(QSqlDatabase::database(m_connectionName, false));
        if (!remove.prepare(QStringLiteral("DELETE FROM pending WHERE id = ?")))
            return queryError(QStringLiteral("quarantine"), remove);
        for (const QuarantinedEntry& q : entries) {
            QVariantList values{q.entry.id};
            values += valuesOf(q.entry);
            values += QVariantList{static_cast<int>(q.code), q.reason.number, q.reason.source,
                                   q.reason.description, q.since.toMSecsSinceEpoch()};
            for (int i = 0; i < values.size(); ++i)
                insert.bindValue(i, values[i]);
            if (!insert.exec())
                return queryError(QStringLiteral("quarantine"), insert);
            remove.bindValue(0, q.entry.id);
            if (!remove.exec())
                return queryError(QStringLiteral("quarantine"), remove);
        }
        return {};
    });
}

Result<QList<QuarantinedEntry>> Outbox::quarantined(qsizetype limit) const
{
    return select<QuarantinedEntry>(QStringLiteral("SELECT ") + kQuarantineColumns +
                                        QStringLiteral(" FROM quarantine ORDER BY id DESC"),
                                    {}, limit, quarantinedEntryOf);
}

Result<QList<QuarantinedEntry>> Outbox::quarantinedAfter(qint64 afterId, qsizetype limit) const
{
    return select<QuarantinedEntry>(QStringLiteral("SELECT ") + kQuarantineColumns +
                                        QStringLiteral(" FROM quarantine WHERE id > ? ORDER BY id"),
                                    {afterId}, limit, quarantinedEntryOf);
}

Result<QList<QuarantinedEntry>> Outbox::quarantinedOf(const QString& destination,
                                                      qsizetype limit) const
{
    return select<QuarantinedEntry>(
        QStringLiteral("SELECT ") + kQuarantineColumns +
            QStringLiteral(" FROM quarantine WHERE destination = ? ORDER BY id"),
        {destination}, limit, quarantinedEntryOf);
}

Result<qsizetype> Outbox::requeueSelected(const QString& where, const QVariantList& values,
                                          qsizetype limit, QList<OutboxEntry>* movedEntries)
{
    qsizetype moved = 0;
    QList<OutboxEntry> requeued;
    const Status done = transaction([&]() -> Status {
        requeued.clear();
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        QSqlQuery read(db);
        read.setForwardOnly(true);
        if (!read.prepare(QStringLiteral("SELECT ") + kEveryColumn +
                          QStringLiteral(" FROM quarantine ") + where +
                          QStringLiteral(" ORDER BY id LIMIT ") + QString::number(limit)))
            return queryError(QStringLiteral("send again"), read);
        for (int i = 0; i < values.size(); ++i)
            read.bindValue(i, values[i]);
        if (!read.exec())
            return queryError(QStringLiteral("send again"), read);
        QList<OutboxEntry> entries;
        while (read.next())
            entries.append(entryOf(read));
        read.finish();
        QSqlQuery insert(db);
        if (!insert.prepare(kInsertPending))
            return queryError(QStringLiteral("send again"), insert);
        QSqlQuery remove(db);
        if (!remove.prepare(QStringLiteral("DELETE FROM quarantine WHERE id = ?")))
            return queryError(QStringLiteral("send again"), remove);
        for (const OutboxEntry& e : std::as_const(entries)) {
            const QVariantList row = valuesOf(e);
            for (int i = 0; i < row.size(); ++i)
                insert.bindValue(i, row[i]);
            if (!insert.exec())
                return queryError(QStringLiteral("send again"), insert);
            if (movedEntries) {
                OutboxEntry now = e;
                now.id = insert.lastInsertId().toLongLong();
                requeued.append(std::move(now));
            }
            remove.bindValue(0, e.id);
            if (!remove.exec())
                return queryError(QStringLiteral("send again"), remove);
        }
        moved = entries.size();
        return {};
    });
    if (!done)
        return done.error();
    if (movedEntries)
        *movedEntries = std::move(requeued);
    return moved;
}

Result<qsizetype> Outbox::requeue(qsizetype limit, QList<OutboxEntry>* moved)
{
    return requeueSelected(QString(), {}, limit, moved);
}

Result<qsizetype> Outbox::requeueTable(const QString& destination, const QList<CodeErr>& codes,
                                       qsizetype limit)
{
    return requeueSelected(QStringLiteral("WHERE destination = ? AND code IN (") + codeList(codes) +
                               QStringLiteral(")"),
                           {destination}, limit);
}

Result<qsizetype> Outbox::requeueAll()
{
    constexpr qsizetype kSlice = 1000;
    qsizetype moved = 0;
    for (;;) {
        auto slice = requeue(kSlice);
        if (!slice)
            return slice.error();
        moved += slice.value();
        if (slice.value() < kSlice)
            return moved;
    }
}

Result<Outbox::Counts> Outbox::counts() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT part, destination, engine, base, forma, maqui, produ, n FROM tally")))
        return queryError(QStringLiteral("count"), q);
    Counts counts;
    while (q.next()) {
        TableCount c;
        c.destination = text(q, QStringLiteral("destination"));
        c.table.engine = text(q, QStringLiteral("engine"));
        c.table.base = text(q, QStringLiteral("base"));
        c.table.Forma = text(q, QStringLiteral("forma"));
        c.table.Maqui = text(q, QStringLiteral("maqui"));
        c.table.Produ = text(q, QStringLiteral("produ"));
        c.count = q.value(QStringLiteral("n")).toLongLong();
        if (q.value(QStringLiteral("part")).toInt() == static_cast<int>(Part::Pending)) {
            counts.pending += c.count;
            counts.pendingByTable.append(std::move(c));
        } else {
            counts.quarantined += c.count;
            counts.quarantinedByTable.append(std::move(c));
        }
    }
    return counts;
}

Result<QList<Outbox::TableCount>> Outbox::countsByTable(Part part) const
{
    auto all = counts();
    if (!all)
        return all.error();
    return part == Part::Pending ? all.value().pendingByTable : all.value().quarantinedByTable;
}

Result<qint64> Outbox::pendingCount() const
{
    auto all = counts();
    if (!all)
        return all.error();
    return all.value().pending;
}

Result<qint64> Outbox::quarantinedCount() const
{
    auto all = counts();
    if (!all)
        return all.error();
    return all.value().quarantined;
}

Result<QStringList> Outbox::quarantinedDestinations(const QList<CodeErr>& codes) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT DISTINCT destination FROM quarantine WHERE code IN (") +
                codeList(codes) + QStringLiteral(")")))
        return queryError(QStringLiteral("read the quarantine"), q);
    QStringList keys;
    while (q.next())
        keys.append(q.value(0).toString());
    return keys;
}

} // namespace telvar
