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

// What a table's column is, as the engine declares it.
struct ColumnInfo {
    QString name;         // as the engine spells it
    QString declaredType; // SQLite: the declared type ("VARCHAR(8)"); others: the Qt type name
    bool isText = false;  // a character column (text affinity on SQLite)
    int definedSize = -1; // declared maximum length in characters; -1 when none is declared
};

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

    // The column as the engine declares it; an error names the table and
    // column when either is missing.
    Result<ColumnInfo> columnInfo(const QString& table, const QString& column) const;

    // True while the connection is open (until close() or destruction).
    bool isOpen() const { return !m_qtConnectionName.isEmpty(); }

    void close();

private:
    friend class ConnectionFactory;
    Connection(QString qtConnectionName, QString connectionString, Dialecto dialecto);

    QString m_qtConnectionName;
    QString m_connectionString;
    Dialecto m_dialecto;
};

} // namespace telvar
