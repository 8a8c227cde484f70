#include "recording/Outbox.h"

#include "common/ErrorNumbers.h"
#include "database/ConnectionFactory.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>
#include <algorithm>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar outbox");

// The columns of a reading, in the order bound and read below.
const QString kColumns = QStringLiteral(
    "reloj, puert, engine, base, forma, maqui, produ, carac, valor, opera, stamp_ms, turno");
const int kColumnCount = 12;
// Text columns take null too: Qt binds an empty text that was never set as
// null, and it is read back as empty.
const QString kColumnDefinitions = QStringLiteral(
    "reloj INTEGER NOT NULL, puert INTEGER NOT NULL, engine TEXT, base TEXT, forma TEXT, "
    "maqui TEXT, produ TEXT, carac TEXT, valor TEXT, opera TEXT, stamp_ms INTEGER NOT NULL, "
    "turno TEXT");

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
            e.Turno};
}

// Text columns hold "" rather than null, so that a value read back equals
// the one appended.
QString text(const QSqlQuery& q, int column)
{
    const QVariant value = q.value(column);
    return value.isNull() ? QString() : value.toString();
}

// The reading whose columns start at column first of q (its id before them).
OutboxEntry entryAt(const QSqlQuery& q, int first)
{
    OutboxEntry e;
    e.id = q.value(first - 1).toLongLong();
    e.reloj = q.value(first).toInt();
    e.Puert = q.value(first + 1).toInt();
    e.engine = text(q, first + 2);
    e.base = text(q, first + 3);
    e.Forma = text(q, first + 4);
    e.Maqui = text(q, first + 5);
    e.Produ = text(q, first + 6);
    e.Carac = text(q, first + 7);
    e.Valor = text(q, first + 8);
    e.Opera = text(q, first + 9);
    e.stamp = QDateTime::fromMSecsSinceEpoch(q.value(first + 10).toLongLong());
    e.Turno = text(q, first + 11);
    return e;
}

QString placeholders(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += i == 0 ? QStringLiteral("?") : QStringLiteral(", ?");
    return text;
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
    const QString name = QStringLiteral("TelvarOutbox.sqlite");
    const QFileInfo folder(appPath);
    if (!appPath.isEmpty() && folder.isDir() && folder.isWritable())
        return QDir(appPath).filePath(name);
    QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dataDir.isEmpty())
        dataDir = QDir::homePath() + QStringLiteral("/.local/share/Telvar");
    QDir().mkpath(dataDir);
    return QDir(dataDir).filePath(name);
}

Error Outbox::sqlError(const QString& what, const QSqlError& error) const
{
    Error e{ErrorNumber::UnspecifiedFailure, kSource,
            m_path + QStringLiteral(": ") + what + QStringLiteral(": ") + error.text()};
    // A busy file (the other connection's commit) clears by itself.
    const QString native = error.nativeErrorCode();
    e.retryable = native == QLatin1String("5") || native == QLatin1String("6");
    return e;
}

Result<std::unique_ptr<Outbox>> Outbox::open(const QString& path, bool checkpoints)
{
    std::unique_ptr<Outbox> box(new Outbox(path, ConnectionFactory::newName()));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), box->m_connectionName);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                             QString::number(kBusyTimeoutMs));
        if (!db.open())
            return box->sqlError(QStringLiteral("cannot open"), db.lastError());
    }
    const QStringList setup = {
        QStringLiteral("PRAGMA journal_mode = WAL"),
        QStringLiteral("PRAGMA synchronous = FULL"),
        checkpoints ? QStringLiteral("PRAGMA wal_autocheckpoint = 1000")
                    : QStringLiteral("PRAGMA wal_autocheckpoint = 0"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS pending (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT, ") +
            kColumnDefinitions +
            QStringLiteral(", destination TEXT, prepared_row INTEGER, prepared_new "
                           "INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS pending_destination ON pending "
                       "(destination, id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS quarantine (id INTEGER PRIMARY KEY, ") +
            kColumnDefinitions +
            QStringLiteral(", code INTEGER NOT NULL, reason_number INTEGER NOT NULL, "
                           "reason_source TEXT, reason TEXT, "
                           "since_ms INTEGER NOT NULL)"),
    };
    for (const QString& statement : setup) {
        if (Status done = box->exec(statement); !done)
            return done.error();
    }
    return box;
}

Status Outbox::exec(const QString& statement) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(statement))
        return sqlError(statement, q.lastError());
    return {};
}

