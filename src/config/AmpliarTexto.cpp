#include "config/AmpliarTexto.h"

#include "config/SqliteSchemaEdit.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace telvar {

namespace {

struct ObjetoEsquema {
    QString tipo;
    QString nombre;
    QString sql;
};

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
        return RuntimeError{-2147217865, errorSource(Dialecto::Sqlite),
                            QStringLiteral("The table ") + tabla +
                                QStringLiteral(" does not exist")};
    const QString nombreTabla = query.value(1).toString();
    const QString createSql = query.value(2).toString();
    query.finish();

    // Indexes and triggers of the table go with it and are made again; views
    // may name it and would stop the rename, so they are set aside too.
    QList<ObjetoEsquema> rehacer;
    query.prepare(QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE sql IS NOT NULL "
                                 "AND ((type IN ('index', 'trigger') AND tbl_name = ?) "
                                 "OR type = 'view')"));
    query.addBindValue(nombreTabla);
    if (!query.exec())
        return errorSql(query.lastError(), QStringLiteral("reading the indexes of ") + tabla);
    while (query.next())
        rehacer.append(
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toString()});
    query.finish();

    for (const ObjetoEsquema& objeto : rehacer) {
        if (objeto.tipo == QLatin1String("view")) {
            if (Status s = ejecuta(db, QStringLiteral("DROP VIEW ") + citado(objeto.nombre)); !s)
                return s;
        }
    }

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
        QStringLiteral("ALTER TABLE ") + citado(temporal) + QStringLiteral(" RENAME TO ") +
            citado(nombreTabla),
    };
    for (const QString& paso : pasos) {
        if (Status s = ejecuta(db, paso); !s)
            return s;
    }
    for (const ObjetoEsquema& objeto : rehacer) {
        if (Status s = ejecuta(db, objeto.sql); !s)
            return s;
    }
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
        return RuntimeError{3251, QStringLiteral("Telvar"),
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
                resultado = RuntimeError{3201, errorSource(Dialecto::Sqlite),
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
