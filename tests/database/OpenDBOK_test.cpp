// OpenDBOK: every row of its error table caused for real, the password
// prompt, compact and repair, the hourglass and the Avisa rule.

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/OpenDBOK.h"
#include "database/OpenDBOKReport.h"
#include "demo/QualitraDemo.h"
#include "support/DamagedFiles.h"
#include "support/EngineDatabase.h"
#include "support/LocalPorts.h"
#include "support/OdbcConfiguration.h"
#include "support/RecordingInteraccion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace telvar;
using telvar::test::OdbcConfiguration;
using telvar::test::PostgresTestServer;
using telvar::test::RecordingInteraccion;
namespace DamagedFiles = telvar::test::DamagedFiles;
using Box = RecordingInteraccion::Box;

const QString LF = QStringLiteral("\n");
const QString CRLF = QStringLiteral("\r\n");

QString report(const QString& source, long long number, const QString& description,
               const QString& database)
{
    return QStringLiteral("Module1. OpenDBOK.") + LF + LF + source + LF + QString::number(number) +
           QStringLiteral(".- ") + description + LF + LF + database + LF + LF;
}

// How the reports name a file database (the language table's language 1).
QString fileLine(const QString& file)
{
    return QStringLiteral("Archivo de base de datos: ") + file;
}

class OpenDBOKTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        telvar::test::setTestMessages(m);
        m.PassBD = QStringLiteral("clave");
    }
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString jet(const QString& file) const { return jetConnectionString(file, m.PassBD); }
    // The connection string of the entry in target, with the password in m.
    QString arma(const QString& ruta) const
    {
        ConnectionTarget entry = target;
        entry.PassBD = m.PassBD;
        return ArmaConexion(entry, ruta);
    }

    // Runs OpenDBOK for the engine in target and checks what holds after
    // every call: the pointer is back to default, and cn is open exactly
    // when the result is true. conexion becomes the string last tried.
    bool open(QString& conexion, bool avisa = true)
    {
        OpenDBOKResult result = OpenDBOK(m, ui, {conexion, target.TipoBD, avisa});
        keepTypedPassword(m, result);
        const bool ok = result.ok();
        EXPECT_EQ(ok, !result.error.has_value());
        conexion = result.Conexion;
        cn = std::move(result.cn);
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);
        EXPECT_FALSE(ui.pointerChanges.isEmpty());
        if (!ui.pointerChanges.isEmpty()) {
            EXPECT_EQ(ui.pointerChanges.first(), PointerShape::Hourglass);
        }
        EXPECT_EQ(ok, cn != nullptr && cn->isOpen());
        return ok;
    }

    QTemporaryDir dir;
    Modulo1 m;
    ConnectionTarget target{QStringLiteral("[JET4]"), {}, {}, {}};
    RecordingInteraccion ui;
    std::unique_ptr<Connection> cn;
};

TEST_F(OpenDBOKTest, OpensSilentlyUnderTheHourglass)
{
    ASSERT_TRUE(EngineLayer::createFileDatabase(path("Qualitra.MDB"), m.PassBD).ok());
    QString conexion = jet(path("Qualitra.MDB"));
    const QString before = conexion;
    EXPECT_TRUE(open(conexion));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(ui.pointerChanges,
              (QList<PointerShape>{PointerShape::Hourglass, PointerShape::Default}));
    EXPECT_EQ(conexion, before);
}

TEST_F(OpenDBOKTest, MissingFileIsReportedForEightSecondsOnlyWhenAvisa)
{
    QString conexion = jet(path("NoEsta.MDB"));
    EXPECT_FALSE(open(conexion, true));
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& box = ui.boxes.first();
    EXPECT_EQ(box.type, Box::Type::MensaBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_EQ(box.duracion, 8);
    EXPECT_EQ(box.text, report(QStringLiteral("SQLite"), -2147467259,
                               QStringLiteral("No existe el archivo ") + path("NoEsta.MDB"),
                               fileLine(path("NoEsta.MDB"))) +
                            CRLF);
    EXPECT_FALSE(box.text.contains(m.PassBD));

    ui.boxes.clear();
    EXPECT_FALSE(open(conexion, false));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("NoEsta.MDB")));
}

