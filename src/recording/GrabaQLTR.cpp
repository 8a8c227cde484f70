#include "recording/GrabaQLTR.h"

#include "common/ErrorNumbers.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/NumericValue.h"
#include "common/TrimBlanks.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/SqlDialect.h"
#include "recording/ColumnStorage.h"
#include "recording/WallTime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <vector>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar");
const QString kJetTable = QStringLiteral("Datos");

QString separator()
{
    return QString(QDir::separator());
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QDir::separator();
}

// A name that can only be one entry of a directory: a format, machine or
// product taken from a page must not climb out of the data directory or
// reach into another one.
bool isEntryName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](QChar c) { return isSeparator(c) || c.isNull(); });
}

// The entry called name in dir (which ends in a separator, or is empty for
// the current directory), a directory or a regular file as asked. Names
// from the installation are matched case-insensitively, as on the file
// system they come from; the spelling as written wins when it exists.
std::optional<QString> findEntry(const QString& dir, const QString& name, bool wantDirectory)
{
    const auto isWanted = [wantDirectory](const QFileInfo& info) {
        return wantDirectory ? info.isDir() : info.isFile();
    };
    if (isWanted(QFileInfo(dir + name)))
        return dir + name;
    const QDir directory(dir.isEmpty() ? QStringLiteral(".") : dir);
    const QDir::Filters kind = wantDirectory ? QDir::Dirs : QDir::Files;
    const QStringList entries =
        directory.entryList(kind | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0 && isWanted(QFileInfo(dir + entry)))
            return dir + entry;
    }
    return std::nullopt;
}

// The same for a path written whole (RutaDatos + format): its last
// separator splits it into the directory and the entry's name.
std::optional<QString> findPath(const QString& path, bool wantDirectory)
{
    qsizetype cut = path.size() - 1;
    while (cut >= 0 && !isSeparator(path.at(cut)))
        --cut;
    const QString name = path.mid(cut + 1);
    if (!isEntryName(name))
        return std::nullopt;
    return findEntry(path.left(cut + 1), name, wantDirectory);
}

bool isReadOnly(const QFileInfo& file)
{
    // The owner's write permission stands for the read-only attribute of the
    // system the data files come from: without it the file is not written,
    // whoever runs the program.
    return !file.isWritable() || !file.permission(QFileDevice::WriteOwner);
}

Error atPlace(Error error, const QString& place)
{
    error.description = place + QStringLiteral(": ") + error.description;
    return error;
}

