// The ODBC side of the server engines: the attribute string each engine's
// driver gets, and the credentials reaching real drivers intact.

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/ConnectionFactory.h"
#include "database/EngineErrors.h"
#include "database/OdbcConnectionString.h"
#include "support/EngineDatabase.h"
#include "support/OdbcConfiguration.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace telvar;
using telvar::test::OdbcConfiguration;
using telvar::test::PostgresTestServer;

ConnectionFields entryFields(const char* tipo, const QString& servidor, const QString& usuario,
                             const QString& password, const QString& ruta)
{
    return ConnectionFields::parse(ArmaConexion(
        ConnectionTarget{QString::fromLatin1(tipo), servidor, usuario, password}, ruta));
}

struct LoginCase {
    const char* name;
    OdbcEngine engine;
    const char* driver;
    const char* tipo;
    const char* servidor;
    const char* usuario;
    const char* password;
    const char* attributes;
    bool hasCredentials;
    const char* user;
    const char* pwd;
};

void PrintTo(const LoginCase& c, std::ostream* os)
{
    *os << c.name;
}

const LoginCase kLoginCases[] = {
    {"FreeTdsServerAndPort", OdbcEngine::SqlServer, "FreeTDS", "[SQLSERVER]", "tcp:10.1.2.3,1444",
     "qlt", "pw;1}",
     "Driver={FreeTDS};Server=10.1.2.3;Port=1444;Database=PLANTA;ClientCharset=UTF-8", true, "qlt",
     "{pw;1}}"},
    {"MicrosoftDriverIntegratedSecurity", OdbcEngine::SqlServer, "ODBC Driver 18 for SQL Server",
     "[MSOLEDBSQL]", "SRV02\\QLT", "  ", "ignored",
     "Driver={ODBC Driver 18 for SQL Server};Server=SRV02\\QLT;Database=PLANTA;"
     "Trusted_Connection=yes",
     false, "", ""},
    {"MicrosoftDriverDoublesClosingBraces", OdbcEngine::SqlServer, "ODBC Driver 17 for SQL Server",
     "[SQLSERVER]", "SRV01", "u;1", "a}b",
     "Driver={ODBC Driver 17 for SQL Server};Server=SRV01;Database=PLANTA", true, "{u;1}",
     "{a}}b}"},
    {"InformixWithDelimitedIdentifiers", OdbcEngine::Informix, "IBM INFORMIX ODBC DRIVER",
     "[INFORMIX10]", "ifxsrv", "informix", "x;User ID=y",
     "Driver={IBM INFORMIX ODBC DRIVER};Database=PLANTA;Server=ifxsrv;DELIMIDENT=y", true,
     "informix", "{x;User ID=y}"},
    {"SqlAnywhere", OdbcEngine::SqlAnywhere, "SQL Anywhere 9", "[SYBASE9]", "asa01", "dba",
     "'sql\"", "Driver={SQL Anywhere 9};ENG=asa01;DBN=PLANTA;LINKS=TCPIP(Host=asa01)", true, "dba",
     "{'sql\"}"},
    {"EmptyCredentialsStayGiven", OdbcEngine::Informix, "Informix", "[INFORMIX10]", "ifx", "", "",
     "Driver={Informix};Database=PLANTA;Server=ifx;DELIMIDENT=y", true, "", "{}"},
};

class OdbcLoginTest : public ::testing::TestWithParam<LoginCase> {};

