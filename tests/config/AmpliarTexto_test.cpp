#include "config/AmpliarTexto.h"
#include "config/SqliteSchemaEdit.h"
#include "config/config_fixture.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

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
        const Result<QString> nuevo =
            cambiaAnchoColumna(QString::fromUtf8(c.create), QString::fromUtf8(c.columna), 8);
        ASSERT_TRUE(nuevo.ok()) << c.create;
        EXPECT_EQ(nuevo.value(), QString::fromUtf8(c.esperado));
    }
}

TEST(CambiaAnchoColumna, RenamesTheTableWhenAsked)
{
    const Result<QString> nuevo =
        cambiaAnchoColumna(QStringLiteral("CREATE TABLE \"HTM(CONFI\" (Estac TEXT(6))"),
                           QStringLiteral("Estac"), 8, QStringLiteral("HTMCONFI_nuevo"));
    ASSERT_TRUE(nuevo.ok());
    EXPECT_EQ(nuevo.value(), QStringLiteral("CREATE TABLE \"HTMCONFI_nuevo\" (Estac TEXT(8))"));
}

TEST(CambiaAnchoColumna, AMissingColumnIsNamed)
{
    const Result<QString> nuevo =
        cambiaAnchoColumna(QStringLiteral("CREATE TABLE t (a TEXT(6), b CHECK (b > 'Estac'))"),
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

} // namespace
} // namespace telvar
