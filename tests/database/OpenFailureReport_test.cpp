// What a failed opening tells the person: the file or the server by its
// name, and what is wrong with it, in the installation's language; never the
// connection string, its provider or its password.
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "database/OpenDBOK.h"
#include "support/DamagedFiles.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"
#include "support/RecordingInteraccion.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using namespace telvar;
using telvar::test::RecordingInteraccion;

const QString kPassword = QStringLiteral("Secreta-77");

// While it lives, the calling thread is held to file permissions even when
// it runs as root (whose overriding capabilities are set aside, not given
// up), so that an unreadable file is unreadable to the test.
class HeldToFilePermissions final {
public:
    HeldToFilePermissions()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        for (const unsigned cap : {unsigned{CAP_DAC_OVERRIDE}, unsigned{CAP_DAC_READ_SEARCH}})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        m_changed = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~HeldToFilePermissions()
    {
        if (m_changed)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    HeldToFilePermissions(const HeldToFilePermissions&) = delete;
    HeldToFilePermissions& operator=(const HeldToFilePermissions&) = delete;

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_changed = false;
};

// One way an opening fails: the database it is given (made by prepare in
// dir), and what the report must say, in each language, %1 standing for the
// file or the server.
struct FailureCase {
    const char* name;
    std::function<QString(const QString& dir)> prepare; // the connection string
    long long number;
    const char* named;        // %1: what the report must name
    const char* causeSpanish; // the cause line after "number.- "
    const char* causeEnglish;
    const char* databaseSpanish; // the line that names the database
    const char* databaseEnglish;
    bool heldToPermissions = false;
};

QString fileIn(const QString& dir, const char* name)
{
    return QDir(dir).filePath(QString::fromLatin1(name));
}

quint16 refusingPort()
{
    static const quint16 port = telvar::test::unusedLocalPort();
    return port;
}

QString refusingServer()
{
    return QStringLiteral("127.0.0.1:") + QString::number(refusingPort());
}

const FailureCase kCases[] = {
    {"MissingFile",
     [](const QString& dir) { return jetConnectionString(fileIn(dir, "x.sqlite"), kPassword); },
     -2147467259, "x.sqlite", "No existe el archivo %1", "The file %1 does not exist",
     "Archivo de base de datos: %1", "Database file: %1"},
    {"MissingFolder",
     [](const QString& dir) {
         return jetConnectionString(fileIn(dir, "falta/x.sqlite"), kPassword);
     },
     -2147467259, "falta/x.sqlite", "No existe la carpeta", "The folder",
     "Archivo de base de datos: %1", "Database file: %1"},
    {"UnreadableFile",
     [](const QString& dir) {
         const QString file = fileIn(dir, "cerrado.sqlite");
         EXPECT_TRUE(EngineLayer::createFileDatabase(file, kPassword).ok());
         EXPECT_TRUE(QFile::setPermissions(file, QFileDevice::Permissions()));
         return jetConnectionString(file, kPassword);
     },
     -2147467259, "cerrado.sqlite", "No se puede leer el archivo %1: ",
     "The file %1 cannot be read: ", "Archivo de base de datos: %1", "Database file: %1", true},
    {"NotADatabase",
     [](const QString& dir) {
         const QString file = fileIn(dir, "informe.sqlite");
         telvar::test::DamagedFiles::makeTextFile(file);
         return jetConnectionString(file, kPassword);
     },
     3343, "informe.sqlite", "El archivo %1 no es una base de datos: ",
     "The file %1 is not a database: ", "Archivo de base de datos: %1", "Database file: %1"},
    {"ServerRefuses",
     [](const QString&) {
         return ArmaConexion(ConnectionTarget{QStringLiteral("[POSTGRESQL]"), refusingServer(),
                                              QStringLiteral("telvar"), kPassword},
                             QStringLiteral("qualitra"));
     },
     -2147467259, "127.0.0.1", "No se puede conectar con el servidor %1 (base de datos qualitra): ",
     "Cannot connect to the server %1 (database qualitra): ",
     "Base de datos qualitra en el servidor %1 (PostgreSQL), usuario telvar",
     "Database qualitra on the server %1 (PostgreSQL), user telvar"},
};

// Cases print as their names in the test's name and messages.
void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class OpenFailureReport : public testing::TestWithParam<FailureCase> {};

TEST_P(OpenFailureReport, NamesTheFileOrServerAndTheCauseInEachLanguage)
{
    const FailureCase& c = GetParam();
    for (const int idioma : {1, 2}) {
        SCOPED_TRACE(idioma);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString conexion = c.prepare(dir.path());
        const QString where = QString::fromLatin1(c.named).startsWith(QLatin1String("127."))
                                  ? refusingServer()
                                  : fileIn(dir.path(), c.named);

        Modulo1 m;
        telvar::test::setTestMessages(m);
        m.Idioma = static_cast<qint16>(idioma);
        RecordingInteraccion ui;
        OpenDBOKResult opened;
        {
            std::optional<HeldToFilePermissions> held;
            if (c.heldToPermissions)
                held.emplace();
            opened = OpenDBOK(m, ui, OpenRequest{conexion, QStringLiteral("[JET4]"), true});
        }
        ASSERT_FALSE(opened.ok());
        ASSERT_EQ(ui.boxes.size(), 1);
        const QString report = ui.boxes.first().text;
        SCOPED_TRACE(report.toStdString());

        const auto expected = [&](const char* text) {
            return QString::fromUtf8(text).replace(QStringLiteral("%1"), where);
        };
        EXPECT_TRUE(report.contains(QString::number(c.number) + QStringLiteral(".- ") +
                                    expected(idioma == 2 ? c.causeEnglish : c.causeSpanish)));
        EXPECT_TRUE(report.contains(expected(idioma == 2 ? c.databaseEnglish : c.databaseSpanish)));
        EXPECT_TRUE(report.contains(where));
        for (const char* hidden : {"Provider", "OLEDB", "Jet", "Password="})
            EXPECT_FALSE(report.contains(QLatin1String(hidden))) << hidden;
        EXPECT_FALSE(report.contains(kPassword));
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, OpenFailureReport, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FailureCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

} // namespace
