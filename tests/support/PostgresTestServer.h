#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace telvar::test {

// The throwaway PostgreSQL cluster that scripts/pg-cluster starts for the
// tests, as its TELVAR_PG_* environment variables describe it.
struct PostgresSettings {
    QString host;
    int port = 0;
    QString user;
    QString password;
    QString maintenanceDatabase; // the database to connect to for CREATE/DROP DATABASE
    QString binDir;
    QString dataDir;

    // The "Servidor" of a "[POSTGRESQL]" installation entry: host:port.
    QString servidor() const { return host + QLatin1Char(':') + QString::number(port); }
};

class PostgresTestServer final {
public:
    // The settings, or std::nullopt when TELVAR_PG_HOST is not set.
    static std::optional<PostgresSettings> settings();
    // Why PostgreSQL tests are skipped when settings() is empty: what
    // scripts/test reported in TELVAR_PG_SKIP_REASON, or that the tests ran
    // without a cluster.
    static QString skipReason();
};

// A fresh database on the test cluster, dropped again (with any connection
// still open to it) when destroyed. Tests running in parallel each get their
// own.
class PostgresTestDatabase final {
public:
    // The new database named name (a uniqueName() when empty), or nullptr
    // with *error set.
    static std::unique_ptr<PostgresTestDatabase> create(QString* error,
                                                        const QString& name = QString());
    // A database name no other test uses: telvar_t_<process>_<random>.
    static QString uniqueName();
    ~PostgresTestDatabase();
    PostgresTestDatabase(const PostgresTestDatabase&) = delete;
    PostgresTestDatabase& operator=(const PostgresTestDatabase&) = delete;

    const QString& name() const { return m_name; }
    const PostgresSettings& settings() const { return m_settings; }

private:
    PostgresTestDatabase(PostgresSettings settings, QString name);

    PostgresSettings m_settings;
    QString m_name;
};

// A login role on the test cluster with a unique name and the given
// password, dropped again when destroyed. It may connect to any database.
class PostgresTestRole final {
public:
    // The new role, or nullptr with *error set.
    static std::unique_ptr<PostgresTestRole> create(const QString& password, QString* error);
    ~PostgresTestRole();
    PostgresTestRole(const PostgresTestRole&) = delete;
    PostgresTestRole& operator=(const PostgresTestRole&) = delete;

    const QString& name() const { return m_name; }
    const PostgresSettings& settings() const { return m_settings; }

private:
    PostgresTestRole(PostgresSettings settings, QString name);

    PostgresSettings m_settings;
    QString m_name;
};

} // namespace telvar::test

// Skips the current test, with the reason, when no PostgreSQL cluster runs.
#define TELVAR_REQUIRE_POSTGRES()                                                                  \
    do {                                                                                           \
        if (!::telvar::test::PostgresTestServer::settings())                                       \
            GTEST_SKIP() << ::telvar::test::PostgresTestServer::skipReason().toStdString();        \
    } while (false)