TEST_P(OdbcLoginTest, AttributesAndCredentials)
{
    const LoginCase& c = GetParam();
    const auto fields =
        entryFields(c.tipo, QString::fromUtf8(c.servidor), QString::fromUtf8(c.usuario),
                    QString::fromUtf8(c.password), QStringLiteral("PLANTA"));
    auto login = odbcLogin(c.engine, QString::fromUtf8(c.driver), fields);
    ASSERT_TRUE(login.ok()) << login.error().description.toStdString();
    EXPECT_EQ(login.value().attributes, QString::fromUtf8(c.attributes));
    EXPECT_EQ(login.value().hasCredentials, c.hasCredentials);
    if (c.hasCredentials) {
        EXPECT_EQ(login.value().user, QString::fromUtf8(c.user));
        EXPECT_EQ(login.value().password, QString::fromUtf8(c.pwd));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, OdbcLoginTest, ::testing::ValuesIn(kLoginCases),
                         [](const ::testing::TestParamInfo<LoginCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(OdbcLogin, FreeTdsCannotBeGivenAPasswordHoldingBraceSemicolon)
{
    const auto fields = entryFields("[SQLSERVER]", QStringLiteral("srv"), QStringLiteral("u"),
                                    QStringLiteral("a};b"), QStringLiteral("PLANTA"));
    auto login = odbcLogin(OdbcEngine::SqlServer, QStringLiteral("FreeTDS"), fields);
    ASSERT_FALSE(login.ok());
    EXPECT_EQ(login.error().number, ErrorNumber::InvalidArgument);
    EXPECT_EQ(login.error().source, errorSource(SqlDialect::SqlServer));
    EXPECT_TRUE(login.error().description.startsWith(QLatin1String("PWD: ")))
        << login.error().description.toStdString();
    EXPECT_FALSE(login.error().description.contains(QLatin1String("a};b")));
    // A driver that reads braces as ODBC does takes it.
    EXPECT_TRUE(
        odbcLogin(OdbcEngine::SqlServer, QStringLiteral("ODBC Driver 18 for SQL Server"), fields)
            .ok());
}

// Qt's ODBC driver takes an attribute string holding ".dsn" for a file data
// source: such a server or database name is refused, naming it, rather
// than failing later as a missing driver.
TEST(OdbcLogin, NamesHoldingDsnAreRefusedAsSuch)
{
    const struct {
        const char* name;
        const char* tipo;
        OdbcEngine engine;
        const char* servidor;
        const char* ruta;
        const char* key;
    } cases[] = {
        {"SqlServerServer", "[SQLSERVER]", OdbcEngine::SqlServer, "planta.DSN.local", "PLANTA",
         "Server: "},
        {"SqlServerDatabase", "[SQLSERVER]", OdbcEngine::SqlServer, "srv", "datos.dsn",
         "Database: "},
        {"InformixServer", "[INFORMIX10]", OdbcEngine::Informix, "ifx.dsn", "PLANTA", "Server: "},
        {"SqlAnywhereDatabase", "[SYBASE9]", OdbcEngine::SqlAnywhere, "asa", "q.dsn", "ENG: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fields = entryFields(c.tipo, QString::fromUtf8(c.servidor), QStringLiteral("u"),
                                        QStringLiteral("p"), QString::fromUtf8(c.ruta));
        auto login = odbcLogin(c.engine, QStringLiteral("ODBC Driver 18 for SQL Server"), fields);
        ASSERT_FALSE(login.ok());
        EXPECT_EQ(login.error().number, ErrorNumber::InvalidArgument);
        EXPECT_TRUE(login.error().description.contains(QLatin1String(".dsn")))
            << login.error().description.toStdString();
    }
}

// Opens a QODBC connection for login and returns the driver's error text
// ("" when it opened).
QString openOdbc(const OdbcLogin& login)
{
    const QString name = ConnectionFactory::newName();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        configureOdbc(db, login);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=10"));
        if (!db.open())
            error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

const char* const kOdbcPasswords[] = {
    "ab;cd", "'x", "\"x", "x;User ID=y", "a}b{c", "}}", "{x}", "p.dsn;q", "x;PWD=y", "p;",
};

// psqlODBC reads braces as ODBC does: the credentials written for such a
// driver authenticate against the test cluster.
TEST(OdbcLogin, PasswordsReachAStandardDriverIntact)
{
    TELVAR_REQUIRE_POSTGRES();
    OdbcConfiguration::write(true);
    const QString driver = QStringLiteral("PostgreSQL Unicode");
    if (!installedOdbcDrivers().contains(driver))
        GTEST_SKIP() << "no psqlODBC driver in /etc/odbcinst.ini (Debian package odbc-postgresql)";
    const auto s = *PostgresTestServer::settings();
    for (const char* typed : kOdbcPasswords) {
        const QString password = QString::fromUtf8(typed);
        SCOPED_TRACE(typed);
        QString error;
        const auto role = telvar::test::PostgresTestRole::create(password, &error);
        ASSERT_TRUE(role) << error.toStdString();
        OdbcLogin login;
        login.attributes = QStringLiteral("Driver={") + driver + QStringLiteral("};Server=") +
                           s.host + QStringLiteral(";Port=") + QString::number(s.port) +
                           QStringLiteral(";Database=") + s.maintenanceDatabase;
        login.hasCredentials = true;
        login.user = odbcValue(role->name(), OdbcBraces::Standard).value();
        login.password = odbcValue(password, OdbcBraces::Standard, true).value();
        EXPECT_EQ(openOdbc(login), QString());
        login.password = odbcValue(password + QLatin1Char('x'), OdbcBraces::Standard, true).value();
        EXPECT_FALSE(openOdbc(login).isEmpty());
    }
}

// A listener on 127.0.0.1 that keeps the first bytes a client sends.
class Capture final {
public:
    Capture()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_socket, 1) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Capture()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_socket >= 0)
            ::close(m_socket);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    int port() const { return m_port; }
    // What the client sent; call after the client gave up.
    QByteArray received()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_received;
    }

private:
    void run()
    {
        pollfd waiting{m_socket, POLLIN, 0};
        if (::poll(&waiting, 1, 30000) <= 0)
            return;
        const int client = ::accept(m_socket, nullptr, nullptr);
        if (client < 0)
            return;
        char buffer[4096];
        while (m_received.size() < 512) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, 10000) <= 0)
                break;
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_received.append(buffer, n);
        }
        ::close(client);
    }

    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
    QByteArray m_received;
};

