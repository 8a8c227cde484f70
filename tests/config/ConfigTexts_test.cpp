#include "config/ConfigTexts.h"

#include <gtest/gtest.h>

namespace telvar {
namespace {

TEST(bareFileName, DropsEverythingUpToTheLastSeparator)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"D:\\Datos\\Planta\\TLVConf.mdb", "TLVConf.mdb"},
        {"/home/x/TLVConf.mdb", "TLVConf.mdb"},
        {"TLVConf.mdb", "TLVConf.mdb"},
        {"D:\\Datos/mezcla\\Otra.MDB", "Otra.MDB"},
        {"C:\\Config\\", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bareFileName(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
}

TEST(ConfigConnectionString, IsTheJetStringEvenWithAnEmptyPassword)
{
    EXPECT_EQ(configConnectionString(QStringLiteral("/d/TLVConf.mdb"), QStringLiteral("k1")),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/TLVConf.mdb;"
                             "Jet OLEDB:Database Password=k1;"));
    EXPECT_TRUE(configConnectionString(QStringLiteral("x.mdb"), QString())
                    .endsWith(QStringLiteral("Jet OLEDB:Database Password=;")));
}

TEST(KeyWidthReport, ListsEachMismatchInColumnOrderWithTheWantedWidth)
{
    const KeyWidths widths{8, 8, 8, 20, 8, 8};
    struct Case {
        std::array<int, 6> definedSizes;
        const char* report;
    };
    const Case cases[] = {
        {{8, 8, 8, 20, 8, 8}, ""},
        {{8, 8, 8, 12, 8, 8}, "HTMCONFI.Produ Defined Size <> 20\n"},
        // Two mismatches, reported Opera before Carac whatever their size.
        {{10, 8, 8, 20, 8, 6},
         "HTMCONFI.Opera Defined Size <> 8\nHTMCONFI.Carac Defined Size <> 8\n"},
        {{8, 10, 6, 20, 9, 8},
         "HTMCONFI.Estac Defined Size <> 8\nHTMCONFI.Maqui Defined Size <> 8\n"
         "HTMCONFI.Forma Defined Size <> 8\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyWidthReport(c.definedSizes, widths), QString::fromUtf8(c.report));
}

TEST(KeyWidthStopMessage, NamesTheWindowRoutineAndFile)
{
    EXPECT_EQ(
        keyWidthStopMessage(QStringLiteral("/d/TLVConf.mdb"),
                            QStringLiteral("HTMCONFI.Opera Defined Size <> 8\n")),
        QStringLiteral("Telvar. Reinicia.\n/d/TLVConf.mdb\n\nHTMCONFI.Opera Defined Size <> 8\n"));
}

TEST(ReiniciaReport, FollowsTheConventionAndNamesTheFileNotTheConnectionString)
{
    const Error error{53, QStringLiteral("Telvar"), QStringLiteral("File not found")};
    const QString conexion =
        configConnectionString(QStringLiteral("/d/TLVConf.mdb"), QStringLiteral("Secreta"));
    struct Row {
        int idioma;
        const char* expected;
    };
    const Row rows[] = {
        {1, "Telvar. Reinicia.\n\nTelvar\n53.- No existe la carpeta /d (del archivo "
            "/d/TLVConf.mdb)\n\nArchivo de base de datos: /d/TLVConf.mdb\n\n"},
        {2, "Telvar. Reinicia.\n\nTelvar\n53.- The folder /d (of the file /d/TLVConf.mdb) does "
            "not exist\n\nDatabase file: /d/TLVConf.mdb\n\n"},
    };
    for (const Row& row : rows) {
        const QString report = reiniciaReport(error, conexion, row.idioma);
        EXPECT_EQ(report, QString::fromUtf8(row.expected));
        for (const char* hidden : {"Secreta", "Provider", "OLEDB", "Jet"})
            EXPECT_FALSE(report.contains(QLatin1String(hidden))) << hidden;
    }
    // Before TLVDirec.IAU named a file there is none to name.
    EXPECT_EQ(reiniciaReport(error, QString(), 1),
              QStringLiteral("Telvar. Reinicia.\n\nTelvar\n53.- File not found\n\n\n\n"));
}

TEST(TelvarCaption, ShowsMajorAndRevisionOnly)
{
    EXPECT_EQ(telvarCaption(QStringLiteral("Ruteador"), 3, 7), QStringLiteral("Ruteador v.3.7"));
    EXPECT_EQ(telvarCaption(QStringLiteral("R"), 2, 14), QStringLiteral("R v.2.14"));
}

} // namespace
} // namespace telvar
