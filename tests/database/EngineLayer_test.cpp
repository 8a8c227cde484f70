// Engine-layer behaviour particular to one engine: SQLite files standing for
// Jet databases (creation, the database password, damaged files), the
// PostgreSQL server string, the ODBC engines and the provider errors.

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/FilePassword.h"
#include "support/DamagedFiles.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"
#include "support/OdbcConfiguration.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <crypt.h>
#include <gtest/gtest.h>

namespace {

using namespace telvar;
using telvar::test::OdbcConfiguration;
using telvar::test::PostgresTestServer;
namespace DamagedFiles = telvar::test::DamagedFiles;

QString jet(const QString& path, const QString& passBD)
{
    return jetConnectionString(path, passBD);
}

long long openError(const QString& connectionString, QString* description = nullptr)
{
    auto opened = EngineLayer::open(connectionString);
    if (opened.ok())
        return 0;
    if (description)
        *description = opened.error().description;
    return opened.error().number;
}

class SqliteFiles : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QTemporaryDir dir;
};

TEST_F(SqliteFiles, CreatedFileOpensOnlyWithItsPassword)
{
    const QString file = path("Qualitra.MDB");
    ASSERT_TRUE(EngineLayer::createFileDatabase(file, QStringLiteral("clave")).ok());
    EXPECT_EQ(openError(jet(file, QStringLiteral("clave"))), 0);

    QString description;
    EXPECT_EQ(openError(jet(file, QStringLiteral("Clave")), &description),
              ErrorNumber::WrongPassword);
    EXPECT_EQ(description, QStringLiteral("Not a valid password."));
    EXPECT_EQ(openError(jet(file, QString())), ErrorNumber::WrongPassword);

    // The password is kept as a salted hash, never in clear.
    EXPECT_FALSE(DamagedFiles::contents(file).contains("clave"));
}

TEST_F(SqliteFiles, FilesWithoutPasswordRecordOpenWithAnyPassword)
{
    // Created without a password...
    const QString open = path("Abierta.MDB");
    ASSERT_TRUE(EngineLayer::createFileDatabase(open, QString()).ok());
    EXPECT_EQ(openError(jet(open, QString())), 0);
    EXPECT_EQ(openError(jet(open, QStringLiteral("cualquiera"))), 0);

    // ...or made by another program.
    const QString foreign = path("Ajena.MDB");
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(foreign);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE X (A INTEGER)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    EXPECT_EQ(openError(jet(foreign, QStringLiteral("x"))), 0);
}

TEST_F(SqliteFiles, CreationRefusesExistingFilesAndMissingDirectories)
{
    const QString file = path("Qualitra.MDB");
    ASSERT_TRUE(EngineLayer::createFileDatabase(file, QStringLiteral("uno")).ok());
    const QByteArray before = DamagedFiles::contents(file);

    auto again = EngineLayer::createFileDatabase(file, QStringLiteral("dos"));
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().number, ErrorNumber::DatabaseExists);
    EXPECT_EQ(DamagedFiles::contents(file), before);
    EXPECT_EQ(openError(jet(file, QStringLiteral("uno"))), 0);

    auto nowhere =
        EngineLayer::createFileDatabase(path("no/existe/Qualitra.MDB"), QStringLiteral("x"));
    ASSERT_FALSE(nowhere.ok());
    EXPECT_EQ(nowhere.error().number, ErrorNumber::UnspecifiedFailure);

    // No temporary file is left beside the databases.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Qualitra.MDB")});
}

TEST_F(SqliteFiles, PathsWithUnusualCharactersWork)
{
    QDir(dir.path()).mkpath(QStringLiteral("Planta Año #2 (100%)"));
    const QString file = path("Planta Año #2 (100%)/Datos?;x.MDB");
    ASSERT_TRUE(EngineLayer::createFileDatabase(file, QStringLiteral("p")).ok());
    EXPECT_TRUE(QFileInfo::exists(file));
    // The path is written raw, ";" and all, as ArmaConexion writes it.
    EXPECT_EQ(openError(jet(file, QStringLiteral("p"))), 0);
    EXPECT_EQ(openError(jet(file, QStringLiteral("q"))), ErrorNumber::WrongPassword);
}

