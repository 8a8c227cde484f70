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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar");
const QString kJetTable = QStringLiteral("Datos");
// The stamp of a new row: the hour without a leading zero.
const QString kDateFormat = QStringLiteral("yyyy-MM-dd H:mm:ss");

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

// The time stamp of a row, from the text "yyyy-mm-dd h:nn:ss" (or with a
// two-digit hour, or in ISO form) or from a date-time value; nullopt when
// it cannot be read.
std::optional<QDateTime> rowStamp(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    const int type = value.metaType().id();
    if (type == QMetaType::QDateTime) {
        const QDateTime stamp = value.toDateTime();
        if (!stamp.isValid())
            return std::nullopt;
        return stamp.timeSpec() == Qt::LocalTime ? stamp : stamp.toLocalTime();
    }
    if (type == QMetaType::QDate) {
        const QDate day = value.toDate();
        return day.isValid() ? std::optional<QDateTime>(day.startOfDay()) : std::nullopt;
    }
    if (type != QMetaType::QString && type != QMetaType::QByteArray)
        return std::nullopt;
    const QString text = value.toString().trimmed();
    for (const QString& format :
         {kDateFormat, QStringLiteral("yyyy-MM-dd H:mm:ss.z"), QStringLiteral("yyyy-MM-dd H:mm")}) {
        const QDateTime stamp = QDateTime::fromString(text, format);
        if (stamp.isValid())
            return stamp;
    }
    const QDateTime iso = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!iso.isValid())
        return std::nullopt;
    return iso.timeSpec() == Qt::LocalTime ? iso : iso.toLocalTime();
}

