#include "common/Modulo1.h"
#include "startup/LanguageFile.h"
#include "support/InstallationBuilder.h"
#include "support/RecordingInteraccion.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::BoxKind;
using telvar::LanguageTable;
using telvar::Result;
using telvar::test::InstallationBuilder;
using telvar::test::LanguageFileBuilder;
using telvar::test::RecordingInteraccion;

namespace {

class LanguageFileTest : public testing::Test {
protected:
    LanguageFileTest() : m_install(m_dir.path()) {}

    Result<LanguageTable> load(const QStringList& lines, const QString& codProducto = u"QLTR"_s)
    {
        return telvar::readLanguageFile(m_install.writeUnicode(u"QLLang.IAU"_s, lines),
                                        m_install.iauDir(), codProducto);
    }
    QString displayName() const { return m_install.iauDir() + u"QLLang.IAU"_s; }

    QTemporaryDir m_dir;
    InstallationBuilder m_install;
};

// A section holding the groups QL "first", RV "replacement", QL "second".
LanguageFileBuilder mixedSection()
{
    LanguageFileBuilder file(1, 0, 3, 2);
    file.addGroup(0, u"QL"_s, {u"first"_s, u"primero"_s})
        .addGroup(0, u"RV"_s, {u"replacement"_s, u"reemplazo"_s})
        .addGroup(0, u"QL"_s, {u"second"_s, u"segundo"_s});
    return file;
}

TEST_F(LanguageFileTest, QualitraProductSkipsReplacementGroups)
{
    const Result<LanguageTable> table = load(mixedSection().lines(), u"QLTR"_s);
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 1), u"first"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 1, 1), u"second"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 1, 2), u"segundo"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 2, 1), QString());
}

TEST_F(LanguageFileTest, OtherProductLetsReplacementOverwriteThePreviousGroup)
{
    const Result<LanguageTable> table = load(mixedSection().lines(), u"RVTR"_s);
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 1), u"replacement"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 2), u"reemplazo"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 1, 1), u"second"_s);
}

TEST_F(LanguageFileTest, OtherProductCountsGroupsOfAnyTag)
{
    LanguageFileBuilder file(1, 0, 3, 1);
    file.addGroup(0, u"QL"_s, {u"a"_s})
        .addGroup(0, u"XX"_s, {u"b"_s})
        .addGroup(0, u"QL"_s, {u"c"_s});
    const Result<LanguageTable> qualitra = load(file.lines(), u"QL"_s);
    ASSERT_TRUE(qualitra.ok());
    EXPECT_EQ(qualitra.value().Mensajes.text(0, 1, 1), u"c"_s);
    const Result<LanguageTable> other = load(file.lines(), u"Q"_s);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(other.value().Mensajes.text(0, 1, 1), u"b"_s);
    EXPECT_EQ(other.value().Mensajes.text(0, 2, 1), u"c"_s);
}

TEST_F(LanguageFileTest, TextStartsAtCharacterNine)
{
    const Result<LanguageTable> table =
        load({u"1"_s, u"0"_s, u"2"_s, u"1"_s, u"0"_s, u"000QL001Hola mundo"_s, u"001QL001"_s,
              u"002QLsh"_s, u"END"_s});
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 1), u"Hola mundo"_s);
    EXPECT_EQ(table.value().Mensajes.text(0, 1, 1), QString());
    EXPECT_EQ(table.value().Mensajes.text(0, 2, 1), QString());
}

TEST_F(LanguageFileTest, HeaderLinesCountByTheirLeadingNumber)
{
    const Result<LanguageTable> table =
        load({u" 1 "_s, u"3"_s, u"0"_s, u"1"_s, u"0 general"_s, u"END"_s, u"  1"_s, u"ENDING"_s,
              u"2.0"_s, u"END"_s, u"3 foo"_s, u"000QL001three"_s, u"END"_s});
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().Idioma, 1);
    EXPECT_EQ(table.value().Mensajes.text(3, 0, 1), u"three"_s);
}

TEST_F(LanguageFileTest, LastLineWithoutLineFeedAndCrLfMix)
{
    const QString path = m_install.writeUnicode(
        u"QLLang.IAU"_s, {u"1"_s, u"0"_s, u"0"_s, u"1"_s, u"0"_s, u"000QL001x\ry"_s, u"END"_s},
        false);
    const Result<LanguageTable> table = telvar::readLanguageFile(path, m_install.iauDir(), u"QL"_s);
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 1), u"xy"_s);
}

