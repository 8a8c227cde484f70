#pragma once

#include "common/RuntimeError.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <memory>

namespace telvar {

// The SQL dialect of an open connection.
enum class Dialecto { Sqlite, SqlServer, SqlAnywhere, Informix, PostgreSql };

// An open database connection made from one of the program's connection
// strings. It closes itself when destroyed. Statements are written once, in
// the form the program's own SQL uses ("Select Top 1 * from X", bracketed
// names), and rewritten for the engine by sql().
class Connection final {
public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlDatabase database() const;
    Dialecto dialecto() const { return m_dialecto; }
    // The connection string this connection was opened from.
    const QString& connectionString() const { return m_connectionString; }

    // The statement rewritten for this engine.
    QString sql(const QString& statement) const;

    // Prepares the rewritten statement, binds the values in order and runs it.
    Result<QSqlQuery> exec(const QString& statement, const QVariantList& values = {}) const;

    // The declared maximum length in characters of a text column
    // ("defined size"); an error names the table and column when either is
    // missing or the size cannot be read.
    Result<int> definedSize(const QString& table, const QString& column) const;

    void close();

private:
    friend class EngineLayer;
    Connection(QString qtConnectionName, QString connectionString, Dialecto dialecto);

    QString m_qtConnectionName;
    QString m_connectionString;
    Dialecto m_dialecto;
};

} // namespace telvar