// The value of Fecha for a new row: the reading's wall time. A text column
// (and every column on SQLite, where the text is the value) gets its text.
// PostgreSQL gets the text with the offset the local clock had at the
// reading's instant: a timestamp column keeps the wall time as written and
// ignores the offset, a timestamp with time zone keeps the instant; both
// are right in the hour that occurs twice, for the offset is the instant's
// own. Other servers get a date-time whose fields are the wall time.
QVariant stampForColumn(SqlDialect dialect, bool textColumn, const QDateTime& stamp)
{
    const WallTime wall = WallTime::at(stamp);
    if (textColumn || dialect == SqlDialect::Sqlite)
        return wall.toText();
    const QDateTime local = stamp.toLocalTime();
    if (dialect == SqlDialect::PostgreSql) {
        const int offset = local.offsetFromUtc();
        const int minutes = std::abs(offset) / 60;
        return wall.toIsoText() + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
               QStringLiteral("%1:%2")
                   .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                   .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    return local;
}

// The statements, after the transaction's start, that keep every other
// writer of the table waiting until it ends (readers are not held up where
// the engine allows it), each waiting at most waitMs for a writer already
// there. SQLite needs none: BEGIN IMMEDIATE took the file's write lock.
QStringList lockStatements(SqlDialect dialect, const QString& tableName, qint64 waitMs)
{
    const QString wait = QString::number(std::max<qint64>(waitMs, 1));
    const QString table = bracketName(tableName);
    switch (dialect) {
    case SqlDialect::PostgreSql:
        return {QStringLiteral("SET LOCAL lock_timeout = ") + wait,
                QStringLiteral("LOCK TABLE ") + table +
                    QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE")};
    case SqlDialect::SqlServer:
        return {QStringLiteral("SET LOCK_TIMEOUT ") + wait,
                QStringLiteral("Select Top 1 N from ") + table +
                    QStringLiteral(" WITH (UPDLOCK, HOLDLOCK, TABLOCK)")};
    case SqlDialect::SqlAnywhere:
        return {QStringLiteral("SET TEMPORARY OPTION blocking_timeout = ") + wait,
                QStringLiteral("LOCK TABLE ") + table + QStringLiteral(" IN EXCLUSIVE MODE")};
    case SqlDialect::Sqlite:
    case SqlDialect::Informix:
        break;
    }
    return {};
}

// Why a batch's transaction failed: the error, whether it failed on its
// very first statement (so that nothing at all was done on the connection),
// and the readings it belongs to when it is theirs alone (a missing column,
// a value that does not fit); none when it is the table's.
struct Failure {
    Error error;
    bool atBegin = false;
    QList<qsizetype> entries;
};

// A row of the table as the batch sees it: one of the rows read when the
// batch began (the last row and those before it that a reading may look
// back to), or one the batch added.
struct SeenRow {
    qint64 n = 0;
    // Its stamp; none when it cannot be read.
    std::optional<WallTime> stamp;
    // The batch's characteristics whose cell in the row is filled.
    QSet<QString> filled;
};

// The value of a reading for its column: the text for a text column, the
// leading number for any other.
struct CellValue {
    QVariant value;
    bool text = false;
};

// One batch's transaction on cn, which is not in a transaction.
class TableBatch final {
public:
    TableBatch(Connection& cn, const QString& tableName, std::chrono::milliseconds wait)
        : m_cn(cn), m_table(tableName), m_wait(wait)
    {
    }

    // The readings (by id) that an earlier attempt had committed, found in
    // their noted rows before this transaction wrote anything: recorded,
    // whether or not this transaction commits.
    const QSet<qint64>& foundCommitted() const { return m_foundCommitted; }

    // Writes the entries; on success prepared holds every entry (with the
    // row it went to, or found in) in order.
    std::optional<Failure> run(const QList<OutboxEntry>& entries,
                               const GrabaQLTR::BeforeCommit& beforeCommit, double DTMP,
                               QList<OutboxEntry>& prepared)
    {
        // A transaction that did not begin has nothing to roll back.
        if (auto failed = begin())
            return Failure{*failed, true, {}};
        auto failed = write(entries, DTMP, prepared);
        if (!failed && beforeCommit) {
            if (const Status heard = beforeCommit(prepared); !heard)
                failed = Failure{heard.error(), false, {}};
        }
        if (!failed) {
            if (auto notCommitted = commit())
                failed = Failure{*notCommitted, false, {}};
        }
        if (failed)
            rollback();
        return failed;
    }

private:
    bool isSqlite() const { return m_cn.dialect() == SqlDialect::Sqlite; }

    std::optional<Error> exec(const QString& statement, const QVariantList& values = {})
    {
        auto done = m_cn.exec(statement, values);
        if (!done)
            return done.error();
        return std::nullopt;
    }

    std::optional<Error> begin()
    {
        if (isSqlite()) {
            if (auto failed = exec(QStringLiteral("PRAGMA busy_timeout = ") +
                                   QString::number(std::max<qint64>(m_wait.count(), 0))))
                return failed;
            return exec(QStringLiteral("BEGIN IMMEDIATE"));
        }
        if (const Status begun = m_cn.transaction(); !begun)
            return begun.error();
        return std::nullopt;
    }

    std::optional<Error> commit()
    {
        if (isSqlite())
            return exec(QStringLiteral("COMMIT"));
        if (const Status committed = m_cn.commit(); !committed)
            return committed.error();
        return std::nullopt;
    }

    void rollback()
    {
        // The connection is closed after any failure, which ends whatever is
        // left of the transaction anyway; this makes it explicit.
        if (isSqlite()) {
            (void)m_cn.exec(QStringLiteral("ROLLBACK"));
            return;
        }
        if (m_cn.isOpen())
            (void)m_cn.rollback();
    }

    static QList<qsizetype> entriesOf(const QList<OutboxEntry>& entries, const QString& carac)
    {
        QList<qsizetype> found;
        for (qsizetype k = 0; k < entries.size(); ++k)
            if (entries[k].Carac == carac)
                found.append(k);
        return found;
    }

    // Fecha as the batch selects it. PostgreSQL gives a timestamp column's
    // wall time as its text; read as a value, the driver would place it in
    // the local time zone, which picks one instant for a time of the hour
    // that occurs twice and moves one of the hour skipped.
    QString stampColumn() const
    {
        if (m_cn.dialect() == SqlDialect::PostgreSql && !m_textStamps)
            return QStringLiteral("CAST(Fecha AS TEXT)");
        return QStringLiteral("Fecha");
    }

    std::optional<Failure> write(const QList<OutboxEntry>& entries, double DTMP,
                                 QList<OutboxEntry>& prepared)
    {
        for (const QString& statement : lockStatements(m_cn.dialect(), m_table, m_wait.count()))
            if (auto failed = exec(statement))
                return Failure{*failed, false, {}};

        // The batch's columns, each asked once; a missing column is the
        // failure of its readings alone.
        QStringList columns;
        for (const OutboxEntry& e : entries) {
            if (columns.contains(e.Carac))
                continue;
            auto column = m_cn.columnInfo(m_table, e.Carac);
            if (!column)
                return Failure{column.error(), false,
                               column.error().number == ErrorNumber::ItemNotFound
                                   ? entriesOf(entries, e.Carac)
                                   : QList<qsizetype>{}};
            columns.append(e.Carac);
            m_textColumn.insert(e.Carac, column.value().isText);
            if (isSqlite())
                m_storage.insert(e.Carac, ColumnStorage::fromDeclaredType(
                                              column.value().declaredType, column.value().isText));
        }
        if (!isSqlite()) {
            auto stamp = m_cn.columnInfo(m_table, QStringLiteral("Fecha"));
            if (!stamp)
                return Failure{stamp.error(), false, {}};
            m_textStamps = stamp.value().isText;
        }
        if (auto failed = readRows(columns))
            return Failure{*failed, false, {}};

        // Readings noted by an earlier attempt are looked for first, before
        // this transaction writes anything: what is found then was
        // committed before, whatever becomes of this transaction.
        for (const OutboxEntry& entry : entries) {
            if (!entry.preparedRow || !entry.stamp.isValid())
                continue;
            auto cellValue = valueFor(entry);
            if (!cellValue)
                continue; // refused below, with its reason
            auto there = alreadyThere(entry, WallTime::at(entry.stamp), cellValue.value());
            if (!there)
                return Failure{there.error(), false, {}};
            if (there.value())
                m_foundCommitted.insert(entry.id);
        }

        prepared.clear();
        for (qsizetype k = 0; k < entries.size(); ++k) {
            OutboxEntry entry = entries[k];
            if (m_foundCommitted.contains(entry.id)) {
                prepared.append(entry);
                continue;
            }
            if (!entry.stamp.isValid())
                return Failure{Error{ErrorNumber::InvalidArgument, kSource,
                                     QStringLiteral("The reading has no valid date and time.")},
                               false,
                               {k}};
            // The reading's wall time, once: every comparison with the rows'
            // stamps is between wall times.
            const WallTime wall = WallTime::at(entry.stamp);
            auto cellValue = valueFor(entry);
            if (!cellValue)
                return Failure{cellValue.error(), false, {k}};
            auto row = writeOne(entry, wall, cellValue.value(), DTMP);
            // A failure that waiting may mend (a lock, a full disk, an
            // I/O error, a read-only file or server) is the table's: it
            // stops the batch, to be tried again whole.
            if (!row)
                return Failure{row.error(), false,
                               row.error().retryable ? QList<qsizetype>{} : QList<qsizetype>{k}};
            prepared.append(row.value());
        }
        return std::nullopt;
    }

    // Reads the last row and up to kMaxRowsLookedBack rows before it, once:
    // the batch keeps them up to date as it writes, for it holds every
    // other writer off.
    std::optional<Error> readRows(const QStringList& columns)
    {
        QString cells;
        for (const QString& c : columns)
            cells += QLatin1Char(',') + bracketName(c);
        auto rows = m_cn.exec(
            QStringLiteral("Select Top ") + QString::number(GrabaQLTR::kMaxRowsLookedBack + 1) +
            QStringLiteral(" N,") + stampColumn() + cells + QStringLiteral(" from ") +
            bracketName(m_table) + QStringLiteral(" order by N Desc"));
        if (!rows)
            return rows.error();
        QSqlQuery& q = rows.value();
        if (!isSqlite()) {
            const QSqlRecord record = q.record();
            for (qsizetype c = 0; c < columns.size(); ++c)
                m_storage.insert(columns[c],
                                 ColumnStorage::fromField(m_cn.dialect(),
                                                          record.field(static_cast<int>(c) + 2)));
        }
        while (q.next()) {
            SeenRow row{q.value(0).toLongLong(), WallTime::fromValue(q.value(1)), {}};
            for (qsizetype c = 0; c < columns.size(); ++c)
                if (!q.value(static_cast<int>(c) + 2).isNull())
                    row.filled.insert(columns[c]);
            m_rows.push_back(std::move(row));
        }
        if (q.lastError().isValid())
            return engineError(m_cn.dialect(), q.lastError(), ErrorPhase::Statement);
        q.finish();
        return std::nullopt;
    }

    Result<CellValue> valueFor(const OutboxEntry& entry) const
    {
        if (m_textColumn.value(entry.Carac))
            return CellValue{entry.Valor, true};
        const double number = numericValue(entry.Valor);
        if (!std::isfinite(number))
            return Error{ErrorNumber::Overflow, kSource,
                         QStringLiteral("Overflow: the reading ") + entry.Valor +
                             QStringLiteral(" is beyond the range of the numeric column ") +
                             entry.Carac + QStringLiteral(".")};
        return CellValue{number, false};
    }

    // How the column keeps what is written into it: SQLite's from its
    // declared type, a server's from the field of the query that read it.
    Result<ColumnStorage> storageOf(const QString& column, const QSqlField& field)
    {
        if (!isSqlite())
            return ColumnStorage::fromField(m_cn.dialect(), field);
        if (const auto known = m_storage.constFind(column); known != m_storage.cend())
            return *known;
        auto info = m_cn.columnInfo(m_table, column);
        if (!info)
            return info.error();
        const ColumnStorage storage =
            ColumnStorage::fromDeclaredType(info.value().declaredType, info.value().isText);
        m_storage.insert(column, storage);
        return storage;
    }

    // Whether a reading written before a crash is in the row it went to:
    // that row's cell holds the reading's own value as its column keeps it
    // (the same text, right-trimmed in a fixed-width column; a number within
    // the column's own rounding) and, for a row the reading made, the row
    // has the reading's wall time and operator.
    //
    // One case stays that this cannot tell apart: the attempt never
    // committed, and another writer has since put the very same value into
    // that same cell (and, for a row the reading made, made that row with
    // the same stamp to the second and the same operator). The reading then
    // counts as recorded by that other value. It takes a crash between the
    // writes and the outbox hearing of the commit, and then an identical
    // reading of the same characteristic landing in the same cell; the cell
    // holds the reading's value either way.
    Result<bool> alreadyThere(const OutboxEntry& entry, const WallTime& wall,
                              const CellValue& cellValue)
    {
        auto row =
            m_cn.exec(QStringLiteral("Select ") + stampColumn() + QStringLiteral(",Operador,") +
                          bracketName(entry.Carac) + QStringLiteral(" from ") +
                          bracketName(m_table) + QStringLiteral(" where N = ?"),
                      {*entry.preparedRow});
        if (!row)
            return row.error();
        QSqlQuery& q = row.value();
        const QSqlRecord record = q.record();
        if (!q.next())
            return false;
        auto cell = storageOf(entry.Carac, record.field(2));
        if (!cell)
            return cell.error();
        if (!cell.value().holds(q.value(2), cellValue.value))
            return false;
        if (!entry.preparedNewRow)
            return true;
        const auto stamp = WallTime::fromValue(q.value(0));
        if (!stamp || *stamp != wall)
            return false;
        auto operador = storageOf(QStringLiteral("Operador"), record.field(1));
        if (!operador)
            return operador.error();
        return operador.value().holds(q.value(1), QVariant(entry.Opera));
    }

    // The row a reading at wall time t fills, if any: the row with the
    // latest stamp not later than t (of two with the same stamp, the one
    // with the higher N), among the rows the batch sees, when that stamp
    // is at most DTMP seconds before t and the reading's cell there is
    // empty. A reading on time (no row is later than it) so looks at the
    // last row; a reading recorded late finds the row its own time chooses,
    // and a row a reading recorded late has made is found by its stamp, not
    // as the last row. A last row whose stamp cannot be read gives every
    // reading a row of its own, as a row of unknown time may be the
    // reading's.
    SeenRow* chosenRow(const WallTime& t, const QString& carac, double DTMP)
    {
        const auto last =
            std::max_element(m_rows.begin(), m_rows.end(),
                             [](const SeenRow& a, const SeenRow& b) { return a.n < b.n; });
        if (last == m_rows.end() || !last->stamp)
            return nullptr;
        SeenRow* best = nullptr;
        for (SeenRow& row : m_rows) {
            if (!row.stamp || *row.stamp > t)
                continue;
            if (!best || *row.stamp > *best->stamp ||
                (*row.stamp == *best->stamp && row.n > best->n))
                best = &row;
        }
        if (!best || best->stamp->secsTo(t) > DTMP || best->filled.contains(carac))
            return nullptr;
        return best;
    }

    // Writes one reading; gives it with the row it went to.
    Result<OutboxEntry> writeOne(OutboxEntry entry, const WallTime& wall,
                                 const CellValue& cellValue, double DTMP)
    {
        if (SeenRow* chosen = chosenRow(wall, entry.Carac, DTMP)) {
            if (auto failed = fillRow(chosen->n, entry.Carac, cellValue))
                return *failed;
            chosen->filled.insert(entry.Carac);
            entry.preparedRow = chosen->n;
            entry.preparedNewRow = false;
            return entry;
        }
        auto n = addRow(entry, cellValue);
        if (!n)
            return n.error();
        m_rows.push_back(SeenRow{n.value(), wall, {entry.Carac}});
        entry.preparedRow = n.value();
        entry.preparedNewRow = true;
        return entry;
    }

    std::optional<Error> fillRow(qint64 n, const QString& carac, const CellValue& cellValue)
    {
        auto updated =
            m_cn.exec(QStringLiteral("UPDATE ") + bracketName(m_table) + QStringLiteral(" SET ") +
                          bracketName(carac) + QStringLiteral(" = ? WHERE N = ?"),
                      {cellValue.value, n});
        if (!updated)
            return updated.error();
        // The table is locked against other writers: the row read a moment
        // ago is still there.
        if (updated.value().numRowsAffected() != 1)
            return Error{ErrorNumber::NoCurrentRecord, kSource,
                         QStringLiteral("The row N = ") + QString::number(n) +
                             QStringLiteral(" could not be updated.")};
        return std::nullopt;
    }

    Result<qint64> addRow(const OutboxEntry& entry, const CellValue& cellValue)
    {
        auto inserted =
            m_cn.exec(QStringLiteral("INSERT INTO ") + bracketName(m_table) +
                          QStringLiteral(" (Fecha, Turno, Operador, ") + bracketName(entry.Carac) +
                          QStringLiteral(") VALUES (?, ?, ?, ?)"),
                      {stampForColumn(m_cn.dialect(), m_textStamps, entry.stamp), entry.Turno,
                       entry.Opera, cellValue.value});
        if (!inserted)
            return inserted.error();
        if (isSqlite()) {
            const QVariant id = inserted.value().lastInsertId();
            if (id.isValid())
                return id.toLongLong();
        }
        // Every other writer is held off: the highest N is the row just made.
        auto last = m_cn.exec(QStringLiteral("Select Top 1 N from ") + bracketName(m_table) +
                              QStringLiteral(" order by N Desc"));
        if (!last)
            return last.error();
        if (!last.value().next())
            return Error{ErrorNumber::NoCurrentRecord, kSource,
                         QStringLiteral("The row just added cannot be found.")};
        return last.value().value(0).toLongLong();
    }

    Connection& m_cn;
    const QString& m_table;
    std::chrono::milliseconds m_wait;
    QHash<QString, bool> m_textColumn;
    // How each column keeps a value, as far as the batch has asked.
    QHash<QString, ColumnStorage> m_storage;
    bool m_textStamps = true;
    std::vector<SeenRow> m_rows;
    QSet<qint64> m_foundCommitted;
};

} // namespace

QString TurnoDeHora(const Modulo1& m, const QString& hhnn)
{
    const double hours = numericValue(hhnn);
    for (qsizetype i = 1; i <= m.NumTurnos && i < m.TurnoHasta.size(); ++i) {
        if (hours < m.TurnoHasta.at(i))
            return m.TurnoClave.value(i, QStringLiteral(" "));
    }
    return QStringLiteral(" ");
}

std::optional<QString> dataDatabaseName(const QString& empresa, const QString& base)
{
    if (!empresa.toUpper().contains(QLatin1String("KORVEXIA")))
        return base + QStringLiteral("DATA");
    if (base.mid(5, 1) == QLatin1String("1"))
        return std::nullopt;
    return base.left(5) + QStringLiteral("1") + base.mid(6);
}

QString sixthCharacterMessage(const QString& base)
{
    return QStringLiteral("El sexto caracter de ") + base + QStringLiteral(" no puede ser 1");
}

SqlFileDatResult SQLFileDat(const Modulo1& m, Interaccion& ui, const QString& base)
{
    if (auto name = dataDatabaseName(m.Empresa, base))
        return {*name, false};
    ui.messageBox(sixthCharacterMessage(base), BoxKind::Critical);
    return {QString(), true};
}

GrabaQLTR::GrabaQLTR(Modulo1 installation, const Clock& clock)
    : m_m(std::move(installation)), m_clock(clock)
{
}

GrabaQLTR::~GrabaQLTR() = default;

QString GrabaQLTR::dataFilePath(const QString& dataPath, const QString& forma, const QString& maqui,
                                const QString& produ)
{
    return dataPath + trimBlanks(forma) + separator() + trimBlanks(maqui) + separator() +
           trimBlanks(produ) + QStringLiteral(".MDB");
}

QString GrabaQLTR::missingPath(const QString& dataPath, CodeErr code, const QString& forma,
                               const QString& maqui, const QString& produ)
{
    switch (code) {
    case CodeErr::NoFormatDirectory:
        return dataPath + trimBlanks(forma);
    case CodeErr::NoMachineDirectory:
        return dataPath + trimBlanks(forma) + separator() + trimBlanks(maqui);
    case CodeErr::NoDataFile:
        return dataFilePath(dataPath, forma, maqui, produ);
    case CodeErr::Recorded:
        break;
    }
    return QString();
}

QString GrabaQLTR::place(const OutboxEntry& entry)
{
    if (entry.engine == QLatin1String(kJetTag))
        return dataFilePath(entry.base, entry.Forma, entry.Maqui, entry.Produ);
    return QStringLiteral("Datos_") + entry.Forma + QStringLiteral("_") + entry.Maqui +
           QStringLiteral("_") + entry.Produ + QStringLiteral(" (") + entry.base +
           QStringLiteral(")");
}

Result<OutboxEntry> GrabaQLTR::entryFor(const Modulo1& m, const ReadingToRecord& toRecord,
                                        const QDateTime& stamp)
{
    OutboxEntry entry;
    entry.engine = m.TipoBD;
    if (m.TipoBD == QLatin1String(kJetTag)) {
        entry.base = m.RutaDatos;
    } else if (isServerTag(m.TipoBD) && m.TipoBD != QLatin1String("[INFORMIX10]")) {
        const auto name = dataDatabaseName(m.Empresa, m.BaseDatos);
        if (!name)
            return Error{ErrorNumber::InvalidProcedureCall, kSource,
                         sixthCharacterMessage(m.BaseDatos)};
        entry.base = *name;
    }
    entry.Forma = trimBlanks(toRecord.Forma);
    entry.Maqui = trimBlanks(toRecord.Maqui);
    entry.Produ = trimBlanks(toRecord.Produ);
    entry.Carac = trimBlanks(toRecord.Carac);
    entry.Valor = toRecord.Valor;
    entry.Opera = toRecord.Opera;
    // Whole seconds, as the rows' stamps have, so that the window is
    // measured between like values. The instant is kept: setting the time
    // of day again would take the first of the two instants a wall time of
    // the hour that occurs twice has.
    // Counted on the instant: QDateTime's arithmetic in local time works on
    // the wall time and would do the same.
    const qint64 msecs = stamp.toMSecsSinceEpoch();
    entry.stamp = stamp.isValid()
                      ? QDateTime::fromMSecsSinceEpoch(msecs - (msecs % 1000 + 1000) % 1000)
                      : QDateTime();
    entry.Turno = TurnoDeHora(m, WallTime::at(entry.stamp).time().toString(QStringLiteral("HHmm")));
    return entry;
}

void GrabaQLTR::setPassBD(const QString& passBD)
{
    if (m_m.PassBD == passBD)
        return;
    m_m.PassBD = passBD;
    closeConnections();
}

void GrabaQLTR::closeConnections()
{
    m_cache.clear();
}

std::optional<GrabaQLTR::FileIdentity> GrabaQLTR::identityOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino, info.st_mode};
}

