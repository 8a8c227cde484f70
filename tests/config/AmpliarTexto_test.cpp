#include "config/AmpliarTexto.h"
#include "config/config_fixture.h"
#include "database/SqliteSql.h"

#include <QSqlQuery>
#include <gtest/gtest.h>
#include <vector>

namespace telvar {
namespace {

TEST(CambiaAnchoColumna, ChangesOnlyTheNamedColumnsSize)
{
    const struct {
        const char* create;
        const char* columna;
        const char* esperado;
    } casos[] = {
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
    for (const auto& c : casos) {
        const Result<QString> nuevo = SqliteSql::withColumnWidth(QString::fromUtf8(c.create),
                                                                 QString::fromUtf8(c.columna), 8);
        ASSERT_TRUE(nuevo.ok()) << c.create;
        EXPECT_EQ(nuevo.value(), QString::fromUtf8(c.esperado));
    }
}

TEST(CambiaAnchoColumna, RenamesTheTableWhenAsked)
{
    const Result<QString> nuevo =
        SqliteSql::withColumnWidth(QStringLiteral("CREATE TABLE \"HTM(CONFI\" (Estac TEXT(6))"),
                                   QStringLiteral("Estac"), 8, QStringLiteral("HTMCONFI_nuevo"));
    ASSERT_TRUE(nuevo.ok());
    EXPECT_EQ(nuevo.value(), QStringLiteral("CREATE TABLE \"HTMCONFI_nuevo\" (Estac TEXT(8))"));
}

TEST(CambiaAnchoColumna, AMissingColumnIsNamed)
{
    const Result<QString> nuevo = SqliteSql::withColumnWidth(
        QStringLiteral("CREATE TABLE t (a TEXT(6), b CHECK (b > 'Estac'))"),
        QStringLiteral("Estac"), 8);
    ASSERT_FALSE(nuevo.ok());
    EXPECT_EQ(nuevo.error().numero, 3265);
    EXPECT_TRUE(nuevo.error().descripcion.contains(QStringLiteral("Estac")));
}

class AmpliarTextoTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    QString declarado(const Connection& cn, const QString& columna)
    {
        auto filas = cn.exec(QStringLiteral("PRAGMA table_info(HTMCONFI)"));
        EXPECT_TRUE(filas.ok());
        while (filas.value().next()) {
            if (filas.value().value(1).toString().compare(columna, Qt::CaseInsensitive) == 0)
                return filas.value().value(2).toString();
        }
        return {};
    }
    QStringList filas(const Connection& cn)
    {
        QStringList resultado;
        auto consulta = cn.exec(
            QStringLiteral("SELECT Puert, Descr, Estac, Reloj FROM HTMCONFI ORDER BY Puert"));
        EXPECT_TRUE(consulta.ok());
        while (consulta.value().next())
            resultado.append(consulta.value().value(0).toString() + QLatin1Char('|') +
                             consulta.value().value(1).toString() + QLatin1Char('|') +
                             consulta.value().value(2).toString() + QLatin1Char('|') +
                             consulta.value().value(3).toString());
        return resultado;
    }
    QStringList objetos(const Connection& cn)
    {
        QStringList resultado;
        auto consulta = cn.exec(QStringLiteral("SELECT type || ':' || name FROM sqlite_master "
                                               "WHERE name NOT LIKE 'sqlite_%' ORDER BY 1"));
        EXPECT_TRUE(consulta.ok());
        while (consulta.value().next())
            resultado.append(consulta.value().value(0).toString());
        return resultado;
    }
};

TEST_F(AmpliarTextoTest, WidensANarrowColumnKeepingRowsIndexesAndViews)
{
    AnchosClave estrecho = anchosFixture();
    estrecho.Estac = 6;
    const QString ruta =
        creaConfig(QStringLiteral("TLVConf.mdb"), estrecho,
                   {{1, QStringLiteral("Diámetro"), QStringLiteral("EST001"), 1},
                    {2, QStringLiteral("O'Brien, línea"), QStringLiteral("EST002"), 0},
                    {7, QString(), QStringLiteral("E7"), 3}});
    auto cn = abre(ruta);
    ASSERT_TRUE(cn);
    ASSERT_TRUE(cn->exec(QStringLiteral(
                             "CREATE VIEW Activos AS SELECT Puert FROM HTMCONFI WHERE Reloj > 0"))
                    .ok());
    ASSERT_TRUE(
        cn->exec(QStringLiteral("CREATE UNIQUE INDEX HTMCONFI_Descr ON HTMCONFI (Descr)")).ok());
    const QStringList antesFilas = filas(*cn);
    const QStringList antesObjetos = objetos(*cn);

    const Status ampliado =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
    ASSERT_TRUE(ampliado.ok()) << ampliado.error().descripcion.toStdString();

    EXPECT_EQ(declarado(*cn, QStringLiteral("Estac")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(cn->definedSize(QStringLiteral("HTMCONFI"), QStringLiteral("Estac")).value(), 8);
    EXPECT_EQ(declarado(*cn, QStringLiteral("Maqui")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(filas(*cn), antesFilas);
    EXPECT_EQ(objetos(*cn), antesObjetos);
    // The unique index is really back: a duplicate description is refused.
    EXPECT_FALSE(
        cn->exec(QStringLiteral("UPDATE HTMCONFI SET Descr = 'Diámetro' WHERE Puert = 7")).ok());
    auto vista = cn->exec(QStringLiteral("SELECT COUNT(*) FROM Activos"));
    ASSERT_TRUE(vista.ok());
    ASSERT_TRUE(vista.value().next());
    EXPECT_EQ(vista.value().value(0).toInt(), 2);
    // The key still orders and finds rows as a number.
    auto clave = cn->exec(QStringLiteral("SELECT Descr FROM HTMCONFI WHERE Puert = ?"), {2});
    ASSERT_TRUE(clave.ok() && clave.value().next());
    EXPECT_EQ(clave.value().value(0).toString(), QStringLiteral("O'Brien, línea"));
}

TEST_F(AmpliarTextoTest, AColumnAlreadyWideEnoughIsLeftAlone)
{
    for (const int ancho : {8, 10}) {
        AnchosClave anchos = anchosFixture();
        anchos.Estac = ancho;
        const QString ruta = creaConfig(QStringLiteral("Ancho%1.mdb").arg(ancho), anchos,
                                        {{1, QStringLiteral("x"), QStringLiteral("EST01"), 1}});
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        auto antes =
            cn->exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'HTMCONFI'"));
        ASSERT_TRUE(antes.ok() && antes.value().next());
        const QString sqlAntes = antes.value().value(0).toString();
        antes.value().finish();

        ASSERT_TRUE(AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8).ok());
        auto despues =
            cn->exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'HTMCONFI'"));
        ASSERT_TRUE(despues.ok() && despues.value().next());
        EXPECT_EQ(despues.value().value(0).toString(), sqlAntes) << ancho;
        EXPECT_EQ(declarado(*cn, QStringLiteral("Estac")),
                  QStringLiteral("VARCHAR(%1)").arg(ancho));
    }
}

TEST_F(AmpliarTextoTest, AMissingColumnOrTableIsAnErrorAndChangesNothing)
{
    const QString ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
    auto cn = abre(ruta);
    ASSERT_TRUE(cn);
    const QStringList antes = objetos(*cn);
    const Status sinColumna =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("NoHay"), 8);
    ASSERT_FALSE(sinColumna.ok());
    EXPECT_TRUE(sinColumna.error().descripcion.contains(QStringLiteral("NoHay")));
    const Status sinTabla = AmpliarTexto(*cn, QStringLiteral("NOHAY"), QStringLiteral("Estac"), 8);
    ASSERT_FALSE(sinTabla.ok());
    EXPECT_TRUE(sinTabla.error().descripcion.contains(QStringLiteral("NOHAY")));
    EXPECT_EQ(objetos(*cn), antes);
}

TEST_F(AmpliarTextoTest, TriggersAndViewsElsewhereThatNameTheTableStayAndWork)
{
    AnchosClave estrecho = anchosFixture();
    estrecho.Estac = 6;
    const QString ruta = creaConfig(QStringLiteral("TLVConf.mdb"), estrecho,
                                    {{1, QStringLiteral("Uno"), QStringLiteral("EST001"), 1},
                                     {2, QStringLiteral("Dos"), QStringLiteral("EST002"), 0}});
    auto cn = abre(ruta);
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
    auto definiciones = [&] {
        QStringList r;
        auto q = cn->exec(QStringLiteral("SELECT name || ': ' || sql FROM sqlite_master "
                                         "WHERE type IN ('trigger', 'view') ORDER BY name"));
        EXPECT_TRUE(q.ok());
        while (q.value().next())
            r.append(q.value().value(0).toString());
        return r;
    };
    const QStringList antes = definiciones();
    const QStringList antesFilas = filas(*cn);

    const Status ampliado =
        AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
    ASSERT_TRUE(ampliado.ok()) << ampliado.error().descripcion.toStdString();
    EXPECT_EQ(declarado(*cn, QStringLiteral("Estac")), QStringLiteral("VARCHAR(8)"));
    EXPECT_EQ(filas(*cn), antesFilas);
    EXPECT_EQ(definiciones(), antes);

    // Each of them still reaches the rebuilt table: tr2 writes the note of a
    // new Bitacora row into the port; tr1 logs a station change (which tr2
    // then copies); tr3 logs again, through the view, a port whose log is
    // cleared.
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO Bitacora VALUES (2, 'Nueva')")).ok());
    ASSERT_TRUE(
        cn->exec(QStringLiteral("UPDATE HTMCONFI SET Estac = 'EST0001' WHERE Puert = 1")).ok());
    EXPECT_EQ(filas(*cn), (QStringList{QStringLiteral("1|estac|EST0001|1"),
                                       QStringLiteral("2|Nueva|EST002|0")}));
    ASSERT_TRUE(cn->exec(QStringLiteral("DELETE FROM Bitacora WHERE Puert = 1")).ok());
    EXPECT_EQ(filas(*cn), (QStringList{QStringLiteral("1|activo|EST0001|1"),
                                       QStringLiteral("2|Nueva|EST002|0")}));
    auto bitacora =
        cn->exec(QStringLiteral("SELECT Puert || ':' || Nota FROM Bitacora ORDER BY 1"));
    ASSERT_TRUE(bitacora.ok());
    QStringList notas;
    while (bitacora.value().next())
        notas.append(bitacora.value().value(0).toString());
    EXPECT_EQ(notas, (QStringList{QStringLiteral("1:activo"), QStringLiteral("2:Nueva")}));
}

TEST_F(AmpliarTextoTest, TheAutoincrementCounterGoesOnWhereItStopped)
{
    const QString ruta = creaBaseVacia(QStringLiteral("Auto.mdb"));
    auto cn = abre(ruta);
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
    EXPECT_EQ(declarado(*cn, QStringLiteral("Estac")), QStringLiteral("TEXT(8)"));
    auto secuencia =
        cn->exec(QStringLiteral("SELECT name, seq FROM sqlite_sequence ORDER BY name"));
    ASSERT_TRUE(secuencia.ok());
    QStringList contadores;
    while (secuencia.value().next())
        contadores.append(secuencia.value().value(0).toString() + QLatin1Char('=') +
                          secuencia.value().value(1).toString());
    EXPECT_EQ(contadores, QStringList{QStringLiteral("HTMCONFI=5")});
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO HTMCONFI (Descr) VALUES ('Nuevo')")).ok());
    auto nuevo = cn->exec(QStringLiteral("SELECT Puert FROM HTMCONFI WHERE Descr = 'Nuevo'"));
    ASSERT_TRUE(nuevo.ok() && nuevo.value().next());
    EXPECT_EQ(nuevo.value().value(0).toInt(), 6);
}

TEST_F(AmpliarTextoTest, ARebuildThatFailsHalfwayLeavesEverythingAsItWas)
{
    struct Caso {
        const char* nombre;
        std::vector<const char*> prepara; // run after the rows are written
        bool clavesForaneas;              // foreign keys enforced while widening
        const char* menciona;
    };
    const Caso casos[] = {
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
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const QString ruta =
            creaBaseVacia(QStringLiteral("Falla_%1.mdb").arg(QLatin1String(c.nombre)));
        {
            auto cn = abre(ruta);
            ASSERT_TRUE(cn);
            std::vector<QString> pasos = {
                QStringLiteral("CREATE TABLE HTMCONFI (Puert INTEGER PRIMARY KEY, Descr TEXT(50), "
                               "Estac TEXT(6), Carac TEXT(8), Reloj INTEGER)"),
                QStringLiteral("CREATE INDEX HTMCONFI_Reloj ON HTMCONFI (Reloj)")};
            for (const char* fila :
                 {"(1, 'Uno', 'EST001', 'DIAM', 1)", "(2, 'Dos', 'EST002', 'DIAM', 2)",
                  "(7, 'Siete', 'EST007', 'DIAM', 3)"})
                pasos.push_back(QStringLiteral("INSERT INTO HTMCONFI VALUES ") +
                                QLatin1String(fila));
            for (const char* paso : c.prepara)
                pasos.push_back(QLatin1String(paso));
            for (const QString& paso : pasos)
                ASSERT_TRUE(cn->exec(paso).ok()) << paso.toStdString();
        }
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        if (c.clavesForaneas) {
            ASSERT_TRUE(cn->exec(QStringLiteral("PRAGMA foreign_keys = ON")).ok());
        }
        const auto lista = [&](const char* consulta) {
            QStringList r;
            auto q = cn->exec(QLatin1String(consulta));
            EXPECT_TRUE(q.ok());
            while (q.value().next())
                r.append(q.value().value(0).toString());
            return r;
        };
        const char* esquema = "SELECT type || ':' || name || ':' || coalesce(sql, '') FROM "
                              "sqlite_master ORDER BY type, name";
        const char* integridad = "PRAGMA integrity_check";
        const QStringList antesEsquema = lista(esquema);
        const QStringList antesIntegridad = lista(integridad);
        const QStringList antesFilas = filas(*cn);
        ASSERT_EQ(antesFilas.size(), 3);

        const Status ampliado =
            AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"), 8);
        ASSERT_FALSE(ampliado.ok());
        EXPECT_TRUE(ampliado.error().descripcion.contains(QLatin1String(c.menciona)))
            << ampliado.error().descripcion.toStdString();

        EXPECT_EQ(lista(esquema), antesEsquema);
        EXPECT_EQ(filas(*cn), antesFilas);
        EXPECT_EQ(lista(integridad), antesIntegridad);
        EXPECT_EQ(declarado(*cn, QStringLiteral("Estac")), QStringLiteral("TEXT(6)"));
        // The index is back in the file and finds the rows.
        EXPECT_EQ(lista("SELECT Puert FROM HTMCONFI INDEXED BY HTMCONFI_Reloj WHERE Reloj = 3"),
                  QStringList{QStringLiteral("7")});
    }
}

} // namespace
} // namespace telvar
