#include "recording/ReadingRecorder.h"

#include "acquisition/MarkerLimits.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/NumericValue.h"
#include "common/TrimBlanks.h"
#include "config/ConfigLookup.h"
#include "recording/GrabaQLTR.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"

namespace telvar {

namespace {

// A marker's value when the page named one, else the port's own.
QString overridden(const QString& fromPage, const QString& configured)
{
    return fromPage.isEmpty() ? configured : fromPage;
}

} // namespace

ReadingRecorder::ReadingRecorder(const Modulo1& m, Interaccion& ui, const ConfigLookup& RsConfBusca,
                                 ReadingsModel& readings, RecordingLog& log, ReadingSink& recording,
                                 MarkerLimits* markerLimits)
    : m_m(m), m_ui(ui), m_RsConfBusca(RsConfBusca), m_readings(readings), m_log(log),
      m_recording(recording), m_markerLimits(markerLimits)
{
}

QString ReadingRecorder::displayTag(int reloj, int puert)
{
    return (QLatin1Char(' ') + QString::number(reloj)).right(2) + QLatin1Char('/') +
           QStringLiteral("%1").arg(puert, 3, 10, QLatin1Char('0'));
}

Status ReadingRecorder::LabelLee(const PortReading& reading)
{
    // The reading's own moment: when its page arrived.
    const QDateTime& stamp = reading.arrivedAt;
    const QString date = stamp.toString(QStringLiteral("yyyy/MM/dd"));
    const QString time = stamp.toString(QStringLiteral("HH:mm:ss"));
    const QString tag = displayTag(reading.reloj, reading.Puert);

    const std::optional<ConfigRow> row = m_RsConfBusca.find(reading.Puert);
    if (!row) {
        m_log.append(tag + QLatin1Char(' ') + date + QLatin1Char(' ') + time +
                     QStringLiteral("  LabelLee.Procesa no encontró la configuración. ") +
                     reading.reading);
        return {};
    }

    const QString format = overridden(reading.markers.format, row->Forma);
    const QString machine = overridden(reading.markers.machine, row->Maqui);
    const QString product = overridden(reading.markers.product, row->Produ);
    // A page that names its machine or product is checked against the
    // limits of what it named, never against none.
    Limits limits = reading.limits;
    if (m_markerLimits &&
        (!reading.markers.machine.isEmpty() || !reading.markers.product.isEmpty())) {
        const Result<Limits> named = m_markerLimits->limitsFor(
            trimBlanks(machine), trimBlanks(product), trimBlanks(row->Carac), reading.limits);
        if (!named)
            return named.error();
        limits = named.value();
    }
    const double value = numericValue(reading.reading);
    const bool within = limits.LimInf <= value && value <= limits.LimSup;
    if (!within)
        m_ui.beep();
    m_readings.addReading(ReadingRow{tag, date + QLatin1Char(' ') + time, row->Opera, format,
                                     machine, product, row->Carac, reading.reading,
                                     within ? QString() : QStringLiteral("?"), value, limits.LimInf,
                                     limits.LimSup, stamp});
    if (!within || m_programMustEnd)
        return {};

    Result<OutboxEntry> entry = GrabaQLTR::entryFor(
        m_m, ReadingToRecord{format, machine, product, row->Carac, row->Opera, reading.reading},
        stamp);
    if (!entry) {
        // The data database cannot be named: the program ends after the box.
        m_programMustEnd = true;
        SQLFileDat(m_m, m_ui, m_m.BaseDatos);
        return {};
    }
    entry.value().reloj = reading.reloj;
    entry.value().Puert = reading.Puert;
    m_recording.keep(std::move(entry.value()));
    return {};
}

} // namespace telvar
