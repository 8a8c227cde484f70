#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar::demo {

// Where the demo's station pages are served (by the station simulator).
inline constexpr const char* kDemoPageBase = "http://127.0.0.1:8088";

// Builds the demo configuration database at path, protected by the database
// password passBD: twelve ports on the pages
//   /estacion1.html  clock 1 (every minute): DIAM and LARGO of FRM01 on MAQ01
//   /estacion2.html  clock 2 (every 2 minutes): PESO and TEMP of FRM02 on MAQ02
//   /estacion1b.html, /estacion2b.html  more ports on clocks 1 and 2
//   /estacion3.html  clock 3 (interval 0, polled only by its button)
//   /estacion4.html  one port with clock 0 (configured, never polled)
//   /estacion5.html  one port (clock 1) whose format, machine and product
//                    are read from the page at the markers "FRM:", "MAQ:"
//                    and "PROD:" (stored as "@FRM:", "@MAQ:", "@PROD:")
// Each reading is the six characters after its identifier ("DIAM=",
// "LARGO=", "PESO=", "TEMP="): start 1, length 6; a marker's value is read
// the same way (a key shorter than six is followed by blanks on the page).
// The keys are those of DemoKeys.h and the key columns have the demo's key
// widths. HTMRELOJ holds the ten clocks (intervals 1, 2, 0, 5, 5, 10, 10,
// 15, 30, 60). Ports are numbered 1 to 12 without gaps. Refuses to replace
// an existing file.
Status buildDemoConfigDatabase(const QString& path, const QString& passBD);

// A second, smaller configuration database (four ports on clocks 1 and 2),
// for trying the configuration chooser.
Status buildSecondDemoConfigDatabase(const QString& path, const QString& passBD);

} // namespace telvar::demo
