#include "import/JetValues.h"
#include "import/SqliteSchema.h"

#include <QSet>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace telvar {
namespace {

JetColumn column(const char* name, JetType type, int width = 0)
{
    JetColumn c;
    c.name = QString::fromUtf8(name);
    c.type = type;
    c.width = width;
    return c;
}

TEST(JetToSqlite, EachJetTypeGetsTheDeclarationTheProgramReads)
{
    JetColumn decimal = column("d", JetType::Decimal);
    decimal.precision = 18;
    decimal.scale = 4;
    const struct {
        JetColumn column;
        const char* declared;
    } cases[] = {
        {column("t", JetType::Text, 8), "VARCHAR(8)"},
        {column("t", JetType::Text, 255), "VARCHAR(255)"},
        {column("m", JetType::Memo), "TEXT"},
        {column("b", JetType::Boolean), "BOOLEAN"},
        {column("b", JetType::Byte), "INTEGER"},
        {column("i", JetType::Integer), "INTEGER"},
        {column("l", JetType::LongInteger), "INTEGER"},
        {column("s", JetType::Single), "REAL"},
        {column("d", JetType::Double), "DOUBLE"},
        {column("c", JetType::Currency), "NUMERIC(19,4)"},
        {decimal, "NUMERIC(18,4)"},
        {column("f", JetType::DateTime), "DATETIME"},
        {column("x", JetType::Binary, 16), "BLOB"},
        {column("o", JetType::OleObject), "BLOB"},
        {column("g", JetType::ReplicationId), "VARCHAR(38)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JetToSqlite::declaredType(c.column), QString::fromUtf8(c.declared))
            << jetTypeName(c.column.type).toStdString();
}

TEST(JetToSqlite, PrimaryKeysBecomeWhatSqliteKeysOn)
{
    JetColumn autoNumber = column("N", JetType::LongInteger);
    autoNumber.autoNumber = true;
    JetColumn required = column("Descr", JetType::Text, 40);
    required.required = true;
    const auto key = [](QList<JetIndexKey> keys) {
        return JetIndex{QStringLiteral("PrimaryKey"), JetIndex::Kind::Primary, keys};
    };
    const struct {
        const char* name;
        JetTable table;
        const char* create;
    } cases[] = {
        {"an AutoNumber key numbers new rows, as the program's data tables do",
         {QStringLiteral("Datos"),
          0,
          {autoNumber, column("Fecha", JetType::DateTime)},
          {key({{0, false}})},
          {}},
         R"(CREATE TABLE "Datos" ("N" INTEGER PRIMARY KEY AUTOINCREMENT, "Fecha" DATETIME))"},
        {"a whole-number key is the row's own number, as HTMCONFI's Puert",
         {QStringLiteral("HTMCONFI"),
          0,
          {column("Puert", JetType::LongInteger), required},
          {key({{0, false}})},
          {}},
         R"(CREATE TABLE "HTMCONFI" ("Puert" INTEGER NOT NULL PRIMARY KEY, "Descr" VARCHAR(40) NOT NULL))"},
        {"a text key, or one of several columns, is a constraint",
         {QStringLiteral("EXU"),
          0,
          {column("EXUUSUAR", JetType::Text, 8), column("EXUESTAC", JetType::Text, 8)},
          {key({{0, false}, {1, true}})},
          {}},
         R"(CREATE TABLE "EXU" ("EXUUSUAR" VARCHAR(8), "EXUESTAC" VARCHAR(8), PRIMARY KEY ("EXUUSUAR", "EXUESTAC" DESC)))"},
        {"no key, names quoted",
         {QStringLiteral("Order \"Details\""),
          0,
          {column("Unit Price", JetType::Currency)},
          {},
          {}},
         R"(CREATE TABLE "Order ""Details""" ("Unit Price" NUMERIC(19,4)))"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JetToSqlite::createTable(c.table), QString::fromUtf8(c.create)) << c.name;

    // An AutoNumber that is not the whole key keeps its numbers, and says
    // that new rows get none.
    JetTable loose{QStringLiteral("T"), 0, {autoNumber, required}, {key({{1, false}})}, {}};
    ASSERT_EQ(JetToSqlite::declarationNotes(loose).size(), 1);
    EXPECT_TRUE(JetToSqlite::declarationNotes(loose).first().startsWith(
        QStringLiteral("AutoNumber column N")));
}

TEST(JetToSqlite, IndexNamesAreUniqueAcrossTheFile)
{
    const JetTable orders{
        QStringLiteral("Orders"),
        0,
        {column("OrderID", JetType::LongInteger), column("CustomerID", JetType::Text, 5)},
        {{QStringLiteral("PrimaryKey"), JetIndex::Kind::Primary, {{0, false}}},
         {QStringLiteral("CustomerID"), JetIndex::Kind::Plain, {{1, false}}},
         {QStringLiteral("Cliente"), JetIndex::Kind::Unique, {{1, true}, {0, false}}}},
        {}};
    // A table already holds the name the first index would get.
    QSet<QString> taken{QStringLiteral("orders"), QStringLiteral("orders_customerid")};
    EXPECT_EQ(
        JetToSqlite::createIndexes(orders, taken),
        (QStringList{
            QStringLiteral(R"(CREATE INDEX "Orders_CustomerID_2" ON "Orders" ("CustomerID"))"),
            QStringLiteral(
                R"(CREATE UNIQUE INDEX "Orders_Cliente" ON "Orders" ("CustomerID" DESC, "OrderID"))")}));
    EXPECT_TRUE(taken.contains(QStringLiteral("orders_customerid_2")));
    EXPECT_TRUE(taken.contains(QStringLiteral("orders_cliente")));
    EXPECT_EQ(JetToSqlite::insertRow(orders),
              QStringLiteral(R"(INSERT INTO "Orders" ("OrderID", "CustomerID") VALUES (?, ?))"));
}

TEST(JetToSqlite, NamesSqliteOrTheProgramKeepAreRefused)
{
    const struct {
        const char* name;
        bool usable;
    } cases[] = {
        {"HTMCONFI", true},  {"Umsätze", true},          {"sqlite_stat1", false},
        {"SQLITE_x", false}, {"TelvarSeguridad", false}, {"telvarseguridad", false},
        {" ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JetToSqlite::unusableTableName(QString::fromUtf8(c.name)).isEmpty(), c.usable)
            << c.name;
}

TEST(JetValues, DatesAreTextInTheFormTheProgramWrites)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double days;
        const char* text; // nullptr: not a date
    } cases[] = {
        {0.0, "1899-12-30 0:00:00"},
        {34654.0, "1994-11-16 0:00:00"},
        {45351.75, "2024-02-29 18:00:00"},
        {1.5, "1899-12-31 12:00:00"},
        // Before 1899-12-30 the time still counts forward from midnight.
        {-1.25, "1899-12-29 6:00:00"},
        {-0.5, "1899-12-30 12:00:00"},
        // To the nearest second, a day's last instant rounding to the next.
        {34654.0 + 10.4 / 86400.0, "1994-11-16 0:00:10"},
        {34654.0 + 10.6 / 86400.0, "1994-11-16 0:00:11"},
        {34654.9999999, "1994-11-17 0:00:00"},
        {-657434.0, "0100-01-01 0:00:00"},
        {2958465.0 + 86399.0 / 86400.0, "9999-12-31 23:59:59"},
        {-657435.0, nullptr},
        {2958466.0, nullptr},
        {nan, nullptr},
        {std::numeric_limits<double>::infinity(), nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> text = jetDateText(c.days);
        if (c.text) {
            ASSERT_TRUE(text) << c.days;
            EXPECT_EQ(*text, QString::fromUtf8(c.text)) << c.days;
        } else {
            EXPECT_FALSE(text) << c.days;
        }
    }
}

TEST(JetValues, NumbersReadAsTyped)
{
    const struct {
        float single;
        double expected;
    } singles[] = {{0.1f, 0.1},   {0.15f, 0.15}, {1234.5f, 1234.5},
                   {-3.3f, -3.3}, {1e-7f, 1e-7}, {0.0f, 0.0}};
    for (const auto& c : singles)
        EXPECT_EQ(singleAsDouble(c.single), c.expected) << c.single;

    const struct {
        const char* text;
        std::optional<double> value;
    } decimals[] = {
        {"14.0000", 14.0},  {"-0.5000", -0.5},     {"922337203685477.5807", 922337203685477.5807},
        {"", std::nullopt}, {"1,5", std::nullopt}, {"12abc", std::nullopt}};
    for (const auto& c : decimals)
        EXPECT_EQ(decimalValue(c.text), c.value) << c.text;
    EXPECT_FALSE(decimalValue(nullptr));
}

} // namespace
} // namespace telvar