TEST_F(LanguageFileTest, InitIdiomaUsesTheChosenLanguageColumn)
{
    LanguageFileBuilder file(2, 1, 4, 3);
    file.setMessage(1, 4, {u"uno"_s, u"two"_s, u"trois"_s});
    m_install.writeUnicode(u"QLLANG.IAU"_s, file.lines());

    telvar::Modulo1 m;
    m.RutaIAU = m_install.iauDir();
    m.CodProducto = u"QLTR"_s;
    RecordingInteraccion ui;
    ASSERT_TRUE(telvar::InitIdioma(m, ui));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(m.Idioma, 2);
    EXPECT_EQ(m.Mensajes(1, 4), u"two"_s);
    EXPECT_EQ(m.messageTable.text(1, 4, 0), QString());
    EXPECT_EQ(m.messageTable.maxSection(), 1);
    EXPECT_EQ(m.messageTable.maxNumber(), 4);
    EXPECT_EQ(m.messageTable.languages(), 3);
}

TEST_F(LanguageFileTest, InitIdiomaReportsAndLeavesTheStateAlone)
{
    m_install.writeBytes(u"QLLang.IAU"_s, QByteArrayLiteral("\xFE\xFF\0"
                                                            "1"));
    telvar::Modulo1 m;
    m.RutaIAU = m_install.iauDir();
    m.Idioma = 7;
    RecordingInteraccion ui;
    EXPECT_FALSE(telvar::InitIdioma(m, ui));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes[0].text, displayName() + u" must be Unicode"_s);
    EXPECT_EQ(ui.boxes[0].icono, BoxKind::Critical);
    EXPECT_EQ(m.Idioma, 7);
}

TEST(LanguageFile, ValorNumericoReadsTheLeadingNumber)
{
    EXPECT_EQ(telvar::classicVal(u"3 foo"_s), 3);
    EXPECT_EQ(telvar::classicVal(u"  \t12abc"_s), 12);
    EXPECT_EQ(telvar::classicVal(u"-4"_s), -4);
    EXPECT_EQ(telvar::classicVal(u"2.5x"_s), 2.5);
    EXPECT_EQ(telvar::classicVal(u"1e2"_s), 100);
    EXPECT_EQ(telvar::classicVal(u"7e"_s), 7);
    EXPECT_EQ(telvar::classicVal(u"3 4"_s), 3);
    EXPECT_EQ(telvar::classicVal(u"Section 3"_s), 0);
    EXPECT_EQ(telvar::classicVal(QString()), 0);
    EXPECT_EQ(telvar::classicVal(u"-"_s), 0);
}

