#include "recording/ReadingRecorder.h"

#include "acquisition/Clock.h"
#include "common/ErrorNumbers.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/TrimBlanks.h"
#include "common/ValorNumerico.h"
#include "config/ConfigLookup.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/UnrecordedLog.h"

#include <QDir>

namespace telvar {

namespace {

// A marker's value when the page named one, else the port's own.
QString overridden(const QString& fromPage, const QString& configured)
{
    return fromPage.isEmpty() ? configured : fromPage;
}

} // namespace

ReadingRecorder::ReadingRecorder(const Modulo1& m, Interaccion& ui, const Clock& clock,
                                 const ConfigLookup& RsConfBusca, ReadingsModel& readings,
                                 RecordingLog& log, UnrecordedLog& unrecorded, Grabador& grabador)
    : m_m(m), m_ui(ui), m_clock(clock), m_RsConfBusca(RsConfBusca), m_readings(readings),
      m_log(log), m_unrecorded(unrecorded), m_grabador(grabador)
{
}

QString ReadingRecorder::displayTag(int reloj, int puert)
{
    return (QLatin1Char(' ') + QString::number(reloj)).right(2) + QLatin1Char('/') +
           QStringLiteral("%1").arg(puert, 3, 10, QLatin1Char('0'));
}

Status ReadingRecorder::LabelLee(const PortReading& reading)
{
    const QDateTime now = m_clock.now();
    const QString date = now.toString(QStringLiteral("yyyy/MM/dd"));
    const QString time = now.toString(QStringLiteral("HH:mm:ss"));
    const QString tag = displayTag(reading.reloj, reading.Puert);

    const std::optional<ConfigRow> row = m_RsConfBusca.find(reading.Puert);
    if (!row) {
        logLine(tag + QLatin1Char(' ') + date + QLatin1Char(' ') + time +
                QStringLiteral("  LabelLee.Procesa no encontró la configuración. ") +
                reading.reading);
        return {};
    }

    const QString formato = overridden(reading.markers.formato, row->Forma);
    const QString maquina = overridden(reading.markers.maquina, row->Maqui);
    const QString producto = overridden(reading.markers.producto, row->Produ);
    const double value = valorNumerico(reading.reading);
    const bool within = reading.limites.LimInf <= value && value <= reading.limites.LimSup;
    if (!within)
        m_ui.beep();
    m_readings.addReading(ReadingRow{tag, date + QLatin1Char(' ') + time, row->Opera, formato,
                                     maquina, producto, row->Carac, reading.reading,
                                     within ? QString() : QStringLiteral("?")});
    if (!within)
        return {};

    const Result<CodeErr> recorded = m_grabador.grabarLectura(LecturaAGrabar{
        formato, maquina, producto, trimBlanks(row->Carac), row->Opera, reading.reading});
    if (!recorded) {
        const RuntimeError& error = recorded.error();
        logLine(unrecordedLine(time, reading.Puert, error.descripcion, reading.reading));
        // A failed opening has been reported as it happened.
        if (m_grabador.lastErrorShown())
            return {};
        if (error.numero == ErrorNumber::NotSupported) {
            if (m_notSupportedReported)
                return {};
            m_notSupportedReported = true;
        }
        return error;
    }
    switch (recorded.value()) {
    case CodeErr::Grabado:
        return {};
    case CodeErr::SinDirectorioFormato:
        logLine(unrecordedLine(time, reading.Puert,
                               m_m.Mensajes(76, 9) + QLatin1Char(' ') + dataPath({formato}),
                               reading.reading));
        return {};
    case CodeErr::SinDirectorioMaquina:
        logLine(
            unrecordedLine(time, reading.Puert,
                           m_m.Mensajes(76, 9) + QLatin1Char(' ') + dataPath({formato, maquina}),
                           reading.reading));
        return {};
    case CodeErr::SinArchivoDatos:
        logLine(unrecordedLine(time, reading.Puert,
                               m_m.Mensajes(76, 10) + QLatin1Char(' ') +
                                   dataPath({formato, maquina, producto}),
                               reading.reading));
        return {};
    }
    return {};
}

QString ReadingRecorder::unrecordedLine(const QString& time, int puert, const QString& cause,
                                        const QString& reading) const
{
    const QString line = time + QLatin1Char(' ') + m_m.Mensajes(76, 1) + QStringLiteral(": ") +
                         QString::number(puert) + QLatin1Char(' ') + cause;
    // The reading itself, so that it can be entered by hand afterwards.
    const QString withReading = line + QStringLiteral(" = ") + reading;
    m_unrecorded.append(m_clock.now().toString(QStringLiteral("yyyy-MM-dd ")) + withReading);
    return withReading;
}

void ReadingRecorder::logLine(const QString& line)
{
    m_log.append(line);
}

QString ReadingRecorder::dataPath(const QStringList& parts) const
{
    // The format's directory, the machine's below it, the product's file.
    QString path = m_m.RutaDatos;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            path += QDir::separator();
        path += trimBlanks(parts[i]);
    }
    if (parts.size() == 3)
        path += QStringLiteral(".MDB");
    return path;
}

} // namespace telvar
