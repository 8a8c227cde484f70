#pragma once

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "support/PostgresTestServer.h"
#include "support/QtPrinting.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

namespace telvar::test {

// The engines the engine-matrix tests run on.
enum class Engine { Sqlite, PostgreSql };

std::string engineName(const ::testing::TestParamInfo<Engine>& info);
void PrintTo(Engine engine, std::ostream* os);

// Fills the messages OpenDBOK uses (sections 0 and 4) in language 1.
void setTestMessages(Modulo1& m);

// What a fresh database is made of besides its engine.
struct EngineDatabaseOptions {
    // Whether the database itself is made: a SQLite file, a database on the
    // test cluster. Without it the test still gets its name (and dir()), for
    // code that makes its own files or uses only the data database.
    bool database = true;
    // SQLite: the file, relative to dir() (its folders are made) or absolute.
    QString sqliteFile = QStringLiteral("Qualitra.MDB");
    // SQLite: the password the file is protected with ("" for none).
    QString sqlitePassword = QStringLiteral("clave-2026");
    // PostgreSQL: also the data database the recording derives from this
    // database's name (the name followed by "DATA"). SQLite's data files are
    // the test's own, under dir().
    bool dataDatabase = false;
};

// A fresh, empty database on one engine, and an installation state
// (Modulo1) whose CadConexion and PassBD name it: a SQLite file in a
// temporary directory, or a new database on the test PostgreSQL cluster,
// dropped again with this object.
class EngineDatabase final {
public:
    // nullptr with *error set when the database cannot be made.
    static std::unique_ptr<EngineDatabase> create(Engine engine, QString* error,
                                                  const EngineDatabaseOptions& options = {});
    ~EngineDatabase();
    EngineDatabase(const EngineDatabase&) = delete;
    EngineDatabase& operator=(const EngineDatabase&) = delete;

    Engine engine() const { return m_engine; }
    Modulo1& modulo() { return m_m; }
    // The engine and fields the database is reached with.
    const ConnectionTarget& target() const { return m_target; }
    // Its connection string ("" when the database itself was not made).
    const QString& connectionString() const { return m_m.CadConexion; }
    // The SQLite file's path or the PostgreSQL database's name.
    const QString& location() const { return m_location; }
    // The data database's name (PostgreSQL with dataDatabase).
    QString dataDatabaseName() const { return m_location + QStringLiteral("DATA"); }
    // The connection string of another database of this engine and fields:
    // a file's path (SQLite) or a database's name on the same server.
    QString connectionStringFor(const QString& location) const;
    // The same database reached with another password.
    QString connectionStringWithPassword(const QString& password) const;
    // A database of this engine that does not exist (SQLite: a missing file
    // in an existing directory; PostgreSQL: an unknown database name).
    QString missingDatabaseString() const;
    // The error number a wrong password gives on this engine.
    long long wrongPasswordNumber() const;
    // A temporary directory that lives as long as this object.
    const QTemporaryDir& dir() const { return m_dir; }
    // The settings of the test cluster (PostgreSQL only).
    const PostgresSettings& server() const { return m_server; }

    // Names the database in m as start-up does from an installation's
    // entry: the engine tag, the password and connectionString() and, on a
    // server, the server, the user and the database's name.
    void describeIn(Modulo1& m) const;

    // EngineLayer::open on connectionString(); fails the test when it fails.
    std::unique_ptr<Connection> open() const;

    // The password the SQLite file is protected with unless told otherwise.
    static QString sqlitePassword() { return EngineDatabaseOptions().sqlitePassword; }

private:
    explicit EngineDatabase(Engine engine) : m_engine(engine) {}

    Engine m_engine;
    QTemporaryDir m_dir;
    std::unique_ptr<PostgresTestDatabase> m_pg;
    std::unique_ptr<PostgresTestDatabase> m_pgData;
    PostgresSettings m_server;
    ConnectionTarget m_target;
    QString m_location;
    Modulo1 m_m;
};

// Base of the engine-matrix tests: a fresh database per test (skipped with a
// reason when the engine is not available).
class EngineTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override;

    std::unique_ptr<EngineDatabase> db;
};

} // namespace telvar::test

// Skips the current test, with the reason, when engine cannot run here.
#define TELVAR_REQUIRE_ENGINE(engine)                                                              \
    do {                                                                                           \
        if ((engine) == ::telvar::test::Engine::PostgreSql)                                        \
            TELVAR_REQUIRE_POSTGRES();                                                             \
    } while (false)

#define TELVAR_INSTANTIATE_ENGINES(Suite)                                                          \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Engines, Suite,                                                                            \
        ::testing::Values(::telvar::test::Engine::Sqlite, ::telvar::test::Engine::PostgreSql),     \
        ::telvar::test::engineName)
