#include "config/ConfigDatabase.h"
#include "config/ConfigGridModel.h"
#include "config/config_fixture.h"

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
        m_ruta = creaConfig(QStringLiteral("TLVConf.mdb"));
        escribeTLVDirec({m_ruta});
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    }
    ConfigGridModel& modelo() { return m_conf.RsConf(); }
    QModelIndex celda(int puert, const char* campo)
    {
        return modelo().index(*modelo().rowOfPuert(puert), modelo().columnOf(QLatin1String(campo)));
    }
    QVariant enBase(const QString& consulta, const QVariantList& valores)
    {
        auto cn = abre(m_ruta);
        auto r = cn->exec(consulta, valores);
        EXPECT_TRUE(r.ok());
        if (!r || !r.value().next())
            return {};
        return r.value().value(0);
    }

    QString m_ruta;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ConfigGridModelTest, IsAWellBehavedModel)
{
    QAbstractItemModelTester tester(&modelo(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(modelo().rowCount(), 3);
    ASSERT_TRUE(modelo().setData(celda(2, "Descr"), QStringLiteral("Otra")));
    EXPECT_EQ(modelo().rowCount(), 3);
}

TEST_F(ConfigGridModelTest, TheKeyAndTheClockKeyAreReadOnly)
{
    EXPECT_FALSE(modelo().flags(celda(1, "Puert")) & Qt::ItemIsEditable);
    EXPECT_FALSE(modelo().flags(celda(1, "CLAVE")) & Qt::ItemIsEditable);
    EXPECT_TRUE(modelo().flags(celda(1, "Descr")) & Qt::ItemIsEditable);
    EXPECT_TRUE(modelo().flags(celda(1, "INTER")) & Qt::ItemIsEditable);
    // Port 5 has clock 0, which has no HTMRELOJ row: no interval to edit.
    EXPECT_FALSE(modelo().flags(celda(5, "INTER")) & Qt::ItemIsEditable);
    EXPECT_FALSE(modelo().setData(celda(1, "Puert"), 9));
    EXPECT_EQ(enBase(QStringLiteral("SELECT COUNT(*) FROM HTMCONFI WHERE Puert = 9"), {}).toInt(),
              0);
}

TEST_F(ConfigGridModelTest, AnEditedCellReachesTheDatabase)
{
    QSignalSpy escrito(&modelo(), &ConfigGridModel::campoEscrito);
    const struct {
        int puert;
        const char* campo;
        QVariant valor;
        const char* columnaBase;
        QVariant enBaseEsperado;
    } casos[] = {
        {2, "Descr", QStringLiteral("Largo, O'Brien"), "Descr", QStringLiteral("Largo, O'Brien")},
        {2, "Estac", QStringLiteral("EST09"), "Estac", QStringLiteral("EST09")},
        {1, "Inici", QStringLiteral(" 12 "), "Inici", 12},
        {1, "Reloj", 3, "Reloj", 3},
        {1, "Longi", QString(), "Longi", QVariant()},
    };
    for (const auto& c : casos) {
        ASSERT_TRUE(modelo().setData(celda(c.puert, c.campo), c.valor)) << c.campo;
        const QVariant guardado = enBase(QStringLiteral("SELECT ") + QLatin1String(c.columnaBase) +
                                             QStringLiteral(" FROM HTMCONFI WHERE Puert = ?"),
                                         {c.puert});
        EXPECT_EQ(guardado.isNull(), c.enBaseEsperado.isNull()) << c.campo;
        if (!c.enBaseEsperado.isNull()) {
            EXPECT_EQ(guardado.toString(), c.enBaseEsperado.toString()) << c.campo;
        }
        // The grid shows what the database holds.
        EXPECT_EQ(modelo().data(celda(c.puert, c.campo)).toString(),
                  c.enBaseEsperado.isNull() ? QString() : c.enBaseEsperado.toString());
    }
    EXPECT_EQ(escrito.count(), 5);
    EXPECT_TRUE(ui.boxes.isEmpty());
    // Once the edit is over the rows are read again, and changing the clock
    // brings its interval along.
    QSignalSpy releido(&modelo(), &QAbstractItemModel::modelReset);
    QCoreApplication::processEvents();
    EXPECT_EQ(releido.count(), 1);
    EXPECT_EQ(m_conf.RsConfBusca().busca(1)->Reloj, 3);
    EXPECT_EQ(m_conf.RsConfBusca().busca(1)->Inter, 3);
    EXPECT_EQ(m_conf.RsConfBusca().busca(2)->Descr, QStringLiteral("Largo, O'Brien"));
}

TEST_F(ConfigGridModelTest, EditingTheIntervalChangesTheClockForEveryPort)
{
    ASSERT_TRUE(modelo().setData(celda(1, "INTER"), 15));
    QCoreApplication::processEvents();
    EXPECT_EQ(enBase(QStringLiteral("SELECT INTER FROM HTMRELOJ WHERE CLAVE = 1"), {}).toInt(), 15);
    EXPECT_EQ(m_conf.RsConfBusca().busca(1)->Inter, 15);
}

TEST_F(ConfigGridModelTest, ValuesThatDoNotFitAreRefusedReportedAndNotStored)
{
    const struct {
        int puert;
        const char* campo;
        const char* valor;
        long long numero;
        const char* menciona;
    } casos[] = {
        {1, "Estac", "ESTACION1", 3163, "8"}, {1, "Inici", "uno", 13, "Inici"},
        {1, "Reloj", "11", 6, "10"},          {1, "Reloj", "-1", 6, "Reloj"},
        {1, "INTER", "-5", 6, "Inter"},       {1, "Longi", "99999999999", 6, "Longi"},
    };
    for (const auto& c : casos) {
        ui.boxes.clear();
        const QModelIndex i = celda(c.puert, c.campo);
        const QString antes = modelo().data(i).toString();
        EXPECT_FALSE(modelo().setData(i, QString::fromUtf8(c.valor))) << c.campo << " " << c.valor;
        ASSERT_EQ(ui.boxes.size(), 1);
        const Box& caja = ui.boxes.first();
        EXPECT_EQ(caja.type, Box::Type::MensaBox);
        EXPECT_EQ(caja.icono, BoxKind::Exclamation);
        EXPECT_EQ(caja.duracion, 5);
        EXPECT_TRUE(caja.text.startsWith(QStringLiteral("Telvar. DBGrid1.\n\n") +
                                         QString::number(c.numero) + QStringLiteral(".- ")))
            << caja.text.toStdString();
        EXPECT_TRUE(caja.text.contains(QLatin1String(c.menciona))) << caja.text.toStdString();
        EXPECT_EQ(modelo().data(celda(c.puert, c.campo)).toString(), antes);
    }
    EXPECT_EQ(enBase(QStringLiteral("SELECT Estac FROM HTMCONFI WHERE Puert = 1"), {}).toString(),
              QStringLiteral("EST01"));
}

TEST_F(ConfigGridModelTest, AWriteThatFailsInTheDatabaseIsReported)
{
    // Another program removed the port meanwhile.
    abre(m_ruta)->exec(QStringLiteral("DELETE FROM HTMCONFI WHERE Puert = 2"));
    EXPECT_FALSE(modelo().setData(celda(2, "Descr"), QStringLiteral("x")));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes.first().text.contains(QStringLiteral("3021.- ")));
}

TEST_F(ConfigGridModelTest, WritingAFieldFromCodeReadsTheRowsAgainAtOnce)
{
    ASSERT_TRUE(modelo().escribeCampo(5, QStringLiteral("reloj"), 4).ok());
    EXPECT_EQ(m_conf.RsConfBusca().busca(5)->Reloj, 4);
    EXPECT_EQ(m_conf.RsConfBusca().busca(5)->Inter, 4);
    // Errors come back to the caller, who reports them.
    const Status largo =
        modelo().escribeCampo(5, QStringLiteral("Opera"), QStringLiteral("OPERADOR9"));
    ASSERT_FALSE(largo.ok());
    EXPECT_EQ(largo.error().numero, 3163);
    EXPECT_FALSE(modelo().escribeCampo(5, QStringLiteral("Puert"), 6).ok());
    EXPECT_FALSE(modelo().escribeCampo(99, QStringLiteral("Descr"), QStringLiteral("x")).ok());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigGridModelTest, CaptionsComeByFieldName)
{
    modelo().setCaptions({{QStringLiteral("Puert"), QStringLiteral("Puerto")},
                          {QStringLiteral("Inter"), QStringLiteral("Minutos")}});
    EXPECT_EQ(
        modelo().headerData(modelo().columnOf(QStringLiteral("PUERT")), Qt::Horizontal).toString(),
        QStringLiteral("Puerto"));
    EXPECT_EQ(
        modelo().headerData(modelo().columnOf(QStringLiteral("INTER")), Qt::Horizontal).toString(),
        QStringLiteral("Minutos"));
}

TEST_F(ConfigGridModelTest, ANarrowerRecordSourceAndBack)
{
    ASSERT_TRUE(modelo()
                    .setRecordSource(QStringLiteral(
                        "Select * from HTMCONFI left join HTMRELOJ on HTMCONFI.RELOJ=HTMRELOJ.CLAVE"
                        " where HTMCONFI.RELOJ > 0 order by PUERT"))
                    .ok());
    EXPECT_EQ(m_conf.RsConfBusca().count(), 2);
    EXPECT_FALSE(m_conf.RsConfBusca().busca(5));
    ASSERT_TRUE(modelo().setRecordSource(ConfigDatabase::fullRecordSource()).ok());
    EXPECT_EQ(m_conf.RsConfBusca().count(), 3);
    const Status mala = modelo().setRecordSource(QStringLiteral("Select * from NOHAY"));
    ASSERT_FALSE(mala.ok());
    EXPECT_TRUE(mala.error().descripcion.contains(QStringLiteral("NOHAY")));
}

// A configuration file without a primary key: Puert may repeat or be empty,
// so "WHERE Puert = n" may reach several rows or none.
class ConfigGridSinClaveTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        m_ruta = creaConfigSinClave(QStringLiteral("SinClave.mdb"),
                                    {{1, QStringLiteral("Uno")},
                                     {3, QStringLiteral("Tres A")},
                                     {3, QStringLiteral("Tres B")},
                                     {QVariant(QMetaType::fromType<int>()), QStringLiteral("Nada")},
                                     {4, QStringLiteral("Cuatro")}});
        escribeTLVDirec({m_ruta});
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
        ASSERT_EQ(modelo().rowCount(), 5);
    }
    ConfigGridModel& modelo() { return m_conf.RsConf(); }
    // The grid row whose Descr is descr.
    int fila(const QString& descr)
    {
        const int columna = modelo().columnOf(QStringLiteral("Descr"));
        for (int f = 0; f < modelo().rowCount(); ++f) {
            if (modelo().data(modelo().index(f, columna)).toString() == descr)
                return f;
        }
        ADD_FAILURE() << "no row " << descr.toStdString();
        return -1;
    }
    QModelIndex celda(const QString& descr, const char* campo)
    {
        return modelo().index(fila(descr), modelo().columnOf(QLatin1String(campo)));
    }
    // Every row of a table as text, in a fixed order.
    QStringList filasDe(const char* consulta)
    {
        QStringList r;
        auto cn = abre(m_ruta);
        auto filas = cn->exec(QLatin1String(consulta));
        EXPECT_TRUE(filas.ok());
        while (filas.value().next())
            r.append(filas.value().value(0).toString() + QLatin1Char('|') +
                     filas.value().value(1).toString());
        return r;
    }
    QStringList puertos()
    {
        return filasDe("SELECT Puert, Descr FROM HTMCONFI ORDER BY Puert, Descr");
    }
    QStringList relojes() { return filasDe("SELECT CLAVE, INTER FROM HTMRELOJ ORDER BY CLAVE"); }

    QString m_ruta;
    ConfigDatabase m_conf{m, ui};
};