// Every character the password file allows (codes 33 to 126) may be in a
// database password; ArmaConexion writes it raw.
const char* const kUnusualPasswords[] = {
    "ab;cd", "'x", "\"x", "x;User ID=y", "x;Password=y", "p;", "{a}b;c}", "a\\b'\"c;d=e",
};

TEST_F(SqliteFiles, PasswordsWithAnyPrintableCharacterOpenTheirFile)
{
    int n = 0;
    for (const char* typed : kUnusualPasswords) {
        const QString password = QString::fromUtf8(typed);
        SCOPED_TRACE(typed);
        const QString file = dir.filePath(QStringLiteral("Q%1.MDB").arg(++n));
        ASSERT_TRUE(EngineLayer::createFileDatabase(file, password).ok());
        QString description;
        EXPECT_EQ(openError(jet(file, password), &description), 0) << description.toStdString();
        // A part of it is not the password.
        const QString part = password.left(password.indexOf(QLatin1Char(';')) > 0
                                               ? password.indexOf(QLatin1Char(';'))
                                               : password.size() - 1);
        EXPECT_EQ(openError(jet(file, part)), ErrorNumber::WrongPassword);
    }
}

struct BadFileCase {
    const char* name;
    long long number;
};

TEST_F(SqliteFiles, EachKindOfBadFileHasItsNumber)
{
    DamagedFiles::makeTextFile(path("Informe.MDB"));
    DamagedFiles::makeHalfFile(path("Cortado.MDB"), QStringLiteral("p"), 3000);
    DamagedFiles::makeFileWithLostFreeSpace(path("SinFinal.MDB"), QStringLiteral("p"), 50);
    QDir(dir.path()).mkpath(QStringLiteral("Carpeta.MDB"));
    const QByteArray textBefore = DamagedFiles::contents(path("Informe.MDB"));

    const BadFileCase cases[] = {
        {"Informe.MDB", ErrorNumber::NotADatabase},
        {"Cortado.MDB", ErrorNumber::DamagedFile},
        {"SinFinal.MDB", ErrorNumber::DamagedFile},
        {"Carpeta.MDB", ErrorNumber::UnspecifiedFailure},
        {"NoEsta.MDB", ErrorNumber::UnspecifiedFailure},
        {"falta/Qualitra.MDB", ErrorNumber::UnspecifiedFailure},
    };
    for (const BadFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        QString description;
        EXPECT_EQ(openError(jet(path(c.name), QStringLiteral("p")), &description), c.number);
        EXPECT_FALSE(description.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(path("NoEsta.MDB")));
    EXPECT_EQ(DamagedFiles::contents(path("Informe.MDB")), textBefore);
}

// A yescrypt hash of password at another cost than the program's own.
QByteArray yescryptAtCost(const char* password, unsigned long cost)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", cost, nullptr, 0, salt, sizeof salt))
        return QByteArray();
    crypt_data data{};
    return QByteArray(crypt_r(password, salt, &data));
}

