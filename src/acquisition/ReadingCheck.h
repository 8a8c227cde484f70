#pragma once

#include "acquisition/CxpLimits.h"
#include "acquisition/Extraction.h"
#include "common/Error.h"

#include <QDateTime>
#include <QString>

namespace telvar {

// A reading as a polling cycle hands it on: the port it came from, by its
// own Puert and by its element of the active-port table, the limits loaded
// for it at the start, the reading as cut (untrimmed), what the page's
// markers name, and when its page arrived.
struct PortReading {
    int reloj = 0;
    int element = 0;
    int Puert = 0;
    Limits limits;
    QString reading;
    PageMarkers markers;
    QDateTime arrivedAt;

    bool operator==(const PortReading&) const = default;
};

// What the cycle hands each reading to: the check against the limits, the
// display and the recording. An error it returns is reported by the cycle,
// which then goes on with its next port.
class ReadingCheck {
public:
    virtual ~ReadingCheck() = default;
    virtual Status LabelLee(const PortReading& reading) = 0;

protected:
    ReadingCheck() = default;
    ReadingCheck(const ReadingCheck&) = default;
    ReadingCheck& operator=(const ReadingCheck&) = default;
};

} // namespace telvar
