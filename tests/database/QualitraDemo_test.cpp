// The demo's Qualitra database, loaded from its one definition into every
// engine, and the demo's data files.

#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "demo/DemoKeys.h"
#include "demo/QualitraDemo.h"
#include "support/EngineDatabase.h"

#include <QDir>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <crypt.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace telvar;
using telvar::test::Engine;
using telvar::test::EngineTest;

// The stored form of encoded-digit passwords, written out independently:
// v(j) = code + 2*k*j, three digits each (last three kept), last character
// first, then k.
QString encodeDigits(const QString& password, int k)
{
    QString out;
    for (qsizetype j = password.size(); j >= 1; --j) {
        const int v = password.at(j - 1).unicode() + 2 * k * int(j);
        out += QStringLiteral("%1").arg(v % 1000, 3, 10, QLatin1Char('0'));
    }
    return out + QString::number(k);
}

bool bcryptMatches(const QString& password, const QString& hash)
{
    auto data = std::make_unique<crypt_data>();
    const QByteArray setting = hash.toLatin1();
    const char* result = crypt_r(password.toUtf8().constData(), setting.constData(), data.get());
    return result && result[0] != '*' && setting == result;
}

QList<QStringList> rows(const Connection& cn, const QString& statement, int columns)
{
    QList<QStringList> result;
    auto q = cn.exec(statement);
    EXPECT_TRUE(q.ok()) << statement.toStdString() << ": "
                        << (q.ok() ? std::string() : q.error().description.toStdString());
    if (!q)
        return result;
    while (q.value().next()) {
        QStringList row;
        for (int i = 0; i < columns; ++i)
            row.append(q.value().value(i).toString().trimmed());
        result.append(row);
    }
    return result;
}

class QualitraDemoTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        cn = db->open();
        ASSERT_TRUE(cn);
        Status loaded = demo::loadQualitraDemo(*cn);
        ASSERT_TRUE(loaded.ok()) << loaded.error().description.toStdString();
    }
    std::unique_ptr<Connection> cn;
};

TEST_P(QualitraDemoTest, MasterTablesHoldTheDemoKeys)
{
    auto keys = [&](const char* column, const char* table) {
        QStringList out;
        for (const QStringList& row : rows(*cn,
                                           QStringLiteral("SELECT %1 FROM %2 ORDER BY %1")
                                               .arg(QLatin1String(column), QLatin1String(table)),
                                           1))
            out.append(row.first());
        return out;
    };
    auto expected = [](const auto& list) {
        QStringList out;
        for (const char* key : list)
            out.append(QString::fromLatin1(key));
        out.sort();
        return out;
    };
    EXPECT_EQ(keys("ESTCLAVE", "EST"), expected(demo::kStations));
    EXPECT_EQ(keys("MAQCLAVE", "MAQ"), expected(demo::kMachines));
    EXPECT_EQ(keys("PROCLAVE", "PRO"), expected(demo::kProducts));
    EXPECT_EQ(keys("FRMCLAVE", "FRM"), expected(demo::kFormats));
    EXPECT_EQ(keys("CARCLAVE", "CAR"), expected(demo::kCharacteristics));
    for (const char* op : demo::kOperators)
        EXPECT_TRUE(keys("USUCLAVE", "USU").contains(QString::fromLatin1(op))) << op;
    // Both languages' descriptions, non-ASCII text intact.
    EXPECT_EQ(
        rows(*cn, QStringLiteral("SELECT CARDESC1, CARDESC2 FROM CAR WHERE CARCLAVE = 'TEMP'"), 2),
        (QList<QStringList>{
            {QStringLiteral("Temperatura (°C)"), QStringLiteral("Temperature (°C)")}}));
    EXPECT_FALSE(rows(*cn, QStringLiteral("SELECT INSCLAVE, INSDESCR FROM INS"), 2).isEmpty());
}

