#include "config/AmpliarTexto.h"

#include "config/SqliteSchemaEdit.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <optional>
#include <utility>

namespace telvar {

namespace {

RuntimeError errorSql(const QSqlError& error, const QString& contexto)
{
    RuntimeError e = engineError(Dialecto::Sqlite, error, ErrorPhase::Statement);
    e.descripcion = contexto + QStringLiteral(": ") + e.descripcion;
    return e;
}

QString citado(const QString& nombre)
{
    QString texto = nombre;
    texto.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + texto + QLatin1Char('"');
}

// Runs statement on the raw connection (no rewriting: these statements are
// SQLite's own).
Status ejecuta(const QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement))
        return errorSql(query.lastError(), statement);
    return {};
}

// The value of a one-column query; nothing when it gives no row.
Result<std::optional<QVariant>> valorDe(const QSqlDatabase& db, const QString& consulta,
                                        const QVariantList& valores = {})
{
    QSqlQuery query(db);
    query.prepare(consulta);
    for (const QVariant& valor : valores)
        query.addBindValue(valor);
    if (!query.exec())
        return errorSql(query.lastError(), consulta);
    if (!query.next())
        return std::optional<QVariant>();
    return std::optional<QVariant>(query.value(0));
}

// The AUTOINCREMENT counter of tabla in sqlite_sequence; nothing when the
// table has none (no AUTOINCREMENT key, or no row ever given a number).
Result<std::optional<qlonglong>> leeSecuencia(const QSqlDatabase& db, const QString& tabla)
{
    Result<std::optional<QVariant>> existe =
        valorDe(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                   "name = 'sqlite_sequence'"));
    if (!existe)
        return existe.error();
    if (!existe.value())
        return std::optional<qlonglong>();
    Result<std::optional<QVariant>> seq =
        valorDe(db, QStringLiteral("SELECT max(seq) FROM sqlite_sequence WHERE name = ?"), {tabla});
    if (!seq)
        return seq.error();
    if (!seq.value() || seq.value()->isNull())
        return std::optional<qlonglong>();
    return std::optional<qlonglong>(seq.value()->toLongLong());
}

// Sets the counter of tabla back to at least secuencia.
Status guardaSecuencia(const QSqlDatabase& db, const QString& tabla, qlonglong secuencia)
{
    Result<std::optional<qlonglong>> actual = leeSecuencia(db, tabla);
    if (!actual)
        return actual.error();
    const qlonglong valor = std::max(secuencia, actual.value().value_or(secuencia));
    for (const auto& [sentencia, valores] :
         {std::pair{QStringLiteral("DELETE FROM sqlite_sequence WHERE name = ?"),
                    QVariantList{tabla}},
          std::pair{QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)"),
                    QVariantList{tabla, valor}}}) {
        QSqlQuery query(db);
        query.prepare(sentencia);
        for (const QVariant& v : valores)
            query.addBindValue(v);
        if (!query.exec())
            return errorSql(query.lastError(), QStringLiteral("keeping the AUTOINCREMENT counter "
                                                              "of ") +
                                                   tabla);
    }
    return {};
}

// Gives the rebuilt table the old table's name.
//
// Triggers and views elsewhere in the database may name the table (another
// table's trigger that writes into it, a view over it). Since SQLite 3.26 a
// rename checks every one of them and rewrites the references to the old
// name; here the old name is the one that was just dropped, so that check
// fails ("error in trigger tr2: no such table: main.HTMCONFI") and the table
// could never be widened. The rename runs with legacy_alter_table on, which
// leaves other objects' text alone and checks only that it still parses. That
// is exactly right for this swap: every reference names the table by its
// final name, which is the name the rebuilt table takes, so none of them
// needs changing, and nothing has to be dropped and made again (which would
// also have to follow triggers that reach the table only through a view).
// The table's own indexes and triggers are made again by the caller; foreign
// keys of other tables keep naming the table as well, and are checked after
// the rebuild when they are enforced. The setting belongs to the connection
// and is put back as it was, whatever the outcome.
Status renombra(const QSqlDatabase& db, const QString& temporal, const QString& nombre)
{
    Result<std::optional<QVariant>> antes =
        valorDe(db, QStringLiteral("PRAGMA legacy_alter_table"));
    if (!antes)
        return antes.error();
    const bool legado = antes.value() && antes.value()->toInt() != 0;
    if (!legado) {
        if (Status s = ejecuta(db, QStringLiteral("PRAGMA legacy_alter_table = ON")); !s)
            return s;
    }
    Status hecho = ejecuta(db, QStringLiteral("ALTER TABLE ") + citado(temporal) +
                                   QStringLiteral(" RENAME TO ") + citado(nombre));
    if (!legado) {
        Status vuelta = ejecuta(db, QStringLiteral("PRAGMA legacy_alter_table = OFF"));
        if (hecho && !vuelta)
            hecho = vuelta;
    }
    return hecho;
}