Status Outbox::transaction(const std::function<Status()>& work)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
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
    return transaction([&]() -> Status {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        if (!q.prepare(QStringLiteral("INSERT INTO pending (") + kColumns +
                       QStringLiteral(", destination) VALUES (") + placeholders(kColumnCount + 1) +
                       QStringLiteral(")")))
            return sqlError(QStringLiteral("append"), q.lastError());
        for (OutboxEntry& e : entries) {
            const QVariantList values = valuesOf(e) + QVariantList{e.destinationKey()};
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, values[i]);
            if (!q.exec())
                return sqlError(QStringLiteral("append"), q.lastError());
            e.id = q.lastInsertId().toLongLong();
        }
        return {};
    });
}

Result<QStringList> Outbox::destinations() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT DISTINCT destination FROM pending")))
        return sqlError(QStringLiteral("read"), q.lastError());
    QStringList keys;
    while (q.next())
        keys.append(q.value(0).toString());
    return keys;
}

Result<QList<OutboxEntry>> Outbox::pending(const QString& destination, qsizetype limit) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT id, ") + kColumns +
                   QStringLiteral(", prepared_row, prepared_new FROM pending WHERE destination "
                                  "= ? ORDER BY id LIMIT ") +
                   QString::number(limit)))
        return sqlError(QStringLiteral("read"), q.lastError());
    q.bindValue(0, destination);
    if (!q.exec())
        return sqlError(QStringLiteral("read"), q.lastError());
    QList<OutboxEntry> entries;
    while (q.next()) {
        OutboxEntry e = entryAt(q, 1);
        if (!q.value(13).isNull())
            e.preparedRow = q.value(13).toLongLong();
        e.preparedNewRow = q.value(14).toInt() != 0;
        entries.append(std::move(e));
    }
    return entries;
}

Status Outbox::markPrepared(const QList<OutboxEntry>& entries)
{
    return transaction([&]() -> Status {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        if (!q.prepare(QStringLiteral(
                "UPDATE pending SET prepared_row = ?, prepared_new = ? WHERE id = ?")))
            return sqlError(QStringLiteral("mark"), q.lastError());
        for (const OutboxEntry& e : entries) {
            q.bindValue(0, e.preparedRow ? QVariant(*e.preparedRow) : QVariant());
            q.bindValue(1, e.preparedNewRow ? 1 : 0);
            q.bindValue(2, e.id);
            if (!q.exec())
                return sqlError(QStringLiteral("mark"), q.lastError());
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
            return sqlError(QStringLiteral("remove"), q.lastError());
        for (const qint64 id : ids) {
            q.bindValue(0, id);
            if (!q.exec())
                return sqlError(QStringLiteral("remove"), q.lastError());
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
        QSqlQuery remove(QSqlDatabase::database(m_connectionName, false));
        if (!insert.prepare(QStringLiteral("INSERT OR REPLACE INTO quarantine (id, ") + kColumns +
                            QStringLiteral(", code, reason_number, reason_source, reason, "
                                           "since_ms) VALUES (") +
                            placeholders(kColumnCount + 6) + QStringLiteral(")")) ||
            !remove.prepare(QStringLiteral("DELETE FROM pending WHERE id = ?")))
            return sqlError(QStringLiteral("quarantine"), insert.lastError());
        for (const QuarantinedEntry& q : entries) {
            QVariantList values{q.entry.id};
            values += valuesOf(q.entry);
            values += QVariantList{static_cast<int>(q.code), q.reason.number, q.reason.source,
                                   q.reason.description, q.since.toMSecsSinceEpoch()};
            for (int i = 0; i < values.size(); ++i)
                insert.bindValue(i, values[i]);
            if (!insert.exec())
                return sqlError(QStringLiteral("quarantine"), insert.lastError());
            remove.bindValue(0, q.entry.id);
            if (!remove.exec())
                return sqlError(QStringLiteral("quarantine"), remove.lastError());
        }
        return {};
    });
}

Result<QList<QuarantinedEntry>> Outbox::quarantined(qsizetype limit) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, ") + kColumns +
                QStringLiteral(", code, reason_number, reason_source, reason, since_ms FROM "
                               "quarantine ORDER BY id DESC LIMIT ") +
                QString::number(limit)))
        return sqlError(QStringLiteral("read the quarantine"), q.lastError());
    QList<QuarantinedEntry> entries;
    while (q.next()) {
        QuarantinedEntry e;
        e.entry = entryAt(q, 1);
        e.code = static_cast<CodeErr>(q.value(13).toInt());
        e.reason = Error{q.value(14).toLongLong(), text(q, 15), text(q, 16)};
        e.since = QDateTime::fromMSecsSinceEpoch(q.value(17).toLongLong());
        entries.append(std::move(e));
    }
    return entries;
}

