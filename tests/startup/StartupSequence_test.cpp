#include "common/Modulo1.h"
#include "startup/InstanceLock.h"
#include "startup/StartupSequence.h"
#include "support/InstallationBuilder.h"
#include "support/RecordingInteraccion.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::BoxKind;
using telvar::Modulo1;
using telvar::StartupSequence;
using telvar::test::InstallationBuilder;
using telvar::test::RecordingInteraccion;
using Box = RecordingInteraccion::Box;

namespace {

class StartupSequenceTest : public testing::Test {
protected:
    StartupSequenceTest() : m_install(m_dir.path()) {}

    StartupSequence sequence() { return StartupSequence(m_m, m_ui, m_dir.path()); }

    QString dataDir() const { return m_install.programDir() + u"Datos/"_s; }
    QString iau() const { return m_install.iauDir(); }

    QTemporaryDir m_dir;
    InstallationBuilder m_install;
    Modulo1 m_m;
    RecordingInteraccion m_ui;
};

TEST_F(StartupSequenceTest, WholeInstallationFillsTheProgramState)
{
    m_install.writeComplete();
    m_install.writePassword(u"Clave#1"_s);
    StartupSequence startup = sequence();
    ASSERT_TRUE(startup.run());
    EXPECT_TRUE(m_ui.boxes.isEmpty());

    EXPECT_EQ(m_m.NomProducto, u"Qualitra"_s);
    EXPECT_EQ(m_m.RutaApp, m_install.programDir());
    EXPECT_EQ(m_m.RutaIAU, m_install.programDir() + u"IAu/"_s);
    EXPECT_EQ(m_m.ArchivoAyuda, m_install.programDir() + u"QLTR.HLP"_s);
    EXPECT_EQ(m_m.Empresa, u"Planta Norte"_s);
    EXPECT_EQ(m_m.CodProducto, u"QLTR"_s);
    EXPECT_EQ(m_m.PassBD, u"Clave#1"_s);
    EXPECT_EQ(m_m.Idioma, 1);
    EXPECT_EQ(m_m.Mensajes(0, 75), InstallationBuilder::anotherInstanceMessage(1));
    EXPECT_EQ(m_m.TipoBD, u"[JET4]"_s);
    EXPECT_EQ(m_m.RutaBD, dataDir());
    EXPECT_EQ(m_m.RutaDatos, dataDir());
    EXPECT_EQ(m_m.CadConexion, u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source="_s + dataDir() +
                                   u"Qualitra.MDB;Jet OLEDB:Database Password=Clave#1;"_s);
    EXPECT_EQ(m_m.NumTurnos, 3);
    EXPECT_EQ(m_m.TurnoClave, (QStringList{QString(), u"M"_s, u"T"_s, u"N"_s}));
    EXPECT_EQ(m_m.TurnoHasta, (QList<qint16>{0, 1400, 2200, 2400}));
    EXPECT_EQ(startup.coverPicturePath(), iau() + u"CARATULA1.JPG"_s);

    std::unique_ptr<QLockFile> lock = startup.takeInstanceLock();
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->isLocked());
    EXPECT_TRUE(QFile::exists(telvar::instanceLockPath(m_install.programDir())));
}

TEST_F(StartupSequenceTest, InstallationFileNamesMatchInAnyCase)
{
    m_install.writeComplete();
    for (const auto& [from, to] : {std::pair{u"QLCompa.iau"_s, u"QLCOMPA.IAU"_s},
                                   {u"QLLang.IAU"_s, u"qllang.iau"_s},
                                   {u"QLDirec.iau"_s, u"QLDIREC.IAU"_s},
                                   {u"QLTurn.IAU"_s, u"qlturn.iau"_s},
                                   {u"CARATULA1.JPG"_s, u"Caratula1.jpg"_s}})
        ASSERT_TRUE(QFile::rename(iau() + from, iau() + to));
    ASSERT_TRUE(QFile::rename(dataDir() + u"Qualitra.MDB"_s, dataDir() + u"QUALITRA.mdb"_s));
    m_install.writeBytes(u"qltrpass.iau"_s, *InstallationBuilder::encodePassword(u"abc"_s));

    StartupSequence startup = sequence();
    ASSERT_TRUE(startup.run());
    EXPECT_TRUE(m_ui.boxes.isEmpty());
    EXPECT_EQ(m_m.PassBD, u"abc"_s);
    EXPECT_EQ(startup.coverPicturePath(), iau() + u"Caratula1.jpg"_s);
    EXPECT_TRUE(m_m.CadConexion.contains(u"Data Source="_s + dataDir() + u"QUALITRA.mdb;"_s));
}

