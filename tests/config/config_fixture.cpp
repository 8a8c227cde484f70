#include "config/config_fixture.h"

#include "config/ConfigTexts.h"
#include "database/EngineLayer.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace telvar::test {

ConfigFixture::ConfigFixture()
{
    m.RutaApp = dir.path() + QLatin1Char('/');
    m.RutaIAU = m.RutaApp + QStringLiteral("IAu/");
    QDir().mkpath(m.RutaIAU);
    m.PassBD = QStringLiteral("Clave26");
    const AnchosClave a = anchosFixture();
    m.AnchoUSU = qint16(a.Opera);
    m.AnchoEST = qint16(a.Estac);
    m.AnchoMAQ = qint16(a.Maqui);
    m.AnchoPRO = qint16(a.Produ);
    m.AnchoFRM = qint16(a.Forma);
    m.AnchoCAR = qint16(a.Carac);
    llenaMensajes(m);
}

AnchosClave ConfigFixture::anchosFixture()
{
    return {8, 8, 8, 20, 8, 8};
}

void ConfigFixture::llenaMensajes(Modulo1& m)
{
    m.Idioma = 1;
    m.TablaMensajes = MessageTable(80, 90, 2);
    const struct {
        int seccion;
        int numero;
        const char* texto;
    } textos[] = {
        {0, 6, "Fecha y hora"},
        {0, 16, "Operador"},
        {0, 18, "Máquina"},
        {0, 19, "Producto"},
        {0, 20, "Formato"},
        {0, 21, "Característica"},
        {0, 81, "Escriba la contraseña de la base de datos:"},
        {2, 0, "Aceptar"},
        {2, 11, "Buscar..."},
        {4, 13, "Revise la instalación de los componentes de acceso a datos."},
        {43, 13, "Base de datos de configuración"},
        {76, 0, "Ruteador Html -> Qualitra"},
        {76, 2, "Iniciar adquisición"},
        {76, 4, "Configurar puerto"},
        {76, 5, "Configuración"},
        {76, 6, "Lecturas"},
        {76, 7, "Puerto"},
        {76, 8, "Leer ahora el reloj"},
        {76, 13, "Puerto"},
        {76, 14, "Descripción"},
        {76, 15, "Página web"},
        {76, 16, "Identificador"},
        {76, 17, "Estación"},
        {76, 18, "Máquina"},
        {76, 19, "Producto"},
        {76, 20, "Formato"},
        {76, 21, "Caract."},
        {76, 22, "Operador"},
        {76, 23, "Reloj"},
        {76, 24, "Minutos"},
        {76, 25, "Inicio"},
        {76, 26, "Long."},
        {76, 28, "Lectura"},
    };
    for (const auto& t : textos)
        m.TablaMensajes.setText(t.seccion, t.numero, m.Idioma, QString::fromUtf8(t.texto));
}

QString ConfigFixture::creaBaseVacia(const QString& nombre)
{
    const QString ruta = m.RutaApp + nombre;
    const Status creado = EngineLayer::createFileDatabase(ruta, m.PassBD);
    EXPECT_TRUE(creado.ok()) << creado.error().descripcion.toStdString();
    return ruta;
}

QString ConfigFixture::creaConfigSinClave(const QString& nombre,
                                          const QList<std::pair<QVariant, QString>>& filas)
{
    const QString ruta = creaBaseVacia(nombre);
    auto cn = abre(ruta);
    if (!cn)
        return ruta;
    const AnchosClave a = anchosFixture();
    const QString crea =
        QStringLiteral(
            "CREATE TABLE HTMCONFI (Puert INTEGER, Descr VARCHAR(255), "
            "WebPg VARCHAR(255), Ident VARCHAR(255), Inici INTEGER, Longi INTEGER, "
            "Estac VARCHAR(%1), Maqui VARCHAR(%2), Produ VARCHAR(%3), Forma VARCHAR(%4), "
            "Carac VARCHAR(%5), Opera VARCHAR(%6), Reloj INTEGER)")
            .arg(a.Estac)
            .arg(a.Maqui)
            .arg(a.Produ)
            .arg(a.Forma)
            .arg(a.Carac)
            .arg(a.Opera);
    EXPECT_TRUE(
        cn->exec(QStringLiteral("CREATE TABLE HTMRELOJ (CLAVE INTEGER, INTER INTEGER)")).ok());
    EXPECT_TRUE(cn->exec(crea).ok());
    for (int clave = 1; clave <= 3; ++clave)
        EXPECT_TRUE(
            cn->exec(QStringLiteral("INSERT INTO HTMRELOJ VALUES (?, ?)"), {clave, clave}).ok());
    for (const auto& [puert, descr] : filas) {
        auto hecho = cn->exec(QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, Estac, Reloj) "
                                             "VALUES (?, ?, 'EST01', 1)"),
                              {puert, descr});
        EXPECT_TRUE(hecho.ok()) << hecho.error().descripcion.toStdString();
    }
    return ruta;
}

