#include "acquisition/Extraction.h"
#include "common/ErrorNumbers.h"

#include <gtest/gtest.h>
#include <ostream>

using namespace Qt::Literals::StringLiterals;
using telvar::Extraction;
using telvar::PageMarkers;
using telvar::ReadingStatus;
using telvar::TPuerto;

namespace {

const char* statusName(ReadingStatus status)
{
    switch (status) {
    case ReadingStatus::Read:
        return "Read";
    case ReadingStatus::Blank:
        return "Blank";
    case ReadingStatus::NotFound:
        return "NotFound";
    case ReadingStatus::Failed:
        return "Failed";
    }
    return "?";
}

TPuerto port(const QString& ident, qint16 inici, qint16 longi)
{
    TPuerto p;
    p.WebPg = u"http://127.0.0.1/station"_s;
    p.Ident = ident;
    p.Inici = inici;
    p.Longi = longi;
    p.Reloj = u"1"_s;
    p.Puert = 1;
    return p;
}

struct ReadingCase {
    const char* name;
    QString page;
    QString ident;
    qint16 inici;
    qint16 longi;
    ReadingStatus status;
    QString reading;
};

void PrintTo(const ReadingCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadingTest : public testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingTest, CutsTheReadingAsThePollingCycleDoes)
{
    const ReadingCase& c = GetParam();
    const Extraction e = telvar::extractReading(c.page, port(c.ident, c.inici, c.longi));
    EXPECT_STREQ(statusName(e.status), statusName(c.status));
    EXPECT_EQ(e.reading, c.reading);
    if (c.status == ReadingStatus::NotFound)
        EXPECT_EQ(e.statusText, c.ident + u" not found"_s);
    else
        EXPECT_TRUE(e.statusText.isEmpty());
    if (c.status == ReadingStatus::Failed) {
        ASSERT_EQ(e.errors.size(), 1);
        EXPECT_EQ(e.errors[0].number, telvar::ErrorNumber::InvalidProcedureCall);
        EXPECT_EQ(e.errors[0].description, u"Invalid procedure call or argument"_s);
    } else {
        EXPECT_TRUE(e.errors.isEmpty());
    }
}

// Positions: the identifier at p, the reading from p + length(Ident) - 1 + Inici.
const ReadingCase readingCases[] = {
    {"FourCharactersRightAfterTheIdentifier", u"<b>T=12.5 kg</b>"_s, u"T="_s, 1, 4,
     ReadingStatus::Read, u"12.5"_s},
    {"IdentifierAbsent", u"<b>P=3.1</b>"_s, u"T="_s, 1, 4, ReadingStatus::NotFound, {}},
    {"IdentifierComparedCaseSensitively", u"t=12.5"_s, u"T="_s, 1, 4, ReadingStatus::NotFound, {}},
    {"FirstOccurrenceWins", u"T=1;T=2"_s, u"T="_s, 1, 1, ReadingStatus::Read, u"1"_s},
    {"StartFurtherAfterTheIdentifier", u"T=ab12"_s, u"T="_s, 3, 2, ReadingStatus::Read, u"12"_s},
    {"InicioZeroIsTheIdentifiersLastCharacter", u"T=12"_s, u"T="_s, 0, 2, ReadingStatus::Read,
     u"=1"_s},
    {"NegativeInicioReachesBackIntoThePage", u"AB T=12"_s, u"T="_s, -2, 3, ReadingStatus::Read,
     u" T="_s},
    {"StartAtTheFirstCharacter", u"T=12"_s, u"T="_s, -1, 2, ReadingStatus::Read, u"T="_s},
    {"StartBeforeThePagesBeginning", u"T=12"_s, u"T="_s, -2, 2, ReadingStatus::Failed, {}},
    {"StartAtTheLastCharacter", u"T=12"_s, u"T="_s, 2, 3, ReadingStatus::Read, u"2"_s},
    {"StartJustPastTheEnd", u"T=12"_s, u"T="_s, 3, 3, ReadingStatus::Blank, {}},
    {"StartFarPastTheEnd", u"T=12"_s, u"T="_s, 32767, 3, ReadingStatus::Blank, {}},
    {"IdentifierEndsThePage", u"abcT="_s, u"T="_s, 1, 4, ReadingStatus::Blank, {}},
    {"LengthBeyondTheEndGivesTheRest", u"T=12.5"_s, u"T="_s, 1, 100, ReadingStatus::Read,
     u"12.5"_s},
    {"LengthZero", u"T=12.5"_s, u"T="_s, 1, 0, ReadingStatus::Blank, {}},
    {"NegativeLength", u"T=12.5"_s, u"T="_s, 1, -1, ReadingStatus::Failed, {}},
    {"NegativeLengthPastTheEnd", u"T=12.5"_s, u"T="_s, 30, -1, ReadingStatus::Failed, {}},
    {"EmptyIdentifierCountsFromThePagesStart", u"abcdef"_s, u""_s, 3, 2, ReadingStatus::Read,
     u"cd"_s},
    {"EmptyIdentifierWithInicioZero", u"abcdef"_s, u""_s, 0, 2, ReadingStatus::Failed, {}},
    {"EmptyIdentifierInAnEmptyPage", u""_s, u""_s, 1, 2, ReadingStatus::NotFound, {}},
    {"EmptyPage", u""_s, u"T="_s, 1, 2, ReadingStatus::NotFound, {}},
    {"IdentifierLongerThanThePage", u"T="_s, u"T=12"_s, 1, 2, ReadingStatus::NotFound, {}},
    {"ReadingOfBlanksOnly", u"T=    kg"_s, u"T="_s, 1, 3, ReadingStatus::Blank, u"   "_s},
    {"TabsAndLineEndsAreNotBlanks", u"T=\t\r\n"_s, u"T="_s, 1, 3, ReadingStatus::Read, u"\t\r\n"_s},
    {"ReadingKeepsItsBlanks", u"T= 12 kg"_s, u"T="_s, 1, 4, ReadingStatus::Read, u" 12 "_s},
    {"CharactersOutsideTheBasicPlaneCountTwice", u"\U0001F600T=5"_s, u"T="_s, 1, 1,
     ReadingStatus::Read, u"5"_s},
    {"StartCountsBothHalvesOfAPair", u"T=\U0001F600x"_s, u"T="_s, 3, 1, ReadingStatus::Read,
     u"x"_s},
    {"IdentifierWithMarkup", u"<td id=\"t\">7.25</td>"_s, u"id=\"t\">"_s, 1, 4, ReadingStatus::Read,
     u"7.25"_s},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReadingTest, testing::ValuesIn(readingCases),
                         [](const testing::TestParamInfo<ReadingCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

struct MarkerCase {
    const char* name;
    QString page;
    QString forma, maqui, produ;
    qint16 inici;
    qint16 longi;
    ReadingStatus status;
    PageMarkers markers;
    qsizetype errors;
};

void PrintTo(const MarkerCase& c, std::ostream* os)
{
    *os << c.name;
}

class MarkerTest : public testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerTest, ReadsEachMarkerAtTheReadingsOffsetAndLength)
{
    const MarkerCase& c = GetParam();
    TPuerto p = port(u"T="_s, c.inici, c.longi);
    p.Forma = c.forma;
    p.Maqui = c.maqui;
    p.Produ = c.produ;
    const Extraction e = telvar::extractReading(c.page, p);
    EXPECT_STREQ(statusName(e.status), statusName(c.status));
    EXPECT_EQ(e.markers.format, c.markers.format);
    EXPECT_EQ(e.markers.machine, c.markers.machine);
    EXPECT_EQ(e.markers.product, c.markers.product);
    ASSERT_EQ(e.errors.size(), c.errors);
    for (const telvar::Error& error : e.errors)
        EXPECT_EQ(error.number, telvar::ErrorNumber::InvalidProcedureCall);
}

const QString station = u"F=F01;M=M07;P=P22;T=1.5;"_s;

const MarkerCase markerCases[] = {
    {"AllThreePresent",
     station,
     u"F="_s,
     u"M="_s,
     u"P="_s,
     1,
     3,
     ReadingStatus::Read,
     {u"F01"_s, u"M07"_s, u"P22"_s},
     0},
    {"OnlyTheMachine", station, {}, u"M="_s, {}, 1, 3, ReadingStatus::Read, {{}, u"M07"_s, {}}, 0},
    {"AbsentMarkerIsEmpty",
     station,
     u"FRM="_s,
     u"M="_s,
     u"p="_s,
     1,
     3,
     ReadingStatus::Read,
     {{}, u"M07"_s, {}},
     0},
    {"SameStartAndLengthAsTheReading",
     station,
     u"F="_s,
     u"M="_s,
     u"P="_s,
     2,
     2,
     ReadingStatus::Read,
     {u"01"_s, u"07"_s, u"22"_s},
     0},
    {"MarkerAtThePagesEndGivesEmpty",
     u"T=1.5;M="_s,
     {},
     u"M="_s,
     {},
     1,
     3,
     ReadingStatus::Read,
     {},
     0},
    {"MarkerCutBeforeThePagesBeginningFailsAlone",
     u"M=M07;T=1.5"_s,
     {},
     u"M="_s,
     {},
     -2,
     3,
     ReadingStatus::Read,
     {},
     1},
    {"NotReadWhenTheReadingIsBlank",
     u"F=F01;T=   ;"_s,
     u"F="_s,
     {},
     {},
     1,
     3,
     ReadingStatus::Blank,
     {},
     0},
    {"NotReadWhenTheIdentifierIsAbsent",
     u"F=F01;M=M07"_s,
     u"F="_s,
     u"M="_s,
     {},
     1,
     3,
     ReadingStatus::NotFound,
     {},
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, MarkerTest, testing::ValuesIn(markerCases),
                         [](const testing::TestParamInfo<MarkerCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST(ExtractionTest, TheReadingStandsWhenAMarkerCannotBeCut)
{
    TPuerto p = port(u"T="_s, -2, 3);
    p.Maqui = u"M="_s;
    const Extraction e = telvar::extractReading(u"M=M07;T=1.5"_s, p);
    EXPECT_EQ(e.status, ReadingStatus::Read);
    EXPECT_EQ(e.reading, u";T="_s);
    EXPECT_TRUE(e.markers.machine.isEmpty());
    ASSERT_EQ(e.errors.size(), 1);
}

struct PositionCase {
    QString text;
    QString what;
    qsizetype position;
};

TEST(ClassicPositionTest, CountsFromOneAndGivesZeroWhenAbsent)
{
    const PositionCase cases[] = {
        {u"abc"_s, u"a"_s, 1}, {u"abc"_s, u"c"_s, 3}, {u"abc"_s, u"abcd"_s, 0},
        {u"abc"_s, u"B"_s, 0}, {u"abc"_s, u""_s, 1},  {u""_s, u""_s, 0},
        {u""_s, u"a"_s, 0},
    };
    for (const PositionCase& c : cases)
        EXPECT_EQ(telvar::classicPosition(c.text, c.what), c.position)
            << c.text.toStdString() << " / " << c.what.toStdString();
}

} // namespace