TEST_F(ConfigGridSinClaveTest, RowsWithoutAPortNumberOfTheirOwnAreReadOnly)
{
    const QStringList antes = puertos();
    for (const char* descr : {"Tres A", "Tres B", "Nada"}) {
        for (const char* campo : {"Descr", "Estac", "Reloj", "INTER"}) {
            const QModelIndex i = celda(QString::fromUtf8(descr), campo);
            EXPECT_FALSE(modelo().flags(i) & Qt::ItemIsEditable) << descr << " " << campo;
            EXPECT_FALSE(modelo().setData(i, QStringLiteral("2"))) << descr << " " << campo;
        }
    }
    // A port of its own stays editable.
    EXPECT_TRUE(modelo().flags(celda(QStringLiteral("Uno"), "Descr")) & Qt::ItemIsEditable);
    EXPECT_TRUE(modelo().flags(celda(QStringLiteral("Cuatro"), "INTER")) & Qt::ItemIsEditable);

    // Writing from code is refused as well, with the reason.
    const Status repetido = modelo().escribeCampo(3, QStringLiteral("Descr"), QStringLiteral("x"));
    ASSERT_FALSE(repetido.ok());
    EXPECT_EQ(repetido.error().numero, 3027);
    EXPECT_TRUE(repetido.error().descripcion.contains(QStringLiteral("port 3")))
        << repetido.error().descripcion.toStdString();
    // An empty port number is no port 0.
    EXPECT_FALSE(modelo().escribeCampo(0, QStringLiteral("Descr"), QStringLiteral("x")).ok());
    EXPECT_FALSE(m_conf.RsConfBusca().busca(0));

    EXPECT_EQ(puertos(), antes);
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(ConfigGridSinClaveTest, AnEditThatWouldReachSeveralRowsIsUndoneAndReported)
{
    // Another program adds a second row with the same key after the grid
    // was read: the grid still shows one row, the database has two.
    const struct {
        const char* otroPrograma;
        const char* descr;
        const char* campo;
        const char* valor;
    } casos[] = {
        {"INSERT INTO HTMCONFI (Puert, Descr, Reloj) VALUES (1, 'Uno bis', 2)", "Uno", "Descr",
         "Nuevo"},
        {"INSERT INTO HTMRELOJ (CLAVE, INTER) VALUES (1, 7)", "Cuatro", "INTER", "30"},
    };
    for (const auto& c : casos) {
        ui.boxes.clear();
        ASSERT_TRUE(abre(m_ruta)->exec(QLatin1String(c.otroPrograma)).ok());
        const QStringList antesPuertos = puertos();
        const QStringList antesRelojes = relojes();
        const QModelIndex i = celda(QString::fromUtf8(c.descr), c.campo);
        const QString mostrado = modelo().data(i).toString();

        EXPECT_FALSE(modelo().setData(i, QString::fromUtf8(c.valor))) << c.campo;
        ASSERT_EQ(ui.boxes.size(), 1) << c.campo;
        const Box& caja = ui.boxes.first();
        EXPECT_EQ(caja.type, Box::Type::MensaBox);
        EXPECT_EQ(caja.icono, BoxKind::Exclamation);
        EXPECT_TRUE(caja.text.startsWith(QStringLiteral("Telvar. DBGrid1.\n\n3027.- ")))
            << caja.text.toStdString();
        EXPECT_TRUE(caja.text.contains(QStringLiteral("2 rows"))) << caja.text.toStdString();
        // Nothing changed, in the database or in the grid.
        EXPECT_EQ(puertos(), antesPuertos) << c.campo;
        EXPECT_EQ(relojes(), antesRelojes) << c.campo;
        EXPECT_EQ(modelo().data(i).toString(), mostrado);
    }
}

TEST_F(ConfigGridSinClaveTest, APortOfItsOwnIsEditedAsUsual)
{
    ASSERT_TRUE(modelo().setData(celda(QStringLiteral("Cuatro"), "Descr"), QStringLiteral("Otra")));
    EXPECT_EQ(puertos(), (QStringList{QStringLiteral("|Nada"), QStringLiteral("1|Uno"),
                                      QStringLiteral("3|Tres A"), QStringLiteral("3|Tres B"),
                                      QStringLiteral("4|Otra")}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

} // namespace
} // namespace telvar
