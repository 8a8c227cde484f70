#include "startup/DatabaseDirectory.h"
#include "support/InstallationBuilder.h"
#include "support/RecordingInteraccion.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::DatabaseDirectory;
using telvar::Result;
using telvar::test::InstallationBuilder;
using telvar::test::RecordingInteraccion;

namespace {

class DatabaseDirectoryTest : public testing::Test {
protected:
    DatabaseDirectoryTest() : m_install(m_dir.path()) {}

    Result<DatabaseDirectory> read(const QByteArray& bytes)
    {
        return DatabaseDirectory::read(m_install.writeBytes(u"QLDirec.iau"_s, bytes));
    }

    QTemporaryDir m_dir;
    InstallationBuilder m_install;
};

TEST_F(DatabaseDirectoryTest, ThreeEntriesMakeTheMenu)
{
    const Result<DatabaseDirectory> directory =
        read("[IMAGE],\"C:\\QUALITRA\\IMAGENES\\\"\r\n"
             "[JET4],\"/srv/qualitra/\"\r\n"
             "[SQLSERVER],\"PLANTA01\",\"Qualitra\",\"sa\"\r\n"
             "[JET4],/srv/otra/\r\n");
    ASSERT_TRUE(directory.ok());
    ASSERT_TRUE(directory.value().hasCurrentFormat());
    ASSERT_EQ(directory.value().entries().size(), 3);
    EXPECT_EQ(directory.value().menuText(), u"1. [JET4] /srv/qualitra/\n"
                                            "2. [SQLSERVER] PLANTA01.Qualitra\n"
                                            "3. [JET4] /srv/otra/\n"_s);
    const telvar::ListPickerRequest menu = directory.value().menu();
    EXPECT_EQ(menu.Title, u"Menú de Bases de Datos (3)"_s);
    EXPECT_EQ(menu.Lista, directory.value().menuText());
    EXPECT_TRUE(menu.OmitCancel);
    EXPECT_EQ(menu.Altura, 2220);
    EXPECT_EQ(menu.ColorFondo, 231 + 256 * 243 + 65536 * 231);
    EXPECT_EQ(menu.XPos, 0);
    EXPECT_EQ(menu.YPos, 0);
    EXPECT_EQ(directory.value().firstJetDirectory(), u"/srv/qualitra/"_s);
}

TEST_F(DatabaseDirectoryTest, MenuCountsFromOneWithoutPadding)
{
    QByteArray bytes("[IMAGE],x\r\n");
    for (int i = 1; i <= 11; ++i)
        bytes += "[JET4],/d" + QByteArray::number(i) + "/\r\n";
    const Result<DatabaseDirectory> directory = read(bytes);
    ASSERT_TRUE(directory.ok());
    EXPECT_TRUE(directory.value().menuText().endsWith(u"\n10. [JET4] /d10/\n11. [JET4] /d11/\n"_s));
    EXPECT_EQ(directory.value().menu().Title, u"Menú de Bases de Datos (11)"_s);
    EXPECT_EQ(directory.value().menu().Altura, 210 * 11 + 1590);
}

TEST_F(DatabaseDirectoryTest, StrayFieldsAndLowerCaseTagsAreSkipped)
{
    const Result<DatabaseDirectory> directory = read("[IMAGE],x\r\n"
                                                     "comment\r\n"
                                                     "[jet4],/lower/\r\n"
                                                     "[JET4],/first/\r\n"
                                                     "\r\n"
                                                     " [SQLSERVER] ,srv,db,usr\r\n"
                                                     "\"[JET4] \",/blank/\r\n"
                                                     "[POSTGRESQL],localhost,qualitra,telvar\r\n");
    ASSERT_TRUE(directory.ok());
    const QList<telvar::DatabaseEntry>& entries = directory.value().entries();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].TipoBD, u"[JET4]"_s);
    EXPECT_EQ(entries[0].RutaBD, u"/first/"_s);
    // An unquoted tag loses its surrounding blanks like any field.
    EXPECT_EQ(entries[1].TipoBD, u"[SQLSERVER]"_s);
    EXPECT_EQ(entries[1].Servidor, u"srv"_s);
    EXPECT_EQ(entries[1].BaseDatos, u"db"_s);
    EXPECT_EQ(entries[1].UsuarioBD, u"usr"_s);
    EXPECT_EQ(entries[2].TipoBD, u"[POSTGRESQL]"_s);
    EXPECT_EQ(entries[2].Servidor, u"localhost"_s);
    EXPECT_EQ(entries[2].BaseDatos, u"qualitra"_s);
    EXPECT_EQ(entries[2].UsuarioBD, u"telvar"_s);
    EXPECT_EQ(directory.value().menuText(), u"1. [JET4] /first/\n"
                                            "2. [SQLSERVER] srv.db\n"
                                            "3. [POSTGRESQL] localhost.qualitra\n"_s);
}