// Password records the program did not write: refused as damaged (23), not
// taken for a wrong password, and never hashed (a bcrypt cost of 31 would
// run for days).
TEST_F(SqliteFiles, PasswordRecordsNotWrittenHereAreDamaged)
{
    const struct {
        const char* name;
        QByteArray stored;
    } cases[] = {
        {"Garbage", "$2a$garbage"},
        {"BcryptOfHugeCost", "$2b$31$abcdefghijklmnopqrstuu"},
        {"YescryptOfAnotherCost", yescryptAtCost("p", 1)},
        {"Empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(c.name);
        ASSERT_TRUE(EngineLayer::createFileDatabase(file, QStringLiteral("p")).ok());
        {
            auto cn = EngineLayer::open(jet(file, QStringLiteral("p")));
            ASSERT_TRUE(cn.ok());
            ASSERT_TRUE(cn.value()
                            ->exec(QStringLiteral("UPDATE TelvarSeguridad SET Clave = ?"),
                                   {QString::fromLatin1(c.stored)})
                            .ok());
        }
        QString description;
        EXPECT_EQ(openError(jet(file, QStringLiteral("p")), &description),
                  ErrorNumber::PasswordRecordDamaged);
        EXPECT_TRUE(description.contains(QLatin1String("TelvarSeguridad")))
            << description.toStdString();
    }
}

TEST(FilePassword, HashesAreSaltedAndVerify)
{
    auto a = FilePassword::hash(QStringLiteral("secreto"));
    auto b = FilePassword::hash(QStringLiteral("secreto"));
    ASSERT_TRUE(a.ok());
    ASSERT_TRUE(b.ok());
    EXPECT_NE(a.value(), b.value());
    EXPECT_TRUE(a.value().startsWith("$y$"));
    EXPECT_TRUE(FilePassword::verify(QStringLiteral("secreto"), a.value()).value());
    EXPECT_FALSE(FilePassword::verify(QStringLiteral("Secreto"), a.value()).value());
    // Verified once, still refused for another password afterwards.
    EXPECT_TRUE(FilePassword::verify(QStringLiteral("secreto"), b.value()).value());
    EXPECT_FALSE(FilePassword::verify(QStringLiteral("secret"), b.value()).value());
    EXPECT_FALSE(FilePassword::verify(QStringLiteral("x"), QByteArray("*0")).ok());
}

struct LayerCase {
    const char* name;
    const char* connectionString;
    long long number;
};

void PrintTo(const LayerCase& c, std::ostream* os)
{
    *os << c.name;
}

const LayerCase kLayerCases[] = {
    {"EmptyString", "", ErrorNumber::InvalidArgument},
    {"BlankString", "   ", ErrorNumber::InvalidArgument},
    {"NoProvider", "Data Source=/tmp/x.MDB;", ErrorNumber::InvalidArgument},
    {"UnknownProvider", "Provider=Microsoft.ACE.OLEDB.16.0;Data Source=/tmp/x.accdb;",
     ErrorNumber::ProviderNotFound},
    {"PostgresBadPort", "Provider=PostgreSQL;Host=127.0.0.1:99999;Database=d;User ID=u;Password=p;",
     ErrorNumber::UnspecifiedFailure},
    {"PostgresNotAPort", "Provider=PostgreSQL;Host=127.0.0.1:abc;Database=d;User ID=u;Password=p;",
     ErrorNumber::UnspecifiedFailure},
};

class LayerErrors : public ::testing::TestWithParam<LayerCase> {};

TEST_P(LayerErrors, HaveTheirNumbers)
{
    QString description;
    EXPECT_EQ(openError(QString::fromUtf8(GetParam().connectionString), &description),
              GetParam().number);
    EXPECT_FALSE(description.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Strings, LayerErrors, ::testing::ValuesIn(kLayerCases),
                         [](const ::testing::TestParamInfo<LayerCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(PostgresServer, NobodyListeningIsAnUnreachableServer)
{
    const ConnectionTarget m{QStringLiteral("[POSTGRESQL]"),
                             QStringLiteral("127.0.0.1:") +
                                 QString::number(telvar::test::unusedLocalPort()),
                             QStringLiteral("telvar"), QStringLiteral("x")};
    QString description;
    EXPECT_EQ(openError(ArmaConexion(m, QStringLiteral("qualitra")), &description),
              ErrorNumber::UnspecifiedFailure);
    EXPECT_TRUE(description.contains(QLatin1String("refused"), Qt::CaseInsensitive))
        << description.toStdString();
}

TEST(PostgresServer, WrongPasswordIsAuthenticationFailure)
{
    TELVAR_REQUIRE_POSTGRES();
    const auto s = *PostgresTestServer::settings();
    ConnectionTarget m{QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user,
                       s.password + QStringLiteral("x")};
    QString description;
    EXPECT_EQ(openError(ArmaConexion(m, s.maintenanceDatabase), &description),
              ErrorNumber::AuthenticationFailed);
    EXPECT_TRUE(description.contains(QLatin1String("password authentication failed")))
        << description.toStdString();
    m.UsuarioBD = QStringLiteral("nadie");
    m.PassBD = s.password;
    EXPECT_EQ(openError(ArmaConexion(m, s.maintenanceDatabase)), ErrorNumber::AuthenticationFailed);
}

TEST(PostgresServer, PasswordsWithAnyPrintableCharacterAuthenticate)
{
    TELVAR_REQUIRE_POSTGRES();
    const auto s = *PostgresTestServer::settings();
    for (const char* typed : kUnusualPasswords) {
        const QString password = QString::fromUtf8(typed);
        SCOPED_TRACE(typed);
        QString error;
        const auto role = telvar::test::PostgresTestRole::create(password, &error);
        ASSERT_TRUE(role) << error.toStdString();
        ConnectionTarget m{QStringLiteral("[POSTGRESQL]"), s.servidor(), role->name(), password};
        QString description;
        EXPECT_EQ(openError(ArmaConexion(m, s.maintenanceDatabase), &description), 0)
            << description.toStdString();
        m.PassBD = password.left(password.size() - 1);
        EXPECT_EQ(openError(ArmaConexion(m, s.maintenanceDatabase)),
                  ErrorNumber::AuthenticationFailed);
    }
}

// ODBC engines: the driver manager with a private configuration.
class OdbcEngines : public ::testing::Test {
protected:
    static QString entry(const char* tipo, const QString& servidor, const char* usuario)
    {
        return ArmaConexion(ConnectionTarget{QString::fromLatin1(tipo), servidor,
                                             QString::fromLatin1(usuario), QStringLiteral("clave")},
                            QStringLiteral("qualitra"));
    }
    QTemporaryDir dir;
};

TEST_F(OdbcEngines, SqlServerThroughFreeTdsReportsAnUnreachableServer)
{
    if (!OdbcConfiguration::systemHasFreeTds())
        GTEST_SKIP() << "no FreeTDS driver in /etc/odbcinst.ini (Debian package tdsodbc)";
    OdbcConfiguration::write(true);
    const QString server =
        QStringLiteral("127.0.0.1,") + QString::number(telvar::test::unusedLocalPort());
    for (const char* tipo : {"[SQLSERVER]", "[MSOLEDBSQL]"}) {
        // With a user, and with integrated security (blank user).
        for (const char* usuario : {"qlt", "  "}) {
            SCOPED_TRACE(std::string(tipo) + " user '" + usuario + "'");
            QString description;
            EXPECT_EQ(openError(entry(tipo, server, usuario), &description),
                      ErrorNumber::UnspecifiedFailure);
            EXPECT_TRUE(description.contains(QLatin1String("FreeTDS")))
                << description.toStdString();
        }
    }
}

TEST_F(OdbcEngines, SqlServerWithoutAnyDriverIsProviderNotFound)
{
    OdbcConfiguration::write(false);
    EXPECT_EQ(openError(entry("[SQLSERVER]", QStringLiteral("srv"), "u")),
              ErrorNumber::ProviderNotFound);
}

TEST_F(OdbcEngines, DriversThatAreNotInstalledAreProviderNotFound)
{
    OdbcConfiguration::write(true);
    QString description;
    EXPECT_EQ(openError(entry("[INFORMIX10]", QStringLiteral("ifx"), "informix"), &description),
              ErrorNumber::ProviderNotFound);
    EXPECT_TRUE(description.contains(QLatin1String("Informix"))) << description.toStdString();
    EXPECT_EQ(openError(entry("[SYBASE9]", QStringLiteral("asa"), "dba"), &description),
              ErrorNumber::ProviderNotFound);
    EXPECT_TRUE(description.contains(QLatin1String("SQL Anywhere"))) << description.toStdString();
}

TEST_F(OdbcEngines, DeclaredDriverWhoseLibraryIsMissingIsProviderNotFound)
{
    OdbcConfiguration::write(true, QStringLiteral("[IBM INFORMIX ODBC DRIVER]\n"
                                                  "Driver=") +
                                       dir.filePath(QStringLiteral("iclit09b.so")) +
                                       QStringLiteral("\n"));
    QString description;
    EXPECT_EQ(openError(entry("[INFORMIX10]", QStringLiteral("ifx"), "informix"), &description),
              ErrorNumber::ProviderNotFound);
    EXPECT_TRUE(description.contains(QLatin1String("Can't open lib"))) << description.toStdString();
}

TEST_F(OdbcEngines, DriverLibraryThatCannotLoadIsAnErrorInTheDll)
{
    const QString broken = dir.filePath(QStringLiteral("libdbodbc9.so"));
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a shared library\n");
    }
    OdbcConfiguration::write(true, QStringLiteral("[SQL Anywhere 9]\nDriver=") + broken +
                                       QStringLiteral("\n"));
    QString description;
    EXPECT_EQ(openError(entry("[SYBASE9]", QStringLiteral("asa"), "dba"), &description),
              ErrorNumber::ErrorInDll);
    EXPECT_TRUE(description.contains(QLatin1String("Can't open lib"))) << description.toStdString();
}

} // namespace