TEST_F(StartupSequenceTest, ServerEntryChosenFromTheMenuTakesTheFirstJetDirectoryForData)
{
    m_install.writeComplete();
    m_install.writeDirectory({u"[JET4],\"/srv/primero/\""_s, u"comentario"_s,
                              u"[JET4],\"/srv/segundo/\""_s,
                              u"[POSTGRESQL],\"127.0.0.1\",\"qualitra\",\"telvar\""_s});
    m_install.writePassword(u"pg"_s);
    m_ui.pickerAnswers.enqueue(u""_s);
    m_ui.pickerAnswers.enqueue(u"3"_s);

    StartupSequence startup = sequence();
    ASSERT_TRUE(startup.run());
    // The only boxes are the two showings of the menu.
    ASSERT_EQ(m_ui.boxes.size(), 2);
    EXPECT_EQ(m_ui.boxes[1].type, Box::Type::ListPicker);
    ASSERT_EQ(m_ui.pickerRequests.size(), 2);
    EXPECT_EQ(m_ui.pickerRequests[0].Title, u"Menú de Bases de Datos (3)"_s);
    EXPECT_EQ(m_ui.pickerRequests[0].Lista, u"1. [JET4] /srv/primero/\n"
                                            "2. [JET4] /srv/segundo/\n"
                                            "3. [POSTGRESQL] 127.0.0.1.qualitra\n"_s);
    EXPECT_EQ(m_ui.pickerRequests[0].Altura, 2220);
    EXPECT_EQ(m_m.TipoBD, u"[POSTGRESQL]"_s);
    EXPECT_EQ(m_m.Servidor, u"127.0.0.1"_s);
    EXPECT_EQ(m_m.BaseDatos, u"qualitra"_s);
    EXPECT_EQ(m_m.UsuarioBD, u"telvar"_s);
    EXPECT_EQ(m_m.RutaBD, u"/srv/primero/"_s);
    EXPECT_EQ(m_m.RutaDatos, u"/srv/primero/"_s);
    EXPECT_EQ(m_m.CadConexion, u"Provider=PostgreSQL;Host=127.0.0.1;Database=qualitra;"
                               "User ID=telvar;Password=pg;"_s);
}

TEST_F(StartupSequenceTest, TwoEntriesTakeTheFirstWithoutAMenu)
{
    m_install.writeComplete();
    m_install.writeDirectory(
        {u"[SQLSERVER],PLANTA,Qualitra,"_s, u"[JET4],\""_s + dataDir() + u"\""_s});
    StartupSequence startup = sequence();
    ASSERT_TRUE(startup.run());
    EXPECT_TRUE(m_ui.pickerRequests.isEmpty());
    EXPECT_EQ(m_m.TipoBD, u"[SQLSERVER]"_s);
    EXPECT_EQ(m_m.CadConexion, u"Provider=SQLOLEDB.1;Persist Security Info=False;"
                               "Data Source=PLANTA;Initial Catalog=Qualitra;"
                               "Integrated Security=SSPI;"_s);
    EXPECT_EQ(m_m.RutaDatos, dataDir());
}

TEST_F(StartupSequenceTest, PasswordWarningsArePlainBoxesAndStartUpGoesOn)
{
    m_install.writeComplete();
    m_install.writeBytes(u"QLTRPASS.IAU"_s, QByteArrayLiteral("\"a b\"\r\n"));
    StartupSequence startup = sequence();
    ASSERT_TRUE(startup.run());
    ASSERT_EQ(m_ui.boxes.size(), 1);
    EXPECT_EQ(m_ui.boxes[0].text, u"Character [ ] is not allowed"_s);
    EXPECT_EQ(m_ui.boxes[0].icono, BoxKind::Plain);
    // 97 - 2, 32 - 4 + 94, 98 - 6
    EXPECT_EQ(m_m.PassBD, u"_z\\"_s);
}

