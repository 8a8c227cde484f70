#include "support/ConfigFixture.h"

#include "config/ConfigTexts.h"
#include "database/EngineLayer.h"
#include "support/DamagedFiles.h"

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
    const KeyWidths a = fixtureKeyWidths();
    m.AnchoUSU = qint16(a.Opera);
    m.AnchoEST = qint16(a.Estac);
    m.AnchoMAQ = qint16(a.Maqui);
    m.AnchoPRO = qint16(a.Produ);
    m.AnchoFRM = qint16(a.Forma);
    m.AnchoCAR = qint16(a.Carac);
    fillMessages(m);
}

KeyWidths ConfigFixture::fixtureKeyWidths()
{
    return {8, 8, 8, 20, 8, 8};
}

void ConfigFixture::fillMessages(Modulo1& m)
{
    m.Idioma = 1;
    m.messageTable = MessageTable(80, 90, 2);
    const struct {
        int section;
        int number;
        const char* text;
    } texts[] = {
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
        {76, 3, "Detener adquisición"},
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
    for (const auto& t : texts)
        m.messageTable.setText(t.section, t.number, m.Idioma, QString::fromUtf8(t.text));
}

QString ConfigFixture::createEmptyDatabase(const QString& name)
{
    const QString path = m.RutaApp + name;
    const Status created = EngineLayer::createFileDatabase(path, m.PassBD);
    EXPECT_TRUE(created.ok()) << created.error().description.toStdString();
    return path;
}

QString ConfigFixture::createConfigWithoutKeys(const QString& name,
                                               const QList<std::pair<QVariant, QString>>& rows)
{
    const QString path = createEmptyDatabase(name);
    auto cn = openDatabase(path);
    if (!cn)
        return path;
    const KeyWidths a = fixtureKeyWidths();
    const QString make =
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
    EXPECT_TRUE(cn->exec(make).ok());
    for (int key = 1; key <= 3; ++key)
        EXPECT_TRUE(
            cn->exec(QStringLiteral("INSERT INTO HTMRELOJ VALUES (?, ?)"), {key, key}).ok());
    for (const auto& [puert, descr] : rows) {
        auto done = cn->exec(QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, Estac, Reloj) "
                                            "VALUES (?, ?, 'EST01', 1)"),
                             {puert, descr});
        EXPECT_TRUE(done.ok()) << done.error().description.toStdString();
    }
    return path;
}

void ConfigFixture::loseFreeSpace(const QString& path) const
{
    DamagedFiles::loseTrailingFreePages(path, m.PassBD);
}

void ConfigFixture::damageIndex(const QString& path, const QString& indexName) const
{
    DamagedFiles::overwriteIndexRoot(path, m.PassBD, indexName);
}

QString ConfigFixture::createConfig(const QString& name, const KeyWidths& widths,
                                    const QList<FixturePort>& ports)
{
    const QString path = createEmptyDatabase(name);
    auto cn = openDatabase(path);
    if (!cn)
        return path;
    const Status tables = createConfigTables(*cn, widths);
    EXPECT_TRUE(tables.ok()) << tables.error().description.toStdString();
    for (int key = 1; key <= 10; ++key)
        EXPECT_TRUE(
            cn->exec(QStringLiteral("INSERT INTO HTMRELOJ VALUES (?, ?)"), {key, key}).ok());
    for (const FixturePort& p : ports) {
        auto done = cn->exec(
            QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, WebPg, Ident, Inici, Longi, Estac, "
                           "Maqui, Produ, Forma, Carac, Opera, Reloj) "
                           "VALUES (?, ?, ?, ?, 1, 6, ?, 'MAQ01', 'PROD-A', 'FRM01', 'DIAM', "
                           "'OPER01', ?)"),
            {p.puert, p.descr, QStringLiteral("http://127.0.0.1:8088/estacion%1.html").arg(p.puert),
             QStringLiteral("DIAM="), p.estac, p.clock});
        EXPECT_TRUE(done.ok()) << done.error().description.toStdString();
    }
    return path;
}

QString ConfigFixture::createConfig(const QString& name)
{
    return createConfig(name, fixtureKeyWidths(),
                        {{1, QStringLiteral("Diámetro"), QStringLiteral("EST01"), 1},
                         {2, QStringLiteral("Largo"), QStringLiteral("EST01"), 2},
                         {5, QStringLiteral("Peso"), QStringLiteral("EST02"), 0}});
}

void ConfigFixture::writeTLVDirec(const QStringList& lines)
{
    QFile file(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (const QString& line : lines)
        file.write(line.toUtf8() + "\r\n");
}

QByteArray ConfigFixture::readTLVDirec() const
{
    QFile file(m.RutaIAU + QStringLiteral("TLVDirec.IAU"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::unique_ptr<Connection> ConfigFixture::openDatabase(const QString& path) const
{
    auto opened = EngineLayer::open(configConnectionString(path, m.PassBD));
    EXPECT_TRUE(opened.ok()) << opened.error().description.toStdString();
    if (!opened)
        return nullptr;
    return std::move(opened.value());
}

} // namespace telvar::test