GrabaQLTR::Resolved GrabaQLTR::jetDestination(const OutboxEntry& first) const
{
    const QString& forma = first.Forma;
    const QString& maqui = first.Maqui;
    const QString& produ = first.Produ;
    Resolved resolved;
    const auto formatDir = isEntryName(forma) ? findPath(first.base + forma, true) : std::nullopt;
    if (!formatDir) {
        resolved.code = CodeErr::NoFormatDirectory;
        return resolved;
    }
    const auto machineDir =
        isEntryName(maqui) ? findEntry(*formatDir + separator(), maqui, true) : std::nullopt;
    if (!machineDir) {
        resolved.code = CodeErr::NoMachineDirectory;
        return resolved;
    }
    const auto file = isEntryName(produ) ? findEntry(*machineDir + separator(),
                                                     produ + QStringLiteral(".MDB"), false)
                                         : std::nullopt;
    if (!file) {
        resolved.code = CodeErr::NoDataFile;
        return resolved;
    }
    Destination destination;
    destination.place = *file + QStringLiteral(" (table ") + kJetTable + QStringLiteral(")");
    if (isReadOnly(QFileInfo(*file))) {
        // Someone set it so, or its file system went read-only: either is
        // mended without the reading, which waits for it.
        Error readOnly{ErrorNumber::CannotUpdate, kSource,
                       destination.place +
                           QStringLiteral(": Cannot update. Database or object is read-only.")};
        readOnly.retryable = true;
        resolved.error = std::move(readOnly);
        return resolved;
    }
    // Taken before the connection is opened: should the file be replaced
    // in between, the identity is the old file's and the next batch opens
    // the new one, never the other way round.
    destination.file = identityOf(*file);
    destination.conexion = ArmaConexion(m_m, *file);
    destination.tableName = kJetTable;
    resolved.destination = std::move(destination);
    return resolved;
}

