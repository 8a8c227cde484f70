#pragma once

// The master keys of the demo installation, shared by the demo's SPC database
// and its configuration database so that the demo's ports point at real
// master data. Key widths: operator 8, station 8, machine 8, product 20,
// format 8, characteristic 8.
namespace telvar::demo {

inline constexpr int kWidthUSU = 8;
inline constexpr int kWidthEST = 8;
inline constexpr int kWidthMAQ = 8;
inline constexpr int kWidthPRO = 20;
inline constexpr int kWidthFRM = 8;
inline constexpr int kWidthCAR = 8;

// Operators (USU) who take readings; the configurators are in the SPC data.
inline constexpr const char* kOperators[] = {"OPER01", "OPER02"};
inline constexpr const char* kStations[] = {"EST01", "EST02"};
inline constexpr const char* kMachines[] = {"MAQ01", "MAQ02"};
inline constexpr const char* kProducts[] = {"PROD-A", "PROD-B"};
inline constexpr const char* kFormats[] = {"FRM01", "FRM02"};
// Characteristics: FRM01 measures DIAM and LARGO, FRM02 measures PESO and TEMP.
inline constexpr const char* kCharacteristics[] = {"DIAM", "LARGO", "PESO", "TEMP"};

} // namespace telvar::demo
