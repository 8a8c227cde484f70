#include "acquisition/ReadingCheck.h"
#include "config/ConfigDatabase.h"
#include "recording/ReadingRecorder.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingService.h"
#include "recording/UnrecordedLog.h"
#include "support/ConfigFixture.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace telvar {
namespace {

// A recording that keeps what it is handed.
class KeptReadings final : public ReadingSink {
public:
    void keep(OutboxEntry entry) override { kept.append(std::move(entry)); }
    QList<OutboxEntry> kept;
};

// The reading check over a configuration with ports 4 and 7, the recording
// replaced by one that keeps what it is handed.
class ReadingRecorderTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m.messageTable.setText(76, 1, m.Idioma, QStringLiteral("No grabado, puerto"));
        m.messageTable.setText(76, 9, m.Idioma, QStringLiteral("no existe el directorio"));
        m.messageTable.setText(76, 10, m.Idioma, QStringLiteral("no existe el archivo"));
        m.RutaDatos = QStringLiteral("/datos/");
        const QString path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                                          {{4, QStringLiteral("A"), QStringLiteral("E1"), 3},
                                           {7, QStringLiteral("B"), QStringLiteral("E1"), 10}});
        writeTLVDirec({path});
        ASSERT_TRUE(openDatabase(path)
                        ->exec(QStringLiteral("update HTMCONFI set Opera = 'OP1', Forma = 'F1', "
                                              "Maqui = 'M1', Produ = 'P1', Carac = ' DIAM '"))
                        .ok());
        ASSERT_EQ(m_config.Reinicia(), ReiniciaOutcome::Done);
        m_log.setCapacity(10);
        m.TipoBD = QStringLiteral("[JET4]");
        m.NumTurnos = 2;
        m.TurnoClave = {QString(), QStringLiteral("A"), QStringLiteral("B")};
        m.TurnoHasta = {0, 600, 1400};
    }

    // A reading of port puert whose page arrived at 7:04:09.250.
    PortReading reading(const QString& text, Limits limits = {10, 20}, int puert = 4)
    {
        return PortReading{
            3, 1, puert, limits, text, {}, QDateTime(QDate(2026, 3, 5), QTime(7, 4, 9, 250))};
    }

    ConfigDatabase m_config{m, ui};
    ReadingsModel m_readings{m};
    RecordingLog m_log;
    KeptReadings m_sink;
    QList<OutboxEntry>& m_recorded = m_sink.kept;
    ReadingRecorder m_recorder{m, ui, m_config.RsConfBusca(), m_readings, m_log, m_sink, nullptr};
};

TEST_F(ReadingRecorderTest, AReadingWithinItsLimitsIsShownAndRecorded)
{
    PortReading r = reading(QStringLiteral("20.0 "));
    r.markers.machine = QStringLiteral("MX9");
    ASSERT_TRUE(m_recorder.LabelLee(r).ok());

    ASSERT_EQ(m_readings.rowCount(), 1);
    const ReadingRow& row = m_readings.reading(0);
    EXPECT_EQ(row.tag, QStringLiteral(" 3/004"));
    EXPECT_EQ(row.dateTime, QStringLiteral("2026/03/05 07:04:09"));
    EXPECT_EQ(row.Opera, QStringLiteral("OP1"));
    EXPECT_EQ(row.Formato, QStringLiteral("F1"));
    EXPECT_EQ(row.Maquina, QStringLiteral("MX9"));
    EXPECT_EQ(row.Producto, QStringLiteral("P1"));
    EXPECT_EQ(row.Carac, QStringLiteral(" DIAM "));
    EXPECT_EQ(row.reading, QStringLiteral("20.0 "));
    EXPECT_EQ(row.Marca, QString());
    EXPECT_EQ(ui.beeps, 0);

    // Kept with where it goes and the moment its page arrived.
    ASSERT_EQ(m_recorded.size(), 1);
    const OutboxEntry& kept = m_recorded[0];
    EXPECT_EQ(kept.Puert, 4);
    EXPECT_EQ(kept.reloj, 3);
    EXPECT_EQ(kept.engine, QStringLiteral("[JET4]"));
    EXPECT_EQ(kept.base, QStringLiteral("/datos/"));
    EXPECT_EQ(kept.Forma, QStringLiteral("F1"));
    EXPECT_EQ(kept.Maqui, QStringLiteral("MX9"));
    EXPECT_EQ(kept.Produ, QStringLiteral("P1"));
    EXPECT_EQ(kept.Carac, QStringLiteral("DIAM"));
    EXPECT_EQ(kept.Opera, QStringLiteral("OP1"));
    EXPECT_EQ(kept.Valor, QStringLiteral("20.0 "));
    EXPECT_EQ(kept.stamp, QDateTime(QDate(2026, 3, 5), QTime(7, 4, 9)));
    EXPECT_EQ(kept.Turno, QStringLiteral("B"));
    EXPECT_TRUE(m_log.lines().isEmpty());
}

