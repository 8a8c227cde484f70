#include "config/AmpliarTexto.h"
#include "database/SqliteSql.h"
#include "support/ConfigFixture.h"

#include <QSqlQuery>
#include <gtest/gtest.h>
#include <vector>

namespace telvar {
namespace {

TEST(WithColumnWidth, ChangesOnlyTheNamedColumnsSize)
{
    const struct {
        const char* create;
        const char* column;
        const char* expected;
    } cases[] = {
        {"CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY, Estac TEXT(6), Maqui TEXT(6))", "ESTAC",
         "CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY, Estac TEXT(8), Maqui TEXT(6))"},
        {"CREATE TABLE t (a VARCHAR ( 6 ) NOT NULL DEFAULT 'x,y', b INT)", "a",
         "CREATE TABLE t (a VARCHAR(8) NOT NULL DEFAULT 'x,y', b INT)"},
        {"CREATE TABLE \"t\" (\"Estac\" NATIONAL CHARACTER(6) COLLATE NOCASE, [Otra] TEXT(3))",
         "estac",
         "CREATE TABLE \"t\" (\"Estac\" NATIONAL CHARACTER(8) COLLATE NOCASE, [Otra] TEXT(3))"},
        // The name in a constraint or default of another column is not the column.
        {"CREATE TABLE t (x TEXT(2) CHECK (x <> 'Estac'), Estac TEXT, y INT)", "Estac",
         "CREATE TABLE t (x TEXT(2) CHECK (x <> 'Estac'), Estac TEXT(8), y INT)"},
        {"CREATE TABLE t (/* Estac TEXT(1), */ Estac NOT NULL, z INT)", "Estac",
         "CREATE TABLE t (/* Estac TEXT(1), */ Estac TEXT(8) NOT NULL, z INT)"},
        {"CREATE TABLE t (a INT, Estac TEXT(6), PRIMARY KEY (a, Estac))", "Estac",
         "CREATE TABLE t (a INT, Estac TEXT(8), PRIMARY KEY (a, Estac))"},
    };
    for (const auto& c : cases) {
        const Result<QString> newValue =
            SqliteSql::withColumnWidth(QString::fromUtf8(c.create), QString::fromUtf8(c.column), 8);
        ASSERT_TRUE(newValue.ok()) << c.create;
        EXPECT_EQ(newValue.value(), QString::fromUtf8(c.expected));
    }
}

TEST(WithColumnWidth, RenamesTheTableWhenAsked)
{
    const Result<QString> newValue =
        SqliteSql::withColumnWidth(QStringLiteral("CREATE TABLE \"HTM(CONFI\" (Estac TEXT(6))"),
                                   QStringLiteral("Estac"), 8, QStringLiteral("HTMCONFI_nuevo"));
    ASSERT_TRUE(newValue.ok());
    EXPECT_EQ(newValue.value(), QStringLiteral("CREATE TABLE \"HTMCONFI_nuevo\" (Estac TEXT(8))"));
}

TEST(WithColumnWidth, AMissingColumnIsNamed)
{
    const Result<QString> newValue = SqliteSql::withColumnWidth(
        QStringLiteral("CREATE TABLE t (a TEXT(6), b CHECK (b > 'Estac'))"),
        QStringLiteral("Estac"), 8);
    ASSERT_FALSE(newValue.ok());
    EXPECT_EQ(newValue.error().number, 3265);
    EXPECT_TRUE(newValue.error().description.contains(QStringLiteral("Estac")));
}

class AmpliarTextoTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    QString declared(const Connection& cn, const QString& column)
    {
        auto rows = cn.exec(QStringLiteral("PRAGMA table_info(HTMCONFI)"));
        EXPECT_TRUE(rows.ok());
        while (rows.value().next()) {
            if (rows.value().value(1).toString().compare(column, Qt::CaseInsensitive) == 0)
                return rows.value().value(2).toString();
        }
        return {};
    }
    QStringList rows(const Connection& cn)
    {
        QStringList outcome;
        auto query = cn.exec(
            QStringLiteral("SELECT Puert, Descr, Estac, Reloj FROM HTMCONFI ORDER BY Puert"));
        EXPECT_TRUE(query.ok());
        while (query.value().next())
            outcome.append(query.value().value(0).toString() + QLatin1Char('|') +
                           query.value().value(1).toString() + QLatin1Char('|') +
                           query.value().value(2).toString() + QLatin1Char('|') +
                           query.value().value(3).toString());
        return outcome;
    }
    QStringList objects(const Connection& cn)
    {
        QStringList outcome;
        auto query = cn.exec(QStringLiteral("SELECT type || ':' || name FROM sqlite_master "
                                            "WHERE name NOT LIKE 'sqlite_%' ORDER BY 1"));
        EXPECT_TRUE(query.ok());
        while (query.value().next())
            outcome.append(query.value().value(0).toString());
        return outcome;
    }
};

TEST_F(AmpliarTextoTest, WidensANarrowColumnKeepingRowsIndexesAndViews)
{
    KeyWidths narrow = fixtureKeyWidths();
    narrow.Estac = 6;
    const QString path =
        createConfig(QStringLiteral("TLVConf.mdb"), narrow,
                     {{1, QStringLiteral("Diámetro"), QStringLiteral("EST001"), 1},
                      {2, QStringLiteral("O'Brien, línea"), QStringLiteral("EST002"), 0},
                      {7, QString(), QStringLiteral("E7"), 3}});
    auto cn = openDatabase(path);
    ASSERT_TRUE(cn);
    ASSERT_TRUE(cn->exec(QStringLiteral(
                             "CREATE VIEW Activos AS SELECT Puert FROM HTMCONFI WHERE Reloj > 0"))
                    .ok());
    ASSERT_TRUE(
        cn->exec(QStringLiteral("CREATE UNIQUE INDEX HTMCONFI_Descr ON HTMCONFI (Descr)")).ok());
    const QStringList rowsBefore = rows(*cn);
    const QStringList objectsBefore = objects(*cn);

    const Status widened =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
    ASSERT_TRUE(widened.ok()) << widened.error().description.toStdString();

    EXPECT_EQ(declared(*cn, QStringLiteral("Estac")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(cn->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac")).value(), 8);
    EXPECT_EQ(declared(*cn, QStringLiteral("Maqui")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(rows(*cn), rowsBefore);
    EXPECT_EQ(objects(*cn), objectsBefore);
    // The unique index is really back: a duplicate description is refused.
    EXPECT_FALSE(
        cn->exec(QStringLiteral("UPDATE HTMCONFI SET Descr = 'Diámetro' WHERE Puert = 7")).ok());
    auto view = cn->exec(QStringLiteral("SELECT COUNT(*) FROM Activos"));
    ASSERT_TRUE(view.ok());
    ASSERT_TRUE(view.value().next());
    EXPECT_EQ(view.value().value(0).toInt(), 2);
    // The key still orders and finds rows as a number.
    auto key = cn->exec(QStringLiteral("SELECT Descr FROM HTMCONFI WHERE Puert = ?"), {2});
    ASSERT_TRUE(key.ok() && key.value().next());
    EXPECT_EQ(key.value().value(0).toString(), QStringLiteral("O'Brien, línea"));
}

TEST_F(AmpliarTextoTest, AColumnAlreadyWideEnoughIsLeftAlone)
{
    for (const int width : {8, 10}) {
        KeyWidths widths = fixtureKeyWidths();
        widths.Estac = width;
        const QString path = createConfig(QStringLiteral("Ancho%1.mdb").arg(width), widths,
                                          {{1, QStringLiteral("x"), QStringLiteral("EST01"), 1}});
        auto cn = openDatabase(path);
        ASSERT_TRUE(cn);
        auto before =
            cn->exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'HTMCONFI'"));
        ASSERT_TRUE(before.ok() && before.value().next());
        const QString sqlBefore = before.value().value(0).toString();
        before.value().finish();

        ASSERT_TRUE(AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8).ok());
        auto after =
            cn->exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'HTMCONFI'"));
        ASSERT_TRUE(after.ok() && after.value().next());
        EXPECT_EQ(after.value().value(0).toString(), sqlBefore) << width;
        EXPECT_EQ(declared(*cn, QStringLiteral("Estac")), QStringLiteral("VARCHAR(%1)").arg(width));
    }
}

TEST_F(AmpliarTextoTest, AMissingColumnOrTableIsAnErrorAndChangesNothing)
{
    const QString path = createConfig(QStringLiteral("TLVConf.mdb"));
    auto cn = openDatabase(path);
    ASSERT_TRUE(cn);
    const QStringList before = objects(*cn);
    const Status noColumn =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("NoHay"), 8);
    ASSERT_FALSE(noColumn.ok());
    EXPECT_TRUE(noColumn.error().description.contains(QStringLiteral("NoHay")));
    const Status noTable = AmpliarTexto(*cn, QStringLiteral("NOHAY"), QStringLiteral("Estac"), 8);
    ASSERT_FALSE(noTable.ok());
    EXPECT_TRUE(noTable.error().description.contains(QStringLiteral("NOHAY")));
    EXPECT_EQ(objects(*cn), before);
}

TEST_F(AmpliarTextoTest, TriggersAndViewsElsewhereThatNameTheTableStayAndWork)
{
    KeyWidths narrow = fixtureKeyWidths();
    narrow.Estac = 6;
    const QString path = createConfig(QStringLiteral("TLVConf.mdb"), narrow,
                                      {{1, QStringLiteral("Uno"), QStringLiteral("EST001"), 1},
                                       {2, QStringLiteral("Dos"), QStringLiteral("EST002"), 0}});
    auto cn = openDatabase(path);
    ASSERT_TRUE(cn);
    for (const char* sql : {
             "CREATE TABLE Bitacora (Puert INTEGER, Nota TEXT)",
             // Another table's trigger that writes into HTMCONFI.
             "CREATE TRIGGER tr2 AFTER INSERT ON Bitacora BEGIN "
             "UPDATE HTMCONFI SET Descr = new.Nota WHERE Puert = new.Puert; END",
             "CREATE VIEW Activos AS SELECT Puert, Estac FROM HTMCONFI WHERE Reloj > 0",
             // A trigger that only reaches HTMCONFI through the view.
             "CREATE TRIGGER tr3 AFTER DELETE ON Bitacora BEGIN "
             "INSERT INTO Bitacora (Puert, Nota) SELECT Puert, 'activo' FROM Activos "
             "WHERE Puert = old.Puert; END",
             // HTMCONFI's own trigger.
             "CREATE TRIGGER tr1 AFTER UPDATE OF Estac ON HTMCONFI BEGIN "
             "INSERT INTO Bitacora (Puert, Nota) VALUES (new.Puert, 'estac'); END",
         })
        ASSERT_TRUE(cn->exec(QString::fromLatin1(sql)).ok()) << sql;
    auto definitions = [&] {
        QStringList r;
        auto q = cn->exec(QStringLiteral("SELECT name || ': ' || sql FROM sqlite_master "
                                         "WHERE type IN ('trigger', 'view') ORDER BY name"));
        EXPECT_TRUE(q.ok());
        while (q.value().next())
            r.append(q.value().value(0).toString());
        return r;
    };
    const QStringList before = definitions();
    const QStringList rowsBefore = rows(*cn);

    const Status widened =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
    ASSERT_TRUE(widened.ok()) << widened.error().description.toStdString();
    EXPECT_EQ(declared(*cn, QStringLiteral("Estac")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(rows(*cn), rowsBefore);
    EXPECT_EQ(definitions(), before);

    // Each of them still reaches the rebuilt table: tr2 writes the note of a
    // new Bitacora row into the port; tr1 logs a station change (which tr2
    // then copies); tr3 logs again, through the view, a port whose log is
    // cleared.
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO Bitacora VALUES (2, 'Nueva')")).ok());
    ASSERT_TRUE(
        cn->exec(QStringLiteral("UPDATE HTMCONFI SET Estac = 'EST0001' WHERE Puert = 1")).ok());
    EXPECT_EQ(rows(*cn), (QStringList{QStringLiteral("1|estac|EST0001|1"),
                                      QStringLiteral("2|Nueva|EST002|0")}));
    ASSERT_TRUE(cn->exec(QStringLiteral("DELETE FROM Bitacora WHERE Puert = 1")).ok());
    EXPECT_EQ(rows(*cn), (QStringList{QStringLiteral("1|activo|EST0001|1"),
                                      QStringLiteral("2|Nueva|EST002|0")}));
    auto log = cn->exec(QStringLiteral("SELECT Puert || ':' || Nota FROM Bitacora ORDER BY 1"));
    ASSERT_TRUE(log.ok());
    QStringList notes;
    while (log.value().next())
        notes.append(log.value().value(0).toString());
    EXPECT_EQ(notes, (QStringList{QStringLiteral("1:activo"), QStringLiteral("2:Nueva")}));
}

TEST_F(AmpliarTextoTest, TheAutoincrementCounterGoesOnWhereItStopped)
{
    const QString path = createEmptyDatabase(QStringLiteral("Auto.mdb"));
    auto cn = openDatabase(path);
    ASSERT_TRUE(cn);
    ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY "
                                        "AUTOINCREMENT, Descr TEXT(50), Estac TEXT(6), "
                                        "Reloj INTEGER)"))
                    .ok());
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO HTMCONFI (Descr, Estac, Reloj) "
                                            "VALUES (?, 'EST', 1)"),
                             {QStringLiteral("P%1").arg(i)})
                        .ok());
    // The last ports were removed: their numbers are never given out again.
    ASSERT_TRUE(cn->exec(QStringLiteral("DELETE FROM HTMCONFI WHERE Puert > 3")).ok());

