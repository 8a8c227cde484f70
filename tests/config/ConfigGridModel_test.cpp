#include "config/ConfigDatabase.h"
#include "config/ConfigGridModel.h"
#include "support/ConfigFixture.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class ConfigGridModelTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path = createConfig(QStringLiteral("TLVConf.mdb"));
        writeTLVDirec({m_path});
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    }
    ConfigGridModel& model() { return m_conf.RsConf(); }
    QModelIndex cell(int puert, const char* field)
    {
        return model().index(*model().rowOfPuert(puert), model().columnOf(QLatin1String(field)));
    }
    QVariant storedValue(const QString& query, const QVariantList& values)
    {
        auto cn = openDatabase(m_path);
        auto r = cn->exec(query, values);
        EXPECT_TRUE(r.ok());
        if (!r || !r.value().next())
            return {};
        return r.value().value(0);
    }

    QString m_path;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ConfigGridModelTest, IsAWellBehavedModel)
{
    // The tester checks the model after every change it announces, and
    // stops the test program at the first broken rule.
    QAbstractItemModelTester tester(&model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model().rowCount(), 3);
    ASSERT_TRUE(model().setData(cell(2, "Descr"), QStringLiteral("Otra")));
    EXPECT_EQ(model().rowCount(), 3);
    // The rows are read again once the edit is over.
    QCoreApplication::processEvents();
    EXPECT_EQ(model().data(cell(2, "Descr")).toString(), QStringLiteral("Otra"));
    // A refused value, a narrower record source and back, a write from code.
    EXPECT_FALSE(model().setData(cell(2, "Inici"), QStringLiteral("x")));
    ASSERT_TRUE(
        model().setRecordSource(QStringLiteral("Select * from HTMCONFI where Puert = 2")).ok());
    EXPECT_EQ(model().rowCount(), 1);
    ASSERT_TRUE(model().setRecordSource(ConfigDatabase::fullRecordSource()).ok());
    EXPECT_EQ(model().rowCount(), 3);
    ASSERT_TRUE(model().writeField(5, QStringLiteral("Descr"), QStringLiteral("Cinco")).ok());
    model().unbind();
    EXPECT_EQ(model().rowCount(), 0);
}

TEST_F(ConfigGridModelTest, TheKeyAndTheClockKeyAreReadOnly)
{
    EXPECT_FALSE(model().flags(cell(1, "Puert")) & Qt::ItemIsEditable);
    EXPECT_FALSE(model().flags(cell(1, "CLAVE")) & Qt::ItemIsEditable);
    EXPECT_TRUE(model().flags(cell(1, "Descr")) & Qt::ItemIsEditable);
    EXPECT_TRUE(model().flags(cell(1, "INTER")) & Qt::ItemIsEditable);
    // Port 5 has clock 0, which has no HTMRELOJ row: no interval to edit.
    EXPECT_FALSE(model().flags(cell(5, "INTER")) & Qt::ItemIsEditable);
    EXPECT_FALSE(model().setData(cell(1, "Puert"), 9));
    EXPECT_EQ(
        storedValue(QStringLiteral("SELECT COUNT(*) FROM HTMCONFI WHERE Puert = 9"), {}).toInt(),
        0);
}