TEST_P(QualitraDemoTest, KeyWidthsAreTheDemoWidths)
{
    const std::pair<const char*, int> widths[] = {
        {"USU", demo::kWidthUSU}, {"EST", demo::kWidthEST}, {"MAQ", demo::kWidthMAQ},
        {"PRO", demo::kWidthPRO}, {"FRM", demo::kWidthFRM}, {"CAR", demo::kWidthCAR},
    };
    for (const auto& [table, width] : widths) {
        auto size =
            cn->definedSize(QLatin1String(table), QLatin1String(table) + QStringLiteral("CLAVE"));
        ASSERT_TRUE(size.ok()) << table;
        EXPECT_EQ(size.value(), width) << table;
    }
}

TEST_P(QualitraDemoTest, AssignmentChainLinksOperatorsToCharacteristics)
{
    // Walk the chain as the pickers do, from each operator down.
    QSet<QString> reached;
    for (const char* op : demo::kOperators) {
        for (const QStringList& est :
             rows(*cn,
                  QStringLiteral("SELECT EXUESTAC FROM EXU WHERE EXUUSUAR = '%1'")
                      .arg(QLatin1String(op)),
                  1))
            for (const QStringList& maq :
                 rows(*cn,
                      QStringLiteral("SELECT MXEMAQUI FROM MXE WHERE MXEESTAC = '%1'").arg(est[0]),
                      1))
                for (const QStringList& pro :
                     rows(*cn,
                          QStringLiteral("SELECT PXMPRODU FROM PXM WHERE PXMMAQUI = '%1'")
                              .arg(maq[0]),
                          1))
                    for (const QStringList& frm :
                         rows(*cn,
                              QStringLiteral("SELECT FXPFORMA FROM FXP WHERE FXPPRODU = '%1'")
                                  .arg(pro[0]),
                              1))
                        for (const QStringList& car :
                             rows(*cn,
                                  QStringLiteral("SELECT CXFCARAC FROM CXF WHERE CXFFORMA = '%1' "
                                                 "ORDER BY CXFPOSIC")
                                      .arg(frm[0]),
                                  1))
                            reached.insert(car[0]);
    }
    EXPECT_EQ(reached, (QSet<QString>{QStringLiteral("DIAM"), QStringLiteral("LARGO"),
                                      QStringLiteral("PESO"), QStringLiteral("TEMP")}));
    EXPECT_EQ(
        rows(*cn,
             QStringLiteral(
                 "SELECT CXFCARAC, CXFPOSIC FROM CXF WHERE CXFFORMA = 'FRM01' ORDER BY CXFPOSIC"),
             2),
        (QList<QStringList>{{QStringLiteral("DIAM"), QStringLiteral("1")},
                            {QStringLiteral("LARGO"), QStringLiteral("2")}}));
}

TEST_P(QualitraDemoTest, LimitsHaveExactAndWildcardRows)
{
    // Exact row first, then any machine, then any machine and product.
    auto limits = [&](const QString& maq, const QString& pro, const QString& car) {
        return rows(*cn,
                    QStringLiteral("SELECT CXPLINFC, CXPLSUPC FROM CXP WHERE CXPMAQUI = '%1' AND "
                                   "CXPPRODU = '%2' AND CXPCARAC = '%3'")
                        .arg(maq, pro, car),
                    2);
    };
    EXPECT_EQ(
        limits(QStringLiteral("MAQ01"), QStringLiteral("PROD-A"), QStringLiteral("DIAM")).size(),
        1);
    EXPECT_TRUE(limits(QStringLiteral("MAQ02"), QStringLiteral("PROD-B"), QStringLiteral("DIAM"))
                    .isEmpty());
    EXPECT_EQ(limits(QStringLiteral("***"), QStringLiteral("PROD-B"), QStringLiteral("DIAM")),
              (QList<QStringList>{{QStringLiteral("11.8"), QStringLiteral("12.2")}}));
    EXPECT_EQ(limits(QStringLiteral("***"), QStringLiteral("***"), QStringLiteral("TEMP")).size(),
              1);
}

