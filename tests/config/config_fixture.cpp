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
    m.TipoBD = QStringLiteral("[JET4]");
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
