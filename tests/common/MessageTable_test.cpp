#include "common/MessageTable.h"

#include <gtest/gtest.h>

using telvar::MessageTable;

TEST(MessageTable, UnwrittenAndOutOfRangeEntriesAreEmpty)
{
    MessageTable table(2, 3, 2);
    table.setText(1, 2, 2, QStringLiteral("hola"));
    table.setText(3, 0, 1, QStringLiteral("ignored: section beyond the table"));

    EXPECT_EQ(table.text(1, 2, 2), QStringLiteral("hola"));
    EXPECT_EQ(table.text(1, 2, 1), QString());
    EXPECT_EQ(table.text(3, 0, 1), QString());
    EXPECT_EQ(table.text(-1, 0, 0), QString());
    EXPECT_EQ(table.text(0, 4, 1), QString());
}