TEST_F(ConfigGridModelTest, AnEditedCellReachesTheDatabase)
{
    QSignalSpy written(&model(), &ConfigGridModel::fieldWritten);
    const struct {
        int puert;
        const char* field;
        QVariant value;
        const char* storedColumn;
        QVariant expectedStored;
    } cases[] = {
        {2, "Descr", QStringLiteral("Largo, O'Brien"), "Descr", QStringLiteral("Largo, O'Brien")},
        {2, "Estac", QStringLiteral("EST09"), "Estac", QStringLiteral("EST09")},
        {1, "Inici", QStringLiteral(" 12 "), "Inici", 12},
        {1, "Reloj", 3, "Reloj", 3},
        {1, "Longi", QString(), "Longi", QVariant()},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(model().setData(cell(c.puert, c.field), c.value)) << c.field;
        const QVariant stored =
            storedValue(QStringLiteral("SELECT ") + QLatin1String(c.storedColumn) +
                            QStringLiteral(" FROM HTMCONFI WHERE Puert = ?"),
                        {c.puert});
        EXPECT_EQ(stored.isNull(), c.expectedStored.isNull()) << c.field;
        if (!c.expectedStored.isNull()) {
            EXPECT_EQ(stored.toString(), c.expectedStored.toString()) << c.field;
        }
        // The grid shows what the database holds.
        EXPECT_EQ(model().data(cell(c.puert, c.field)).toString(),
                  c.expectedStored.isNull() ? QString() : c.expectedStored.toString());
    }
    EXPECT_EQ(written.count(), 5);
    EXPECT_TRUE(ui.boxes.isEmpty());
    // Once the edit is over the rows are read again, and changing the clock
    // brings its interval along.
    QSignalSpy reread(&model(), &QAbstractItemModel::modelReset);
    QCoreApplication::processEvents();
    EXPECT_EQ(reread.count(), 1);
    EXPECT_EQ(m_conf.RsConfBusca().find(1)->Reloj, 3);
    EXPECT_EQ(m_conf.RsConfBusca().find(1)->Inter, 3);
    EXPECT_EQ(m_conf.RsConfBusca().find(2)->Descr, QStringLiteral("Largo, O'Brien"));
}

TEST_F(ConfigGridModelTest, EditingTheIntervalChangesTheClockForEveryPort)
{
    ASSERT_TRUE(model().setData(cell(1, "INTER"), 15));
    QCoreApplication::processEvents();
    EXPECT_EQ(storedValue(QStringLiteral("SELECT INTER FROM HTMRELOJ WHERE CLAVE = 1"), {}).toInt(),
              15);
    EXPECT_EQ(m_conf.RsConfBusca().find(1)->Inter, 15);
}

TEST_F(ConfigGridModelTest, ValuesThatDoNotFitAreRefusedReportedAndNotStored)
{
    const struct {
        int puert;
        const char* field;
        const char* value;
        long long number;
        const char* mentions;
    } cases[] = {
        {1, "Estac", "ESTACION1", 3163, "8"}, {1, "Inici", "uno", 13, "Inici"},
        {1, "Reloj", "11", 6, "10"},          {1, "Reloj", "-1", 6, "Reloj"},
        {1, "INTER", "-5", 6, "Inter"},       {1, "Longi", "99999999999", 6, "Longi"},
    };
    for (const auto& c : cases) {
        ui.boxes.clear();
        const QModelIndex i = cell(c.puert, c.field);
        const QString before = model().data(i).toString();
        EXPECT_FALSE(model().setData(i, QString::fromUtf8(c.value))) << c.field << " " << c.value;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MensaBox);
        EXPECT_EQ(box.icono, BoxKind::Exclamation);
        EXPECT_EQ(box.duracion, 5);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Telvar. DBGrid1.\n\n") +
                                        QString::number(c.number) + QStringLiteral(".- ")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QLatin1String(c.mentions))) << box.text.toStdString();
        EXPECT_EQ(model().data(cell(c.puert, c.field)).toString(), before);
    }
    EXPECT_EQ(
        storedValue(QStringLiteral("SELECT Estac FROM HTMCONFI WHERE Puert = 1"), {}).toString(),
        QStringLiteral("EST01"));
}

TEST_F(ConfigGridModelTest, AWriteThatFailsInTheDatabaseIsReported)
{
    // Another program removed the port meanwhile.
    openDatabase(m_path)->exec(QStringLiteral("DELETE FROM HTMCONFI WHERE Puert = 2"));
    EXPECT_FALSE(model().setData(cell(2, "Descr"), QStringLiteral("x")));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("3021.- ")));
}

