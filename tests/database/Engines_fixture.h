#pragma once

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "support/PostgresTestServer.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace telvar::test {

// The engines the engine-matrix tests run on.
enum class Engine { Sqlite, PostgreSql };

std::string engineName(const ::testing::TestParamInfo<Engine>& info);
void PrintTo(Engine engine, std::ostream* os);

// Fills the messages OpenDBOK uses (sections 0 and 4) in language 1.
void setTestMessages(Modulo1& m);

// A fresh, empty database on one engine, and an installation state
// (Modulo1) whose CadConexion and PassBD name it: a password-protected SQLite file in a
// temporary directory, or a new database on the test PostgreSQL cluster.
class EngineDatabase final {
public:
    // nullptr with *error set when the database cannot be made.
    static std::unique_ptr<EngineDatabase> create(Engine engine, QString* error);

    Engine engine() const { return m_engine; }
    Modulo1& modulo() { return m_m; }
    // The engine and fields the database is reached with.
    const ConnectionTarget& target() const { return m_target; }
    const QString& connectionString() const { return m_m.CadConexion; }
    // The same database reached with another password.
    QString connectionStringWithPassword(const QString& password) const;
    // A database of this engine that does not exist (SQLite: a missing file
    // in an existing directory; PostgreSQL: an unknown database name).
    QString missingDatabaseString() const;
    // The error number a wrong password gives on this engine.
    long long wrongPasswordNumber() const;
    // A temporary directory that lives as long as this object.
    const QTemporaryDir& dir() const { return m_dir; }

    // EngineLayer::open on connectionString(); fails the test when it fails.
    std::unique_ptr<Connection> open() const;

    // The password the SQLite file is protected with.
    static QString sqlitePassword() { return QStringLiteral("clave-2026"); }

private:
    explicit EngineDatabase(Engine engine) : m_engine(engine) {}

    Engine m_engine;
    QTemporaryDir m_dir;
    std::unique_ptr<PostgresTestDatabase> m_pg;
    ConnectionTarget m_target;
    Modulo1 m_m;
};

// Base of the engine-matrix tests: a fresh database per test (skipped with a
// reason when the engine is not available).
class EngineTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override;

    std::unique_ptr<EngineDatabase> db;
};

#define TELVAR_INSTANTIATE_ENGINES(Suite)                                                          \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Engines, Suite,                                                                            \
        ::testing::Values(::telvar::test::Engine::Sqlite, ::telvar::test::Engine::PostgreSql),     \
        ::telvar::test::engineName)

} // namespace telvar::test

// gtest output for QString values.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE
