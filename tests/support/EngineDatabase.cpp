#include "support/EngineDatabase.h"

#include "database/EngineErrors.h"
#include "database/EngineLayer.h"

#include <QDir>
#include <QFileInfo>

namespace telvar::test {

std::string engineName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::Sqlite ? "Sqlite" : "PostgreSql";
}

void PrintTo(Engine engine, std::ostream* os)
{
    *os << (engine == Engine::Sqlite ? "Sqlite" : "PostgreSql");
}

void setTestMessages(Modulo1& m)
{
    m.messageTable = MessageTable(5, 100, 2);
    m.Idioma = 1;
    m.messageTable.setText(0, 81, 1, QStringLiteral("Contraseña de la base de datos:"));
    m.messageTable.setText(4, 13, 1, QStringLiteral("Reinstale el proveedor de datos."));
}

std::unique_ptr<EngineDatabase> EngineDatabase::create(Engine engine, QString* error,
                                                       const EngineDatabaseOptions& options)
{
    std::unique_ptr<EngineDatabase> db(new EngineDatabase(engine));
    Modulo1& m = db->m_m;
    setTestMessages(m);
    if (!db->m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return nullptr;
    }
    if (engine == Engine::Sqlite) {
        db->m_target = {QLatin1String(kJetTag), {}, {}, options.sqlitePassword};
        db->m_location = QDir(db->m_dir.path()).absoluteFilePath(options.sqliteFile);
        m.PassBD = options.sqlitePassword;
        m.RutaBD = db->m_location;
        if (options.database) {
            if (!QDir().mkpath(QFileInfo(db->m_location).absolutePath())) {
                *error = QStringLiteral("cannot make the folder of ") + db->m_location;
                return nullptr;
            }
            if (Status made = EngineLayer::createFileDatabase(db->m_location, m.PassBD); !made) {
                *error = made.error().description;
                return nullptr;
            }
            m.CadConexion = ArmaConexion(db->m_target, db->m_location);
        }
        return db;
    }
    const auto settings = PostgresTestServer::settings();
    if (!settings) {
        *error = PostgresTestServer::skipReason();
        return nullptr;
    }
    const PostgresSettings& s = *settings;
    db->m_location = PostgresTestDatabase::uniqueName();
    if (options.database) {
        db->m_pg = PostgresTestDatabase::create(error, db->m_location);
        if (!db->m_pg)
            return nullptr;
    }
    if (options.dataDatabase) {
        db->m_pgData = PostgresTestDatabase::create(error, db->dataDatabaseName());
        if (!db->m_pgData)
            return nullptr;
    }
    db->m_server = s;
    db->m_target = {QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user, s.password};
    m.PassBD = s.password;
    m.BaseDatos = db->m_location;
    if (options.database)
        m.CadConexion = ArmaConexion(db->m_target, m.BaseDatos);
    return db;
}

EngineDatabase::~EngineDatabase() = default;

QString EngineDatabase::connectionStringFor(const QString& location) const
{
    return ArmaConexion(m_target, location);
}

QString EngineDatabase::connectionStringWithPassword(const QString& password) const
{
    ConnectionTarget other = m_target;
    other.PassBD = password;
    return ArmaConexion(other, m_location);
}

QString EngineDatabase::missingDatabaseString() const
{
    if (m_engine == Engine::Sqlite)
        return ArmaConexion(m_target, m_dir.filePath(QStringLiteral("Missing.MDB")));
    return ArmaConexion(m_target, m_location + QStringLiteral("_missing"));
}

long long EngineDatabase::wrongPasswordNumber() const
{
    return m_engine == Engine::Sqlite ? ErrorNumber::WrongPassword
                                      : ErrorNumber::AuthenticationFailed;
}

void EngineDatabase::describeIn(Modulo1& m) const
{
    m.TipoBD = m_target.TipoBD;
    m.PassBD = m_target.PassBD;
    m.CadConexion = connectionString();
    if (m_engine == Engine::PostgreSql) {
        m.Servidor = m_target.Servidor;
        m.UsuarioBD = m_target.UsuarioBD;
        m.BaseDatos = m_location;
    }
}

std::unique_ptr<Connection> EngineDatabase::open() const
{
    auto opened = EngineLayer::open(connectionString());
    EXPECT_TRUE(opened.ok()) << (opened.ok() ? std::string()
                                             : opened.error().description.toStdString());
    if (!opened)
        return nullptr;
    return std::move(opened.value());
}

void EngineTest::SetUp()
{
    TELVAR_REQUIRE_ENGINE(GetParam());
    QString error;
    db = EngineDatabase::create(GetParam(), &error);
    ASSERT_TRUE(db) << error.toStdString();
}

} // namespace telvar::test
