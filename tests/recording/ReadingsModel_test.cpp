#include "common/Modulo1.h"
#include "recording/ReadingsModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace telvar {
namespace {

ReadingRow readingNumber(int n)
{
    ReadingRow row;
    row.tag = QStringLiteral(" 1/%1").arg(n, 3, 10, QLatin1Char('0'));
    row.dateTime = QStringLiteral("2026/12/10 08:00:00");
    row.Opera = QStringLiteral("OP1");
    row.Formato = QStringLiteral("F1");
    row.Maquina = QStringLiteral("M1");
    row.Producto = QStringLiteral("P1");
    row.Carac = QStringLiteral("DIAM");
    row.reading = QString::number(n);
    return row;
}

class ReadingsModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m.Idioma = 1;
        m.messageTable = MessageTable(76, 30, 1);
        m.messageTable.setText(76, 7, 1, QStringLiteral("Puerto"));
        m.messageTable.setText(0, 21, 1, QStringLiteral("Característica"));
    }

    Modulo1 m;
};

TEST_F(ReadingsModelTest, NewestReadingOnTopWithItsNineCells)
{
    ReadingsModel model(m);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.addReading(readingNumber(1));
    ReadingRow outside = readingNumber(2);
    outside.Marca = QStringLiteral("?");
    model.addReading(outside);

    ASSERT_EQ(model.rowCount(), 2);
    const QStringList expected = {QStringLiteral(" 1/002"), QStringLiteral("2026/12/10 08:00:00"),
                                  QStringLiteral("OP1"),    QStringLiteral("F1"),
                                  QStringLiteral("M1"),     QStringLiteral("P1"),
                                  QStringLiteral("DIAM"),   QStringLiteral("2"),
                                  QStringLiteral("?")};
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(model.index(0, c).data().toString(), expected[c]) << c;
    EXPECT_EQ(model.index(1, 7).data().toString(), QStringLiteral("1"));
    EXPECT_EQ(model.index(1, 8).data().toString(), QString());
}

TEST_F(ReadingsModelTest, KeepsTheLastReadingsOnlyAndDropsTheOldest)
{
    ReadingsModel model(m);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int n = 1; n <= ReadingsModel::kMaxReadings; ++n)
        model.addReading(readingNumber(n));
    ASSERT_EQ(model.rowCount(), ReadingsModel::kMaxReadings);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.addReading(readingNumber(ReadingsModel::kMaxReadings + 1));
    EXPECT_EQ(model.rowCount(), ReadingsModel::kMaxReadings);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.first().at(1).toInt(), ReadingsModel::kMaxReadings);
    EXPECT_EQ(model.reading(0).reading, QString::number(ReadingsModel::kMaxReadings + 1));
    // Reading 1 went; reading 2 is now the oldest.
    EXPECT_EQ(model.reading(ReadingsModel::kMaxReadings - 1).reading, QStringLiteral("2"));
}

TEST_F(ReadingsModelTest, HeadersComeFromTheMessageTableAndFollowItsChanges)
{
    ReadingsModel model(m);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Puerto"));
    EXPECT_EQ(model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("Característica"));
    EXPECT_EQ(model.headerData(8, Qt::Horizontal).toString(), QStringLiteral("D"));

    QSignalSpy changed(&model, &QAbstractItemModel::headerDataChanged);
    m.messageTable.setText(76, 7, 1, QStringLiteral("Port"));
    model.refreshHeaders();
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Port"));
}

} // namespace
} // namespace telvar