TEST_F(DatabaseDirectoryTest, ImageMarkIsComparedTrimmed)
{
    for (const QByteArray& bytes :
         {QByteArrayLiteral("IMAGE,x,[JET4],/a/"), QByteArrayLiteral("[image],x,[JET4],/a/"),
          QByteArrayLiteral(""), QByteArrayLiteral("\r\n[IMAGE],x,[JET4],/a/")}) {
        const Result<DatabaseDirectory> directory = read(bytes);
        ASSERT_TRUE(directory.ok());
        EXPECT_FALSE(directory.value().hasCurrentFormat()) << bytes.toStdString();
        EXPECT_TRUE(directory.value().entries().isEmpty());
    }
    const Result<DatabaseDirectory> quoted = read("\" [IMAGE] \",x,[JET4],/a/");
    ASSERT_TRUE(quoted.ok());
    EXPECT_TRUE(quoted.value().hasCurrentFormat());
    EXPECT_EQ(quoted.value().entries().size(), 1);
}

TEST_F(DatabaseDirectoryTest, EntryCutShortByTheEndOfTheFile)
{
    const QString path = m_install.writeBytes(u"QLDirec.iau"_s, "[IMAGE],x,[SQLSERVER],srv,db");
    const Result<DatabaseDirectory> directory = DatabaseDirectory::read(path);
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().number, 62);
    EXPECT_EQ(directory.error().description, u"Input past end of file: "_s + path +
                                                 u" has no field 6 (the [SQLSERVER] entry is "
                                                 "incomplete)"_s);
}

TEST_F(DatabaseDirectoryTest, MissingFile)
{
    const QString path = m_install.iauDir() + u"QLDirec.iau"_s;
    const Result<DatabaseDirectory> directory = DatabaseDirectory::read(path);
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().number, 53);
    EXPECT_EQ(directory.error().description, u"File not found: "_s + path);
}

TEST_F(DatabaseDirectoryTest, NoJetEntryGivesNoDataDirectory)
{
    const Result<DatabaseDirectory> directory = read("[IMAGE],x,[SYBASE9],s,d,u");
    ASSERT_TRUE(directory.ok());
    EXPECT_EQ(directory.value().firstJetDirectory(), QString());
}

TEST_F(DatabaseDirectoryTest, OneOrTwoEntriesTakeTheFirstWithoutAMenu)
{
    RecordingInteraccion ui;
    for (const QByteArray& bytes : {QByteArrayLiteral("[IMAGE],x,[JET4],/a/"),
                                    QByteArrayLiteral("[IMAGE],x,[JET4],/a/,[JET4],/b/")}) {
        const Result<DatabaseDirectory> directory = read(bytes);
        ASSERT_TRUE(directory.ok());
        EXPECT_EQ(telvar::chooseDatabase(directory.value(), ui), 1);
    }
    EXPECT_TRUE(ui.pickerRequests.isEmpty());
}

TEST_F(DatabaseDirectoryTest, MenuRepeatsUntilTheChoiceIsAnEntryNumber)
{
    const Result<DatabaseDirectory> directory =
        read("[IMAGE],x,[JET4],/a/,[JET4],/b/,[SQLSERVER],s,d,u");
    ASSERT_TRUE(directory.ok());
    RecordingInteraccion ui;
    for (const QString& answer : {u""_s, u"0"_s, u"4"_s, u"-1"_s, u"dos"_s, u" 2 "_s})
        ui.pickerAnswers.enqueue(answer);
    EXPECT_EQ(telvar::chooseDatabase(directory.value(), ui), 2);
    ASSERT_EQ(ui.pickerRequests.size(), 6);
    EXPECT_EQ(ui.pickerRequests.last().Title, u"Menú de Bases de Datos (3)"_s);
    EXPECT_EQ(ui.pickerRequests.last().Altura, 2220);
}

} // namespace
