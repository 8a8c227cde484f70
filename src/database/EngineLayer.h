#pragma once

#include "common/Error.h"
#include "database/Connection.h"

#include <memory>
#include <optional>

namespace telvar {

// Turns a connection string as ArmaConexion builds it into an open Qt SQL
// connection, and engine errors into the program's error numbers:
// 3031 wrong database password, 3049 damaged file, 3343 not a database,
// 3706 provider or driver missing, -2147217843 authentication refused,
// -2147467259 missing file / wrong path / server unreachable. Every wait on a
// connection it opens is bounded (WaitBounds.h), and an error that waiting
// can mend is marked retryable.
class EngineLayer final {
public:
    static Result<std::unique_ptr<Connection>> open(const QString& connectionString);

    // The engine a connection string's provider stands for; nothing for a
    // string without a provider or with one no engine here answers to.
    static std::optional<SqlDialect> dialectOf(const QString& connectionString);

    // Creates a new, empty SQLite database file at path (the form a "[JET4]"
    // connection string names) protected by the database password passBD:
    // opening it later with another password fails with 3031. Refuses to
    // replace an existing file (3204) and to create a missing directory
    // (-2147467259). The file appears whole or not at all.
    static Status createFileDatabase(const QString& path, const QString& passBD);
};

} // namespace telvar
