#pragma once

#include "acquisition/ReadingCheck.h"
#include "recording/Grabacion.h"

#include <QString>
#include <QStringList>

namespace telvar {

struct Modulo1;
class Clock;
class ConfigLookup;
class Interaccion;
class ReadingsModel;
class RecordingLog;
class UnrecordedLog;

// The check of each reading the polling cycles hand on: it finds the port's
// configuration, lets the page's markers replace its format, machine and
// product, checks the reading against the port's limits, puts it on top of
// the readings grid (marked "?" and with a beep when outside them) and
// records a reading within them. A reading that cannot be recorded leaves a
// line in the recording log and in the file of unrecorded readings.
class ReadingRecorder final : public ReadingCheck {
public:
    ReadingRecorder(const Modulo1& m, Interaccion& ui, const Clock& clock,
                    const ConfigLookup& RsConfBusca, ReadingsModel& readings, RecordingLog& log,
                    UnrecordedLog& unrecorded, Grabador& grabador);

    Status LabelLee(const PortReading& reading) override;

    // The display tag: the clock right-aligned in two characters, "/", the
    // port with at least three digits (" 3/012").
    static QString displayTag(int reloj, int puert);

private:
    void logLine(const QString& line);
    QString unrecordedLine(const QString& time, int puert, const QString& cause,
                           const QString& reading) const;
    QString dataPath(const QStringList& parts) const;

    const Modulo1& m_m;
    Interaccion& m_ui;
    const Clock& m_clock;
    const ConfigLookup& m_RsConfBusca;
    ReadingsModel& m_readings;
    RecordingLog& m_log;
    UnrecordedLog& m_unrecorded;
    Grabador& m_grabador;
    // An engine without data tables is reported once; its readings are
    // still logged one by one.
    bool m_notSupportedReported = false;
};

} // namespace telvar
