#include "recording/GrabaQLTR.h"

#include "common/ErrorNumbers.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/TrimBlanks.h"
#include "common/ValorNumerico.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/OpenDBOK.h"
#include "database/SqlDialect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace telvar {

namespace {

const QString kFuente = QStringLiteral("Telvar");
const QString kTablaJet = QStringLiteral("Datos");
// The stamp of a new row: the hour without a leading zero.
const QString kFormatoFecha = QStringLiteral("yyyy-MM-dd H:mm:ss");

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

RuntimeError atPlace(RuntimeError error, const QString& lugar)
{
    error.descripcion = lugar + QStringLiteral(": ") + error.descripcion;
    return error;
}

// The time stamp of a row, from the text "yyyy-mm-dd h:nn:ss" (or with a
// two-digit hour, or in ISO form) or from a date-time value; nullopt when
// it cannot be read.
std::optional<QDateTime> fechaDeFila(const QVariant& value)
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
    for (const QString& format : {kFormatoFecha, QStringLiteral("yyyy-MM-dd H:mm:ss.z"),
                                  QStringLiteral("yyyy-MM-dd H:mm")}) {
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
QVariant fechaParaColumna(Dialecto dialecto, bool textColumn, const QDateTime& now)
{
    if (textColumn || dialecto == Dialecto::Sqlite)
        return now.toString(kFormatoFecha);
    if (dialecto == Dialecto::PostgreSql) {
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
QStringList lockStatements(Dialecto dialecto, const QString& tabla, qint64 waitMs)
{
    const QString wait = QString::number(std::max<qint64>(waitMs, 1));
    const QString table = bracketName(tabla);
    switch (dialecto) {
    case Dialecto::PostgreSql:
        return {QStringLiteral("SET LOCAL lock_timeout = ") + wait,
                QStringLiteral("LOCK TABLE ") + table +
                    QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE")};
    case Dialecto::SqlServer:
        return {QStringLiteral("SET LOCK_TIMEOUT ") + wait,
                QStringLiteral("Select Top 1 N from ") + table +
                    QStringLiteral(" WITH (UPDLOCK, HOLDLOCK, TABLOCK)")};
    case Dialecto::SqlAnywhere:
        return {QStringLiteral("SET TEMPORARY OPTION blocking_timeout = ") + wait,
                QStringLiteral("LOCK TABLE ") + table + QStringLiteral(" IN EXCLUSIVE MODE")};
    case Dialecto::Sqlite:
    case Dialecto::Informix:
        break;
    }
    return {};
}

// Why a reading's transaction failed, and whether it failed on its very
// first statement (so that nothing at all was done on the connection).
struct Fallo {
    RuntimeError error;
    bool atBegin = false;
};

// One reading's transaction on cn, which is not in a transaction.
class Escritura final {
public:
    Escritura(Connection& cn, const Modulo1& m, const LecturaAGrabar& lectura, const QString& tabla,
              std::chrono::milliseconds wait)
        : m_cn(cn), m_m(m), m_lectura(lectura), m_tabla(tabla), m_wait(wait)
    {
    }

    std::optional<Fallo> run(const QDateTime& now, double DTMP)
    {
        // A transaction that did not begin has nothing to roll back.
        if (auto failed = begin())
            return Fallo{*failed, true};
        if (auto failed = decideAndWrite(now, DTMP)) {
            rollback();
            return Fallo{*failed, false};
        }
        if (auto failed = commit()) {
            rollback();
            return Fallo{*failed, false};
        }
        return std::nullopt;
    }

private:
    bool isSqlite() const { return m_cn.dialecto() == Dialecto::Sqlite; }

    std::optional<RuntimeError> exec(const QString& statement, const QVariantList& values = {})
    {
        auto done = m_cn.exec(statement, values);
        if (!done)
            return done.error();
        return std::nullopt;
    }

    std::optional<RuntimeError> begin()
    {
        if (isSqlite()) {
            if (auto failed = exec(QStringLiteral("PRAGMA busy_timeout = ") +
                                   QString::number(std::max<qint64>(m_wait.count(), 0))))
                return failed;
            return exec(QStringLiteral("BEGIN IMMEDIATE"));
        }
        QSqlDatabase db = m_cn.database();
        if (!db.transaction())
            return engineError(m_cn.dialecto(), db.lastError(), ErrorPhase::Statement);
        return std::nullopt;
    }

    std::optional<RuntimeError> commit()
    {
        if (isSqlite())
            return exec(QStringLiteral("COMMIT"));
        QSqlDatabase db = m_cn.database();
        if (!db.commit())
            return engineError(m_cn.dialecto(), db.lastError(), ErrorPhase::Statement);
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
        QSqlDatabase db = m_cn.database();
        if (db.isOpen())
            db.rollback();
    }

    std::optional<RuntimeError> decideAndWrite(const QDateTime& now, double DTMP)
    {
        for (const QString& statement : lockStatements(m_cn.dialecto(), m_tabla, m_wait.count()))
            if (auto failed = exec(statement))
                return failed;

        const QString& carac = m_lectura.Carac;
        auto column = m_cn.columnInfo(m_tabla, carac);
        if (!column)
            return column.error();
        QVariant valor;
        if (column.value().isText) {
            valor = m_lectura.Valor;
        } else {
            const double number = valorNumerico(m_lectura.Valor);
            if (!std::isfinite(number))
                return RuntimeError{
                    ErrorNumber::Overflow, kFuente,
                    QStringLiteral("Overflow: the reading ") + m_lectura.Valor +
                        QStringLiteral(" is beyond the range of the numeric column ") + carac +
                        QStringLiteral(".")};
            valor = number;
        }

        auto last = m_cn.exec(QStringLiteral("Select Top 1 N,Fecha,Turno,Operador,") +
                              bracketName(carac) + QStringLiteral(" from ") + bracketName(m_tabla) +
                              QStringLiteral(" order by N Desc"));
        if (!last)
            return last.error();
        QSqlQuery& rows = last.value();
        bool nuevaFila = true;
        QVariant ultimaN;
        if (rows.next()) {
            // A time stamp that cannot be read counts as older than the
            // window: the reading starts a row of its own rather than join
            // one whose time is unknown.
            const auto fecha = fechaDeFila(rows.value(1));
            const bool reciente =
                fecha && static_cast<double>(fecha->msecsTo(now)) / 1000.0 <= DTMP;
            if (reciente && rows.value(4).isNull()) {
                nuevaFila = false;
                ultimaN = rows.value(0);
            }
        }
        rows.finish();

        if (!nuevaFila)
            return fillLastRow(ultimaN, valor);
        return addRow(now, valor);
    }

    std::optional<RuntimeError> fillLastRow(const QVariant& n, const QVariant& valor)
    {
        auto updated =
            m_cn.exec(QStringLiteral("UPDATE ") + bracketName(m_tabla) + QStringLiteral(" SET ") +
                          bracketName(m_lectura.Carac) + QStringLiteral(" = ? WHERE N = ?"),
                      {valor, n});
        if (!updated)
            return updated.error();
        // The table is locked against other writers: the row read a moment
        // ago is still there.
        if (updated.value().numRowsAffected() != 1)
            return RuntimeError{ErrorNumber::NoCurrentRecord, kFuente,
                                QStringLiteral("The last row (N = ") + n.toString() +
                                    QStringLiteral(") could not be updated.")};
        return std::nullopt;
    }

    std::optional<RuntimeError> addRow(const QDateTime& now, const QVariant& valor)
    {
        bool textFecha = true;
        if (!isSqlite()) {
            auto fecha = m_cn.columnInfo(m_tabla, QStringLiteral("Fecha"));
            if (!fecha)
                return fecha.error();
            textFecha = fecha.value().isText;
        }
        return exec(QStringLiteral("INSERT INTO ") + bracketName(m_tabla) +
                        QStringLiteral(" (Fecha, Turno, Operador, ") +
                        bracketName(m_lectura.Carac) + QStringLiteral(") VALUES (?, ?, ?, ?)"),
                    {fechaParaColumna(m_cn.dialecto(), textFecha, now),
                     TurnoDeHora(m_m, now.toString(QStringLiteral("HHmm"))), m_lectura.Opera,
                     valor});
    }

    Connection& m_cn;
    const Modulo1& m_m;
    const LecturaAGrabar& m_lectura;
    const QString& m_tabla;
    std::chrono::milliseconds m_wait;
};

} // namespace

QString TurnoDeHora(const Modulo1& m, const QString& horaHhnn)
{
    const double hora = valorNumerico(horaHhnn);
    for (qsizetype i = 1; i <= m.NumTurnos && i < m.TurnoHasta.size(); ++i) {
        if (hora < m.TurnoHasta.at(i))
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

QString sextoCaracterMessage(const QString& base)
{
    return QStringLiteral("El sexto caracter de ") + base + QStringLiteral(" no puede ser 1");
}

SqlFileDatResult SQLFileDat(const Modulo1& m, Interaccion& ui, const QString& base)
{
    if (auto nombre = dataDatabaseName(m.Empresa, base))
        return {*nombre, false};
    ui.messageBox(sextoCaracterMessage(base), BoxKind::Critical);
    return {QString(), true};
}

GrabaQLTR::GrabaQLTR(Modulo1& m, Interaccion& ui, const Clock& clock)
    : m_m(m), m_ui(ui), m_clock(clock)
{
}

GrabaQLTR::~GrabaQLTR() = default;

QString GrabaQLTR::archivoDatos(const QString& forma, const QString& maqui,
                                const QString& produ) const
{
    return m_m.RutaDatos + trimBlanks(forma) + separator() + trimBlanks(maqui) + separator() +
           trimBlanks(produ) + QStringLiteral(".MDB");
}

QString GrabaQLTR::rutaFaltante(CodeErr code, const QString& forma, const QString& maqui,
                                const QString& produ) const
{
    switch (code) {
    case CodeErr::SinDirectorioFormato:
        return m_m.RutaDatos + trimBlanks(forma);
    case CodeErr::SinDirectorioMaquina:
        return m_m.RutaDatos + trimBlanks(forma) + separator() + trimBlanks(maqui);
    case CodeErr::SinArchivoDatos:
        return archivoDatos(forma, maqui, produ);
    case CodeErr::Grabado:
        break;
    }
    return QString();
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

Result<GrabaQLTR::Destino> GrabaQLTR::destinoJet(const LecturaAGrabar& lectura, CodeErr& code)
{
    const QString forma = trimBlanks(lectura.Forma);
    const QString maqui = trimBlanks(lectura.Maqui);
    const QString produ = trimBlanks(lectura.Produ);
    const auto formatDir =
        isEntryName(forma) ? findPath(m_m.RutaDatos + forma, true) : std::nullopt;
    if (!formatDir) {
        code = CodeErr::SinDirectorioFormato;
        return Destino{};
    }
    const auto machineDir =
        isEntryName(maqui) ? findEntry(*formatDir + separator(), maqui, true) : std::nullopt;
    if (!machineDir) {
        code = CodeErr::SinDirectorioMaquina;
        return Destino{};
    }
    const auto file = isEntryName(produ) ? findEntry(*machineDir + separator(),
                                                     produ + QStringLiteral(".MDB"), false)
                                         : std::nullopt;
    if (!file) {
        code = CodeErr::SinArchivoDatos;
        return Destino{};
    }
    code = CodeErr::Grabado;
    Destino destino;
    destino.lugar = *file + QStringLiteral(" (table ") + kTablaJet + QStringLiteral(")");
    if (isReadOnly(QFileInfo(*file)))
        return RuntimeError{
            ErrorNumber::CannotUpdate, kFuente,
            destino.lugar + QStringLiteral(": Cannot update. Database or object is read-only.")};
    // Taken before the connection is opened: should the file be replaced
    // in between, the identity is the old file's and the next reading opens
    // the new one, never the other way round.
    destino.file = identityOf(*file);
    destino.conexion = ArmaConexion(m_m, *file);
    destino.tabla = kTablaJet;
    return destino;
}

Result<GrabaQLTR::Destino> GrabaQLTR::destinoServidor(const LecturaAGrabar& lectura)
{
    const auto nombre = dataDatabaseName(m_m.Empresa, m_m.BaseDatos);
    if (!nombre) {
        // Set before the box: readings recorded from timers under it are
        // refused without another one.
        m_programMustEnd = true;
        SQLFileDat(m_m, m_ui, m_m.BaseDatos);
        m_lastErrorShown = true;
        return RuntimeError{ErrorNumber::InvalidProcedureCall, kFuente,
                            sextoCaracterMessage(m_m.BaseDatos)};
    }
    Destino destino;
    destino.server = true;
    destino.conexion = ArmaConexion(m_m, *nombre);
    destino.tabla = QStringLiteral("Datos_") + trimBlanks(lectura.Forma) + QStringLiteral("_") +
                    trimBlanks(lectura.Maqui) + QStringLiteral("_") + trimBlanks(lectura.Produ);
    destino.lugar =
        QStringLiteral("table ") + destino.tabla + QStringLiteral(" of the database ") + *nombre;
    return destino;
}

void GrabaQLTR::drop(const QString& conexion)
{
    std::erase_if(m_cache,
                  [&conexion](const CachedConnection& c) { return c.conexion == conexion; });
}

Result<GrabaQLTR::Opened> GrabaQLTR::connectionFor(const Destino& destino, bool fresh)
{
    const auto cached =
        std::find_if(m_cache.begin(), m_cache.end(), [&destino](const CachedConnection& c) {
            return c.conexion == destino.conexion;
        });
    if (cached != m_cache.end()) {
        if (!fresh && cached->file == destino.file && cached->cn->isOpen()) {
            cached->lastUse = ++m_uses;
            return Opened{cached->cn.get(), true};
        }
        m_cache.erase(cached);
    }

    // OpenDBOK may show boxes, under which timers fire and other readings
    // are recorded: nothing of the cache is held across it.
    OpenDBOKResult opened =
        OpenDBOK(m_m, m_ui, m_m.PassBD, OpenRequest{destino.conexion, m_m.TipoBD, true});
    if (!opened) {
        m_lastErrorShown = true;
        if (opened.error)
            return *opened.error;
        return RuntimeError{ErrorNumber::UnspecifiedFailure, kFuente,
                            QStringLiteral("The data database could not be opened.")};
    }
    // Keyed by the string it was opened with (a password typed at the
    // prompt is in it, and in the strings built from now on).
    drop(opened.Conexion);
    if (m_cache.size() >= kMaxConnections) {
        const auto oldest =
            std::min_element(m_cache.begin(), m_cache.end(),
                             [](const CachedConnection& a, const CachedConnection& b) {
                                 return a.lastUse < b.lastUse;
                             });
        m_cache.erase(oldest);
    }
    m_cache.push_back(
        CachedConnection{opened.Conexion, std::move(opened.cn), destino.file, ++m_uses});
    return Opened{m_cache.back().cn.get(), false};
}

Result<CodeErr> GrabaQLTR::grabar(const LecturaAGrabar& lectura, double DTMP)
{
    m_lastErrorShown = false;
    if (m_programMustEnd) {
        m_lastErrorShown = true;
        return RuntimeError{ErrorNumber::InvalidProcedureCall, kFuente,
                            sextoCaracterMessage(m_m.BaseDatos)};
    }

    Destino destino;
    if (m_m.TipoBD == QLatin1String(kJetTag)) {
        CodeErr code = CodeErr::Grabado;
        auto jet = destinoJet(lectura, code);
        if (!jet)
            return jet.error();
        if (code != CodeErr::Grabado)
            return code;
        destino = std::move(jet.value());
    } else if (m_m.TipoBD == QLatin1String("[INFORMIX10]")) {
        return RuntimeError{ErrorNumber::NotSupported, kFuente,
                            QStringLiteral("Recording into the data tables is not available on "
                                           "the Informix engine ([INFORMIX10]): no data database "
                                           "or table is defined for it.")};
    } else if (isServerTag(m_m.TipoBD)) {
        auto server = destinoServidor(lectura);
        if (!server)
            return server.error();
        destino = std::move(server.value());
    } else {
        return RuntimeError{ErrorNumber::NotSupported, kFuente,
                            QStringLiteral("No data table is defined for the database engine \"") +
                                m_m.TipoBD + QStringLiteral("\".")};
    }

    // The stamp has whole seconds, as the rows' stamps do, so that the
    // window is measured between like values.
    QDateTime now = m_clock.now();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));

    for (bool retried = false;; retried = true) {
        auto opened = connectionFor(destino, retried);
        if (!opened)
            return opened.error();
        Connection* cn = opened.value().cn;
        auto failed = Escritura(*cn, m_m, lectura, destino.tabla, m_lockWait).run(now, DTMP);
        if (!failed)
            return CodeErr::Grabado;
        std::erase_if(m_cache, [cn](const CachedConnection& c) { return c.cn.get() == cn; });
        // A server connection kept from an earlier reading that fails on
        // the transaction's first statement has most likely been dropped by
        // the server (a restart, an idle timeout): nothing was done on it,
        // so the reading is tried once more on a new connection.
        if (failed->atBegin && opened.value().reused && destino.server && !retried)
            continue;
        return atPlace(failed->error, destino.lugar);
    }
}

} // namespace telvar