// A fixed field of a TDS 5.0 login packet: 30 bytes, then their length.
QByteArray loginField(const QByteArray& packet, int index)
{
    const int start = 8 + index * 31;
    if (packet.size() < start + 31)
        return QByteArray();
    const int length = static_cast<unsigned char>(packet.at(start + 30));
    return packet.mid(start, std::min(length, 30));
}

// FreeTDS reads a braced value up to the first "}" followed by ";": the
// login it sends (TDS 5.0, whose login packet holds user and password in
// clear) carries exactly the program's user and password.
TEST(OdbcLogin, PasswordsReachFreeTdsIntact)
{
    if (!OdbcConfiguration::systemHasFreeTds())
        GTEST_SKIP() << "no FreeTDS driver in /etc/odbcinst.ini (Debian package tdsodbc)";
    OdbcConfiguration::write(true);
    const char* const passwords[] = {"ab;cd", "a}b;c", "x;User ID=y", "'q\"", "{x}", "ab}", "p;"};
    for (const char* typed : passwords) {
        SCOPED_TRACE(typed);
        Capture server;
        ASSERT_GT(server.port(), 0);
        const QString user = QStringLiteral("u;s{e}r");
        const auto fields = entryFields(
            "[SQLSERVER]", QStringLiteral("127.0.0.1,") + QString::number(server.port()), user,
            QString::fromUtf8(typed), QStringLiteral("PLANTA"));
        auto login = odbcLogin(OdbcEngine::SqlServer, QStringLiteral("FreeTDS"), fields);
        ASSERT_TRUE(login.ok()) << login.error().description.toStdString();
        login.value().attributes += QStringLiteral(";TDS_Version=5.0");
        EXPECT_FALSE(openOdbc(login.value()).isEmpty());
        const QByteArray packet = server.received();
        ASSERT_GE(packet.size(), 8 + 3 * 31);
        EXPECT_EQ(packet.at(0), '\x02') << "a TDS 5.0 login packet";
        EXPECT_EQ(loginField(packet, 1), user.toUtf8());
        EXPECT_EQ(loginField(packet, 2), QByteArray(typed));
    }
}

} // namespace
