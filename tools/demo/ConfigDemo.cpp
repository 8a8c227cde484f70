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
    const char* pageSize;
    const char* ident;
    const char* estac;
    const char* maqui;
    const char* produ;
    const char* forma;
    const char* carac;
    const char* opera;
    int clock;
};

// Clock intervals in minutes, clocks 1 to 10.
constexpr int kIntervals[] = {1, 2, 0, 5, 5, 10, 10, 15, 30, 60};

const std::vector<DemoPort>& demoPorts()
{
    static const std::vector<DemoPort> ports = {
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
    return ports;
}

Status build(const QString& path, const QString& passBD, const std::vector<DemoPort>& ports)
{
    if (Status created = EngineLayer::createFileDatabase(path, passBD); !created)
        return created;
    auto opened = EngineLayer::open(configConnectionString(path, passBD));
    if (!opened)
        return opened.error();
    const Connection& cn = *opened.value();

    const KeyWidths widths{kWidthUSU, kWidthEST, kWidthMAQ, kWidthPRO, kWidthFRM, kWidthCAR};
    if (Status tables = createConfigTables(cn, widths); !tables)
        return tables;

    QSqlDatabase db = cn.database();
    if (!db.transaction())
        return Error{-1, QStringLiteral("ConfigDemo"),
                     QStringLiteral("cannot start a transaction in ") + path};
    const auto fail = [&](const Error& error) {
        db.rollback();
        return Status(error);
    };
    for (int key = 1; key <= 10; ++key) {
        auto done = cn.exec(QStringLiteral("INSERT INTO HTMRELOJ (CLAVE, INTER) VALUES (?, ?)"),
                            {key, kIntervals[key - 1]});
        if (!done)
            return fail(done.error());
    }
    for (const DemoPort& p : ports) {
        const QVariantList values = {
            p.puert,
            QString::fromUtf8(p.descr),
            QLatin1String(kDemoPageBase) + QLatin1String(p.pageSize),
            QLatin1String(p.ident),
            1,
            6,
            QLatin1String(p.estac),
            QLatin1String(p.maqui),
            QLatin1String(p.produ),
            QLatin1String(p.forma),
            QLatin1String(p.carac),
            QLatin1String(p.opera),
            p.clock,
        };
        auto done = cn.exec(
            QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, WebPg, Ident, Inici, Longi, Estac, "
                           "Maqui, Produ, Forma, Carac, Opera, Reloj) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            values);
        if (!done)
            return fail(done.error());
    }
    if (!db.commit())
        return fail(Error{-1, QStringLiteral("ConfigDemo"),
                          QStringLiteral("cannot save the demo configuration in ") + path});
    return {};
}

} // namespace

Status buildDemoConfigDatabase(const QString& path, const QString& passBD)
{
    return build(path, passBD, demoPorts());
}

Status buildSecondDemoConfigDatabase(const QString& path, const QString& passBD)
{
    const std::vector<DemoPort>& all = demoPorts();
    std::vector<DemoPort> few(all.begin(), all.begin() + 4);
    few[0].descr = "Diámetro, línea de prueba";
    few[1].descr = "Largo, línea de prueba";
    return build(path, passBD, few);
}

} // namespace telvar::demo
