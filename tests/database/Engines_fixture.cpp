#include "Engines_fixture.h"

#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"

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

std::unique_ptr<EngineDatabase> EngineDatabase::create(Engine engine, QString* error)
{
    std::unique_ptr<EngineDatabase> db(new EngineDatabase(engine));
    Modulo1& m = db->m_m;
    setTestMessages(m);
    if (!db->m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return nullptr;
    }
    if (engine == Engine::Sqlite) {
        db->m_target = {QLatin1String(kJetTag), {}, {}, sqlitePassword()};
        m.PassBD = sqlitePassword();
        m.RutaBD = db->m_dir.filePath(QStringLiteral("Qualitra.MDB"));
        if (Status made = EngineLayer::createFileDatabase(m.RutaBD, m.PassBD); !made) {
            *error = made.error().description;
            return nullptr;
        }
        m.CadConexion = ArmaConexion(db->m_target, m.RutaBD);
        return db;
    }
    db->m_pg = PostgresTestDatabase::create(error);
    if (!db->m_pg)
        return nullptr;
    const PostgresSettings& s = db->m_pg->settings();
    db->m_target = {QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user, s.password};
    m.PassBD = s.password;
    m.BaseDatos = db->m_pg->name();
    m.CadConexion = ArmaConexion(db->m_target, m.BaseDatos);
    return db;
}

QString EngineDatabase::connectionStringWithPassword(const QString& password) const
{
    ConnectionTarget other = m_target;
    other.PassBD = password;
    return ArmaConexion(other, m_engine == Engine::Sqlite ? m_m.RutaBD : m_m.BaseDatos);
}

QString EngineDatabase::missingDatabaseString() const
{
    if (m_engine == Engine::Sqlite)
        return ArmaConexion(m_target, m_dir.filePath(QStringLiteral("Missing.MDB")));
    return ArmaConexion(m_target, m_m.BaseDatos + QStringLiteral("_missing"));
}

long long EngineDatabase::wrongPasswordNumber() const
{
    return m_engine == Engine::Sqlite ? ErrorNumber::WrongPassword
                                      : ErrorNumber::AuthenticationFailed;
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
    if (GetParam() == Engine::PostgreSql && !PostgresTestServer::settings())
        GTEST_SKIP() << PostgresTestServer::skipReason().toStdString();
    QString error;
    db = EngineDatabase::create(GetParam(), &error);
    ASSERT_TRUE(db) << error.toStdString();
}

} // namespace telvar::test
