#include "startup/ShiftTable.h"
#include "support/InstallationBuilder.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using telvar::Result;
using telvar::ShiftTable;
using telvar::test::InstallationBuilder;

namespace {

class ShiftTableTest : public testing::Test {
protected:
    ShiftTableTest() : m_install(m_dir.path()) {}

    QString write(const QByteArray& bytes) { return m_install.writeBytes(u"QLTurn.IAU"_s, bytes); }

    QTemporaryDir m_dir;
    InstallationBuilder m_install;
};

TEST_F(ShiftTableTest, ReadsTheCountAndThePairsWithAnEmptyElementZero)
{
    const Result<ShiftTable> table = telvar::readShiftTable(
        m_install.writeShifts({{u"M"_s, 600}, {u"Tarde"_s, 1400}, {u"N"_s, 2400}}));
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().NumTurnos, 3);
    EXPECT_EQ(table.value().TurnoClave, (QStringList{QString(), u"M"_s, u"Tarde"_s, u"N"_s}));
    EXPECT_EQ(table.value().TurnoHasta, (QList<qint16>{0, 600, 1400, 2400}));
}

TEST_F(ShiftTableTest, FieldsMaySitOnOneLineOrManyAndExtraFieldsAreIgnored)
{
    const Result<ShiftTable> table =
        telvar::readShiftTable(write("2,A, 1200\r\nB\r\n2400\r\nC,99\r\n"));
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(table.value().TurnoClave, (QStringList{QString(), u"A"_s, u"B"_s}));
    EXPECT_EQ(table.value().TurnoHasta, (QList<qint16>{0, 1200, 2400}));
}

TEST_F(ShiftTableTest, OneShiftPerMinuteIsTheLargestTable)
{
    QByteArray bytes = "1440\r\n";
    for (int i = 1; i <= 1440; ++i)
        bytes += "S," + QByteArray::number(i) + "\r\n";
    const Result<ShiftTable> table = telvar::readShiftTable(write(bytes));
    ASSERT_TRUE(table.ok()) << table.error().description.toStdString();
    EXPECT_EQ(table.value().NumTurnos, 1440);
    EXPECT_EQ(table.value().TurnoHasta.last(), 1440);
}

TEST_F(ShiftTableTest, ZeroShifts)
{
    const Result<ShiftTable> table = telvar::readShiftTable(write("0\r\n"));
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(table.value().NumTurnos, 0);
    EXPECT_EQ(table.value().TurnoClave, QStringList{QString()});
    EXPECT_EQ(table.value().TurnoHasta, QList<qint16>{0});
}

struct ShiftFailure {
    const char* name;
    QByteArray bytes;
    long long number;
    QString description; // $F stands for the file's path
};

void PrintTo(const ShiftFailure& c, std::ostream* os)
{
    *os << c.name;
}

class ShiftTableFailures : public ShiftTableTest,
                           public testing::WithParamInterface<ShiftFailure> {};

TEST_P(ShiftTableFailures, NameTheFileAndTheField)
{
    const QString path = write(GetParam().bytes);
    const Result<ShiftTable> table = telvar::readShiftTable(path);
    ASSERT_FALSE(table.ok());
    EXPECT_EQ(table.error().number, GetParam().number);
    EXPECT_EQ(table.error().description, QString(GetParam().description).replace(u"$F"_s, path));
}

const ShiftFailure kShiftFailures[] = {
    {"NonNumericCount", QByteArrayLiteral("tres\r\nM,1400"), 13,
     u"Type mismatch: field 1 (line 1) of $F is \"tres\", not a whole number"_s},
    {"NonNumericLimit", QByteArrayLiteral("1\r\nM,14:00"), 13,
     u"Type mismatch: field 3 (line 2) of $F is \"14:00\", not a whole number"_s},
    {"FewerPairsThanTheCount", QByteArrayLiteral("2\r\nM,1400\r\n"), 62,
     u"Input past end of file: $F has no field 4"_s},
    {"NegativeCount", QByteArrayLiteral("-1\r\n"), 9,
     u"Subscript out of range: the shift count in $F is -1, outside 0..1440"_s},
    // A count that no file of a day's shifts can mean is refused before any pair is read.
    {"CountAboveOnePerMinute", QByteArrayLiteral("1441\r\nM,1400\r\n"), 9,
     u"Subscript out of range: the shift count in $F is 1441, outside 0..1440"_s},
    {"FileAboveTheSizeBound", QByteArray(1024 * 1024 + 1, '1'), 7,
     u"File too large: $F holds 1048577 bytes; at most 1048576 are allowed for it"_s},
    {"EmptyFile", QByteArrayLiteral(""), 62, u"Input past end of file: $F has no field 1"_s},
};

INSTANTIATE_TEST_SUITE_P(Cases, ShiftTableFailures, testing::ValuesIn(kShiftFailures),
                         [](const testing::TestParamInfo<ShiftFailure>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST_F(ShiftTableTest, MissingFile)
{
    const QString path = m_install.iauDir() + u"QLTurn.IAU"_s;
    const Result<ShiftTable> table = telvar::readShiftTable(path);
    ASSERT_FALSE(table.ok());
    EXPECT_EQ(table.error().number, 53);
    EXPECT_EQ(table.error().description, u"File not found: "_s + path);
}

} // namespace