// The rebuild itself, inside the caller's transaction.
Status reconstruye(const QSqlDatabase& db, const QString& tabla, const QString& columna, int ancho)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT type, name, sql FROM sqlite_master "
                                 "WHERE name = ? COLLATE NOCASE AND type = 'table'"));
    query.addBindValue(tabla);
    if (!query.exec())
        return errorSql(query.lastError(), QStringLiteral("reading the definition of ") + tabla);
    if (!query.next())
        return RuntimeError{ErrorNumber::TableNotFound, errorSource(Dialecto::Sqlite),
                            QStringLiteral("The table ") + tabla +
                                QStringLiteral(" does not exist")};
    const QString nombreTabla = query.value(1).toString();
    const QString createSql = query.value(2).toString();
    query.finish();

    // The table's own indexes and triggers go with it and are made again
    // afterwards, in the order they were made.
    QStringList rehacer;
    query.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL "
                                 "AND type IN ('index', 'trigger') AND tbl_name = ? "
                                 "ORDER BY rowid"));
    query.addBindValue(nombreTabla);
    if (!query.exec())
        return errorSql(query.lastError(), QStringLiteral("reading the indexes of ") + tabla);
    while (query.next())
        rehacer.append(query.value(0).toString());
    query.finish();

    // The AUTOINCREMENT high-water mark: dropping the table forgets it, and
    // the copy only knows the largest key still present.
    const Result<std::optional<qlonglong>> secuencia = leeSecuencia(db, nombreTabla);
    if (!secuencia)
        return secuencia.error();

    QString temporal = nombreTabla + QStringLiteral("_ampliando");
    for (int n = 2;; ++n) {
        query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ? COLLATE NOCASE"));
        query.addBindValue(temporal);
        if (!query.exec())
            return errorSql(query.lastError(), QStringLiteral("choosing a temporary table name"));
        const bool ocupado = query.next();
        query.finish();
        if (!ocupado)
            break;
        temporal = nombreTabla + QStringLiteral("_ampliando") + QString::number(n);
    }

    // The new definition, under the temporary name until the old table is gone.
    Result<QString> createTemporal = cambiaAnchoColumna(createSql, columna, ancho, temporal);
    if (!createTemporal)
        return createTemporal.error();

    const QString pasos[] = {
        createTemporal.value(),
        QStringLiteral("INSERT INTO ") + citado(temporal) + QStringLiteral(" SELECT * FROM ") +
            citado(nombreTabla),
        QStringLiteral("DROP TABLE ") + citado(nombreTabla),
    };
    for (const QString& paso : pasos) {
        if (Status s = ejecuta(db, paso); !s)
            return s;
    }
    if (Status s = renombra(db, temporal, nombreTabla); !s)
        return s;
    for (const QString& sql : rehacer) {
        if (Status s = ejecuta(db, sql); !s)
            return s;
    }
    if (secuencia.value())
        return guardaSecuencia(db, nombreTabla, *secuencia.value());
    return {};
}

} // namespace

Status AmpliarTexto(const Connection& TLVConf, const QString& Tabliux, const QString& Campiux,
                    int NewAnchiux)
{
    Result<int> ancho = TLVConf.definedSize(Tabliux, Campiux);
    if (!ancho)
        return ancho.error();
    if (ancho.value() >= NewAnchiux)
        return {};
    if (TLVConf.dialecto() != Dialecto::Sqlite)
        return RuntimeError{ErrorNumber::NotSupported, QStringLiteral("Telvar"),
                            QStringLiteral("Widening ") + Tabliux + QLatin1Char('.') + Campiux +
                                QStringLiteral(" is only done on file databases")};

    QSqlDatabase db = TLVConf.database();
    // Foreign keys are checked at the end, not while the table is missing;
    // the switch only works outside a transaction.
    bool clavesForaneas = false;
    {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA foreign_keys")) && query.next())
            clavesForaneas = query.value(0).toInt() != 0;
    }
    if (clavesForaneas) {
        if (Status s = ejecuta(db, QStringLiteral("PRAGMA foreign_keys = OFF")); !s)
            return s;
    }
    Status resultado;
    if (!db.transaction()) {
        resultado = errorSql(db.lastError(), QStringLiteral("starting the rebuild of ") + Tabliux);
    } else {
        resultado = reconstruye(db, Tabliux, Campiux, NewAnchiux);
        if (resultado && clavesForaneas) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("PRAGMA foreign_key_check")))
                resultado = errorSql(query.lastError(), QStringLiteral("checking foreign keys"));
            else if (query.next())
                resultado = RuntimeError{ErrorNumber::TableExists, errorSource(Dialecto::Sqlite),
                                         QStringLiteral("Rebuilding ") + Tabliux +
                                             QStringLiteral(" would break a foreign key of ") +
                                             query.value(0).toString()};
        }
        if (resultado) {
            if (!db.commit())
                resultado =
                    errorSql(db.lastError(), QStringLiteral("saving the rebuild of ") + Tabliux);
        }
        if (!resultado)
            db.rollback();
    }
    if (clavesForaneas)
        ejecuta(db, QStringLiteral("PRAGMA foreign_keys = ON"));
    return resultado;
}

} // namespace telvar
