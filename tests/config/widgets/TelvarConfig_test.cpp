#include "config/config_fixture.h"
#include "config/widgets/TelvarConfig.h"

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
        m_uno = creaConfig(QStringLiteral("Uno.mdb"));
        m_dos = creaConfig(QStringLiteral("Dos.mdb"));
        escribeTLVDirec({m_uno, m_dos});
    }
    static QComboBox* combo(TelvarConfig& d)
    {
        return d.findChild<QComboBox*>(QStringLiteral("cboDBConf"));
    }
    static QPushButton* boton(TelvarConfig& d, const char* nombre)
    {
        return d.findChild<QPushButton*>(QLatin1String(nombre));
    }

    QString m_uno;
    QString m_dos;
};

TEST_F(TelvarConfigTest, LoadsCaptionsAndTheRememberedPaths)
{
    TelvarConfig d(m, ui);
    EXPECT_EQ(d.windowTitle(), m.Mensajes(43, 13));
    EXPECT_EQ(boton(d, "cmdRuta")->text(), m.Mensajes(2, 11));
    EXPECT_EQ(boton(d, "bAceptar")->text(), m.Mensajes(2, 0));
    ASSERT_EQ(combo(d)->count(), 2);
    EXPECT_EQ(combo(d)->itemText(0), m_uno);
    EXPECT_EQ(combo(d)->itemText(1), m_dos);
    EXPECT_EQ(combo(d)->currentText(), m_uno);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(TelvarConfigTest, BrowsingPutsTheFileIntoTheBoxAndAcceptingPutsItFirst)
{
    const QString nueva = creaConfig(QStringLiteral("Nueva.mdb"));
    TelvarConfig d(m, ui);
    QString filtroPedido;
    d.setSelectorArchivo([&](QWidget*, const QString& filtro) {
        filtroPedido = filtro;
        return nueva;
    });
    boton(d, "cmdRuta")->click();
    EXPECT_EQ(filtroPedido, QStringLiteral("mdb (*.mdb)"));
    EXPECT_EQ(combo(d)->currentText(), nueva);
    boton(d, "bAceptar")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.rutaAceptada(), nueva);
    EXPECT_EQ(leeTLVDirec(), (nueva + QStringLiteral("\r\n") + m_uno + QStringLiteral("\r\n") +
                              m_dos + QStringLiteral("\r\n"))
                                 .toUtf8());
}

TEST_F(TelvarConfigTest, CancelledBrowsingKeepsTheText)
{
    TelvarConfig d(m, ui);
    d.setSelectorArchivo([](QWidget*, const QString&) { return QString(); });
    boton(d, "cmdRuta")->click();
    EXPECT_EQ(combo(d)->currentText(), m_uno);
}

TEST_F(TelvarConfigTest, ARefusedPathKeepsTheDialogOpenAndTheFileUntouched)
{
    AnchosClave anchas = anchosFixture();
    anchas.Maqui = 10;
    const QString casos[] = {
        creaBaseVacia(QStringLiteral("Vacia.mdb")),          // not a configuration
        creaConfig(QStringLiteral("Ancha.mdb"), anchas, {}), // fails the width check
    };
    const QByteArray antes = leeTLVDirec();
    for (const QString& ruta : casos) {
        ui.boxes.clear();
        TelvarConfig d(m, ui);
        combo(d)->setEditText(ruta);
        boton(d, "bAceptar")->click();
        EXPECT_NE(d.result(), QDialog::Accepted) << ruta.toStdString();
        EXPECT_TRUE(d.rutaAceptada().isEmpty());
        EXPECT_EQ(combo(d)->currentText(), ruta);
        EXPECT_EQ(leeTLVDirec(), antes);
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
    combo(d)->setEditText(m_dos);
    boton(d, "bAceptar")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(leeTLVDirec(), (m_dos + QStringLiteral("\r\n")).toUtf8());
}

} // namespace
} // namespace telvar