TEST_F(OpenDBOKTest, UnknownEngineTagIsReportedThroughTheLastRow)
{
    target = ConnectionTarget{QStringLiteral("[DBASE]"), {}, {}, {}};
    QString conexion = arma(path("x.dbf"));
    ASSERT_TRUE(conexion.isEmpty());
    EXPECT_FALSE(open(conexion, false)); // Avisa silences only -2147467259
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().type, Box::Type::MensaBox);
    EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
    EXPECT_EQ(ui.boxes.first().duracion, 5);
    EXPECT_EQ(ui.boxes.first().text,
              report(QStringLiteral("Engine layer"), 3001,
                     QStringLiteral("No se ha elegido ninguna base de datos"), QString()));
}

TEST_F(OpenDBOKTest, MissingDriverIsAnExclamationBox)
{
    OdbcConfiguration::write(true);
    target = ConnectionTarget{
        QStringLiteral("[INFORMIX10]"), QStringLiteral("ifxsrv"), QStringLiteral("informix"), {}};
    QString conexion = arma(QStringLiteral("qualitra"));
    EXPECT_FALSE(open(conexion, false));
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& box = ui.boxes.first();
    EXPECT_EQ(box.type, Box::Type::MessageBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_TRUE(box.text.startsWith(
        QStringLiteral("Module1. OpenDBOK.") + LF + LF + QStringLiteral("ODBC (Informix)") + LF +
        QStringLiteral("3706.- No está instalado el controlador de Informix: ")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(LF + LF +
                                  QStringLiteral("Base de datos qualitra en el servidor ifxsrv "
                                                 "(Informix), usuario informix") +
                                  LF + LF + LF))
        << box.text.toStdString();
}

TEST_F(OpenDBOKTest, BrokenDriverLibraryAddsTheReinstallMessage)
{
    const QString broken = path("libdbodbc9.so");
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a shared library");
    }
    OdbcConfiguration::write(true, QStringLiteral("[SQL Anywhere 9]\nDriver=") + broken +
                                       QStringLiteral("\n"));
    target = ConnectionTarget{
        QStringLiteral("[SYBASE9]"), QStringLiteral("asa"), QStringLiteral("dba"), {}};
    QString conexion = arma(QStringLiteral("qualitra"));
    EXPECT_FALSE(open(conexion));
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& box = ui.boxes.first();
    EXPECT_EQ(box.type, Box::Type::MensaBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_EQ(box.duracion, 5);
    EXPECT_TRUE(box.text.contains(LF + QStringLiteral("-2147220999.- "))) << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(
        QStringLiteral("Base de datos qualitra en el servidor asa (SQL Anywhere), usuario dba") +
        LF + LF + m.Mensajes(4, 13) + LF + LF))
        << box.text.toStdString();
}

TEST_F(OpenDBOKTest, ServerRefusingThePasswordIsAnExclamationBox)
{
    TELVAR_REQUIRE_POSTGRES();
    const auto s = *PostgresTestServer::settings();
    target = ConnectionTarget{QStringLiteral("[POSTGRESQL]"), s.servidor(), s.user, {}};
    m.PassBD = QStringLiteral("no-es-esta");
    QString conexion = arma(s.maintenanceDatabase);
    EXPECT_FALSE(open(conexion, false));
    ASSERT_EQ(ui.boxes.size(), 1);
    const Box& box = ui.boxes.first();
    EXPECT_EQ(box.type, Box::Type::MessageBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_TRUE(
        box.text.contains(QStringLiteral("PostgreSQL") + LF + QStringLiteral("-2147217843.- ")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QLatin1String("password authentication failed")));
    EXPECT_TRUE(box.text.contains(QStringLiteral("El servidor ") + s.servidor() +
                                  QStringLiteral(" rechaza al usuario ") + s.user))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(QStringLiteral("Base de datos ") + s.maintenanceDatabase +
                                  QStringLiteral(" en el servidor ") + s.servidor() +
                                  QStringLiteral(" (PostgreSQL), usuario ") + s.user + LF + LF +
                                  LF))
        << box.text.toStdString();
    EXPECT_FALSE(box.text.contains(QLatin1String("no-es-esta")));
}

TEST_F(OpenDBOKTest, StoppedServerIsAnUnspecifiedFailure)
{
    target = ConnectionTarget{QStringLiteral("[POSTGRESQL]"),
                              QStringLiteral("127.0.0.1:") +
                                  QString::number(telvar::test::unusedLocalPort()),
                              QStringLiteral("telvar"),
                              {}};
    QString conexion = arma(QStringLiteral("qualitra"));
    EXPECT_FALSE(open(conexion, true));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().duracion, 8);
    EXPECT_TRUE(ui.boxes.first().text.contains(QLatin1String("-2147467259.- ")));
    EXPECT_TRUE(ui.boxes.first().text.endsWith(LF + LF + CRLF));
    ui.boxes.clear();
    EXPECT_FALSE(open(conexion, false));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST(OpenDBOKReport, SslSecurityErrorGetsTheTlsHint)
{
    Modulo1 m;
    RecordingInteraccion ui;
    const Error error{-2147467259, QStringLiteral("ODBC (SQL Server)"),
                      QStringLiteral("[DBNETLIB]SSL Security error")};
    const QString R = openFailureReport(
        error, QStringLiteral("Provider=SQLOLEDB.1;Data Source=S;User ID=u;Password=p;"), 1);
    showOpenFailure(m, ui, error.number, R, true);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().text,
              R + QStringLiteral("If using TLS please enable version 1.0") + CRLF + CRLF);
    EXPECT_EQ(ui.boxes.first().duracion, 8);
    showOpenFailure(m, ui, error.number, R, false);
    EXPECT_EQ(ui.boxes.size(), 1);
}

