#include "DamagedFiles_fixture.h"

#include "config/config_fixture.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "demo/ConfigDemo.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace telvar::test::DamagedFiles {

namespace {

QString jet(const QString& path, const QString& passBD)
{
    return jetConnectionString(path, passBD);
}

bool run(const Connection& cn, const QString& statement, const QVariantList& values = {})
{
    auto done = cn.exec(statement, values);
    if (!done)
        ADD_FAILURE() << statement.toStdString() << ": " << done.error().description.toStdString();
    return done.ok();
}

std::unique_ptr<Connection> fillDataFile(const QString& path, const QString& passBD, int rows)
{
    if (Status made = EngineLayer::createFileDatabase(path, passBD); !made) {
        ADD_FAILURE() << made.error().description.toStdString();
        return nullptr;
    }
    auto opened = EngineLayer::open(jet(path, passBD));
    if (!opened) {
        ADD_FAILURE() << opened.error().description.toStdString();
        return nullptr;
    }
    auto cn = std::move(opened.value());
    run(*cn, QStringLiteral("CREATE TABLE Datos (N INTEGER PRIMARY KEY AUTOINCREMENT, "
                            "Fecha VARCHAR(20), Operador VARCHAR(8), DIAM DOUBLE PRECISION)"));
    run(*cn, QStringLiteral("CREATE INDEX DatosFecha ON Datos (Fecha)"));
    cn->database().transaction();
    for (int i = 1; i <= rows; ++i)
        run(*cn, QStringLiteral("INSERT INTO Datos (Fecha, Operador, DIAM) VALUES (?, ?, ?)"),
            {QStringLiteral("2026-03-05 7:%1").arg(i, 5, 10, QLatin1Char('0')),
             QStringLiteral("OPER01"), 25.0 + i / 1000.0});
    cn->database().commit();
    return cn;
}

void truncateTo(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.resize(size))
        ADD_FAILURE() << "cannot truncate " << path.toStdString();
}

} // namespace

void makeDataFile(const QString& path, const QString& passBD, int rows)
{
    fillDataFile(path, passBD, rows);
}

void makeTextFile(const QString& path)
{
    Damage::writeTextFile(path);
}

void makeFileWithLostFreeSpace(const QString& path, const QString& passBD, int rows)
{
    if (!fillDataFile(path, passBD, rows))
        return;
    Damage::loseTrailingFreePages(path, passBD);
}

void makeHalfFile(const QString& path, const QString& passBD, int rows)
{
    fillDataFile(path, passBD, rows);
    truncateTo(path, QFileInfo(path).size() / 2);
}

void makeConfigWithLostIndexPage(const QString& path, const QString& passBD)
{
    if (Status built = demo::buildDemoConfigDatabase(path, passBD); !built) {
        ADD_FAILURE() << built.error().description.toStdString();
        return;
    }
    truncateTo(path, 16384);
}

void makeFileWithPlantedSchema(const QString& path, const QString& passBD,
                               const QList<PlantedEntry>& entries)
{
    auto cn = fillDataFile(path, passBD, 5);
    if (!cn)
        return;
    QSqlQuery query(cn->database());
    if (!query.exec(QStringLiteral("PRAGMA writable_schema = ON")))
        ADD_FAILURE() << query.lastError().text().toStdString();
    for (const PlantedEntry& entry : entries) {
        query.prepare(QStringLiteral("INSERT INTO sqlite_master (type, name, tbl_name, rootpage, "
                                     "sql) VALUES (?, ?, ?, 0, ?)"));
        query.addBindValue(entry.type);
        query.addBindValue(entry.name);
        query.addBindValue(entry.name);
        query.addBindValue(entry.sql);
        if (!query.exec())
            ADD_FAILURE() << query.lastError().text().toStdString();
    }
    query.exec(QStringLiteral("PRAGMA writable_schema = OFF"));
}

int countRows(const QString& path, const QString& passBD)
{
    auto opened = EngineLayer::open(jet(path, passBD));
    if (!opened)
        return -1;
    auto counted = opened.value()->exec(QStringLiteral("SELECT count(*) FROM Datos"));
    if (!counted || !counted.value().next())
        return -1;
    return counted.value().value(0).toInt();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace telvar::test::DamagedFiles
