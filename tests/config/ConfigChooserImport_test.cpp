// The chooser's "Import a Jet file…": the questions it asks through
// Interaccion, the import (the real one through telvar-import beside the
// test program, or one the test gives), and the imported file taken as
// choosing it would take it.
#include "common/ErrorNumbers.h"
#include "config/ConfigChooser.h"
#include "import/ImportErrors.h"
#include "support/ConfigFixture.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ConfigChooserImportTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        writeTLVDirec({m_one});
        m_before = readTLVDirec();
    }

    static QString sample(const char* name)
    {
        return QStringLiteral(TELVAR_SOURCE_DIR "/tests/data/jet/") + QLatin1String(name);
    }

    // An importer that records the request and writes a configuration
    // database where it was asked to, as a converted TLVConf.mdb would be.
    void importConfigurations()
    {
        m_chooser.setJetImporter([this](const ImportRequest& request) -> Result<ImportSummary> {
            m_requests.append(request);
            const QString name = QFileInfo(request.target).fileName();
            QFile::remove(request.target);
            createConfig(name);
            ImportSummary summary;
            summary.source = request.source;
            summary.target = request.target;
            summary.tables = {{QStringLiteral("HTMRELOJ"), 10, 2, 1},
                              {QStringLiteral("HTMCONFI"), 0, 13, 2}};
            if (request.replaceExisting)
                summary.backup = request.target + QStringLiteral(".bak");
            summary.notes = {QStringLiteral("Only tables are converted; left out: 2 queries.")};
            return summary;
        });
    }

    // The answers to the next input boxes, in order.
    void typeAnswers(const QList<QString>& answers)
    {
        ui.inputAnswers.clear();
        for (const QString& answer : answers)
            ui.inputAnswers.enqueue(answer);
    }

    QString m_one;
    QByteArray m_before;
    QList<ImportRequest> m_requests;
    ConfigChooser m_chooser{m, ui};
};

TEST_F(ConfigChooserImportTest, TheImportedFileIsOfferedAndTakenAsChoosingItWould)
{
    importConfigurations();
    m.Idioma = 2;
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "a new file");
        ui.boxes.clear();
        ui.pointerChanges.clear();
        m_requests.clear();
        writeTLVDirec({m_one});
        const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
        if (existing) {
            ASSERT_TRUE(QFileInfo::exists(target));
        }
        typeAnswers({QStringLiteral(" /viejo/TLVConf.mdb "), target});
        ui.questionAnswers = existing ? QList<bool>{true, true} : QList<bool>{true};

        const std::optional<QString> path = m_chooser.importJet({m_one});
        ASSERT_TRUE(path);
        EXPECT_EQ(*path, target);
        EXPECT_EQ(readTLVDirec(),
                  (target + QStringLiteral("\r\n") + m_one + QStringLiteral("\r\n")).toUtf8());

        ASSERT_EQ(m_requests.size(), 1);
        EXPECT_EQ(m_requests[0].source, QStringLiteral("/viejo/TLVConf.mdb"));
        EXPECT_EQ(m_requests[0].target, target);
        // Protected as the program's own configuration database is.
        EXPECT_EQ(m_requests[0].password, m.PassBD);
        EXPECT_EQ(m_requests[0].replaceExisting, existing);
        // The hourglass while the import runs (accepting then opens the
        // file with its own).
        EXPECT_EQ(ui.pointerChanges.mid(0, 2),
                  (QList<PointerShape>{PointerShape::Hourglass, PointerShape::Default}));
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);

        QList<Box::Type> asked;
        for (const Box& box : ui.boxes)
            asked.append(box.type);
        QList<Box::Type> expected{Box::Type::InputBox, Box::Type::InputBox};
        if (existing)
            expected.append(Box::Type::QuestionBox);
        expected.append(Box::Type::QuestionBox);
        ASSERT_EQ(asked, expected);
        if (existing) {
            EXPECT_TRUE(ui.boxes[2].text.startsWith(target + QStringLiteral(" already exists.")));
        }
        const QString offer = ui.boxes.last().text;
        EXPECT_TRUE(offer.startsWith(
            QStringLiteral("Imported 2 tables (10 rows) from /viejo/TLVConf.mdb into ") + target))
            << offer.toStdString();
        EXPECT_EQ(offer.contains(QStringLiteral("kept as ") + target + QStringLiteral(".bak")),
                  existing);
        EXPECT_TRUE(offer.contains(QStringLiteral("Not converted:\n- Only tables are converted")));
        EXPECT_TRUE(offer.endsWith(QStringLiteral("Use it as the configuration database?")));
    }
}

