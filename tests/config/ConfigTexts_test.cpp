#include "config/ConfigTexts.h"

#include <gtest/gtest.h>

namespace telvar {
namespace {

TEST(NombreArchivo, DropsEverythingUpToTheLastSeparator)
{
    const struct {
        const char* ruta;
        const char* nombre;
    } casos[] = {
        {"D:\\Datos\\Planta\\TLVConf.mdb", "TLVConf.mdb"},
        {"/home/x/TLVConf.mdb", "TLVConf.mdb"},
        {"TLVConf.mdb", "TLVConf.mdb"},
        {"D:\\Datos/mezcla\\Otra.MDB", "Otra.MDB"},
        {"C:\\Config\\", ""},
        {"", ""},
    };
    for (const auto& c : casos)
        EXPECT_EQ(NombreArchivo(QString::fromUtf8(c.ruta)), QString::fromUtf8(c.nombre)) << c.ruta;
}

TEST(ConexionConf, IsTheJetStringEvenWithAnEmptyPassword)
{
    EXPECT_EQ(conexionConf(QStringLiteral("/d/TLVConf.mdb"), QStringLiteral("k1")),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/TLVConf.mdb;"
                             "Jet OLEDB:Database Password=k1;"));
    EXPECT_TRUE(conexionConf(QStringLiteral("x.mdb"), QString())
                    .endsWith(QStringLiteral("Jet OLEDB:Database Password=;")));
}

TEST(ReporteAnchos, ListsEachMismatchInColumnOrderWithTheWantedWidth)
{
    const AnchosClave anchos{8, 8, 8, 20, 8, 8};
    struct Caso {
        std::array<int, 6> definidos;
        const char* reporte;
    };
    const Caso casos[] = {
        {{8, 8, 8, 20, 8, 8}, ""},
        {{8, 8, 8, 12, 8, 8}, "HTMCONFI.Produ Defined Size <> 20\n"},
        // Two mismatches, reported Opera before Carac whatever their size.
        {{10, 8, 8, 20, 8, 6},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Carac Defined Size <> 8\n"},
        {{8, 10, 6, 20, 9, 8},
         "HTMCONFI.Estac Defined Size <> 8\nHTMCONFI.Maqui Defined Size <> 8\n"
         "HTMCONFI.Forma Defined Size <> 8\n"},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(reporteAnchos(c.definidos, anchos), QString::fromUtf8(c.reporte));
}

TEST(AvisoAnchos, NamesTheWindowRoutineAndFile)
{
    EXPECT_EQ(
        avisoAnchos(QStringLiteral("/d/TLVConf.mdb"),
                    QStringLiteral("HTMCONFI.Opera Defined Size <> 8\n")),
        QStringLiteral("Telvar. Reinicia.\n/d/TLVConf.mdb\n\nHTMCONFI.Opera Defined Size <> 8\n"));
}

TEST(ReporteReinicia, FollowsTheConventionAndMasksThePassword)
{
    const RuntimeError error{53, QStringLiteral("Telvar"), QStringLiteral("File not found")};
    const QString reporte = reporteReinicia(
        error, conexionConf(QStringLiteral("/d/TLVConf.mdb"), QStringLiteral("Secreta")));
    EXPECT_EQ(reporte, QStringLiteral("Telvar. Reinicia.\n\nTelvar\n53.- File not found\n\n"
                                      "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/TLVConf.mdb;"
                                      "Jet OLEDB:Database Password=***;\n\n"));
    EXPECT_FALSE(reporte.contains(QStringLiteral("Secreta")));
}

TEST(CaptionTelvar, ShowsMajorAndRevisionOnly)
{
    EXPECT_EQ(captionTelvar(QStringLiteral("Ruteador"), 3, 7), QStringLiteral("Ruteador v.3.7"));
    EXPECT_EQ(captionTelvar(QStringLiteral("R"), 2, 14), QStringLiteral("R v.2.14"));
}

} // namespace
} // namespace telvar
