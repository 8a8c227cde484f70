#include "startup/SequentialInput.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using telvar::Result;
using telvar::SequentialInput;
using namespace Qt::Literals::StringLiterals;

namespace {

QStringList readAll(const QByteArray& bytes)
{
    SequentialInput input(bytes, QStringLiteral("/inst/IAu/QLDirec.iau"));
    QStringList fields;
    while (!input.atEnd()) {
        const Result<QString> field = input.next();
        EXPECT_TRUE(field.ok());
        if (!field)
            break;
        fields.append(field.value());
    }
    return fields;
}

struct FieldCase {
    const char* name;
    QByteArray bytes;
    QStringList fields;
};

void PrintTo(const FieldCase& c, std::ostream* os)
{
    *os << c.name;
}

class SequentialInputFields : public testing::TestWithParam<FieldCase> {};

TEST_P(SequentialInputFields, SplitsLikeClassicInput)
{
    EXPECT_EQ(readAll(GetParam().bytes), GetParam().fields);
}

const FieldCase kFieldCases[] = {
    {"Commas", QByteArrayLiteral("a,b,c"), {u"a"_s, u"b"_s, u"c"_s}},
    {"BlanksAroundUnquotedDropped",
     QByteArrayLiteral("  a b  ,\tb\t, c"),
     {u"a b"_s, u"b"_s, u"c"_s}},
    {"QuotedKeepsCommasAndBlanks", QByteArrayLiteral("\" x, y \",z"), {u" x, y "_s, u"z"_s}},
    {"QuotedDiscardsRestUpToSeparator",
     QByteArrayLiteral("\"q\" junk, next\r\nlast"),
     {u"q"_s, u"next"_s, u"last"_s}},
    {"QuotedAfterBlanks", QByteArrayLiteral("   \"q\"  "), {u"q"_s}},
    {"QuotedRunsOverLineEnds", QByteArrayLiteral("\"a\r\nb\",c"), {u"a\r\nb"_s, u"c"_s}},
    {"UnterminatedQuoteRunsToEnd", QByteArrayLiteral("x,\"open"), {u"x"_s, u"open"_s}},
    {"QuoteInsideUnquotedFieldIsText", QByteArrayLiteral("ab\"c,d"), {u"ab\"c"_s, u"d"_s}},
    {"LineEndsCrLfLfCr", QByteArrayLiteral("a\r\nb\nc\rd"), {u"a"_s, u"b"_s, u"c"_s, u"d"_s}},
    {"EmptyLineIsEmptyField", QByteArrayLiteral("a\r\n\r\nb"), {u"a"_s, u""_s, u"b"_s}},
    {"EmptyLinesWithLf", QByteArrayLiteral("a\n\nb\n"), {u"a"_s, u""_s, u"b"_s}},
    {"CommaBeforeLineEnd", QByteArrayLiteral("a,\r\nb"), {u"a"_s, u""_s, u"b"_s}},
    {"FinalLineEndGivesNoField", QByteArrayLiteral("a\r\n"), {u"a"_s}},
    {"LoneComma", QByteArrayLiteral(","), {u""_s}},
    {"EmptyFile", QByteArrayLiteral(""), {}},
    {"Latin1Bytes", QByteArrayLiteral("Mart\xEDnez,\xC1rea"), {u"Mart\u00EDnez"_s, u"\u00C1rea"_s}},
    {"Utf8Bytes", QByteArrayLiteral("Mart\xC3\xADnez"), {u"Mart\u00EDnez"_s}},
};

INSTANTIATE_TEST_SUITE_P(Cases, SequentialInputFields, testing::ValuesIn(kFieldCases),
                         [](const testing::TestParamInfo<FieldCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST(SequentialInput, CountsFieldsAndLines)
{
    SequentialInput input("one,two\r\n\"three\r\nstill three\"\nfour", QStringLiteral("f"));
    ASSERT_TRUE(input.next().ok());
    EXPECT_EQ(input.fieldNumber(), 1);
    EXPECT_EQ(input.lineNumber(), 1);
    ASSERT_TRUE(input.next().ok());
    EXPECT_EQ(input.lineNumber(), 1);
    ASSERT_TRUE(input.next().ok());
    EXPECT_EQ(input.lineNumber(), 2);
    ASSERT_TRUE(input.next().ok());
    EXPECT_EQ(input.fieldNumber(), 4);
    EXPECT_EQ(input.lineNumber(), 4);
    EXPECT_TRUE(input.atEnd());
}

TEST(SequentialInput, ReadingPastTheEndIsAnErrorNamingTheFile)
{
    SequentialInput input("only", QStringLiteral("/inst/IAu/QLTurn.IAU"));
    ASSERT_TRUE(input.next().ok());
    const Result<QString> past = input.next();
    ASSERT_FALSE(past.ok());
    EXPECT_EQ(past.error().number, 62);
    EXPECT_EQ(past.error().description,
              QStringLiteral("Input past end of file: /inst/IAu/QLTurn.IAU has no field 2"));
}

struct IntegerCase {
    const char* name;
    QByteArray bytes;
    long long number; // 0: converts to value
    int value;
    const char* description;
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << c.name;
}

class SequentialInputIntegers : public testing::TestWithParam<IntegerCase> {};

TEST_P(SequentialInputIntegers, ConvertsSecondFieldAsDecimalWholeNumber)
{
    const IntegerCase& c = GetParam();
    SequentialInput input(c.bytes, QStringLiteral("/i/QLTurn.IAU"));
    ASSERT_TRUE(input.next().ok());
    const Result<qint16> value = input.nextInteger();
    if (c.number == 0) {
        ASSERT_TRUE(value.ok()) << value.error().description.toStdString();
        EXPECT_EQ(value.value(), c.value);
    } else {
        ASSERT_FALSE(value.ok());
        EXPECT_EQ(value.error().number, c.number);
        EXPECT_EQ(value.error().description, QString::fromUtf8(c.description));
    }
}

const IntegerCase kIntegerCases[] = {
    {"Plain", QByteArrayLiteral("x,1400"), 0, 1400, ""},
    {"Blanks", QByteArrayLiteral("x,  42  "), 0, 42, ""},
    {"Negative", QByteArrayLiteral("x,-7"), 0, -7, ""},
    {"Plus", QByteArrayLiteral("x,+5"), 0, 5, ""},
    {"Quoted", QByteArrayLiteral("x,\"12\""), 0, 12, ""},
    {"Largest", QByteArrayLiteral("x,32767"), 0, 32767, ""},
    {"Word", QByteArrayLiteral("x\r\nabc"), 13, 0,
     "Type mismatch: field 2 (line 2) of /i/QLTurn.IAU is \"abc\", not a whole number"},
    {"TrailingLetters", QByteArrayLiteral("x,12x"), 13, 0,
     "Type mismatch: field 2 (line 1) of /i/QLTurn.IAU is \"12x\", not a whole number"},
    {"Empty", QByteArrayLiteral("x,,"), 13, 0,
     "Type mismatch: field 2 (line 1) of /i/QLTurn.IAU is \"\", not a whole number"},
    {"Fraction", QByteArrayLiteral("x,1.5"), 13, 0,
     "Type mismatch: field 2 (line 1) of /i/QLTurn.IAU is \"1.5\", not a whole number"},
    {"Overflow", QByteArrayLiteral("x,40000"), 6, 0,
     "Overflow: field 2 (line 1) of /i/QLTurn.IAU is 40000, outside -32768..32767"},
    {"HugeOverflow", QByteArrayLiteral("x,99999999999"), 6, 0,
     "Overflow: field 2 (line 1) of /i/QLTurn.IAU is 99999999999, outside -32768..32767"},
    {"Missing", QByteArrayLiteral("x"), 62, 0,
     "Input past end of file: /i/QLTurn.IAU has no field 2"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SequentialInputIntegers, testing::ValuesIn(kIntegerCases),
                         [](const testing::TestParamInfo<IntegerCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST(SequentialInput, OpenReadsTheFileAndReportsAMissingOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("QLTurn.IAU"));
    const Result<SequentialInput> missing = SequentialInput::open(path);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, 53);
    EXPECT_EQ(missing.error().description, QStringLiteral("File not found: ") + path);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("2\r\n\"M\",1400\r\n");
    file.close();
    Result<SequentialInput> opened = SequentialInput::open(path);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened.value().nextInteger().value(), 2);
    EXPECT_EQ(opened.value().next().value(), QStringLiteral("M"));
    EXPECT_EQ(opened.value().nextInteger().value(), 1400);
    EXPECT_TRUE(opened.value().atEnd());
}

} // namespace