GrabaQLTR::Resolved GrabaQLTR::resolve(const OutboxEntry& first) const
{
    Resolved resolved;
    if (first.engine == QLatin1String(kJetTag))
        return jetDestination(first);
    if (first.engine == QLatin1String("[INFORMIX10]")) {
        resolved.error = Error{
            ErrorNumber::NotSupported, kSource,
            QStringLiteral("Recording into the data tables is not available on the Informix "
                           "engine ([INFORMIX10]): no data database or table is defined for it.")};
        return resolved;
    }
    if (!isServerTag(first.engine) || first.engine != m_m.TipoBD) {
        resolved.error =
            Error{ErrorNumber::NotSupported, kSource,
                  QStringLiteral("No data table is defined for the database engine \"") +
                      first.engine + QStringLiteral("\".")};
        return resolved;
    }
    Destination destination;
    destination.server = true;
    destination.conexion = ArmaConexion(m_m, first.base);
    destination.tableName = QStringLiteral("Datos_") + first.Forma + QStringLiteral("_") +
                            first.Maqui + QStringLiteral("_") + first.Produ;
    destination.place = QStringLiteral("table ") + destination.tableName +
                        QStringLiteral(" of the database ") + first.base;
    resolved.destination = std::move(destination);
    return resolved;
}

