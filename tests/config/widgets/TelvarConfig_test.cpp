#include "config/widgets/TelvarConfig.h"
#include "support/ConfigFixture.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class TelvarConfigTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_one = createConfig(QStringLiteral("Uno.mdb"));
        m_two = createConfig(QStringLiteral("Dos.mdb"));
        writeTLVDirec({m_one, m_two});
    }
    static QComboBox* combo(TelvarConfig& d)
    {
        return d.findChild<QComboBox*>(QStringLiteral("cboDBConf"));
    }
    static QPushButton* button(TelvarConfig& d, const char* name)
    {
        return d.findChild<QPushButton*>(QLatin1String(name));
    }

    QString m_one;
    QString m_two;
};

TEST_F(TelvarConfigTest, LoadsCaptionsAndTheRememberedPaths)
{
    TelvarConfig d(m, ui);
    EXPECT_EQ(d.windowTitle(), m.Mensajes(43, 13));
    EXPECT_EQ(button(d, "cmdRuta")->text(), m.Mensajes(2, 11));
    EXPECT_EQ(button(d, "bAceptar")->text(), m.Mensajes(2, 0));
    ASSERT_EQ(combo(d)->count(), 2);
    EXPECT_EQ(combo(d)->itemText(0), m_one);
    EXPECT_EQ(combo(d)->itemText(1), m_two);
    EXPECT_EQ(combo(d)->currentText(), m_one);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarConfigTest, BrowsingPutsTheFileIntoTheBoxAndAcceptingPutsItFirst)
{
    const QString newPath = createConfig(QStringLiteral("Nueva.mdb"));
    TelvarConfig d(m, ui);
    QString requestedFilter;
    d.setFilePicker([&](QWidget*, const QString& filter) {
        requestedFilter = filter;
        return newPath;
    });
    button(d, "cmdRuta")->click();
    EXPECT_EQ(requestedFilter, QStringLiteral("mdb (*.mdb)"));
    EXPECT_EQ(combo(d)->currentText(), newPath);
    button(d, "bAceptar")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.acceptedPath(), newPath);
    EXPECT_EQ(readTLVDirec(), (newPath + QStringLiteral("\r\n") + m_one + QStringLiteral("\r\n") +
                               m_two + QStringLiteral("\r\n"))
                                  .toUtf8());
}

TEST_F(TelvarConfigTest, CancelledBrowsingKeepsTheText)
{
    TelvarConfig d(m, ui);
    d.setFilePicker([](QWidget*, const QString&) { return QString(); });
    button(d, "cmdRuta")->click();
    EXPECT_EQ(combo(d)->currentText(), m_one);
}

TEST_F(TelvarConfigTest, ARefusedPathKeepsTheDialogOpenAndTheFileUntouched)
{
    KeyWidths wide = fixtureKeyWidths();
    wide.Maqui = 10;
    const QString cases[] = {
        createEmptyDatabase(QStringLiteral("Vacia.mdb")),    // not a configuration
        createConfig(QStringLiteral("Ancha.mdb"), wide, {}), // fails the width check
    };
    const QByteArray before = readTLVDirec();
    for (const QString& path : cases) {
        ui.boxes.clear();
        TelvarConfig d(m, ui);
        combo(d)->setEditText(path);
        button(d, "bAceptar")->click();
        EXPECT_NE(d.result(), QDialog::Accepted) << path.toStdString();
        EXPECT_TRUE(d.acceptedPath().isEmpty());
        EXPECT_EQ(combo(d)->currentText(), path);
        EXPECT_EQ(readTLVDirec(), before);
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_TRUE(
            ui.boxes.first().text.startsWith(QStringLiteral("TelvarConfig. bAceptar_Click.")));
    }
}

TEST_F(TelvarConfigTest, WithoutTLVDirecTheDialogStillOpensToBrowse)
{
    QFile::remove(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    TelvarConfig d(m, ui);
    EXPECT_EQ(combo(d)->count(), 0);
    ASSERT_EQ(ui.boxes.size(), 1);
    combo(d)->setEditText(m_two);
    button(d, "bAceptar")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(readTLVDirec(), (m_two + QStringLiteral("\r\n")).toUtf8());
}

} // namespace
} // namespace telvar
