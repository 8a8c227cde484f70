#include "config/ConfigChooser.h"
#include "config/ConfigDatabase.h"
#include "support/ConfigFixture.h"

#include <QFile>
#include <gtest/gtest.h>
#include <vector>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

TEST(ConfigChooserPath, TextNotEndingInMdbMeansTheDefaultFile)
{
    const struct {
        const char* text;
        const char* path;
    } cases[] = {
        {"/d/Planta.mdb", "/d/Planta.mdb"},
        {"D:\\Datos\\PLANTA.MDB", "D:\\Datos\\PLANTA.MDB"},
        {"/d/Planta.Mdb", "/d/Planta.Mdb"},
        {"/d/Planta", "/app/TLVConf.mdb"},
        {"/d/Planta.mdb ", "/app/TLVConf.mdb"},
        {"", "/app/TLVConf.mdb"},
        {"mdb", "/app/TLVConf.mdb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConfigChooser::chosenPath(QString::fromUtf8(c.text), QStringLiteral("/app/")),
                  QString::fromUtf8(c.path))
            << c.text;
}

TEST(ConfigChooserOrder, ChosenPathFirstThenTheOthersOnceIgnoringCase)
{
    const QStringList items = {QStringLiteral("/a/Uno.mdb"), QStringLiteral("/b/Dos.mdb"),
                               QStringLiteral("/c/Tres.mdb")};
    const struct {
        const char* path;
        std::vector<const char*> expected;
    } cases[] = {
        {"/b/Dos.mdb", {"/b/Dos.mdb", "/a/Uno.mdb", "/c/Tres.mdb"}},
        {"/B/DOS.MDB", {"/B/DOS.MDB", "/a/Uno.mdb", "/c/Tres.mdb"}},
        {"/a/Uno.mdb", {"/a/Uno.mdb", "/b/Dos.mdb", "/c/Tres.mdb"}},
        {"/n/Nueva.mdb", {"/n/Nueva.mdb", "/a/Uno.mdb", "/b/Dos.mdb", "/c/Tres.mdb"}},
    };
    for (const auto& c : cases) {
        QStringList expected;
        for (const char* e : c.expected)
            expected.append(QString::fromUtf8(e));
        EXPECT_EQ(ConfigChooser::newOrder(QString::fromUtf8(c.path), items), expected) << c.path;
    }
    // A list that already repeats a path keeps it once.
    EXPECT_EQ(ConfigChooser::newOrder(QStringLiteral("/n.mdb"),
                                      {QStringLiteral("/a.mdb"), QStringLiteral("/A.MDB")}),
              (QStringList{QStringLiteral("/n.mdb"), QStringLiteral("/a.mdb")}));
}

class ConfigChooserTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        m_two = createConfig(QStringLiteral("Dos.mdb"));
        writeTLVDirec({m_one, m_two});
    }
    QStringList lines() const
    {
        return QString::fromUtf8(readTLVDirec()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QString m_one;
    QString m_two;
    ConfigChooser m_chooser{m, ui};
};

TEST_F(ConfigChooserTest, ListsThePathsOfTLVDirec)
{
    EXPECT_EQ(m_chooser.loadPaths(), (QStringList{m_one, m_two}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigChooserTest, AMissingTLVDirecIsReportedAndGivesAnEmptyList)
{
    QFile::remove(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    EXPECT_TRUE(m_chooser.loadPaths().isEmpty());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig (Form_Load)\n\n53.- ")));
}

TEST_F(ConfigChooserTest, TheSecondPathMovesFirst)
{
    const std::optional<QString> path = m_chooser.accept(m_two, {m_one, m_two});
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, m_two);
    EXPECT_EQ(lines(), (QStringList{m_two, m_one}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigChooserTest, ANewBrowsedPathComesFirstBeforeAllOthers)
{
    const QString newPath = createConfig(QStringLiteral("Nueva.MDB"));
    ASSERT_TRUE(m_chooser.accept(newPath, {m_one, m_two}));
    EXPECT_EQ(lines(), (QStringList{newPath, m_one, m_two}));
}

TEST_F(ConfigChooserTest, TextNotEndingInMdbOpensTheProgramsDefaultFile)
{
    const QString defaultPath = createConfig(QStringLiteral("TLVConf.mdb"));
    ASSERT_TRUE(m_chooser.accept(QStringLiteral("algo escrito"), {m_one, m_two}));
    EXPECT_EQ(lines(), (QStringList{defaultPath, m_one, m_two}));
}

TEST_F(ConfigChooserTest, RefusalsLeaveTLVDirecUntouched)
{
    const QString empty = createEmptyDatabase(QStringLiteral("NoEsConfig.mdb"));
    const QString withComma = createConfig(QStringLiteral("Planta 1,2.mdb"));
    const QByteArray before = readTLVDirec();
    const QString missing = m.RutaApp + QStringLiteral("NoExiste.mdb");
    struct Case {
        QString text;
        Box::Type box;
        QStringList mentions;
    };
    const Case cases[] = {
        {empty,
         Box::Type::MensaBox,
         {QStringLiteral("HTMRELOJ"), QStringLiteral("Archivo de base de datos: ") + empty}},
        {withComma, Box::Type::MensaBox, {QStringLiteral("coma"), withComma}},
        // A missing file is named with its cause, as the person knows it.
        {missing,
         Box::Type::MensaBox,
         {QStringLiteral("OpenDBOK"),
          QStringLiteral("-2147467259.- No existe el archivo ") + missing,
          QStringLiteral("Archivo de base de datos: ") + missing}},
    };
    for (const Case& c : cases) {
        ui.boxes.clear();
        EXPECT_FALSE(m_chooser.accept(c.text, {m_one, m_two}));
        ASSERT_EQ(ui.boxes.size(), 1) << c.text.toStdString();
        EXPECT_EQ(ui.boxes.first().type, c.box);
        EXPECT_EQ(ui.boxes.first().icono, BoxKind::Exclamation);
        for (const QString& mention : c.mentions)
            EXPECT_TRUE(ui.boxes.first().text.contains(mention))
                << mention.toStdString() << " in " << ui.boxes.first().text.toStdString();
        for (const char* hidden : {"Provider", "OLEDB", "Jet", "Password="})
            EXPECT_FALSE(ui.boxes.first().text.contains(QLatin1String(hidden))) << hidden;
        EXPECT_EQ(readTLVDirec(), before);
    }
    // The chooser's own reports follow the convention.
    ui.boxes.clear();
    m_chooser.accept(empty, {});
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.\n\n")));
    ui.boxes.clear();
    m_chooser.accept(withComma, {});
    EXPECT_TRUE(
        ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.\n\n5.- ")));
}

TEST_F(ConfigChooserTest, AWrongPasswordIsAskedForThenAccepted)
{
    const QString rightPassword = m.PassBD;
    m.PassBD = QStringLiteral("Otra");
    ui.inputAnswers.enqueue(rightPassword);
    ASSERT_TRUE(m_chooser.accept(m_two, {m_one, m_two}));
    EXPECT_EQ(m.PassBD, rightPassword);
    EXPECT_EQ(lines(), (QStringList{m_two, m_one}));
}

TEST_F(ConfigChooserTest, AFileThatFailsTheWidthCheckIsRefusedWithItsReport)
{
    // The same check Reinicia makes: accepting such a file would end the
    // program at the next start, and at every start after it.
    struct Case {
        KeyWidths widths;
        const char* report;
    };
    const Case cases[] = {
        {{8, 8, 8, 20, 8, 12}, "HTMCONFI.Carac Defined Size <> 8\n"},
        // A wider station column is never narrowed.
        {{8, 10, 8, 20, 8, 8}, "HTMCONFI.Estac Defined Size <> 8\n"},
        {{6, 8, 8, 12, 8, 8},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Produ Defined Size <> 20\n"},
    };
    const QByteArray before = readTLVDirec();
    int n = 0;
    for (const Case& c : cases) {
        ui.boxes.clear();
        const QString path = createConfig(QStringLiteral("Ancha%1.mdb").arg(++n), c.widths, {});
        EXPECT_FALSE(m_chooser.accept(path, {m_one, m_two})) << c.report;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MensaBox);
        EXPECT_EQ(box.icono, BoxKind::Exclamation);
        EXPECT_EQ(box.text, QStringLiteral("TelvarConfig. bAceptar_Click.\n") + path +
                                QStringLiteral("\n\n") + QString::fromUtf8(c.report));
        EXPECT_EQ(readTLVDirec(), before);
    }
}

TEST_F(ConfigChooserTest, ANarrowStationColumnIsAcceptedForReiniciaToWiden)
{
    KeyWidths narrow = fixtureKeyWidths();
    narrow.Estac = 6;
    const QString path = createConfig(QStringLiteral("Antigua.mdb"), narrow,
                                      {{4, QStringLiteral("Cuatro"), QStringLiteral("EST004"), 1}});
    ASSERT_TRUE(m_chooser.accept(path, {m_one, m_two}));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(lines(), (QStringList{path, m_one, m_two}));
    // Only checked here: the widening is Reinicia's.
    EXPECT_EQ(openDatabase(path)
                  ->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac"))
                  .value(),
              6);
    ConfigDatabase conf(m, ui);
    EXPECT_EQ(conf.Reinicia(), ReiniciaOutcome::Done);
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(conf.RsConfBusca().find(4)->Estac, QStringLiteral("EST004"));
}

TEST_F(ConfigChooserTest, AnOldPathWithACommaDoesNotBlockAChoice)
{
    // Another program (or a person) wrote a quoted path with a comma.
    const QString withComma = m.RutaApp + QStringLiteral("Planta 1,2.mdb");
    writeTLVDirec({m_one, QLatin1Char('"') + withComma + QLatin1Char('"'), m_two});
    const QStringList items = m_chooser.loadPaths();
    ASSERT_EQ(items, (QStringList{m_one, withComma, m_two}));

    ASSERT_TRUE(m_chooser.accept(m_two, items));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(lines(),
              (QStringList{m_two, m_one, QLatin1Char('"') + withComma + QLatin1Char('"')}));
    EXPECT_EQ(m_chooser.loadPaths(), (QStringList{m_two, m_one, withComma}));
}

} // namespace
} // namespace telvar