void ConfigFixture::pierdeEspacioLibre(const QString& ruta) const
{
    int pagina = 0;
    {
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        auto tamano = cn->exec(QStringLiteral("PRAGMA page_size"));
        ASSERT_TRUE(tamano.ok() && tamano.value().next());
        pagina = tamano.value().value(0).toInt();
        tamano.value().finish();
        // A large table at the end of the file, dropped again: its pages
        // stay in the file as free pages.
        ASSERT_TRUE(cn->exec(QStringLiteral("CREATE TABLE Borrador (Texto VARCHAR(200))")).ok());
        cn->database().transaction();
        for (int i = 0; i < 2000; ++i)
            ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO Borrador (Texto) VALUES (?)"),
                                 {QString(150, QLatin1Char('x'))})
                            .ok());
        cn->database().commit();
        ASSERT_TRUE(cn->exec(QStringLiteral("DROP TABLE Borrador")).ok());
    }
    QFile archivo(ruta);
    ASSERT_TRUE(archivo.resize(archivo.size() - 40 * qint64(pagina)));
}

void ConfigFixture::danaIndice(const QString& ruta, const QString& indice) const
{
    int raiz = 0;
    int pagina = 0;
    {
        auto cn = abre(ruta);
        ASSERT_TRUE(cn);
        auto consulta =
            cn->exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = ?"), {indice});
        ASSERT_TRUE(consulta.ok() && consulta.value().next());
        raiz = consulta.value().value(0).toInt();
        consulta.value().finish();
        auto tamano = cn->exec(QStringLiteral("PRAGMA page_size"));
        ASSERT_TRUE(tamano.ok() && tamano.value().next());
        pagina = tamano.value().value(0).toInt();
    }
    QFile archivo(ruta);
    ASSERT_TRUE(archivo.open(QIODevice::ReadWrite));
    ASSERT_TRUE(archivo.seek(qint64(raiz - 1) * pagina));
    archivo.write(QByteArray(pagina, '\x5a'));
}

QString ConfigFixture::creaConfig(const QString& nombre, const AnchosClave& anchos,
                                  const QList<PuertoFixture>& puertos)
{
    const QString ruta = creaBaseVacia(nombre);
    auto cn = abre(ruta);
    if (!cn)
        return ruta;
    const Status tablas = creaTablasConfig(*cn, anchos);
    EXPECT_TRUE(tablas.ok()) << tablas.error().descripcion.toStdString();
    for (int clave = 1; clave <= 10; ++clave)
        EXPECT_TRUE(
            cn->exec(QStringLiteral("INSERT INTO HTMRELOJ VALUES (?, ?)"), {clave, clave}).ok());
    for (const PuertoFixture& p : puertos) {
        auto hecho = cn->exec(
            QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, WebPg, Ident, Inici, Longi, Estac, "
                           "Maqui, Produ, Forma, Carac, Opera, Reloj) "
                           "VALUES (?, ?, ?, ?, 1, 6, ?, 'MAQ01', 'PROD-A', 'FRM01', 'DIAM', "
                           "'OPER01', ?)"),
            {p.puert, p.descr, QStringLiteral("http://127.0.0.1:8088/estacion%1.html").arg(p.puert),
             QStringLiteral("DIAM="), p.estac, p.reloj});
        EXPECT_TRUE(hecho.ok()) << hecho.error().descripcion.toStdString();
    }
    return ruta;
}

QString ConfigFixture::creaConfig(const QString& nombre)
{
    return creaConfig(nombre, anchosFixture(),
                      {{1, QStringLiteral("Diámetro"), QStringLiteral("EST01"), 1},
                       {2, QStringLiteral("Largo"), QStringLiteral("EST01"), 2},
                       {5, QStringLiteral("Peso"), QStringLiteral("EST02"), 0}});
}

void ConfigFixture::escribeTLVDirec(const QStringList& lineas)
{
    QFile archivo(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    ASSERT_TRUE(archivo.open(QIODevice::WriteOnly));
    for (const QString& linea : lineas)
        archivo.write(linea.toUtf8() + "\r\n");
}

QByteArray ConfigFixture::leeTLVDirec() const
{
    QFile archivo(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    if (!archivo.open(QIODevice::ReadOnly))
        return {};
    return archivo.readAll();
}

std::unique_ptr<Connection> ConfigFixture::abre(const QString& ruta) const
{
    auto abierto = EngineLayer::open(conexionConf(ruta, m.PassBD));
    EXPECT_TRUE(abierto.ok()) << abierto.error().descripcion.toStdString();
    if (!abierto)
        return nullptr;
    return std::move(abierto.value());
}

} // namespace telvar::test