Result<qsizetype> Outbox::requeueAll()
{
    qsizetype moved = 0;
    const Status done = transaction([&]() -> Status {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        QSqlQuery read(db);
        read.setForwardOnly(true);
        QSqlQuery insert(db);
        if (!read.exec(QStringLiteral("SELECT id, ") + kColumns +
                       QStringLiteral(" FROM quarantine ORDER BY id")) ||
            !insert.prepare(QStringLiteral("INSERT INTO pending (") + kColumns +
                            QStringLiteral(", destination) VALUES (") +
                            placeholders(kColumnCount + 1) + QStringLiteral(")")))
            return sqlError(QStringLiteral("send again"), read.lastError());
        while (read.next()) {
            const OutboxEntry e = entryAt(read, 1);
            const QVariantList values = valuesOf(e) + QVariantList{e.destinationKey()};
            for (int i = 0; i < values.size(); ++i)
                insert.bindValue(i, values[i]);
            if (!insert.exec())
                return sqlError(QStringLiteral("send again"), insert.lastError());
            ++moved;
        }
        read.finish();
        return exec(QStringLiteral("DELETE FROM quarantine"));
    });
    if (!done)
        return done.error();
    return moved;
}

Result<qint64> Outbox::pendingCount() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM pending")) || !q.next())
        return sqlError(QStringLiteral("count"), q.lastError());
    return q.value(0).toLongLong();
}

Result<QList<Outbox::TableCount>> Outbox::countsByTable(Part part) const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    q.setForwardOnly(true);
    // The waiting entries are grouped by their key, through its index;
    // every entry of a group names the same table.
    const QString statement =
        part == Part::Pending
            ? QStringLiteral("SELECT engine, base, forma, maqui, produ, count(*) FROM pending "
                             "GROUP BY destination")
            : QStringLiteral("SELECT engine, base, forma, maqui, produ, count(*) FROM quarantine "
                             "GROUP BY engine, base, forma, maqui, produ");
    if (!q.exec(statement))
        return sqlError(QStringLiteral("count"), q.lastError());
    QList<TableCount> counts;
    while (q.next()) {
        TableCount c;
        c.table.engine = text(q, 0);
        c.table.base = text(q, 1);
        c.table.Forma = text(q, 2);
        c.table.Maqui = text(q, 3);
        c.table.Produ = text(q, 4);
        c.count = q.value(5).toLongLong();
        counts.append(std::move(c));
    }
    return counts;
}

Result<qint64> Outbox::quarantinedCount() const
{
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM quarantine")) || !q.next())
        return sqlError(QStringLiteral("count"), q.lastError());
    return q.value(0).toLongLong();
}

} // namespace telvar
