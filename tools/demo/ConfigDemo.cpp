#include "ConfigDemo.h"

#include "DemoKeys.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "database/EngineLayer.h"

#include <QVariantList>
#include <vector>

namespace telvar::demo {

namespace {

struct DemoPort {
    int puert;
    const char* descr;
    const char* pagina;
    const char* ident;
    const char* estac;
    const char* maqui;
    const char* produ;
    const char* forma;
    const char* carac;
    const char* opera;
    int reloj;
};

// Clock intervals in minutes, clocks 1 to 10.
constexpr int kIntervalos[] = {1, 2, 0, 5, 5, 10, 10, 15, 30, 60};

const std::vector<DemoPort>& puertosDemo()
{
    static const std::vector<DemoPort> puertos = {
        {1, "Diámetro, estación 1", "/estacion1.html", "DIAM=", kStations[0], kMachines[0],
         kProducts[0], kFormats[0], kCharacteristics[0], kOperators[0], 1},
        {2, "Largo, estación 1", "/estacion1.html", "LARGO=", kStations[0], kMachines[0],
         kProducts[0], kFormats[0], kCharacteristics[1], kOperators[0], 1},
        {3, "Peso, estación 2", "/estacion2.html", "PESO=", kStations[1], kMachines[1],
         kProducts[1], kFormats[1], kCharacteristics[2], kOperators[1], 2},
        {4, "Temperatura, estación 2", "/estacion2.html", "TEMP=", kStations[1], kMachines[1],
         kProducts[1], kFormats[1], kCharacteristics[3], kOperators[1], 2},
        {5, "Diámetro, estación 2", "/estacion2b.html", "DIAM=", kStations[1], kMachines[1],
         kProducts[0], kFormats[0], kCharacteristics[0], kOperators[1], 2},
        {6, "Largo, estación 2", "/estacion2b.html", "LARGO=", kStations[1], kMachines[1],
         kProducts[0], kFormats[0], kCharacteristics[1], kOperators[1], 2},
        {7, "Peso, estación 1", "/estacion1b.html", "PESO=", kStations[0], kMachines[0],
         kProducts[1], kFormats[1], kCharacteristics[2], kOperators[0], 1},
        {8, "Temperatura, estación 1", "/estacion1b.html", "TEMP=", kStations[0], kMachines[0],
         kProducts[1], kFormats[1], kCharacteristics[3], kOperators[0], 1},
        {9, "Diámetro, lectura manual", "/estacion3.html", "DIAM=", kStations[0], kMachines[0],
         kProducts[0], kFormats[0], kCharacteristics[0], kOperators[0], 3},
        {10, "Largo, lectura manual", "/estacion3.html", "LARGO=", kStations[0], kMachines[0],
         kProducts[0], kFormats[0], kCharacteristics[1], kOperators[0], 3},
        {11, "Peso, fuera de servicio", "/estacion4.html", "PESO=", kStations[1], kMachines[1],
         kProducts[1], kFormats[1], kCharacteristics[2], kOperators[1], 0},
        {12, "Diámetro, producto leído de la página", "/estacion5.html", "DIAM=", kStations[0],
         "@MAQ:", "@PROD:", "@FRM:", kCharacteristics[0], kOperators[0], 1},
    };
    return puertos;
}

Status construye(const QString& path, const QString& passBD, const std::vector<DemoPort>& puertos)
{
    if (Status creado = EngineLayer::createFileDatabase(path, passBD); !creado)
        return creado;
    auto abierto = EngineLayer::open(conexionConf(path, passBD));
    if (!abierto)
        return abierto.error();
    const Connection& cn = *abierto.value();

    const AnchosClave anchos{kAnchoUSU, kAnchoEST, kAnchoMAQ, kAnchoPRO, kAnchoFRM, kAnchoCAR};
    if (Status tablas = creaTablasConfig(cn, anchos); !tablas)
        return tablas;

    QSqlDatabase db = cn.database();
    if (!db.transaction())
        return RuntimeError{-1, QStringLiteral("ConfigDemo"),
                            QStringLiteral("cannot start a transaction in ") + path};
    const auto falla = [&](const RuntimeError& error) {
        db.rollback();
        return Status(error);
    };
    for (int clave = 1; clave <= 10; ++clave) {
        auto hecho = cn.exec(QStringLiteral("INSERT INTO HTMRELOJ (CLAVE, INTER) VALUES (?, ?)"),
                             {clave, kIntervalos[clave - 1]});
        if (!hecho)
            return falla(hecho.error());
    }
    for (const DemoPort& p : puertos) {
        const QVariantList valores = {
            p.puert,
            QString::fromUtf8(p.descr),
            QLatin1String(kDemoPageBase) + QLatin1String(p.pagina),
            QLatin1String(p.ident),
            1,
            6,
            QLatin1String(p.estac),
            QLatin1String(p.maqui),
            QLatin1String(p.produ),
            QLatin1String(p.forma),
            QLatin1String(p.carac),
            QLatin1String(p.opera),
            p.reloj,
        };
        auto hecho = cn.exec(
            QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, WebPg, Ident, Inici, Longi, Estac, "
                           "Maqui, Produ, Forma, Carac, Opera, Reloj) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            valores);
        if (!hecho)
            return falla(hecho.error());
    }
    if (!db.commit())
        return falla(RuntimeError{-1, QStringLiteral("ConfigDemo"),
                                  QStringLiteral("cannot save the demo configuration in ") + path});
    return {};
}

} // namespace

Status buildDemoConfigDatabase(const QString& path, const QString& passBD)
{
    return construye(path, passBD, puertosDemo());
}

Status buildSecondDemoConfigDatabase(const QString& path, const QString& passBD)
{
    const std::vector<DemoPort>& todos = puertosDemo();
    std::vector<DemoPort> pocos(todos.begin(), todos.begin() + 4);
    pocos[0].descr = "Diámetro, línea de prueba";
    pocos[1].descr = "Largo, línea de prueba";
    return construye(path, passBD, pocos);
}

} // namespace telvar::demo