TEST_F(StartupSequenceTest, SecondStartIsRefusedAndTheFirstKeepsItsLock)
{
    m_install.writeComplete();
    StartupSequence first = sequence();
    ASSERT_TRUE(first.run());
    std::unique_ptr<QLockFile> lock = first.takeInstanceLock();

    Modulo1 m2;
    RecordingInteraccion ui2;
    ui2.mousePointer = telvar::PointerShape::Hourglass;
    StartupSequence second(m2, ui2, m_dir.path());
    EXPECT_FALSE(second.run());
    ASSERT_EQ(ui2.boxes.size(), 1);
    EXPECT_EQ(ui2.boxes[0].text, InstallationBuilder::anotherInstanceMessage(1));
    EXPECT_EQ(ui2.boxes[0].icono, BoxKind::Exclamation);
    EXPECT_EQ(ui2.mousePointer, telvar::PointerShape::Default);
    EXPECT_FALSE(second.takeInstanceLock());
    EXPECT_TRUE(lock->isLocked());

    lock.reset();
    Modulo1 m3;
    RecordingInteraccion ui3;
    StartupSequence third(m3, ui3, m_dir.path());
    EXPECT_TRUE(third.run());
}

TEST_F(StartupSequenceTest, LocksLeftByACrashOrByAnotherComputerDoNotStopTheStart)
{
    m_install.writeComplete();
    const QString ours = telvar::instanceLockPath(m_install.programDir());
    for (const auto& [name, host] : {std::pair{"CrashOnThisMachine", QSysInfo::machineHostName()},
                                     {"AnotherComputer", u"otra-pc"_s}}) {
        // A lock written by a process that has ended, naming host.
        QProcess ended;
        ended.start(u"true"_s, {});
        ASSERT_TRUE(ended.waitForStarted());
        const qint64 deadPid = ended.processId();
        ASSERT_TRUE(ended.waitForFinished());
        QFile file(ours);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::number(deadPid) + "\ntelvar\n" + host.toUtf8() + "\n");
        file.close();

        Modulo1 m;
        RecordingInteraccion ui;
        StartupSequence startup(m, ui, m_dir.path());
        EXPECT_TRUE(startup.run()) << name;
        EXPECT_TRUE(ui.boxes.isEmpty()) << name;
        std::unique_ptr<QLockFile> lock = startup.takeInstanceLock();
        ASSERT_TRUE(lock) << name;
        qint64 owner = 0;
        QString ownerHost;
        QString app;
        ASSERT_TRUE(lock->getLockInfo(&owner, &ownerHost, &app)) << name;
        EXPECT_EQ(owner, QCoreApplication::applicationPid()) << name;
    }
}

// One failing row of the start-up: how the installation is spoiled, and the
// one box that must report it ($IAU and $DATA stand for the paths).
struct FailureRow {
    const char* name;
    std::function<void(InstallationBuilder&)> spoil;
    QString text;
    BoxKind kind;
};

void PrintTo(const FailureRow& row, std::ostream* os)
{
    *os << row.name;
}

class StartupFailures : public StartupSequenceTest,
                        public testing::WithParamInterface<FailureRow> {};

TEST_P(StartupFailures, ReportOnceAndEndTheStart)
{
    m_install.writeComplete();
    GetParam().spoil(m_install);
    StartupSequence startup = sequence();
    EXPECT_FALSE(startup.run());
    ASSERT_EQ(m_ui.boxes.size(), 1);
    const QString expected =
        QString(GetParam().text).replace(u"$IAU"_s, iau()).replace(u"$DATA"_s, dataDir());
    EXPECT_EQ(m_ui.boxes[0].type, Box::Type::MessageBox);
    EXPECT_EQ(m_ui.boxes[0].text, expected);
    EXPECT_EQ(m_ui.boxes[0].icono, GetParam().kind);
}

void remove(InstallationBuilder& install, const QString& name)
{
    ASSERT_TRUE(QFile::remove(install.iauDir() + name));
}

// One byte more than bound; the first bytes would pass every other check.
QByteArray oversized(qint64 bound)
{
    QByteArray bytes(bound + 1, 'x');
    bytes.replace(0, 2, "\xFF\xFE");
    return bytes;
}

