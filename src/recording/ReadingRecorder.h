#pragma once

#include "acquisition/ReadingCheck.h"

#include <QString>
#include <QStringList>

namespace telvar {

struct Modulo1;
class Clock;
class ConfigLookup;
class Interaccion;
class MarkerLimits;
class ReadingsModel;
class ReadingSink;
class RecordingLog;

// The check of each reading the polling cycles hand on: it finds the port's
// configuration, lets the page's markers replace its format, machine and
// product, checks the reading against its limits (those of the machine and
// product the page named, when it named them), puts it on top of the
// readings grid (marked "?" and with a beep when outside them) and hands a
// reading within them, stamped with the moment its page arrived, to the
// recording, which keeps it until its data table has committed it.
class ReadingRecorder final : public ReadingCheck {
public:
    ReadingRecorder(const Modulo1& m, Interaccion& ui, const ConfigLookup& RsConfBusca,
                    ReadingsModel& readings, RecordingLog& log, ReadingSink& recording,
                    MarkerLimits* markerLimits);

    Status LabelLee(const PortReading& reading) override;

    // The display tag: the clock right-aligned in two characters, "/", the
    // port with at least three digits (" 3/012").
    static QString displayTag(int reloj, int puert);

    // Set once the data database's name has been refused (its box has been
    // shown): the program must end.
    bool programMustEnd() const { return m_programMustEnd; }

private:
    const Modulo1& m_m;
    Interaccion& m_ui;
    const ConfigLookup& m_RsConfBusca;
    ReadingsModel& m_readings;
    RecordingLog& m_log;
    ReadingSink& m_recording;
    MarkerLimits* m_markerLimits;
    bool m_programMustEnd = false;
};

} // namespace telvar
