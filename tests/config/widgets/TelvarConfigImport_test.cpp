#include "common/ErrorNumbers.h"
#include "config/widgets/TelvarConfig.h"
#include "import/ImportErrors.h"
#include "support/ConfigFixture.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class TelvarConfigImportTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        writeTLVDirec({m_one});
    }

    void typeAnswers(const QList<QString>& answers)
    {
        for (const QString& answer : answers)
            ui.inputAnswers.enqueue(answer);
    }

    QString m_one;
};

TEST_F(TelvarConfigImportTest, TheImportEntryTakesTheImportedFileAndCloses)
{
    const QString target = m.RutaApp + QStringLiteral("Importada.mdb");
    TelvarConfig d(m, ui);
    QPushButton* importar = d.findChild<QPushButton*>(QStringLiteral("cmdImportar"));
    ASSERT_TRUE(importar);
    EXPECT_EQ(importar->text(), ConfigChooser::importCaption(m.Idioma));
    d.setJetImporter([&](const ImportRequest& request) -> Result<ImportSummary> {
        createConfig(QFileInfo(request.target).fileName());
        ImportSummary summary;
        summary.source = request.source;
        summary.target = request.target;
        return summary;
    });
    typeAnswers({QStringLiteral("/viejo/TLVConf.mdb"), target});
    ui.questionAnswers = {true};
    importar->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.acceptedPath(), target);
    EXPECT_EQ(d.findChild<QComboBox*>(QStringLiteral("cboDBConf"))->currentText(), target);
    EXPECT_EQ(readTLVDirec(),
              (target + QStringLiteral("\r\n") + m_one + QStringLiteral("\r\n")).toUtf8());
}

TEST_F(TelvarConfigImportTest, AFailedImportKeepsTheDialogOpen)
{
    TelvarConfig d(m, ui);
    d.setJetImporter([](const ImportRequest& request) -> Result<ImportSummary> {
        return jetImportError(
            ErrorNumber::DamagedFile, request.source, QStringLiteral("HTMCONFI"),
            QStringLiteral("its definition cannot be read: the file is damaged."));
    });
    typeAnswers(
        {QStringLiteral("/viejo/TLVConf.mdb"), m.RutaApp + QStringLiteral("Importada.mdb")});
    d.findChild<QPushButton*>(QStringLiteral("cmdImportar"))->click();
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_TRUE(d.acceptedPath().isEmpty());
    ASSERT_FALSE(ui.boxes.isEmpty());
    EXPECT_TRUE(
        ui.boxes.last().text.contains(QStringLiteral("/viejo/TLVConf.mdb, table HTMCONFI")));
    EXPECT_EQ(readTLVDirec(), (m_one + QStringLiteral("\r\n")).toUtf8());
}

} // namespace
} // namespace telvar