TEST_F(ConfigGridModelTest, WritingAFieldFromCodeReadsTheRowsAgainAtOnce)
{
    ASSERT_TRUE(model().writeField(5, QStringLiteral("reloj"), 4).ok());
    EXPECT_EQ(m_conf.RsConfBusca().find(5)->Reloj, 4);
    EXPECT_EQ(m_conf.RsConfBusca().find(5)->Inter, 4);
    // Errors come back to the caller, who reports them.
    const Status tooLong =
        model().writeField(5, QStringLiteral("Opera"), QStringLiteral("OPERADOR9"));
    ASSERT_FALSE(tooLong.ok());
    EXPECT_EQ(tooLong.error().number, 3163);
    EXPECT_FALSE(model().writeField(5, QStringLiteral("Puert"), 6).ok());
    EXPECT_FALSE(model().writeField(99, QStringLiteral("Descr"), QStringLiteral("x")).ok());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigGridModelTest, CaptionsComeByFieldName)
{
    model().setCaptions({{QStringLiteral("Puert"), QStringLiteral("Puerto")},
                         {QStringLiteral("Inter"), QStringLiteral("Minutos")}});
    EXPECT_EQ(
        model().headerData(model().columnOf(QStringLiteral("PUERT")), Qt::Horizontal).toString(),
        QStringLiteral("Puerto"));
    EXPECT_EQ(
        model().headerData(model().columnOf(QStringLiteral("INTER")), Qt::Horizontal).toString(),
        QStringLiteral("Minutos"));
}

TEST_F(ConfigGridModelTest, ANarrowerRecordSourceAndBack)
{
    ASSERT_TRUE(model()
                    .setRecordSource(QStringLiteral(
                        "Select * from HTMCONFI left join HTMRELOJ on HTMCONFI.RELOJ=HTMRELOJ.CLAVE"
                        " where HTMCONFI.RELOJ > 0 order by PUERT"))
                    .ok());
    EXPECT_EQ(m_conf.RsConfBusca().count(), 2);
    EXPECT_FALSE(m_conf.RsConfBusca().find(5));
    ASSERT_TRUE(model().setRecordSource(ConfigDatabase::fullRecordSource()).ok());
    EXPECT_EQ(m_conf.RsConfBusca().count(), 3);
    const Status bad = model().setRecordSource(QStringLiteral("Select * from NOHAY"));
    ASSERT_FALSE(bad.ok());
    EXPECT_TRUE(bad.error().description.contains(QStringLiteral("NOHAY")));
}