void GrabaQLTR::drop(Connection* cn)
{
    std::erase_if(m_cache, [cn](const CachedConnection& c) { return c.cn.get() == cn; });
}

Result<GrabaQLTR::Opened> GrabaQLTR::connectionFor(const Destination& destination, bool fresh)
{
    const auto cached =
        std::find_if(m_cache.begin(), m_cache.end(), [&destination](const CachedConnection& c) {
            return c.conexion == destination.conexion;
        });
    if (cached != m_cache.end()) {
        if (!fresh && cached->file == destination.file && cached->cn->isOpen()) {
            cached->lastUse = ++m_uses;
            return Opened{cached->cn.get(), true};
        }
        m_cache.erase(cached);
    }
    auto opened = EngineLayer::open(destination.conexion);
    if (!opened)
        return atPlace(opened.error(), destination.place);
    if (m_cache.size() >= kMaxConnections) {
        const auto oldest =
            std::min_element(m_cache.begin(), m_cache.end(),
                             [](const CachedConnection& a, const CachedConnection& b) {
                                 return a.lastUse < b.lastUse;
                             });
        m_cache.erase(oldest);
    }
    m_cache.push_back(CachedConnection{destination.conexion, std::move(opened.value()),
                                       destination.file, ++m_uses});
    return Opened{m_cache.back().cn.get(), false};
}

