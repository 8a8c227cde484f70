#pragma once

// The pieces of a benchmark's installation: its databases opened and
// filled, the program-wide state pointing at a program directory, and the
// configuration database that TLVDirec.IAU names.

#include "BenchFailures.h"
#include "common/Modulo1.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/TLVDirec.h"
#include "database/Connection.h"
#include "database/EngineLayer.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <memory>

namespace telvar::bench {

inline std::unique_ptr<Connection> open(const QString& connectionString)
{
    auto opened = EngineLayer::open(connectionString);
    if (!opened)
        die(opened.error().description);
    return std::move(opened.value());
}

inline void run(const Connection& cn, const QString& statement, const QVariantList& values = {})
{
    if (auto done = cn.exec(statement, values); !done)
        die(statement + QStringLiteral(": ") + done.error().description);
}

// Inserts a row for each of rows, its values given by values(row), in one
// transaction.
template <typename Rows, typename Values>
void insertRows(const Connection& cn, const QString& statement, const Rows& rows, Values values)
{
    QSqlDatabase db = cn.database();
    if (!db.transaction())
        die(db.lastError().text());
    {
        QSqlQuery insert(db);
        if (!insert.prepare(statement))
            die(insert.lastError().text());
        for (const auto& row : rows) {
            for (const QVariant& value : values(row))
                insert.addBindValue(value);
            if (!insert.exec())
                die(insert.lastError().text());
        }
    }
    if (!db.commit())
        die(db.lastError().text());
}

// A port of the configuration (HTMCONFI): it reads longi characters from the
// first after ident on its page, at station EST01 for operator OPER01.
struct ConfigPort {
    int puert = 0;
    QString webPg;
    QString ident;
    int longi = 6;
    QString maqui;
    QString produ;
    QString forma;
    QString carac;
    int reloj = 1;
};

// Replaces the configuration's ports with port(row) for each of rows.
template <typename Rows, typename Port>
void replacePorts(const Connection& cn, const Rows& rows, Port port)
{
    run(cn, QStringLiteral("DELETE FROM HTMCONFI"));
    insertRows(cn,
               QStringLiteral("INSERT INTO HTMCONFI (Puert, Descr, WebPg, Ident, Inici, Longi, "
                              "Estac, Maqui, Produ, Forma, Carac, Opera, Reloj) VALUES (?, ?, ?, "
                              "?, 1, ?, 'EST01', ?, ?, ?, ?, 'OPER01', ?)"),
               rows, [&port](const auto& row) {
                   const ConfigPort p = port(row);
                   return QVariantList{p.puert, QStringLiteral("Port ") + QString::number(p.puert),
                                       p.webPg, p.ident,
                                       p.longi, p.maqui,
                                       p.produ, p.forma,
                                       p.carac, p.reloj};
               });
}

// The CXP table of the SPC database, as Qualitra declares it.
inline void createCxpTable(const Connection& cn)
{
    run(cn, QStringLiteral("CREATE TABLE CXP (CXPMAQUI VARCHAR(8) NOT NULL, CXPPRODU VARCHAR(20) "
                           "NOT NULL, CXPCARAC VARCHAR(8) NOT NULL, CXPLINFC DOUBLE PRECISION, "
                           "CXPLSUPC DOUBLE PRECISION, PRIMARY KEY (CXPMAQUI, CXPPRODU, "
                           "CXPCARAC))"));
}

inline constexpr KeyWidths kWidths{8, 8, 8, 20, 8, 8};

// The program-wide state of a program directory (appPath ends in '/') and
// its password, with the key widths of kWidths and the messages' table.
inline void setUpModulo1(Modulo1& m, const QString& appPath, const QString& passBD)
{
    m.RutaApp = appPath;
    m.RutaIAU = m.RutaApp + QStringLiteral("IAu/");
    m.PassBD = passBD;
    m.AnchoUSU = qint16(kWidths.Opera);
    m.AnchoEST = qint16(kWidths.Estac);
    m.AnchoMAQ = qint16(kWidths.Maqui);
    m.AnchoPRO = qint16(kWidths.Produ);
    m.AnchoFRM = qint16(kWidths.Forma);
    m.AnchoCAR = qint16(kWidths.Carac);
    m.Idioma = 1;
    m.messageTable = MessageTable(80, 90, 2);
}

// The configuration database (TLVConf.mdb in the program directory, its
// ten clocks without an interval) and TLVDirec.IAU naming it; its path.
inline QString createConfiguration(const Modulo1& m)
{
    const QString path = m.RutaApp + QStringLiteral("TLVConf.mdb");
    check(EngineLayer::createFileDatabase(path, m.PassBD), path);
    {
        auto cn = open(configConnectionString(path, m.PassBD));
        check(createConfigTables(*cn, kWidths), QStringLiteral("configuration tables"));
        for (int reloj = 1; reloj <= 10; ++reloj)
            run(*cn, QStringLiteral("INSERT INTO HTMRELOJ VALUES (?, ?)"), {reloj, 0});
    }
    check(writeConfigPaths(m, {path}), QStringLiteral("TLVDirec.IAU"));
    return path;
}

} // namespace telvar::bench
