#include "support/DamagedFiles.h"

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

std::unique_ptr<Connection> openFile(const QString& path, const QString& passBD)
{
    auto opened = EngineLayer::open(jet(path, passBD));
    if (!opened) {
        ADD_FAILURE() << path.toStdString() << ": " << opened.error().description.toStdString();
        return nullptr;
    }
    return std::move(opened.value());
}

// The file's page size, -1 when it cannot be read.
int pageSizeOf(const Connection& cn)
{
    auto size = cn.exec(QStringLiteral("PRAGMA page_size"));
    if (!size || !size.value().next()) {
        ADD_FAILURE() << "cannot read the page size";
        return -1;
    }
    return size.value().value(0).toInt();
}

} // namespace

void makeDataFile(const QString& path, const QString& passBD, int rows)
{
    fillDataFile(path, passBD, rows);
}

void makeTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return;
    }
    for (int i = 0; i < 200; ++i)
        file.write("Informe de turno: lecturas 2026-03-05, maquina MAQ01, producto PROD-A\r\n");
}

void makeFileWithLostFreeSpace(const QString& path, const QString& passBD, int rows)
{
    if (!fillDataFile(path, passBD, rows))
        return;
    loseTrailingFreePages(path, passBD);
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

void loseTrailingFreePages(const QString& path, const QString& passBD)
{
    int pageSize = -1;
    {
        auto cn = openFile(path, passBD);
        if (!cn)
            return;
        pageSize = pageSizeOf(*cn);
        if (pageSize <= 0)
            return;
        // A large table at the end of the file, dropped again: its pages
        // stay in the file as free pages.
        if (!run(*cn, QStringLiteral("CREATE TABLE Borrador (Texto VARCHAR(200))")))
            return;
        cn->database().transaction();
        for (int i = 0; i < 2000; ++i) {
            if (!run(*cn, QStringLiteral("INSERT INTO Borrador (Texto) VALUES (?)"),
                     {QString(150, QLatin1Char('x'))}))
                return;
        }
        cn->database().commit();
        if (!run(*cn, QStringLiteral("DROP TABLE Borrador")))
            return;
    }
    // Well inside the dropped table's pages.
    QFile file(path);
    if (!file.resize(file.size() - 40 * qint64(pageSize)))
        ADD_FAILURE() << "cannot cut " << path.toStdString();
}

void overwriteIndexRoot(const QString& path, const QString& passBD, const QString& indexName)
{
    int rootPage = 0;
    int pageSize = -1;
    {
        auto cn = openFile(path, passBD);
        if (!cn)
            return;
        auto root = cn->exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = ?"),
                             {indexName});
        if (!root || !root.value().next()) {
            ADD_FAILURE() << "no index " << indexName.toStdString() << " in " << path.toStdString();
            return;
        }
        rootPage = root.value().value(0).toInt();
        root.value().finish();
        pageSize = pageSizeOf(*cn);
        if (pageSize <= 0)
            return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(qint64(rootPage - 1) * pageSize) ||
        file.write(QByteArray(pageSize, '\x5a')) != pageSize)
        ADD_FAILURE() << "cannot overwrite the index root page of " << path.toStdString();
}

} // namespace telvar::test::DamagedFiles