BatchResult GrabaQLTR::recordBatch(QList<OutboxEntry> entries, const BeforeCommit& beforeCommit,
                                   double DTMP)
{
    BatchResult result;
    if (entries.isEmpty())
        return result;
    const QDateTime now = m_clock.now();
    const auto refuseAll = [&](CodeErr code, const Error& why) {
        for (const OutboxEntry& e : std::as_const(entries))
            result.refused.append(QuarantinedEntry{e, code, why, now});
        entries.clear();
    };

    const Resolved resolved = resolve(entries.first());
    if (resolved.code != CodeErr::Recorded) {
        const OutboxEntry& e = entries.first();
        refuseAll(resolved.code,
                  Error{0, kSource, missingPath(e.base, resolved.code, e.Forma, e.Maqui, e.Produ)});
        return result;
    }
    if (resolved.error) {
        if (resolved.error->retryable)
            result.retry = *resolved.error;
        else
            refuseAll(CodeErr::Recorded, *resolved.error);
        return result;
    }
    const Destination& destination = *resolved.destination;

    // Each round either commits the readings left, or refuses at least one
    // of them, or stops: the loop ends.
    bool retriedDropped = false;
    while (!entries.isEmpty()) {
        auto opened = connectionFor(destination, false);
        if (!opened) {
            if (opened.error().retryable)
                result.retry = opened.error();
            else
                refuseAll(CodeErr::Recorded, opened.error());
            return result;
        }
        Connection* cn = opened.value().cn;
        QList<OutboxEntry> prepared;
        TableBatch batch(*cn, destination.tableName, m_lockWait);
        auto failed = batch.run(entries, beforeCommit, DTMP, prepared);
        if (!failed) {
            for (const OutboxEntry& e : std::as_const(prepared))
                result.recorded.append(e.id);
            return result;
        }
        drop(cn);
        // Readings found committed by an earlier attempt are recorded,
        // whatever failed now: they are never refused or written again.
        QList<qint64> failedIds;
        for (const qsizetype index : std::as_const(failed->entries))
            failedIds.append(entries[index].id);
        if (!batch.foundCommitted().isEmpty()) {
            for (auto k = entries.size() - 1; k >= 0; --k) {
                if (batch.foundCommitted().contains(entries[k].id)) {
                    result.recorded.append(entries[k].id);
                    entries.removeAt(k);
                }
            }
        }
        // A server connection kept from an earlier batch that fails on the
        // transaction's first statement has most likely been dropped by the
        // server (a restart, an idle timeout): nothing was done on it, so
        // the batch is tried once more on a new connection.
        if (failed->atBegin && opened.value().reused && destination.server && !retriedDropped) {
            retriedDropped = true;
            continue;
        }
        const Error error = atPlace(failed->error, destination.place);
        if (error.retryable) {
            result.retry = error;
            return result;
        }
        if (failedIds.isEmpty()) {
            refuseAll(CodeErr::Recorded, error);
            return result;
        }
        // The readings the failure belongs to are refused; the others go on.
        for (auto k = entries.size() - 1; k >= 0; --k) {
            if (!failedIds.contains(entries[k].id))
                continue;
            result.refused.prepend(QuarantinedEntry{entries[k], CodeErr::Recorded, error, now});
            entries.removeAt(k);
        }
    }
    return result;
}

Result<CodeErr> GrabaQLTR::recordOne(const ReadingToRecord& toRecord, double DTMP)
{
    auto entry = entryFor(m_m, toRecord, m_clock.now());
    if (!entry)
        return entry.error();
    const BatchResult done = recordBatch({entry.value()}, {}, DTMP);
    if (!done.recorded.isEmpty())
        return CodeErr::Recorded;
    if (done.retry)
        return *done.retry;
    const QuarantinedEntry& refused = done.refused.first();
    if (refused.code != CodeErr::Recorded)
        return refused.code;
    return refused.reason;
}

} // namespace telvar
