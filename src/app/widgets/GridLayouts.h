#pragma once

#include "common/MessageId.h"
#include "recording/ReadingsModel.h"

#include <array>

namespace telvar {

// A column of the configuration grid DBGrid1: the query field it shows, the
// message that captions it, and its width in twips.
struct ConfigGridColumn {
    const char* field;
    MessageId caption;
    int widthTwips;
};

// DBGrid1's columns, in the order shown. The query's Clave column is not
// among them: it stays hidden.
inline constexpr std::array<ConfigGridColumn, 14> kConfigGridColumns = {{
    {"Puert", MessageId{76, 13}, 600},
    {"Descr", MessageId{76, 14}, 1860},
    {"WebPg", MessageId{76, 15}, 3600},
    {"Ident", MessageId{76, 16}, 1860},
    {"Inici", MessageId{76, 25}, 690},
    {"Longi", MessageId{76, 26}, 690},
    {"Estac", MessageId{76, 17}, 1200},
    {"Maqui", MessageId{76, 18}, 1200},
    {"Produ", MessageId{76, 19}, 1800},
    {"Forma", MessageId{76, 20}, 1200},
    {"Carac", MessageId{76, 21}, 1200},
    {"Opera", MessageId{76, 22}, 1200},
    {"Reloj", MessageId{76, 23}, 660},
    {"Inter", MessageId{76, 24}, 660},
}};

// The configuration grid's columns of long free text, which take what a wide
// window offers and give way first in a narrow one.
inline bool isFlexibleConfigColumn(const char* field)
{
    const QLatin1String name(field);
    return name == QLatin1String("Descr") || name == QLatin1String("WebPg") ||
           name == QLatin1String("Produ");
}

// How wide the readings grid draws each of its columns: a width in twips and,
// where the column's contents have a fixed form, a sample of them (the
// column is never narrower than the sample). Flexible columns take what a
// wide window offers and give way in a narrow one, so that the port, the
// time, the characteristic, the reading and its mark stay in view.
struct ReadingsColumnWidth {
    int widthTwips;
    const char* sample;
    bool flexible;
};

inline constexpr std::array<ReadingsColumnWidth, kReadingsColumns.size()> kReadingsColumnWidths = {{
    {690, nullptr, false},
    {1890, "2000-12-31 23:59:59", false},
    {1170, nullptr, true},
    {1170, nullptr, true},
    {1170, nullptr, true},
    {1920, nullptr, true},
    {1170, nullptr, false},
    {1260, nullptr, false},
    {540, nullptr, false},
}};

} // namespace telvar