TEST_F(OpenDBOKTest, WrongPasswordPromptsAndTheAnswerIsUsed)
{
    ASSERT_TRUE(
        EngineLayer::createFileDatabase(path("Qualitra.MDB"), QStringLiteral("nueva")).ok());
    QString conexion = jet(path("Qualitra.MDB")); // carries "clave"
    ui.inputAnswers.enqueue(QStringLiteral("otra"));
    ui.inputAnswers.enqueue(QStringLiteral("nueva"));
    EXPECT_TRUE(open(conexion));
    ASSERT_EQ(ui.boxes.size(), 2);
    const QString named = fileLine(path("Qualitra.MDB"));
    for (const Box& box : ui.boxes) {
        EXPECT_EQ(box.type, Box::Type::InputBox);
        EXPECT_EQ(box.text, named + LF + m.Mensajes(0, 81));
    }
    EXPECT_EQ(m.PassBD, QStringLiteral("nueva"));
    EXPECT_EQ(conexion, QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                            path("Qualitra.MDB") +
                            QStringLiteral(";Jet OLEDB:Database Password=nueva;"));
}

TEST_F(OpenDBOKTest, PasswordsHoldingSemicolonsAreHiddenAndAccepted)
{
    const QString password = QStringLiteral("ab;cd");
    ASSERT_TRUE(EngineLayer::createFileDatabase(path("Qualitra.MDB"), password).ok());
    m.PassBD = password;
    QString conexion = jet(path("Qualitra.MDB"));
    EXPECT_TRUE(open(conexion));
    EXPECT_TRUE(ui.boxes.isEmpty());
    cn.reset();

    // A wrong one: the prompt shows nothing of it, and the typed password,
    // semicolon and all, opens the file.
    m.PassBD = QStringLiteral("zz;yy;xx");
    conexion = jet(path("Qualitra.MDB"));
    ui.inputAnswers.enqueue(password);
    EXPECT_TRUE(open(conexion));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().text, fileLine(path("Qualitra.MDB")) + LF + m.Mensajes(0, 81));
    EXPECT_FALSE(ui.boxes.first().text.contains(QLatin1String("yy")));
    EXPECT_EQ(m.PassBD, password);
    EXPECT_EQ(conexion, jet(path("Qualitra.MDB")));
}

