#include "common/NumericValue.h"

#include <QString>
#include <gtest/gtest.h>
#include <limits>

namespace telvar {
namespace {

struct ValorCase {
    const char* texto;
    double valor;
};

TEST(NumericValue, TakesTheNumberTheTextBeginsWith)
{
    const double inf = std::numeric_limits<double>::infinity();
    const ValorCase cases[] = {
        {"12", 12},
        {"12.5", 12.5},
        {"12,5", 12}, // the comma is not a decimal point: it ends the number
        {"abc", 0},
        {"", 0},
        {"   ", 0},
        {"  7.25 kg", 7.25},
        {"\t\r\n 9", 9},
        {"12abc", 12},
        {"1 2", 1},
        {"-3.5", -3.5},
        {"+4", 4},
        {".5", 0.5},
        {"-.5", -0.5},
        {"5.", 5},
        {"0012", 12},
        {"0000.0000", 0},
        {"0.1", 0.1},
        {"-", 0},
        {"+", 0},
        {".", 0},
        {"-.x", 0},
        {"--5", 0},
        {"1e3", 1000},
        {"1.5E-2", 0.015},
        {"2e+2", 200},
        {"2e", 2},
        {"2e+", 2},
        {"2ex", 2},
        {"1e0000000000000000000003", 1000},
        {"123456789012345678901234567890", 123456789012345678901234567890.0},
        {"1e999", inf},
        {"-1e999", -inf},
        {"1e-999", 0},
        {"0.000000000000000000000000000000001e-300", 0},
        {"\xd9\xa1\xd9\xa2", 0}, // Arabic-Indic digits are not the number's digits
        {"\xc2\xa0"
         "8",
         8}, // a no-break space before the number is a blank
    };
    for (const ValorCase& c : cases) {
        SCOPED_TRACE(c.texto);
        EXPECT_EQ(numericValue(QString::fromUtf8(c.texto)), c.valor);
    }
}

TEST(NumericValue, AVeryLongNumberIsReadWhole)
{
    EXPECT_EQ(numericValue(QString(400, QLatin1Char('9'))),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(numericValue(QStringLiteral("0.") + QString(5000, QLatin1Char('0')) +
                           QStringLiteral("1e5000")),
              1e-1);
}

} // namespace
} // namespace telvar
