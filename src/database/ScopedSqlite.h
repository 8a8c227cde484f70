#pragma once

#include "database/SqliteFile.h"

#include <QSqlQuery>
#include <QString>

namespace telvar {

// One Qt SQL connection to an SQLite file for the length of a scope, for the
// engine layer's maintenance work (repairs), which runs SQLite's own
// statements as written.
class ScopedSqlite final {
public:
    ScopedSqlite(const QString& path, SqliteFile::OpenMode mode);
    ~ScopedSqlite();
    ScopedSqlite(const ScopedSqlite&) = delete;
    ScopedSqlite& operator=(const ScopedSqlite&) = delete;

    bool isOpen() const { return m_open; }
    const QString& openError() const { return m_error; }
    QSqlDatabase database() const;

    // Runs statement; "" when it worked, else the engine's text.
    QString run(const QString& statement);

    // Runs statement and gives its rows; error is set when it failed.
    QSqlQuery query(const QString& statement, QString& error);

private:
    QString m_name;
    bool m_open = false;
    QString m_error;
};

} // namespace telvar
