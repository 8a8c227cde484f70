#include "recording/ColumnStorage.h"

#include <QVariant>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

using Number = ColumnStorage::Number;

struct DeclaredCase {
    const char* declared;
    bool textColumn;
    bool fixedWidth;
    Number number;
    int decimals;
};

TEST(ColumnStorage, ADeclaredTypeSaysHowTheColumnKeepsAValue)
{
    const DeclaredCase cases[] = {
        {"CHAR(10)", true, true, Number::Unknown, 0},
        {"character(10)", true, true, Number::Unknown, 0},
        {"NCHAR (4)", true, true, Number::Unknown, 0},
        {"CHAR", true, true, Number::Unknown, 0},
        {"VARCHAR(20)", true, false, Number::Unknown, 0},
        {"character varying(20)", true, false, Number::Unknown, 0},
        {"TEXT", true, false, Number::Unknown, 0},
        {"NUMERIC(8,2)", false, false, Number::Decimal, 2},
        {"decimal( 10 , 3 )", false, false, Number::Decimal, 3},
        {"NUMERIC(8)", false, false, Number::Decimal, 0},
        {"NUMERIC", false, false, Number::Unknown, 0},
        {"INTEGER", false, false, Number::Decimal, 0},
        {"smallint", false, false, Number::Decimal, 0},
        {"REAL", false, false, Number::Single, 0},
        {"FLOAT(24)", false, false, Number::Single, 0},
        {"FLOAT(53)", false, false, Number::Double, 0},
        {"DOUBLE PRECISION", false, false, Number::Double, 0},
        {"FLOAT", false, false, Number::Double, 0},
        {"", false, false, Number::Unknown, 0},
    };
    for (const DeclaredCase& c : cases) {
        SCOPED_TRACE(c.declared);
        const ColumnStorage storage =
            ColumnStorage::fromDeclaredType(QString::fromLatin1(c.declared), c.textColumn);
        EXPECT_EQ(storage.isText(), c.textColumn);
        EXPECT_EQ(storage.isFixedWidth(), c.fixedWidth);
        if (!c.textColumn) {
            EXPECT_EQ(storage.numberKind(), c.number);
            EXPECT_EQ(storage.decimals(), c.decimals);
        }
    }
}

struct HoldsCase {
    const char* what;
    ColumnStorage storage;
    QVariant cell;
    QVariant written;
    bool holds;
};

TEST(ColumnStorage, ACellHoldsTheValueWrittenAsItsColumnKeepsIt)
{
    const ColumnStorage doubles = ColumnStorage::number(Number::Double);
    const ColumnStorage twoDecimals = ColumnStorage::number(Number::Decimal, 2);
    const ColumnStorage integers = ColumnStorage::number(Number::Decimal, 0);
    const ColumnStorage single = ColumnStorage::number(Number::Single);
    const ColumnStorage unknown = ColumnStorage::number(Number::Unknown);
    const ColumnStorage varchar = ColumnStorage::text(false);
    const ColumnStorage fixed = ColumnStorage::text(true);
    const float asFloat = 12.3456789f;
    const HoldsCase cases[] = {
        {"the same double", doubles, 12.5, 12.5, true},
        {"another number", doubles, 13.0, 12.5, false},
        {"a double that went through text", doubles, 0.1 + 0.2, 0.3, true},
        {"a number that differs in its tenth digit", doubles, 12.500000001, 12.5, false},
        {"the number as SQLite's text", doubles, u"12.5"_s, 12.5, true},
        {"text that is no number", doubles, u"abc"_s, 12.5, false},
        {"zero", doubles, 0, 0.0, true},
        {"an empty cell", doubles, QVariant(QMetaType::fromType<double>()), 12.5, false},
        {"NUMERIC(8,2) rounded up", twoDecimals, 12.35, 12.345, true},
        {"NUMERIC(8,2) rounded down", twoDecimals, 12.34, 12.344, true},
        {"NUMERIC(8,2), another number", twoDecimals, 12.36, 12.345, false},
        {"NUMERIC(8,2), a big number", twoDecimals, 123456.79, 123456.789, true},
        {"an integer column rounds", integers, 13, 12.5, true},
        {"an integer column, another number", integers, 14, 12.5, false},
        {"REAL keeps a float", single, static_cast<double>(asFloat), 12.3456789, true},
        {"REAL's shortest text", single, u"12.345679"_s, 12.3456789, true},
        {"REAL, another number", single, 12.3457, 12.3456789, false},
        {"unknown rounding passes a float's", unknown, static_cast<double>(asFloat), 12.3456789,
         true},
        {"unknown rounding does not pass dropped decimals", unknown, 12.35, 12.345, false},
        {"the same text", varchar, u"abc"_s, u"abc"_s, true},
        {"text with blanks kept", varchar, u"abc "_s, u"abc"_s, false},
        {"other text", varchar, u"abd"_s, u"abc"_s, false},
        {"text padded by CHAR(n)", fixed, u"abc       "_s, u"abc"_s, true},
        {"leading blanks count", fixed, u" abc      "_s, u"abc"_s, false},
        {"other text padded", fixed, u"abd       "_s, u"abc"_s, false},
        {"empty text in an empty cell", varchar, QVariant(QMetaType::fromType<QString>()), u""_s,
         false},
    };
    for (const HoldsCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.storage.holds(c.cell, c.written), c.holds);
    }
}

} // namespace
} // namespace telvar