TEST_F(OpenDBOKTest, AbandonedPasswordPromptReturnsFalseWithoutMessage)
{
    ASSERT_TRUE(
        EngineLayer::createFileDatabase(path("Qualitra.MDB"), QStringLiteral("nueva")).ok());
    const std::optional<QString> answers[] = {QString(), std::nullopt};
    for (const auto& answer : answers) {
        ui.boxes.clear();
        ui.inputAnswers.clear();
        ui.inputAnswers.enqueue(answer);
        QString conexion = jet(path("Qualitra.MDB"));
        const QString before = conexion;
        EXPECT_FALSE(open(conexion));
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes.first().type, Box::Type::InputBox);
        EXPECT_EQ(m.PassBD, QStringLiteral("clave"));
        EXPECT_EQ(conexion, before);
    }
}

TEST_F(OpenDBOKTest, DamagedJetFileIsRepairedInPlaceSilently)
{
    const QString file = path("Qualitra.MDB");
    DamagedFiles::makeFileWithLostFreeSpace(file, m.PassBD, 120);
    const QByteArray damaged = DamagedFiles::contents(file);
    QString conexion = jet(file);
    EXPECT_TRUE(open(conexion));
    EXPECT_TRUE(ui.boxes.isEmpty());
    cn.reset();
    EXPECT_EQ(DamagedFiles::countRows(file, m.PassBD), 120);
    EXPECT_EQ(DamagedFiles::contents(file + QStringLiteral(".bak")), damaged);
    // Still protected by the same password.
    auto wrong = EngineLayer::open(jetConnectionString(file, QStringLiteral("otra")));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error().number, ErrorNumber::WrongPassword);
}

struct UnrepairableCase {
    const char* name;
    void (*make)(const QString& path, const QString& pass);
    long long number;
};

const UnrepairableCase kUnrepairable[] = {
    {"TextFile", [](const QString& p, const QString&) { DamagedFiles::makeTextFile(p); },
     ErrorNumber::NotADatabase},
    {"HalfFile",
     [](const QString& p, const QString& pass) { DamagedFiles::makeHalfFile(p, pass, 3000); },
     ErrorNumber::DamagedFile},
};

TEST_F(OpenDBOKTest, UnrepairableFilesAreReportedAndLeftAsTheyWere)
{
    for (const UnrepairableCase& c : kUnrepairable) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        const QString file = dir.filePath(QString::fromUtf8(c.name) + QStringLiteral(".MDB"));
        c.make(file, m.PassBD);
        const QByteArray before = DamagedFiles::contents(file);
        QString conexion = jet(file);
        EXPECT_FALSE(open(conexion, false));
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MensaBox);
        EXPECT_EQ(box.icono, BoxKind::Exclamation);
        EXPECT_EQ(box.duracion, 5);
        EXPECT_TRUE(box.text.contains(LF + QString::number(c.number) + QStringLiteral(".- ")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QLatin1String("Compact and repair")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.endsWith(fileLine(file) + LF + LF));
        EXPECT_EQ(DamagedFiles::contents(file), before);
    }
    // Nothing but the damaged files themselves is left behind.
    QStringList expected;
    for (const UnrepairableCase& c : kUnrepairable)
        expected.append(QString::fromUtf8(c.name) + QStringLiteral(".MDB"));
    expected.sort();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

TEST_F(OpenDBOKTest, DamagedFileOutsideAJetInstallationIsNotRepaired)
{
    // A server installation opening a damaged file database: no repair, one
    // more attempt, then the report.
    target = ConnectionTarget{QStringLiteral("[SQLSERVER]"), {}, {}, {}};
    const QString file = path("TLVConf.mdb");
    DamagedFiles::makeFileWithLostFreeSpace(file, m.PassBD, 10);
    const QByteArray before = DamagedFiles::contents(file);
    QString conexion = jet(file);
    EXPECT_FALSE(open(conexion));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes.first().duracion, 5);
    EXPECT_TRUE(ui.boxes.first().text.contains(QLatin1String("3049.- ")));
    EXPECT_EQ(ui.pointerChanges,
              (QList<PointerShape>{PointerShape::Hourglass, PointerShape::Default,
                                   PointerShape::Hourglass, PointerShape::Default}));
    EXPECT_EQ(DamagedFiles::contents(file), before);
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".bak")));
}

} // namespace