TEST_F(ReadingRecorderTest, TheLimitsAreInclusiveAndTheValueIsTheLeadingNumber)
{
    const struct {
        const char* text;
        Limits limits;
        bool within;
    } cases[] = {
        {"10", {10, 20}, true},     {"20", {10, 20}, true},       {"9.99", {10, 20}, false},
        {"20.01", {10, 20}, false}, {"12,5", {12, 12}, true},     {"abc", {0, 0}, true},
        {"abc", {1, 2}, false},     {"-3.5e1", {-36, -34}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const int recordedBefore = static_cast<int>(m_recorded.size());
        const int beepsBefore = ui.beeps;
        ASSERT_TRUE(m_recorder.LabelLee(reading(QString::fromUtf8(c.text), c.limits)).ok());
        EXPECT_EQ(m_readings.reading(0).Marca, c.within ? QString() : QStringLiteral("?"));
        EXPECT_EQ(m_recorded.size() - recordedBefore, c.within ? 1 : 0);
        EXPECT_EQ(ui.beeps - beepsBefore, c.within ? 0 : 1);
    }
    // A reading outside its limits leaves no log line.
    EXPECT_TRUE(m_log.lines().isEmpty());
}

TEST_F(ReadingRecorderTest, APortWithoutConfigurationIsLoggedAndNotShown)
{
    PortReading r = reading(QStringLiteral("15"), {10, 20}, 99);
    r.reloj = 10;
    ASSERT_TRUE(m_recorder.LabelLee(r).ok());
    EXPECT_EQ(m_readings.rowCount(), 0);
    EXPECT_TRUE(m_recorded.isEmpty());
    ASSERT_EQ(m_log.lines().size(), 1);
    EXPECT_EQ(m_log.lines()[0].trimmed(),
              QStringLiteral("10/099 2026/03/05 07:04:09  LabelLee.Procesa no encontró la "
                             "configuración. 15"));
}

TEST_F(ReadingRecorderTest, ADataDatabaseThatCannotBeNamedEndsTheProgramWithOneBox)
{
    m.TipoBD = QStringLiteral("[POSTGRESQL]");
    m.Empresa = QStringLiteral("KORVEXIA");
    m.BaseDatos = QStringLiteral("PLANT1X");
    ASSERT_TRUE(m_recorder.LabelLee(reading(QStringLiteral("12"))).ok());
    ASSERT_TRUE(m_recorder.LabelLee(reading(QStringLiteral("13"))).ok());
    EXPECT_TRUE(m_recorder.programMustEnd());
    EXPECT_TRUE(m_recorded.isEmpty());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes[0].text, QStringLiteral("El sexto caracter de PLANT1X no puede ser 1"));
}

TEST_F(ReadingRecorderTest, TheUnrecordedFileFallsBackWhenTheProgramFolderIsReadOnly)
{
    // Nothing can be created under /proc.
    UnrecordedLog log(QStringLiteral("/proc/telvar-no/no.log"),
                      dir.filePath(QStringLiteral("fallback/no.log")));
    ASSERT_TRUE(log.append(QStringLiteral("line one\r\nstill one\u2028and\u0085one")));
    QFile file(log.fallbackPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // No character of the text can make a line of its own.
    EXPECT_EQ(QString::fromUtf8(file.readAll()),
              QStringLiteral("line one\uFFFD\uFFFDstill one\uFFFDand\uFFFDone\n"));
}

TEST(DisplayTag, ClockAndPort)
{
    EXPECT_EQ(ReadingRecorder::displayTag(10, 7), QStringLiteral("10/007"));
    EXPECT_EQ(ReadingRecorder::displayTag(1, 123), QStringLiteral(" 1/123"));
    EXPECT_EQ(ReadingRecorder::displayTag(3, 12), QStringLiteral(" 3/012"));
    EXPECT_EQ(ReadingRecorder::displayTag(3, 1234), QStringLiteral(" 3/1234"));
}

} // namespace
} // namespace telvar