    ASSERT_TRUE(AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("Estac"), 8).ok());
    EXPECT_EQ(declared(*cn, QStringLiteral("Estac")), QStringLiteral("TEXT(8)"));
    auto sequence = cn->exec(QStringLiteral("SELECT name, seq FROM sqlite_sequence ORDER BY name"));
    ASSERT_TRUE(sequence.ok());
    QStringList counters;
    while (sequence.value().next())
        counters.append(sequence.value().value(0).toString() + QLatin1Char('=') +
                        sequence.value().value(1).toString());
    EXPECT_EQ(counters, QStringList{QStringLiteral("HTMCONFI=5")});
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO HTMCONFI (Descr) VALUES ('Nuevo')")).ok());
    auto newValue = cn->exec(QStringLiteral("SELECT Puert FROM HTMCONFI WHERE Descr = 'Nuevo'"));
    ASSERT_TRUE(newValue.ok() && newValue.value().next());
    EXPECT_EQ(newValue.value().value(0).toInt(), 6);
}

TEST_F(AmpliarTextoTest, ARebuildThatFailsHalfwayLeavesEverythingAsItWas)
{
    struct Case {
        const char* name;
        std::vector<const char*> setup; // run after the rows are written
        bool foreignKeys;               // foreign keys enforced while widening
        const char* mentions;
    };
    const Case cases[] = {
        // Another table's row points at a port that does not exist (written
        // while foreign keys were not enforced): the check at the end, after
        // the old table has been replaced, refuses the result.
        {"foreign key",
         {"CREATE TABLE Lecturas (Puert INTEGER REFERENCES HTMCONFI (Puert), Valor TEXT)",
          "INSERT INTO Lecturas VALUES (9, 'x')"},
         true,
         "foreign key of Lecturas"},
        // An index declared unique that its rows already break: it fails
        // when made again, after the old table is gone and the new one has
        // taken its name.
        {"unique",
         {"CREATE INDEX HTMCONFI_Carac ON HTMCONFI (Carac)", "PRAGMA writable_schema = ON",
          "UPDATE sqlite_master SET sql = 'CREATE UNIQUE INDEX HTMCONFI_Carac ON HTMCONFI (Carac)' "
          "WHERE name = 'HTMCONFI_Carac'"},
         false,
         "UNIQUE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path =
            createEmptyDatabase(QStringLiteral("Falla_%1.mdb").arg(QLatin1String(c.name)));
        {
            auto cn = openDatabase(path);
            ASSERT_TRUE(cn);
            std::vector<QString> steps = {
                QStringLiteral("CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY, Descr TEXT(50), "
                               "Estac TEXT(6), Carac TEXT(8), Reloj INTEGER)"),
                QStringLiteral("CREATE INDEX HTMCONFI_Reloj ON HTMCONFI (Reloj)")};
            for (const char* row :
                 {"(1, 'Uno', 'EST001', 'DIAM', 1)", "(2, 'Dos', 'EST002', 'DIAM', 2)",
                  "(7, 'Siete', 'EST007', 'DIAM', 3)"})
                steps.push_back(QStringLiteral("INSERT INTO HTMCONFI VALUES ") +
                                QLatin1String(row));
            for (const char* step : c.setup)
                steps.push_back(QLatin1String(step));
            for (const QString& step : steps)
                ASSERT_TRUE(cn->exec(step).ok()) << step.toStdString();
        }
        auto cn = openDatabase(path);
        ASSERT_TRUE(cn);
        if (c.foreignKeys) {
            ASSERT_TRUE(cn->exec(QStringLiteral("PRAGMA foreign_keys = ON")).ok());
        }
        const auto list = [&](const char* query) {
            QStringList r;
            auto q = cn->exec(QLatin1String(query));
            EXPECT_TRUE(q.ok());
            while (q.value().next())
                r.append(q.value().value(0).toString());
            return r;
        };
        const char* schema = "SELECT type || ':' || name || ':' || coalesce(sql, '') FROM "
                             "sqlite_master ORDER BY type, name";
        const char* integrity = "PRAGMA integrity_check";
        const QStringList schemaBefore = list(schema);
        const QStringList integrityBefore = list(integrity);
        const QStringList rowsBefore = rows(*cn);
        ASSERT_EQ(rowsBefore.size(), 3);

        const Status widened =
            AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
        ASSERT_FALSE(widened.ok());
        EXPECT_TRUE(widened.error().description.contains(QLatin1String(c.mentions)))
            << widened.error().description.toStdString();

        EXPECT_EQ(list(schema), schemaBefore);
        EXPECT_EQ(rows(*cn), rowsBefore);
        EXPECT_EQ(list(integrity), integrityBefore);
        EXPECT_EQ(declared(*cn, QStringLiteral("Estac")), QStringLiteral("TEXT(6)"));
        // The index is back in the file and finds the rows.
        EXPECT_EQ(list("SELECT Puert FROM HTMCONFI INDEXED BY HTMCONFI_Reloj WHERE Reloj = 3"),
                  QStringList{QStringLiteral("7")});
    }
}

} // namespace
} // namespace telvar