// A configuration file without a primary key: Puert may repeat or be empty,
// so "WHERE Puert = n" may reach several rows or none.
class ConfigGridWithoutKeyTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_path =
            createConfigWithoutKeys(QStringLiteral("SinClave.mdb"),
                                    {{1, QStringLiteral("Uno")},
                                     {3, QStringLiteral("Tres A")},
                                     {3, QStringLiteral("Tres B")},
                                     {QVariant(QMetaType::fromType<int>()), QStringLiteral("Nada")},
                                     {4, QStringLiteral("Cuatro")}});
        writeTLVDirec({m_path});
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
        ASSERT_EQ(model().rowCount(), 5);
    }
    ConfigGridModel& model() { return m_conf.RsConf(); }
    // The grid row whose Descr is descr.
    int row(const QString& descr)
    {
        const int column = model().columnOf(QStringLiteral("Descr"));
        for (int f = 0; f < model().rowCount(); ++f) {
            if (model().data(model().index(f, column)).toString() == descr)
                return f;
        }
        ADD_FAILURE() << "no row " << descr.toStdString();
        return -1;
    }
    QModelIndex cell(const QString& descr, const char* field)
    {
        return model().index(row(descr), model().columnOf(QLatin1String(field)));
    }
    // Every row of a table as text, in a fixed order.
    QStringList rowsOf(const char* query)
    {
        QStringList r;
        auto cn = openDatabase(m_path);
        auto rows = cn->exec(QLatin1String(query));
        EXPECT_TRUE(rows.ok());
        while (rows.value().next())
            r.append(rows.value().value(0).toString() + QLatin1Char('|') +
                     rows.value().value(1).toString());
        return r;
    }
    QStringList ports()
    {
        return rowsOf("SELECT Puert, Descr FROM HTMCONFI ORDER BY Puert, Descr");
    }
    QStringList clocks() { return rowsOf("SELECT CLAVE, INTER FROM HTMRELOJ ORDER BY CLAVE"); }

    QString m_path;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ConfigGridWithoutKeyTest, RowsWithoutAPortNumberOfTheirOwnAreReadOnly)
{
    const QStringList before = ports();
    for (const char* descr : {"Tres A", "Tres B", "Nada"}) {
        for (const char* field : {"Descr", "Estac", "Reloj", "INTER"}) {
            const QModelIndex i = cell(QString::fromUtf8(descr), field);
            EXPECT_FALSE(model().flags(i) & Qt::ItemIsEditable) << descr << " " << field;
            EXPECT_FALSE(model().setData(i, QStringLiteral("2"))) << descr << " " << field;
        }
    }
    // A port of its own stays editable.
    EXPECT_TRUE(model().flags(cell(QStringLiteral("Uno"), "Descr")) & Qt::ItemIsEditable);
    EXPECT_TRUE(model().flags(cell(QStringLiteral("Cuatro"), "INTER")) & Qt::ItemIsEditable);

    // Writing from code is refused as well, with the reason.
    const Status repeated = model().writeField(3, QStringLiteral("Descr"), QStringLiteral("x"));
    ASSERT_FALSE(repeated.ok());
    EXPECT_EQ(repeated.error().number, 3027);
    EXPECT_TRUE(repeated.error().description.contains(QStringLiteral("port 3")))
        << repeated.error().description.toStdString();
    // An empty port number is no port 0.
    EXPECT_FALSE(model().writeField(0, QStringLiteral("Descr"), QStringLiteral("x")).ok());
    EXPECT_FALSE(m_conf.RsConfBusca().find(0));

    EXPECT_EQ(ports(), before);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigGridWithoutKeyTest, AnEditThatWouldReachSeveralRowsIsUndoneAndReported)
{
    // Another program adds a second row with the same key after the grid
    // was read: the grid still shows one row, the database has two.
    const struct {
        const char* otherProgram;
        const char* descr;
        const char* field;
        const char* value;
    } cases[] = {
        {"INSERT INTO HTMCONFI (Puert, Descr, Reloj) VALUES (1, 'Uno bis', 2)", "Uno", "Descr",
         "Nuevo"},
        {"INSERT INTO HTMRELOJ (CLAVE, INTER) VALUES (1, 7)", "Cuatro", "INTER", "30"},
    };
    for (const auto& c : cases) {
        ui.boxes.clear();
        ASSERT_TRUE(openDatabase(m_path)->exec(QLatin1String(c.otherProgram)).ok());
        const QStringList portsBefore = ports();
        const QStringList clocksBefore = clocks();
        const QModelIndex i = cell(QString::fromUtf8(c.descr), c.field);
        const QString shown = model().data(i).toString();

        EXPECT_FALSE(model().setData(i, QString::fromUtf8(c.value))) << c.field;
        ASSERT_EQ(ui.boxes.size(), 1) << c.field;
        const Box& box = ui.boxes.first();
        EXPECT_EQ(box.type, Box::Type::MensaBox);
        EXPECT_EQ(box.icono, BoxKind::Exclamation);
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Telvar. DBGrid1.\n\n3027.- ")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QStringLiteral("2 rows"))) << box.text.toStdString();
        // Nothing changed, in the database or in the grid.
        EXPECT_EQ(ports(), portsBefore) << c.field;
        EXPECT_EQ(clocks(), clocksBefore) << c.field;
        EXPECT_EQ(model().data(i).toString(), shown);
    }
}

TEST_F(ConfigGridWithoutKeyTest, APortOfItsOwnIsEditedAsUsual)
{
    ASSERT_TRUE(model().setData(cell(QStringLiteral("Cuatro"), "Descr"), QStringLiteral("Otra")));
    EXPECT_EQ(ports(), (QStringList{QStringLiteral("|Nada"), QStringLiteral("1|Uno"),
                                    QStringLiteral("3|Tres A"), QStringLiteral("3|Tres B"),
                                    QStringLiteral("4|Otra")}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

} // namespace
} // namespace telvar