TEST_P(QualitraDemoTest, ConfiguratorPasswordsInTheirThreeForms)
{
    const auto active =
        rows(*cn,
             QStringLiteral(
                 "Select * from USU where USUPODER like '1%' and USUSSTAT='0' order by USUCLAVE"),
             5);
    QStringList claves;
    for (const QStringList& row : active)
        claves.append(row[0]);
    EXPECT_EQ(claves, (QStringList{QStringLiteral("ADMIN"), QStringLiteral("JEFE"),
                                   QStringLiteral("SUPER")}));

    for (const demo::DemoUser& user : demo::kConfigurators) {
        SCOPED_TRACE(user.key);
        const auto stored = rows(*cn,
                                 QStringLiteral("SELECT USUCONTR FROM USU WHERE USUCLAVE = '%1'")
                                     .arg(QLatin1String(user.key)),
                                 1);
        ASSERT_EQ(stored.size(), 1);
        const QString contr = stored[0][0];
        const QString password = QString::fromUtf8(user.password);
        const QString form = QString::fromLatin1(user.storedAs);
        if (form == QLatin1String("bcrypt")) {
            EXPECT_TRUE(contr.startsWith(QStringLiteral("$2a$%1$").arg(demo::kBcryptCost)));
            EXPECT_EQ(contr.size(), 60);
            EXPECT_TRUE(bcryptMatches(password, contr));
            EXPECT_FALSE(bcryptMatches(password + QLatin1Char('x'), contr));
        } else if (form == QLatin1String("encoded")) {
            EXPECT_EQ(contr, encodeDigits(password, 5));
        } else {
            EXPECT_EQ(contr, password);
        }
    }
    EXPECT_EQ(encodeDigits(QStringLiteral("abc"), 0), QStringLiteral("0990980970"));
}

TEST_P(QualitraDemoTest, ServerDataTablesFollowTheChain)
{
    Status made = demo::createDemoDataTables(*cn, *cn);
    ASSERT_TRUE(made.ok()) << made.error().description.toStdString();
    auto insert = cn->exec(QStringLiteral("INSERT INTO [Datos_FRM02_MAQ02_PROD-B] (Fecha, Turno, "
                                          "Operador, [PESO], [TEMP]) VALUES (?, ?, ?, ?, ?)"),
                           {QStringLiteral("2026-03-05 7:04:09"), QStringLiteral("1"),
                            QStringLiteral("OPER02"), 50.5, QStringLiteral("71,5")});
    ASSERT_TRUE(insert.ok()) << insert.error().description.toStdString();
    EXPECT_EQ(rows(*cn,
                   QStringLiteral(
                       "Select Top 1 N,[TEMP] from [Datos_FRM02_MAQ02_PROD-B] order by N Desc"),
                   2),
              (QList<QStringList>{{QStringLiteral("1"), QStringLiteral("71,5")}}));
    auto temp = cn->columnInfo(QStringLiteral("Datos_FRM02_MAQ02_PROD-B"), QStringLiteral("TEMP"));
    ASSERT_TRUE(temp.ok());
    EXPECT_TRUE(temp.value().isText);
}

TELVAR_INSTANTIATE_ENGINES(QualitraDemoTest);

TEST(QualitraDemoFiles, DemoFileIsProtectedAndNeverReplaced)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Qualitra.MDB"));
    ASSERT_TRUE(demo::createQualitraDemoFile(path, QStringLiteral("pass")).ok());
    auto cn = EngineLayer::open(jetConnectionString(path, QStringLiteral("pass")));
    ASSERT_TRUE(cn.ok());
    EXPECT_EQ(EngineLayer::open(jetConnectionString(path, QStringLiteral("otra"))).error().number,
              ErrorNumber::WrongPassword);
    auto again = demo::createQualitraDemoFile(path, QStringLiteral("pass"));
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().number, ErrorNumber::DatabaseExists);
}