const FailureRow kFailureRows[] = {
    {"CompanyFileMissing", [](InstallationBuilder& i) { remove(i, u"QLCompa.iau"_s); },
     u"$IAUQLCompa.iau should be a Unicode file"_s, BoxKind::Critical},
    {"CompanyFileBigEndian",
     [](InstallationBuilder& i) { i.writeBytes(u"QLCompa.iau"_s, "\xFE\xFF\0P"); },
     u"$IAUQLCompa.iau should be a Unicode file"_s, BoxKind::Critical},
    {"PasswordLineTooShort",
     [](InstallationBuilder& i) { i.writeBytes(u"QLTRPASS.IAU"_s, "x\r\n"); },
     u"$IAUQLTRPASS.IAU\n\nThe first line holds 1 character(s); the password must stand "
     "between two double quotes."_s,
     BoxKind::Critical},
    // A blank after the closing quote would otherwise become part of a wrong password.
    {"PasswordLineWithABlankAfterTheClosingQuote",
     [](InstallationBuilder& i) { i.writeBytes(u"QLTRPASS.IAU"_s, "\"abc\" \r\n"); },
     u"$IAUQLTRPASS.IAU\n\nThe first line must hold the password between two double quotes, "
     "but it does not end with one: it ends with a blank."_s,
     BoxKind::Critical},
    // Oversized installation files are refused unread, each named in its report.
    {"CompanyFileTooLarge",
     [](InstallationBuilder& i) { i.writeBytes(u"QLCompa.iau"_s, oversized(1024 * 1024)); },
     u"TelvarCarat. Form_Load.\n\n7.- File too large: $IAUQLCompa.iau holds 1048577 bytes; at "
     "most 1048576 are allowed for it"_s,
     BoxKind::Critical},
    {"PasswordFileTooLarge",
     [](InstallationBuilder& i) { i.writeBytes(u"QLTRPASS.IAU"_s, oversized(1024 * 1024)); },
     u"TelvarCarat. Form_Load.\n\n7.- File too large: $IAUQLTRPASS.IAU holds 1048577 bytes; at "
     "most 1048576 are allowed for it"_s,
     BoxKind::Critical},
    {"LanguageFileTooLarge",
     [](InstallationBuilder& i) { i.writeBytes(u"QLLang.IAU"_s, oversized(16 * 1024 * 1024)); },
     u"$IAUQLLang.IAU\n\nFile too large: $IAUQLLang.IAU holds 16777217 bytes; at most 16777216 "
     "are allowed for it."_s,
     BoxKind::Critical},
    {"DirectoryFileTooLarge",
     [](InstallationBuilder& i) { i.writeBytes(u"QLDirec.iau"_s, oversized(1024 * 1024)); },
     u"TelvarCarat. Form_Load.\n\n7.- File too large: $IAUQLDirec.iau holds 1048577 bytes; at "
     "most 1048576 are allowed for it"_s,
     BoxKind::Critical},
    {"DirectoryWithMoreEntriesThanAMenuCanOffer",
     [](InstallationBuilder& i) { i.writeDirectory(QStringList(1001, u"[JET4],/d/"_s)); },
     u"TelvarCarat. Form_Load.\n\n9.- Subscript out of range: $IAUQLDirec.iau lists more than "
     "1000 databases (entry 1001 at line 1002)"_s,
     BoxKind::Critical},
    {"ShiftFileTooLarge",
     [](InstallationBuilder& i) { i.writeBytes(u"QLTurn.IAU"_s, oversized(1024 * 1024)); },
     u"TelvarCarat. Form_Load.\n\n7.- File too large: $IAUQLTurn.IAU holds 1048577 bytes; at "
     "most 1048576 are allowed for it"_s,
     BoxKind::Critical},
    {"LanguageFileNotUnicode",
     [](InstallationBuilder& i) { i.writeBytes(u"QLLang.IAU"_s, "1\r\n0\r\n"); },
     u"$IAUQLLang.IAU must be Unicode"_s, BoxKind::Critical},
    {"DirectoryFileMissing", [](InstallationBuilder& i) { remove(i, u"QLDirec.iau"_s); },
     u"TelvarCarat. Form_Load.\n\n53.- File not found: $IAUQLDirec.iau"_s, BoxKind::Critical},
    {"DirectoryFileOldFormat",
     [](InstallationBuilder& i) { i.write8Bit(u"QLDirec.iau"_s, {u"[JET4],/srv/q/"_s}); },
     u"Please update the $IAUQLDIREC.IAU format!"_s, BoxKind::Critical},
    {"DirectoryWithoutEntries",
     [](InstallationBuilder& i) { i.writeDirectory({u"[jet4],/srv/q/"_s}); },
     u"$IAUQLDIREC.IAU\n\nEl archivo no lista ninguna base de datos: no tiene ninguna entrada "
     "[JET4] ni de servidor."_s,
     BoxKind::Critical},
    {"DirectoryWithoutEntriesInTheChosenLanguage",
     [](InstallationBuilder& i) {
         i.writeLanguage(InstallationBuilder::standardLanguage(2));
         i.writeDirectory({u"[jet4],/srv/q/"_s});
     },
     u"$IAUQLDIREC.IAU\n\nThe file lists no database: it has no [JET4] entry and no server "
     "entry."_s,
     BoxKind::Critical},
    {"JetDatabaseMissing",
     [](InstallationBuilder& i) {
         ASSERT_TRUE(QFile::remove(i.programDir() + u"Datos/Qualitra.MDB"_s));
     },
     u"TelvarCarat. FormLoad\n$DATAQualitra.MDB\nNo se encuentra la base de datos.\nRevise el "
     "archivo $IAUQLDIREC.IAU"_s,
     BoxKind::Critical},
    {"JetDatabaseReadOnly",
     [](InstallationBuilder& i) {
         ASSERT_TRUE(QFile::setPermissions(i.programDir() + u"Datos/Qualitra.MDB"_s,
                                           QFileDevice::ReadOwner | QFileDevice::ReadGroup));
     },
     u"TelvarCarat. Form_Load.\n\n$DATAQualitra.MDB\n\nLa base de datos es de sólo lectura."_s,
     BoxKind::Exclamation},
    {"MessagesInTheChosenLanguage",
     [](InstallationBuilder& i) {
         i.writeLanguage(InstallationBuilder::standardLanguage(2));
         ASSERT_TRUE(QFile::remove(i.programDir() + u"Datos/Qualitra.MDB"_s));
     },
     u"TelvarCarat. FormLoad\n$DATAQualitra.MDB\nThe database cannot be found.\nCheck the file "
     "$IAUQLDIREC.IAU"_s,
     BoxKind::Critical},
    {"ShiftFileMissing", [](InstallationBuilder& i) { remove(i, u"QLTurn.IAU"_s); },
     u"TelvarCarat. Form_Load.\n\n53.- File not found: $IAUQLTurn.IAU"_s, BoxKind::Critical},
    {"ShiftCountNotANumber",
     [](InstallationBuilder& i) {
         i.write8Bit(u"QLTurn.IAU"_s, {u"dos"_s, u"M,1400"_s});
     },
     u"TelvarCarat. Form_Load.\n\n13.- Type mismatch: field 1 (line 1) of $IAUQLTurn.IAU is "
     "\"dos\", not a whole number"_s,
     BoxKind::Critical},
    {"CoverPictureMissing", [](InstallationBuilder& i) { remove(i, u"CARATULA1.JPG"_s); },
     u"TelvarCarat. Form_Load.\n\n53.- No se encuentra la imagen de portada $IAUCARATULA1.JPG"_s,
     BoxKind::Critical},
    {"CoverPictureOfTheChosenLanguageMissing",
     [](InstallationBuilder& i) {
         i.writeLanguage(InstallationBuilder::standardLanguage(2));
         remove(i, u"CARATULA2.JPG"_s);
     },
     u"TelvarCarat. Form_Load.\n\n53.- The cover picture $IAUCARATULA2.JPG is not found"_s,
     BoxKind::Critical},
};

INSTANTIATE_TEST_SUITE_P(Rows, StartupFailures, testing::ValuesIn(kFailureRows),
                         [](const testing::TestParamInfo<FailureRow>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

} // namespace