TEST_F(ConfigChooserImportTest, CancelsAndRefusalsChangeNothing)
{
    importConfigurations();
    const QString existing = createConfig(QStringLiteral("Existente.mdb"));
    const QByteArray existingBytes = [&] {
        QFile f(existing);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    struct Case {
        const char* name;
        QList<std::optional<QString>> inputs;
        QList<bool> questions;
        int imports;
        const char* reported; // "": no box beyond the questions
    };
    const QString fresh = m.RutaApp + QStringLiteral("Nueva.mdb");
    const Case cases[] = {
        {"cancelled at the Jet file", {}, {}, 0, ""},
        {"no Jet file typed", {QStringLiteral("  ")}, {}, 0, ""},
        {"cancelled at the file to write", {QStringLiteral("/viejo/a.mdb")}, {}, 0, ""},
        {"a file to write not ending in .mdb",
         {QStringLiteral("/viejo/a.mdb"), m.RutaApp + QStringLiteral("Nueva.sqlite")},
         {},
         0,
         "debe terminar en .mdb"},
        {"a path TLVDirec.IAU cannot keep",
         {QStringLiteral("/viejo/a.mdb"), m.RutaApp + QStringLiteral("Planta 1,2.mdb")},
         {},
         0,
         "contiene una coma"},
        {"an existing file not to be replaced",
         {QStringLiteral("/viejo/a.mdb"), existing},
         {false},
         0,
         ""},
        {"the imported file not taken", {QStringLiteral("/viejo/a.mdb"), fresh}, {false}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        m_requests.clear();
        ui.inputAnswers.clear();
        for (const auto& answer : c.inputs)
            ui.inputAnswers.enqueue(answer);
        ui.questionAnswers = c.questions;
        EXPECT_FALSE(m_chooser.importJet({m_one}));
        EXPECT_EQ(m_requests.size(), c.imports);
        EXPECT_EQ(readTLVDirec(), m_before);
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), existingBytes);
        const QString reported = QString::fromUtf8(c.reported);
        const bool boxShown = !ui.boxes.isEmpty() && ui.boxes.last().type == Box::Type::MessageBox;
        EXPECT_EQ(boxShown, !reported.isEmpty());
        if (boxShown) {
            EXPECT_EQ(ui.boxes.last().icono, BoxKind::Exclamation);
            EXPECT_TRUE(ui.boxes.last().text.contains(reported))
                << ui.boxes.last().text.toStdString();
        }
    }
    // The file imported but not taken stays, for the person to choose later.
    EXPECT_TRUE(QFileInfo::exists(fresh));
}

TEST_F(ConfigChooserImportTest, AJetFileThatIsNoConfigurationIsImportedButRefusedAsOne)
{
    // The real import (no Jet file of a configuration database is at hand:
    // mdbtools cannot write one): nwind converts, and accepting it fails as
    // choosing any file without HTMRELOJ fails.
    const QString target = m.RutaApp + QStringLiteral("Northwind.mdb");
    typeAnswers({sample("nwind.mdb"), target});
    ui.questionAnswers = {true};
    EXPECT_FALSE(m_chooser.importJet({m_one}));
    EXPECT_EQ(readTLVDirec(), m_before);
    ASSERT_EQ(ui.boxes.size(), 4);
    EXPECT_TRUE(ui.boxes[2].text.startsWith(QStringLiteral("Se importaron 9 tablas (4032 filas)")))
        << ui.boxes[2].text.toStdString();
    EXPECT_EQ(ui.boxes[3].type, Box::Type::MensaBox);
    EXPECT_TRUE(ui.boxes[3].text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.")));
    EXPECT_TRUE(ui.boxes[3].text.contains(QStringLiteral("HTMRELOJ")));
    // The converted file opens with the program's database password.
    std::unique_ptr<Connection> cn = openDatabase(target);
    ASSERT_TRUE(cn);
    EXPECT_EQ(cn->definedSize(QStringLiteral("Customers"), QStringLiteral("CustomerID")).value(),
              5);
}

TEST_F(ConfigChooserImportTest, AFailedImportIsReportedAndLeavesNothing)
{
    const QString damaged = m.RutaApp + QStringLiteral("Informe.mdb");
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Informe de calidad\r\n").repeated(300));
    }
    const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
    typeAnswers({damaged, target});
    EXPECT_FALSE(m_chooser.importJet({m_one}));
    ASSERT_EQ(ui.boxes.size(), 3);
    const Box& box = ui.boxes.last();
    EXPECT_EQ(box.type, Box::Type::MessageBox);
    EXPECT_EQ(box.icono, BoxKind::Exclamation);
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("TelvarConfig. cmdImportar_Click.\n\n3343.- ") +
                                    damaged))
        << box.text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(readTLVDirec(), m_before);
    EXPECT_EQ(ui.mousePointer, PointerShape::Default);
}

} // namespace
} // namespace telvar
