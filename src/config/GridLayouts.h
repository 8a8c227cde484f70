#pragma once

#include <array>

namespace telvar {

// A column of the configuration grid DBGrid1: the query field it shows, the
// message (section 76) that captions it, and its width in twips.
struct ColumnaConfig {
    const char* campo;
    int mensaje;
    int anchoTwips;
};

// DBGrid1's columns, in the order shown. The query's Clave column is not
// among them: it stays hidden.
inline constexpr std::array<ColumnaConfig, 14> kColumnasDBGrid1 = {{
    {"Puert", 13, 600},
    {"Descr", 14, 1860},
    {"WebPg", 15, 3600},
    {"Ident", 16, 1860},
    {"Inici", 25, 690},
    {"Longi", 26, 690},
    {"Estac", 17, 1200},
    {"Maqui", 18, 1200},
    {"Produ", 19, 1800},
    {"Forma", 20, 1200},
    {"Carac", 21, 1200},
    {"Opera", 22, 1200},
    {"Reloj", 23, 660},
    {"Inter", 24, 660},
}};

inline constexpr int kSeccionDBGrid1 = 76;

// A column of the readings grid DatoFlexGrid: its header (a message, or a
// fixed text when textoFijo is set), its width in twips, whether cell and
// header are centred, and, where the column's contents have a fixed form, a
// sample of them (the column is never narrower than the sample).
struct ColumnaLecturas {
    int seccion;
    int numero;
    const char* textoFijo;
    int anchoTwips;
    bool centrada;
    const char* muestra;
};

inline constexpr std::array<ColumnaLecturas, 9> kColumnasDatoFlexGrid = {{
    {76, 7, nullptr, 690, true, nullptr},
    {0, 6, nullptr, 1890, true, "2000-12-31 23:59:59"},
    {0, 16, nullptr, 1170, false, nullptr},
    {0, 20, nullptr, 1170, false, nullptr},
    {0, 18, nullptr, 1170, false, nullptr},
    {0, 19, nullptr, 1920, false, nullptr},
    {0, 21, nullptr, 1170, false, nullptr},
    {76, 28, nullptr, 1260, true, nullptr},
    {0, 0, "D", 540, true, nullptr},
}};

} // namespace telvar
