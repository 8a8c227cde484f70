#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "recording/GrabaQLTR.h"
#include "support/RecordingInteraccion.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

// The shift table as start-up leaves it: element 0 exists and stays empty.
Modulo1 withShifts(const QStringList& claves, const QList<qint16>& hasta)
{
    Modulo1 m;
    m.NumTurnos = static_cast<qint16>(claves.size());
    m.TurnoClave = QStringList{QString()} + claves;
    m.TurnoHasta = QList<qint16>{0} + hasta;
    return m;
}

struct TurnoCase {
    const char* hours;
    const char* turno;
};

TEST(TurnoDeHora, TheFirstShiftThatEndsAfterTheTimeWins)
{
    const Modulo1 m = withShifts({u"1"_s, u"2"_s, u"3"_s}, {600, 1400, 2200});
    const TurnoCase cases[] = {
        {"0000", "1"}, {"0559", "1"}, {"0600", "2"}, {"1359", "2"},
        {"1400", "3"}, {"2159", "3"}, {"2200", " "}, {"2230", " "},
    };
    for (const TurnoCase& c : cases) {
        SCOPED_TRACE(c.hours);
        EXPECT_EQ(TurnoDeHora(m, QString::fromLatin1(c.hours)), QString::fromLatin1(c.turno));
    }
}

TEST(TurnoDeHora, ShiftsAreTakenInTheFilesOrder)
{
    // The night shift closes the day again: the time after 22:00 finds it
    // last; a time before an earlier-listed later limit takes that one.
    const Modulo1 night = withShifts({u"N"_s, u"M"_s, u"T"_s, u"N"_s}, {600, 1400, 2200, 2400});
    EXPECT_EQ(TurnoDeHora(night, u"2230"_s), u"N"_s);
    EXPECT_EQ(TurnoDeHora(night, u"0704"_s), u"M"_s);
    const Modulo1 unordered = withShifts({u"A"_s, u"B"_s}, {1400, 600});
    EXPECT_EQ(TurnoDeHora(unordered, u"0500"_s), u"A"_s);
    EXPECT_EQ(TurnoDeHora(unordered, u"1500"_s), u" "_s);
}

TEST(TurnoDeHora, WithoutShiftsOrWithATableShorterThanItsCountGivesABlank)
{
    EXPECT_EQ(TurnoDeHora(Modulo1{}, u"0800"_s), u" "_s);
    Modulo1 shortTable = withShifts({u"1"_s}, {600});
    shortTable.NumTurnos = 5;
    EXPECT_EQ(TurnoDeHora(shortTable, u"0500"_s), u"1"_s);
    EXPECT_EQ(TurnoDeHora(shortTable, u"0800"_s), u" "_s);
}

struct SqlFileDatCase {
    const char* empresa;
    const char* base;
    const char* name; // nullptr: the program must end
};

TEST(SQLFileDat, NamesTheDataDatabaseOrEndsTheProgram)
{
    const SqlFileDatCase cases[] = {
        {"Planta de demostración", "PLANTA", "PLANTADATA"},
        {"Planta de demostración", "PLANT1X", "PLANT1XDATA"},
        {"", "qualitra", "qualitraDATA"},
        {"KORVEXIA S.A.", "PLANTA", "PLANT1"},
        {"Grupo korvexia", "QUALITRA", "QUALI1RA"},
        {"KorVexia", "PLANTAS", "PLANT1S"},
        {"KORVEXIA", "PLANT1X", nullptr},
        {"KORVEXIA", "ABCDE1", nullptr},
        // Shorter than six characters: the "1" is appended.
        {"KORVEXIA", "PLANT", "PLANT1"},
        {"KORVEXIA", "ABC", "ABC1"},
        {"KORVEXIA", "", "1"},
    };
    for (const SqlFileDatCase& c : cases) {
        SCOPED_TRACE(std::string(c.empresa) + " / " + c.base);
        Modulo1 m;
        m.Empresa = QString::fromUtf8(c.empresa);
        test::RecordingInteraccion ui;
        const QString base = QString::fromLatin1(c.base);
        const SqlFileDatResult result = SQLFileDat(m, ui, base);
        EXPECT_EQ(dataDatabaseName(m.Empresa, base).has_value(), c.name != nullptr);
        if (c.name) {
            EXPECT_FALSE(result.endProgram);
            EXPECT_EQ(result.name, QString::fromLatin1(c.name));
            EXPECT_TRUE(ui.boxes.isEmpty());
            continue;
        }
        EXPECT_TRUE(result.endProgram);
        EXPECT_TRUE(result.name.isEmpty());
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes[0].type, test::RecordingInteraccion::Box::Type::MessageBox);
        EXPECT_EQ(ui.boxes[0].icono, BoxKind::Critical);
        EXPECT_EQ(ui.boxes[0].text, u"El sexto caracter de "_s + base + u" no puede ser 1"_s);
    }
}

} // namespace
} // namespace telvar