// The value of Fecha for a new row: the text of the stamp for a text column
// (and always on SQLite, where the text is the value); a date and time for
// a date-time column of a server. PostgreSQL gets it as text with the local
// offset: a timestamp column takes the local time from it and a timestamp
// with time zone the instant, whatever the server's own time zone.
QVariant stampForColumn(SqlDialect dialect, bool textColumn, const QDateTime& now)
{
    if (textColumn || dialect == SqlDialect::Sqlite)
        return now.toString(kDateFormat);
    if (dialect == SqlDialect::PostgreSql) {
        const int offset = now.offsetFromUtc();
        const int minutes = std::abs(offset) / 60;
        return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
               (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
               QStringLiteral("%1:%2")
                   .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                   .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    return now;
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

// The row a reading chose: the table's last row as the batch leaves it, or
// a row before it that a reading recorded late looked back to.
struct CandidateRow {
    qint64 n = 0;
    std::optional<QDateTime> stamp;
    // The characteristics' columns whose cell in the row is filled.
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
        }
        if (!isSqlite()) {
            auto stamp = m_cn.columnInfo(m_table, QStringLiteral("Fecha"));
            if (!stamp)
                return Failure{stamp.error(), false, {}};
            m_textStamps = stamp.value().isText;
        }

        // The last row, read once: the batch keeps it up to date as it
        // writes, for it holds every other writer off.
        QString cells;
        for (const QString& c : columns)
            cells += QLatin1Char(',') + bracketName(c);
        auto last =
            m_cn.exec(QStringLiteral("Select Top 1 N,Fecha") + cells + QStringLiteral(" from ") +
                      bracketName(m_table) + QStringLiteral(" order by N Desc"));
        if (!last)
            return Failure{last.error(), false, {}};
        if (last.value().next()) {
            CandidateRow candidate{
                last.value().value(0).toLongLong(), rowStamp(last.value().value(1)), {}};
            for (qsizetype c = 0; c < columns.size(); ++c)
                if (!last.value().value(static_cast<int>(c) + 2).isNull())
                    candidate.filled.insert(columns[c]);
            m_last = std::move(candidate);
        }
        last.value().finish();

        prepared.clear();
        for (qsizetype k = 0; k < entries.size(); ++k) {
            OutboxEntry entry = entries[k];
            auto cellValue = valueFor(entry);
            if (!cellValue)
                return Failure{cellValue.error(), false, {k}};
            if (entry.preparedRow) {
                auto there = alreadyThere(entry, cellValue.value());
                if (!there)
                    return Failure{there.error(), false, {}};
                if (there.value()) {
                    prepared.append(entry);
                    continue;
                }
            }
            auto row = writeOne(entry, cellValue.value(), DTMP);
            if (!row)
                return Failure{row.error(), false,
                               row.error().retryable ? QList<qsizetype>{} : QList<qsizetype>{k}};
            prepared.append(row.value());
        }
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

    // Whether a cell holds what the reading wrote: a text column keeps the
    // text as it was; a numeric column may have rounded the number to its
    // own scale (NUMERIC(8,2)), so any value there is the reading's: a
    // reading only ever fills an empty cell, with every other writer held
    // off.
    static bool sameValue(const QVariant& cell, const CellValue& cellValue)
    {
        if (cell.isNull())
            return false;
        if (cellValue.text)
            return cell.toString() == cellValue.value.toString();
        return true;
    }

    // Whether a reading written before a crash is in the row it went to:
    // its cell holds its value and, for a row it made, the row has its
    // stamp and operator.
    Result<bool> alreadyThere(const OutboxEntry& entry, const CellValue& cellValue)
    {
        auto row = m_cn.exec(QStringLiteral("Select Fecha,Operador,") + bracketName(entry.Carac) +
                                 QStringLiteral(" from ") + bracketName(m_table) +
                                 QStringLiteral(" where N = ?"),
                             {*entry.preparedRow});
        if (!row)
            return row.error();
        QSqlQuery& q = row.value();
        if (!q.next())
            return false;
        if (!sameValue(q.value(2), cellValue))
            return false;
        if (entry.preparedNewRow) {
            const auto stamp = rowStamp(q.value(0));
            if (!stamp || *stamp != entry.stamp || q.value(1).toString() != entry.Opera)
                return false;
        }
        return true;
    }

    // The row a reading stamped t chooses: the last row unless it is more
    // than the window later than t (rows another writer added while the
    // reading waited), else the last row before it that is not.
    Result<std::optional<CandidateRow>> chosenRow(const OutboxEntry& entry, double DTMP)
    {
        if (!m_last)
            return std::optional<CandidateRow>{};
        const QDateTime t = entry.stamp.addMSecs(static_cast<qint64>(DTMP * 1000));
        if (!m_last->stamp || *m_last->stamp <= t)
            return m_last;
        auto rows = m_cn.exec(QStringLiteral("Select N,Fecha,") + bracketName(entry.Carac) +
                              QStringLiteral(" from ") + bracketName(m_table) +
                              QStringLiteral(" order by N Desc"));
        if (!rows)
            return rows.error();
        QSqlQuery& q = rows.value();
        for (int looked = 0; looked <= GrabaQLTR::kMaxRowsLookedBack && q.next(); ++looked) {
            const auto stamp = rowStamp(q.value(1));
            // A stamp that cannot be read ends the search: the reading
            // starts a row of its own rather than join one of unknown time.
            if (!stamp)
                break;
            if (*stamp <= t) {
                CandidateRow candidate{q.value(0).toLongLong(), stamp, {}};
                if (!q.value(2).isNull())
                    candidate.filled.insert(entry.Carac);
                return std::optional<CandidateRow>(std::move(candidate));
            }
        }
        return std::optional<CandidateRow>{};
    }

    // Writes one reading; gives it with the row it went to.
    Result<OutboxEntry> writeOne(OutboxEntry entry, const CellValue& cellValue, double DTMP)
    {
        auto chosen = chosenRow(entry, DTMP);
        if (!chosen)
            return chosen.error();
        const std::optional<CandidateRow>& candidate = chosen.value();
        // A time stamp that cannot be read counts as older than the
        // window: the reading starts a row of its own.
        const bool withinWindow =
            candidate && candidate->stamp &&
            static_cast<double>(candidate->stamp->msecsTo(entry.stamp)) / 1000.0 <= DTMP;
        if (withinWindow && !candidate->filled.contains(entry.Carac)) {
            if (auto failed = fillRow(candidate->n, entry.Carac, cellValue))
                return *failed;
            if (m_last && m_last->n == candidate->n)
                m_last->filled.insert(entry.Carac);
            entry.preparedRow = candidate->n;
            entry.preparedNewRow = false;
            return entry;
        }
        auto n = addRow(entry, cellValue);
        if (!n)
            return n.error();
        m_last = CandidateRow{n.value(), entry.stamp, {entry.Carac}};
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
    bool m_textStamps = true;
    std::optional<CandidateRow> m_last;
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
    // measured between like values.
    entry.stamp = stamp;
    entry.stamp.setTime(QTime(stamp.time().hour(), stamp.time().minute(), stamp.time().second()));
    entry.Turno = TurnoDeHora(m, entry.stamp.toString(QStringLiteral("HHmm")));
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
        resolved.error =
            Error{ErrorNumber::CannotUpdate, kSource,
                  destination.place +
                      QStringLiteral(": Cannot update. Database or object is read-only.")};
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
        auto failed = TableBatch(*cn, destination.tableName, m_lockWait)
                          .run(entries, beforeCommit, DTMP, prepared);
        if (!failed) {
            for (const OutboxEntry& e : std::as_const(prepared))
                result.recorded.append(e.id);
            return result;
        }
        drop(cn);
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
        if (failed->entries.isEmpty()) {
            refuseAll(CodeErr::Recorded, error);
            return result;
        }
        // The readings the failure belongs to are refused; the others go on.
        for (auto k = failed->entries.size() - 1; k >= 0; --k) {
            const qsizetype index = failed->entries[k];
            result.refused.append(QuarantinedEntry{entries[index], CodeErr::Recorded, error, now});
            entries.removeAt(index);
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
