#include "acquisition/ReadingCheck.h"
#include "config/ConfigDatabase.h"
#include "config/config_fixture.h"
#include "recording/ReadingRecorder.h"
#include "recording/ReadingsModel.h"
#include "recording/RecordingLog.h"
#include "recording/UnrecordedLog.h"
#include "support/ManualClock.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace telvar {
namespace {

// A recording that records what it is handed and answers as told.
class ScriptedGrabador final : public Grabador {
public:
    Result<CodeErr> grabarLectura(const LecturaAGrabar& lectura) override
    {
        recorded.append(lectura);
        return answer;
    }
    bool lastErrorShown() const override { return shown; }

    QList<LecturaAGrabar> recorded;
    Result<CodeErr> answer = CodeErr::Grabado;
    bool shown = false;
};

// The reading check over a configuration with ports 4 and 7, the recording
// replaced by one that records what it is handed and answers as told.
class ReadingRecorderTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m.TablaMensajes.setText(76, 1, m.Idioma, QStringLiteral("No grabado, puerto"));
        m.TablaMensajes.setText(76, 9, m.Idioma, QStringLiteral("no existe el directorio"));
        m.TablaMensajes.setText(76, 10, m.Idioma, QStringLiteral("no existe el archivo"));
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
        m_clock.setNow(QDateTime(QDate(2026, 3, 5), QTime(7, 4, 9)));
    }

    PortReading reading(const QString& text, Limites limites = {10, 20}, int puert = 4)
    {
        return PortReading{3, 1, puert, limites, text, {}};
    }

    QString unrecordedFile() const
    {
        QFile file(m_unrecorded.path());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll());
    }

    ConfigDatabase m_config{m, ui};
    test::ManualClock m_clock;
    ReadingsModel m_readings{m};
    RecordingLog m_log;
    UnrecordedLog m_unrecorded{dir.filePath(QStringLiteral("no.log")),
                               dir.filePath(QStringLiteral("fallback/no.log"))};
    ScriptedGrabador m_grabador;
    QList<LecturaAGrabar>& m_recorded = m_grabador.recorded;
    Result<CodeErr>& m_answer = m_grabador.answer;
    ReadingRecorder m_recorder{m,          ui,    m_clock,      m_config.RsConfBusca(),
                               m_readings, m_log, m_unrecorded, m_grabador};
};

TEST_F(ReadingRecorderTest, AReadingWithinItsLimitsIsShownAndRecorded)
{
    PortReading r = reading(QStringLiteral("20.0 "));
    r.markers.maquina = QStringLiteral("MX9");
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

    ASSERT_EQ(m_recorded.size(), 1);
    EXPECT_EQ(m_recorded[0].Maqui, QStringLiteral("MX9"));
    EXPECT_EQ(m_recorded[0].Carac, QStringLiteral("DIAM"));
    EXPECT_EQ(m_recorded[0].Opera, QStringLiteral("OP1"));
    EXPECT_EQ(m_recorded[0].Valor, QStringLiteral("20.0 "));
    EXPECT_TRUE(m_log.lines().isEmpty());
}

TEST_F(ReadingRecorderTest, TheLimitsAreInclusiveAndTheValueIsTheLeadingNumber)
{
    const struct {
        const char* text;
        Limites limites;
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
        ASSERT_TRUE(m_recorder.LabelLee(reading(QString::fromUtf8(c.text), c.limites)).ok());
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

TEST_F(ReadingRecorderTest, AReadingThatCannotBeRecordedIsLoggedWithItsValue)
{
    const QString sep = QDir::separator();
    const struct {
        CodeErr code;
        QString cause;
    } cases[] = {
        {CodeErr::SinDirectorioFormato, QStringLiteral("no existe el directorio /datos/F1")},
        {CodeErr::SinDirectorioMaquina,
         QStringLiteral("no existe el directorio /datos/F1") + sep + QStringLiteral("M1")},
        {CodeErr::SinArchivoDatos, QStringLiteral("no existe el archivo /datos/F1") + sep +
                                       QStringLiteral("M1") + sep + QStringLiteral("P1.MDB")},
    };
    for (const auto& c : cases) {
        m_answer = c.code;
        ASSERT_TRUE(m_recorder.LabelLee(reading(QStringLiteral("12.5"))).ok());
        const QString expected =
            QStringLiteral("07:04:09 No grabado, puerto: 4 ") + c.cause + QStringLiteral(" = 12.5");
        EXPECT_EQ(m_log.lines().back().trimmed(), expected);
        EXPECT_EQ(m_log.lines().back().size(), RecordingLog::kLineWidth);
        EXPECT_TRUE(unrecordedFile().endsWith(QStringLiteral("2026-03-05 ") + expected +
                                              QLatin1Char('\n')));
    }
    EXPECT_EQ(unrecordedFile().count(QLatin1Char('\n')), 3);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ReadingRecorderTest, ARecordingErrorIsLoggedAndGoesBackToTheCycle)
{
    m_answer = RuntimeError{-2147217865, QStringLiteral("SQLite"), QStringLiteral("no such table")};
    const Status failed = m_recorder.LabelLee(reading(QStringLiteral("12.5")));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().descripcion, QStringLiteral("no such table"));
    EXPECT_EQ(m_log.lines().back().trimmed(),
              QStringLiteral("07:04:09 No grabado, puerto: 4 no such table = 12.5"));
    EXPECT_TRUE(unrecordedFile().contains(QStringLiteral("no such table = 12.5")));

    // An engine without data tables is reported once; each reading is logged.
    m_answer = RuntimeError{3251, QStringLiteral("Telvar"), QStringLiteral("not available")};
    EXPECT_FALSE(m_recorder.LabelLee(reading(QStringLiteral("13"))).ok());
    EXPECT_TRUE(m_recorder.LabelLee(reading(QStringLiteral("14"))).ok());
    EXPECT_TRUE(m_log.lines().back().contains(QStringLiteral("not available = 14")));

    // A failure already shown (a failed opening) is logged, not shown again.
    m_answer = RuntimeError{-2147467259, QStringLiteral("SQLite"), QStringLiteral("gone")};
    m_grabador.shown = true;
    EXPECT_TRUE(m_recorder.LabelLee(reading(QStringLiteral("15"))).ok());
    EXPECT_TRUE(m_log.lines().back().contains(QStringLiteral("gone = 15")));
}

TEST_F(ReadingRecorderTest, TheUnrecordedFileFallsBackWhenTheProgramFolderIsReadOnly)
{
    // Nothing can be created under /proc.
    UnrecordedLog log(QStringLiteral("/proc/telvar-no/no.log"),
                      dir.filePath(QStringLiteral("fallback/no.log")));
    ASSERT_TRUE(log.append(QStringLiteral("line one\r\nstill one")));
    QFile file(log.fallbackPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("line one  still one\n"));
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