namespace {

TEST_F(OpenDBOKTest, ConfigFileThatLostAnIndexPageIsRepairedWithEveryRow)
{
    const QString file = path("TLVConf.mdb");
    DamagedFiles::makeConfigWithLostIndexPage(file, m.PassBD);
    ASSERT_EQ(EngineLayer::open(jet(file)).error().number, ErrorNumber::DamagedFile);
    QString conexion = jet(file);
    ASSERT_TRUE(open(conexion));
    EXPECT_TRUE(ui.boxes.isEmpty()) << ui.boxes.value(0).text.toStdString();
    for (const auto& [table, rows] : {std::pair{"HTMCONFI", 12}, std::pair{"HTMRELOJ", 10}}) {
        auto counted =
            cn->exec(QStringLiteral("SELECT count(*) FROM ") + QString::fromLatin1(table));
        ASSERT_TRUE(counted.ok() && counted.value().next()) << table;
        EXPECT_EQ(counted.value().value(0).toInt(), rows) << table;
    }
}

// Schema entries planted in a damaged file: statements that are not a
// declaration of their own entry must never run during the repair.
TEST_F(OpenDBOKTest, RepairNeverRunsStatementsPlantedInTheSchema)
{
    const QString other = path("Otra.MDB");
    ASSERT_TRUE(demo::createQualitraDemoFile(other, m.PassBD).ok());
    const auto countUsers = [&] {
        auto cn2 = EngineLayer::open(jet(other));
        if (!cn2)
            return -1;
        auto counted = cn2.value()->exec(QStringLiteral("SELECT count(*) FROM USU"));
        return counted && counted.value().next() ? counted.value().value(0).toInt() : -1;
    };
    const int users = countUsers();
    ASSERT_GT(users, 0);
    const QString created = path("Nuevo.MDB");
    const QString attachOther =
        QStringLiteral("ATTACH DATABASE '") + other + QStringLiteral("' AS v");
    const QString attachNew =
        QStringLiteral("ATTACH DATABASE '") + created + QStringLiteral("' AS v");
    using Planted = DamagedFiles::PlantedEntry;
    const struct {
        const char* name;
        QList<Planted> entries;
    } cases[] = {
        {"EmptiesAnotherFile",
         {{QStringLiteral("table"), QStringLiteral("p1"), QStringLiteral("COMMIT")},
          {QStringLiteral("table"), QStringLiteral("p2"), attachOther},
          {QStringLiteral("table"), QStringLiteral("p3"), QStringLiteral("DELETE FROM v.USU")},
          {QStringLiteral("table"), QStringLiteral("p4"), QStringLiteral("BEGIN")}}},
        {"CreatesANewFile",
         {{QStringLiteral("table"), QStringLiteral("p1"), QStringLiteral("COMMIT")},
          {QStringLiteral("table"), QStringLiteral("p2"), attachNew},
          {QStringLiteral("table"), QStringLiteral("p3"), QStringLiteral("CREATE TABLE v.t (a)")},
          {QStringLiteral("table"), QStringLiteral("p4"), QStringLiteral("BEGIN")}}},
        {"HidesASecondStatementInADeclaration",
         {{QStringLiteral("table"), QStringLiteral("p1"),
           QStringLiteral("CREATE TABLE p1 (a); ") + attachOther},
          {QStringLiteral("table"), QStringLiteral("p2"), QStringLiteral("COMMIT")}}},
        {"DeclaresInAnotherDatabase",
         {{QStringLiteral("table"), QStringLiteral("t"), QStringLiteral("CREATE TABLE v.t (a)")}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        const QString file = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".MDB"));
        DamagedFiles::makeFileWithPlantedSchema(file, m.PassBD, c.entries);
        const QByteArray before = DamagedFiles::contents(file);
        QString conexion = jet(file);
        EXPECT_FALSE(open(conexion));
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_TRUE(ui.boxes.first().text.contains(QLatin1String("Compact and repair")))
            << ui.boxes.first().text.toStdString();
        EXPECT_EQ(DamagedFiles::contents(file), before);
        EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".bak")));
        EXPECT_EQ(countUsers(), users);
        EXPECT_FALSE(QFileInfo::exists(created));
    }
}

} // namespace