struct FailureCase {
    const char* name;
    QStringList lines;
    QString codProducto;
    QString report; // after the file name and two line feeds; "" = see full
    QString full;   // whole report when the file name is not its first line
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class LanguageFileFailures : public LanguageFileTest,
                             public testing::WithParamInterface<FailureCase> {};

TEST_P(LanguageFileFailures, AreRejectedWithTheFileSectionAndLine)
{
    const FailureCase& c = GetParam();
    const Result<LanguageTable> table = load(c.lines, c.codProducto);
    ASSERT_FALSE(table.ok());
    const QString expected = c.full.isEmpty()
                                 ? displayName() + u"\n\n"_s + c.report
                                 : QString(c.full).replace(u"$IAU"_s, m_install.iauDir());
    EXPECT_EQ(table.error().description, expected);
}

const FailureCase kFailureCases[] = {
    {"HeaderOfAnotherSection",
     {u"1"_s, u"1"_s, u"0"_s, u"1"_s, u"0"_s, u"END"_s, u"2"_s, u"END"_s},
     u"QL"_s,
     {},
     u"$IAUQLLANG.IAU Incorrecto\n\n1 <> 2"_s},
    // A header without a leading number has the value 0: right for section 0 only.
    {"WordHeader",
     {u"1"_s, u"1"_s, u"0"_s, u"1"_s, u"Section zero"_s, u"END"_s, u"Section one"_s, u"END"_s},
     u"QL"_s,
     {},
     u"$IAUQLLANG.IAU Incorrecto\n\n1 <> Section one"_s},
    {"NonNumericLanguage",
     {u"one"_s, u"0"_s, u"0"_s, u"1"_s},
     u"QL"_s,
     u"Line 1 (the language in use) is not a whole number: \"one\"."_s,
     {}},
    {"HeaderNumberWithWord",
     {u"1"_s, u"3 foo"_s, u"0"_s, u"1"_s},
     u"QL"_s,
     u"Line 2 (the highest section number) is not a whole number: \"3 foo\"."_s,
     {}},
    {"HeaderOverflow",
     {u"1"_s, u"0"_s, u"40000"_s, u"1"_s},
     u"QL"_s,
     u"Line 3 (the highest message number) is outside -32768..32767: 40000."_s,
     {}},
    {"HeaderCutShort",
     {u"1"_s, u"0"_s, u"0"_s},
     u"QL"_s,
     u"The file ends before line 4 (the number of languages)."_s,
     {}},
    {"LanguageZero",
     {u"0"_s, u"0"_s, u"0"_s, u"2"_s},
     u"QL"_s,
     u"Line 1: the language 0 is outside 1..2 (line 4 gives 2 languages)."_s,
     {}},
    {"LanguageAboveCount",
     {u"3"_s, u"0"_s, u"0"_s, u"2"_s},
     u"QL"_s,
     u"Line 1: the language 3 is outside 1..2 (line 4 gives 2 languages)."_s,
     {}},
    {"NegativeSections",
     {u"1"_s, u"-1"_s, u"0"_s, u"1"_s},
     u"QL"_s,
     u"Line 2: the highest section number -1 is negative."_s,
     {}},
    {"TableTooLarge",
     {u"1"_s, u"32767"_s, u"32767"_s, u"1"_s},
     u"QL"_s,
     u"Lines 2 to 4 ask for a table of 2147483648 entries; at most 1000000 are allowed."_s,
     {}},
    {"EndsInsideSection",
     {u"1"_s, u"1"_s, u"1"_s, u"1"_s, u"0"_s, u"000QL001a"_s, u"END"_s, u"1"_s, u"000QL001b"_s},
     u"QL"_s,
     u"The file ends at line 9, inside section 1 (no END line closes it)."_s,
     {}},
    {"EndsInsideGroup",
     {u"1"_s, u"0"_s, u"1"_s, u"2"_s, u"0"_s, u"000QL001a"_s},
     u"QL"_s,
     u"The file ends at line 6, inside section 0 (no END line closes it)."_s,
     {}},
    {"EndsBeforeSection",
     {u"1"_s, u"2"_s, u"0"_s, u"1"_s, u"0"_s, u"END"_s, u"1"_s, u"END"_s},
     u"QL"_s,
     u"The file ends at line 8, before section 2."_s,
     {}},
    {"TooManyMessages",
     {u"1"_s, u"0"_s, u"1"_s, u"1"_s, u"0"_s, u"000QL001a"_s, u"001QL001b"_s, u"002QL001c"_s,
      u"END"_s},
     u"QL"_s,
     u"Section 0, line 8: message number 2 is above the highest message number 1 of line 3."_s,
     {}},
    {"TooManyMessagesOfOtherProduct",
     {u"1"_s, u"0"_s, u"0"_s, u"1"_s, u"0"_s, u"000QL001a"_s, u"001XX001b"_s, u"END"_s},
     u"TV"_s,
     u"Section 0, line 7: message number 1 is above the highest message number 0 of line 3."_s,
     {}},
    {"ReplacementFirstInSection",
     {u"1"_s, u"1"_s, u"1"_s, u"2"_s, u"0"_s, u"END"_s, u"1"_s, u"000RV001a"_s, u"000RV002b"_s,
      u"END"_s},
     u"TV"_s,
     u"Section 1, line 8: an RV message replaces no earlier message (it is the first of its "
     "section)."_s,
     {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, LanguageFileFailures, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<FailureCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST_F(LanguageFileTest, ReplacementFirstIsHarmlessForTheQualitraProduct)
{
    const Result<LanguageTable> table =
        load({u"1"_s, u"0"_s, u"0"_s, u"1"_s, u"0"_s, u"000RV001a"_s, u"001QL001b"_s, u"END"_s},
             u"QLTR"_s);
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(table.value().Mensajes.text(0, 0, 1), u"b"_s);
}

TEST_F(LanguageFileTest, MissingOrEmptyOrBigEndianFilesMustBeUnicode)
{
    const QString mustBeUnicode = displayName() + u" must be Unicode"_s;
    Result<LanguageTable> missing =
        telvar::readLanguageFile(displayName(), m_install.iauDir(), u"QL"_s);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().description, mustBeUnicode);
    for (const QByteArray& bytes : {QByteArray(),
                                    QByteArrayLiteral("\xFE\xFF\0"
                                                      "1"),
                                    QByteArrayLiteral("\xEF\xBB\xBF"
                                                      "1")}) {
        const Result<LanguageTable> table = telvar::readLanguageFile(
            m_install.writeBytes(u"QLLang.IAU"_s, bytes), m_install.iauDir(), u"QL"_s);
        ASSERT_FALSE(table.ok());
        EXPECT_EQ(table.error().description, mustBeUnicode);
    }
}

} // namespace