TEST(QualitraDemoFiles, DataFilesPerFormatMachineAndProduct)
{
    QTemporaryDir dir;
    const QString dataPath = dir.filePath(QStringLiteral("Datos"));
    Status made = demo::createDemoDataFiles(dataPath, QStringLiteral("pass"));
    ASSERT_TRUE(made.ok()) << made.error().description.toStdString();

    struct Expected {
        const char* file;
        QStringList numeric;
        QStringList text;
    };
    const Expected expected[] = {
        {"FRM01/MAQ01/PROD-A.MDB", {QStringLiteral("DIAM"), QStringLiteral("LARGO")}, {}},
        {"FRM01/MAQ01/PROD-B.MDB", {QStringLiteral("DIAM"), QStringLiteral("LARGO")}, {}},
        {"FRM01/MAQ02/PROD-A.MDB", {QStringLiteral("DIAM"), QStringLiteral("LARGO")}, {}},
        {"FRM01/MAQ02/PROD-B.MDB", {QStringLiteral("DIAM"), QStringLiteral("LARGO")}, {}},
        {"FRM02/MAQ01/PROD-B.MDB", {QStringLiteral("PESO")}, {QStringLiteral("TEMP")}},
        {"FRM02/MAQ02/PROD-B.MDB", {QStringLiteral("PESO")}, {QStringLiteral("TEMP")}},
    };
    QStringList all;
    for (const QString& f : QDir(dataPath).entryList(QStringList{QStringLiteral("*")},
                                                     QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& g :
             QDir(dataPath + QLatin1Char('/') + f).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& h : QDir(dataPath + QLatin1Char('/') + f + QLatin1Char('/') + g)
                                        .entryList(QDir::Files))
                all.append(f + QLatin1Char('/') + g + QLatin1Char('/') + h);
    all.sort();
    QStringList wanted;
    for (const Expected& e : expected)
        wanted.append(QString::fromLatin1(e.file));
    EXPECT_EQ(all, wanted);

    for (const Expected& e : expected) {
        SCOPED_TRACE(e.file);
        const QString path = QDir(dataPath).filePath(QString::fromLatin1(e.file));
        auto cn = EngineLayer::open(jetConnectionString(path, QStringLiteral("pass")));
        ASSERT_TRUE(cn.ok()) << cn.error().description.toStdString();
        for (const QString& column : e.numeric) {
            auto info = cn.value()->columnInfo(QStringLiteral("Datos"), column);
            ASSERT_TRUE(info.ok()) << column.toStdString();
            EXPECT_FALSE(info.value().isText);
        }
        for (const QString& column : e.text) {
            auto info = cn.value()->columnInfo(QStringLiteral("Datos"), column);
            ASSERT_TRUE(info.ok()) << column.toStdString();
            EXPECT_TRUE(info.value().isText);
        }
        auto operador =
            cn.value()->definedSize(QStringLiteral("Datos"), QStringLiteral("Operador"));
        ASSERT_TRUE(operador.ok());
        EXPECT_EQ(operador.value(), demo::kWidthUSU);
        // N is numbered by the database.
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(
                cn.value()
                    ->exec(QStringLiteral(
                               "INSERT INTO Datos (Fecha, Turno, Operador) VALUES (?, ?, ?)"),
                           {QStringLiteral("2026-03-05 7:04:09"), QStringLiteral("1"),
                            QStringLiteral("OPER01")})
                    .ok());
        auto last = cn.value()->exec(QStringLiteral("Select Top 1 N from [Datos] order by N Desc"));
        ASSERT_TRUE(last.ok() && last.value().next());
        EXPECT_EQ(last.value().value(0).toInt(), 2);
    }
    EXPECT_EQ(EngineLayer::open(jetConnectionString(
                                    QDir(dataPath).filePath(QString::fromLatin1(expected[0].file)),
                                    QStringLiteral("otra")))
                  .error()
                  .number,
              ErrorNumber::WrongPassword);
    // A second run refuses to replace what exists.
    EXPECT_FALSE(demo::createDemoDataFiles(dataPath, QStringLiteral("pass")).ok());
}

} // namespace
