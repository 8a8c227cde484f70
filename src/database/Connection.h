#pragma once

#include "common/Error.h"
#include "database/ServerAnswerWatch.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <memory>

namespace telvar {

// The SQL dialect of an open connection.
enum class SqlDialect { Sqlite, SqlServer, SqlAnywhere, Informix, PostgreSql };

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
    SqlDialect dialect() const { return m_dialect; }
    // The connection string this connection was opened from.
    const QString& connectionString() const { return m_connectionString; }

    // The statement rewritten for this engine.
    QString sql(const QString& statement) const;

    // Prepares the rewritten statement, binds the values in order and runs it.
    // On a server engine the wait for the answer is bounded
    // (WaitBounds::kServerAnswer): a server that does not answer in time
    // costs the connection, and the error is retryable.
    Result<QSqlQuery> exec(const QString& statement, const QVariantList& values = {}) const;

    // The bound exec() keeps on a server's answer, for a statement run on
    // database() directly (a prepared statement kept for reuse): it runs
    // from the call until the returned value goes. A no-op on a file
    // database.
    ServerAnswerWatch::Wait answerWait() const { return ServerAnswerWatch::Wait(m_answers.get()); }

    // Begins, commits or rolls back a transaction of the Qt connection, with
    // exec()'s bound on the wait and its errors.
    Status transaction() const;
    Status commit() const;
    Status rollback() const;

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
    Result<ColumnInfo> sqliteColumnInfo(const QString& table, const QString& column) const;
    friend class ConnectionFactory;
    Connection(QString qtConnectionName, QString connectionString, SqlDialect dialect);

    // Runs a transaction step of the Qt connection within the bound.
    Status transactionStep(bool (QSqlDatabase::*step)()) const;
    // The error of a statement or transaction step that failed on the open
    // connection.
    Error statementError(const QSqlError& error) const;
    // The error of a server connection that Qt's driver no longer holds open
    // (the server ended it, the network dropped it, or it was given up):
    // retryable, on a new connection.
    Error lostConnection() const;
    // Why a watched connection was given up.
    QString gaveUpNote() const;

    QString m_qtConnectionName;
    QString m_connectionString;
    SqlDialect m_dialect;
    // Bounds the waits for a server's answers (server engines only).
    std::unique_ptr<ServerAnswerWatch> m_answers;
};

} // namespace telvar
