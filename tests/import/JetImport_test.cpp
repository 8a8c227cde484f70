// The import of real Jet files (tests/data/jet) through the program's own
// path: the reader process (telvar-import beside the test program), the new
// SQLite file put in place, opened as the program opens its file databases.
#include "common/ErrorNumbers.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "database/SqliteWidenColumn.h"
#include "import/JetImport.h"
#include "import/JetSamples_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>

namespace telvar {
namespace {

using test::CsvField;
using test::CsvRecord;
using test::importRequest;
using test::jetSample;

std::unique_ptr<Connection> openImported(const QString& path, const QString& password = {})
{
    Result<std::unique_ptr<Connection>> cn = EngineLayer::open(jetConnectionString(path, password));
    if (!cn) {
        ADD_FAILURE() << cn.error().description.toStdString();
        return nullptr;
    }
    return std::move(cn.value());
}

// The names in a folder, hidden ones (the import's temporary folder) too.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// How a value of a column compares with what mdb-export prints for it,
// after both are brought to one canonical text:
//   - mdb-export prints NULL and an empty text alike (nothing, unquoted),
//     so both are "<empty>" on either side;
//   - whole numbers and yes/no (1/0) as numbers; currency and decimals as
//     the double their decimal text reads as (libmdb writes both sides);
//   - a Single to the float it is (mdb-export prints 8 digits, the import
//     the shortest text of the float), a Double to 15 significant digits
//     (mdb-export prints 16, which may differ in the last from the double's
//     own);
//   - dates to the second, from the program's "yyyy-MM-dd H:mm:ss" and from
//     mdb-export's "%Y-%m-%d %H:%M:%S";
//   - bytes (binary, OLE) as upper-case hexadecimal (mdb-export -b hex).
QString canonical(const QString& declaredType, const QVariant& value)
{
    const QString type = declaredType.toUpper();
    if (value.isNull() ||
        (value.metaType().id() == QMetaType::QString && value.toString().isEmpty()))
        return QStringLiteral("<empty>");
    if (type == QLatin1String("BLOB"))
        return QString::fromLatin1(value.toByteArray().toHex().toUpper());
    if (type == QLatin1String("DATETIME"))
        return QDateTime::fromString(value.toString(), QStringLiteral("yyyy-MM-dd H:mm:ss"))
            .toString(Qt::ISODate);
    if (type == QLatin1String("INTEGER") || type == QLatin1String("BOOLEAN"))
        return QString::number(value.toLongLong());
    if (type == QLatin1String("REAL"))
        return QString::number(double(float(value.toDouble())), 'g', 9);
    if (type == QLatin1String("DOUBLE"))
        return QString::number(value.toDouble(), 'g', 15);
    if (type.startsWith(QLatin1String("NUMERIC")))
        return QString::number(value.toDouble(), 'g', 17);
    return value.toString();
}

QString canonicalCsv(const QString& declaredType, const CsvField& field)
{
    const QString type = declaredType.toUpper();
    if (!field.quoted && field.text.isEmpty())
        return QStringLiteral("<empty>");
    if (type == QLatin1String("DATETIME"))
        return QDateTime::fromString(field.text, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            .toString(Qt::ISODate);
    if (type == QLatin1String("BLOB"))
        return field.text.toUpper();
    if (type == QLatin1String("INTEGER") || type == QLatin1String("BOOLEAN") ||
        type == QLatin1String("REAL") || type == QLatin1String("DOUBLE") ||
        type.startsWith(QLatin1String("NUMERIC")))
        return canonical(declaredType, QVariant(field.text.toDouble()));
    return field.text;
}

class JetSampleImport : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_source = jetSample(QString::fromLatin1(GetParam()));
        m_target = m_dir.filePath(QStringLiteral("Importada.mdb"));
        Result<ImportSummary> imported = importJetFile(importRequest(m_source, m_target));
        ASSERT_TRUE(imported) << imported.error().description.toStdString();
        m_summary = imported.value();
    }

    QTemporaryDir m_dir;
    QString m_source;
    QString m_target;
    ImportSummary m_summary;
};

TEST_P(JetSampleImport, EveryTableHoldsWhatMdbExportPrints)
{
    // The same tables as mdb-tables lists, in the same order.
    const QStringList tables = QString::fromUtf8(test::mdbTool(QStringLiteral("mdb-tables"),
                                                               {QStringLiteral("-1"), m_source}))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList imported;
    for (const ImportedTable& t : m_summary.tables)
        imported.append(t.name);
    ASSERT_EQ(imported, tables);

    std::unique_ptr<Connection> cn = openImported(m_target);
    ASSERT_TRUE(cn);
    const QSqlDatabase db = cn->database();
    static const QRegularExpression programDate(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d{1,2}:\\d\\d:\\d\\d$"));
    qint64 rows = 0;
    for (const ImportedTable& t : m_summary.tables) {
        SCOPED_TRACE(t.name.toStdString());
        const QList<CsvRecord> csv = test::parseCsv(
            test::mdbTool(QStringLiteral("mdb-export"),
                          {QStringLiteral("-D"), QStringLiteral("%Y-%m-%d %H:%M:%S"),
                           QStringLiteral("-T"), QStringLiteral("%Y-%m-%d %H:%M:%S"),
                           QStringLiteral("-b"), QStringLiteral("hex"), m_source, t.name}));
        ASSERT_FALSE(csv.isEmpty());

        // The columns, by name and declared type.
        QStringList names;
        QStringList types;
        QSqlQuery info(db);
        ASSERT_TRUE(
            info.exec(QStringLiteral("PRAGMA table_info(\"") + t.name + QStringLiteral("\")")));
        while (info.next()) {
            names.append(info.value(1).toString());
            types.append(info.value(2).toString());
        }
        QStringList header;
        for (const CsvField& f : csv.first())
            header.append(f.text);
        ASSERT_EQ(names, header);

        // The rows, each as its values' canonical texts. SQLite returns a
        // table with an INTEGER PRIMARY KEY in key order, mdb-export in the
        // file's order: both sides are sorted.
        QList<QStringList> expected;
        for (qsizetype r = 1; r < csv.size(); ++r) {
            ASSERT_EQ(csv[r].size(), names.size()) << "mdb-export row " << r;
            QStringList values;
            for (qsizetype c = 0; c < names.size(); ++c)
                values.append(canonicalCsv(types[c], csv[r][c]));
            expected.append(values);
        }
        QList<QStringList> actual;
        QSqlQuery select(db);
        ASSERT_TRUE(select.exec(QStringLiteral("SELECT * FROM \"") + t.name + QLatin1Char('"')));
        while (select.next()) {
            QStringList values;
            for (int c = 0; c < names.size(); ++c) {
                const QVariant v = select.value(c);
                // Dates are text in the program's own form.
                if (types[c] == QLatin1String("DATETIME") && !v.isNull()) {
                    EXPECT_TRUE(programDate.match(v.toString()).hasMatch())
                        << v.toString().toStdString();
                }
                values.append(canonical(types[c], v));
            }
            actual.append(values);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_EQ(t.rows, actual.size());
        for (qsizetype r = 0; r < actual.size(); ++r)
            ASSERT_EQ(actual[r], expected[r]) << "row " << r << " in sorted order";
        rows += actual.size();
    }
    EXPECT_EQ(m_summary.rows(), rows);
}

TEST_P(JetSampleImport, TextColumnsKeepTheSizesTheProgramReads)
{
    // mdb-schema says what the Jet file declares; the program's own reader
    // (Connection::definedSize, as LeeAnchos and the configuration's width
    // check use it) must read the same size from the SQLite file.
    static const QRegularExpression textSize(QStringLiteral("^Text \\((\\d+)\\)$"));
    const auto schema = test::mdbSchema(m_source);
    ASSERT_EQ(schema.size(), m_summary.tables.size());
    std::unique_ptr<Connection> cn = openImported(m_target);
    ASSERT_TRUE(cn);
    int textColumns = 0;
    QString wideTable;
    QString wideColumn;
    for (auto table = schema.begin(); table != schema.end(); ++table) {
        for (const auto& [column, jetType] : table.value()) {
            SCOPED_TRACE((table.key() + QLatin1Char('.') + column + QStringLiteral(": ") + jetType)
                             .toStdString());
            const Result<ColumnInfo> info = cn->columnInfo(table.key(), column);
            ASSERT_TRUE(info) << info.error().description.toStdString();
            const Result<int> size = cn->definedSize(table.key(), column);
            if (const auto m = textSize.match(jetType); m.hasMatch()) {
                ++textColumns;
                wideTable = table.key();
                wideColumn = column;
                ASSERT_TRUE(size) << size.error().description.toStdString();
                EXPECT_EQ(size.value(), m.captured(1).toInt());
            } else if (jetType.startsWith(QLatin1String("Memo"))) {
                // Text without a defined size, as a memo has none.
                EXPECT_TRUE(info.value().isText);
                ASSERT_FALSE(size);
                EXPECT_EQ(size.error().number, ErrorNumber::Overflow);
            } else {
                EXPECT_FALSE(info.value().isText) << info.value().declaredType.toStdString();
                ASSERT_FALSE(size);
                EXPECT_EQ(size.error().number, ErrorNumber::TypeMismatch);
            }
        }
    }
    EXPECT_GT(textColumns, 0);

    // The program widens a converted text column as it widens its own
    // (AmpliarTexto rebuilds the table from its declaration), rows kept.
    const QString& table = wideTable;
    const QString& column = wideColumn;
    QSqlQuery count(cn->database());
    ASSERT_TRUE(count.exec(QStringLiteral("SELECT count(*) FROM \"") + table + QLatin1Char('"')) &&
                count.next());
    const qint64 rows = count.value(0).toLongLong();
    count.finish();
    ASSERT_TRUE(widenSqliteTextColumn(*cn, table, column, 300));
    const Result<int> widened = cn->definedSize(table, column);
    ASSERT_TRUE(widened);
    EXPECT_EQ(widened.value(), 300);
    ASSERT_TRUE(count.exec(QStringLiteral("SELECT count(*) FROM \"") + table + QLatin1Char('"')) &&
                count.next());
    EXPECT_EQ(count.value(0).toLongLong(), rows);
}

INSTANTIATE_TEST_SUITE_P(Samples, JetSampleImport,
                         ::testing::Values("nwind.mdb", "ASampleDatabase.accdb"),
                         [](const ::testing::TestParamInfo<const char*>& sample) {
                             const std::string file = sample.param;
                             return file.substr(0, file.find('.'));
                         });

TEST(JetImport, KeysIndexesAndAutoNumbersCarryOver)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("nwind.mdb"));
    const Result<ImportSummary> imported =
        importJetFile(importRequest(jetSample(QStringLiteral("nwind.mdb")), target));
    ASSERT_TRUE(imported) << imported.error().description.toStdString();
    EXPECT_EQ(imported.value().format, QStringLiteral("Jet 3 (Access 97)"));
    const QStringList& notes = imported.value().notes;
    const auto noted = [&](const QString& text) {
        return std::any_of(notes.begin(), notes.end(),
                           [&](const QString& n) { return n.contains(text); });
    };
    EXPECT_TRUE(noted(QStringLiteral("22 queries, 21 forms, 13 reports, 8 macros, 3 modules")));
    EXPECT_TRUE(noted(QStringLiteral("Orders: 4 indexes of its relationships left out")));

    std::unique_ptr<Connection> cn = openImported(target);
    ASSERT_TRUE(cn);
    QSqlDatabase db = cn->database();
    const auto one = [&](const QString& sql) {
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql) && q.next()) << sql.toStdString();
        return q.value(0);
    };
    // The indexes SQLite holds, by table: the primary keys (in the table's
    // declaration), unique and plain ones under <table>_<index>.
    const struct {
        const char* table;
        const char* index;
        bool unique;
        const char* columns;
    } indexes[] = {
        {"Order Details", "sqlite_autoindex_Order Details_1", true, "OrderID,ProductID"},
        {"Order Details", "Order Details_ProductID", false, "ProductID"},
        {"Customers", "sqlite_autoindex_Customers_1", true, "CustomerID"},
        {"Categories", "Categories_CategoryName", true, "CategoryName"},
        {"Orders", "Orders_ShipPostalCode", false, "ShipPostalCode"},
    };
    for (const auto& i : indexes) {
        SCOPED_TRACE(i.index);
        EXPECT_EQ(
            one(QStringLiteral("SELECT \"unique\" FROM pragma_index_list('%1') WHERE name = '%2'")
                    .arg(QString::fromUtf8(i.table), QString::fromUtf8(i.index)))
                .toBool(),
            i.unique);
        EXPECT_EQ(one(QStringLiteral("SELECT group_concat(name) FROM (SELECT name FROM "
                                     "pragma_index_info('%1') ORDER BY seqno)")
                          .arg(QString::fromUtf8(i.index)))
                      .toString(),
                  QString::fromUtf8(i.columns));
    }
    // An AutoNumber key goes on numbering, as the program's data tables do.
    const qint64 last = one(QStringLiteral("SELECT max(OrderID) FROM Orders")).toLongLong();
    ASSERT_TRUE(cn->exec(QStringLiteral("INSERT INTO Orders (CustomerID) VALUES ('NUEVO')")));
    EXPECT_EQ(
        one(QStringLiteral("SELECT OrderID FROM Orders WHERE CustomerID = 'NUEVO'")).toLongLong(),
        last + 1);
    // A required column stays required, a primary key unique.
    EXPECT_FALSE(cn->exec(QStringLiteral("INSERT INTO Shippers (Phone) VALUES ('1')")));
    EXPECT_FALSE(cn->exec(
        QStringLiteral("INSERT INTO Customers (CustomerID, CompanyName) VALUES ('ALFKI', 'x')")));
}

TEST(JetImport, APasswordProtectsTheNewFileAsTheProgramsOwnFiles)
{
    QTemporaryDir dir;
    ImportRequest request = importRequest(jetSample(QStringLiteral("ASampleDatabase.accdb")),
                                          dir.filePath(QStringLiteral("Clave.mdb")));
    request.password = QStringLiteral("Señal 7");
    ASSERT_TRUE(importJetFile(request));
    EXPECT_TRUE(EngineLayer::open(jetConnectionString(request.target, request.password)));
    const Result<std::unique_ptr<Connection>> wrong =
        EngineLayer::open(jetConnectionString(request.target, QStringLiteral("otra")));
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().number, ErrorNumber::WrongPassword);
}

TEST(JetImport, AnExistingFileIsReplacedOnlyWhenAskedAndKeptAsABackup)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("TLVConf.mdb"));
    writeFile(target, "anterior");
    ImportRequest request =
        importRequest(jetSample(QStringLiteral("ASampleDatabase.accdb")), target);

    const Result<ImportSummary> refused = importJetFile(request);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().number, ErrorNumber::DatabaseExists);
    EXPECT_EQ(readAll(target), QByteArray("anterior"));
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("TLVConf.mdb")});

    request.replaceExisting = true;
    const Result<ImportSummary> replaced = importJetFile(request);
    ASSERT_TRUE(replaced) << replaced.error().description.toStdString();
    EXPECT_EQ(replaced.value().backup, target + QStringLiteral(".bak"));
    EXPECT_EQ(readAll(target + QStringLiteral(".bak")), QByteArray("anterior"));
    EXPECT_EQ(entries(dir.path()),
              (QStringList{QStringLiteral("TLVConf.mdb"), QStringLiteral("TLVConf.mdb.bak")}));
    std::unique_ptr<Connection> cn = openImported(target);
    ASSERT_TRUE(cn);
    EXPECT_TRUE(cn->columnInfo(QStringLiteral("Asset Items"), QStringLiteral("Asset No")));
}

// Damaged and hostile files: each is refused with its error, naming the
// file (and the table where one is to blame), and leaves the target's
// folder as it was, an existing target included.
TEST(JetImport, DamagedFilesAreRefusedAndLeaveNothingBehind)
{
    QTemporaryDir sources;
    const QByteArray nwind = readAll(jetSample(QStringLiteral("nwind.mdb")));
    ASSERT_EQ(nwind.size() % 2048, 0);
    const auto page = [](int n) { return qsizetype(n) * 2048; };
    struct Case {
        const char* name;
        std::function<QByteArray()> bytes;
        qint64 readerMemory; // 0 keeps the default bound
        long long number;
        const char* mentions;
    };
    const Case cases[] = {
        {"cut inside a page", [&] { return nwind.left(1500000); }, 0, ErrorNumber::DamagedFile,
         "not a whole number of 2048-byte pages"},
        // libmdb's complaint of the pages it cannot read ends the import
        // while it reads the catalog.
        {"cut at a page, rows missing", [&] { return nwind.left(page(733)); }, 0,
         ErrorNumber::DamagedFile, "libmdb failed to read its catalog of tables (\"offset"},
        // Rows of the catalog lost with a page it cannot read, of which
        // libmdb says nothing (the table names in them would be missing).
        {"cut in the catalog", [&] { return nwind.left(1234944); }, 0, ErrorNumber::DamagedFile,
         "MSysObjects) counts 106 objects, of which 88 could be read"},
        // libmdb reads this cut file's catalog without end, allocating as it
        // goes (gigabytes within seconds): its process meets its bound.
        {"cut where libmdb allocates without end", [&] { return nwind.left(page(744)); },
         qint64(256) << 20, ErrorNumber::DamagedFile, "stopped abnormally"},
        {"catalog overwritten",
         [&] {
             QByteArray b = nwind;
             b.replace(page(2), page(1), QByteArray(page(1), '\0'));
             return b;
         },
         0, ErrorNumber::DamagedFile, "catalog"},
        {"empty", [] { return QByteArray(); }, 0, ErrorNumber::NotADatabase, "not recognise"},
        {"a text file", [] { return QByteArray("Informe de calidad\r\n").repeated(500); }, 0,
         ErrorNumber::NotADatabase, "not recognise"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source =
            sources.filePath(QString::fromLatin1(c.name) + QStringLiteral(".mdb"));
        writeFile(source, c.bytes());
        for (const bool existing : {false, true}) {
            QTemporaryDir dir;
            const QString target = dir.filePath(QStringLiteral("TLVConf.mdb"));
            if (existing)
                writeFile(target, "la de antes");
            ImportRequest request = importRequest(source, target);
            request.replaceExisting = existing;
            if (c.readerMemory > 0)
                request.limits.readerMemoryBytes = c.readerMemory;
            const Result<ImportSummary> imported = importJetFile(request);
            ASSERT_FALSE(imported);
            EXPECT_EQ(imported.error().number, c.number)
                << imported.error().description.toStdString();
            EXPECT_TRUE(imported.error().description.startsWith(source))
                << imported.error().description.toStdString();
            EXPECT_TRUE(imported.error().description.contains(QString::fromUtf8(c.mentions)))
                << imported.error().description.toStdString();
            EXPECT_EQ(entries(dir.path()),
                      existing ? QStringList{QStringLiteral("TLVConf.mdb")} : QStringList{});
            if (existing) {
                EXPECT_EQ(readAll(target), QByteArray("la de antes"));
            }
        }
    }
}

TEST(JetImport, BoundsStopTheImportAndNameWhatPassedThem)
{
    const struct {
        const char* bound;
        std::function<void(ImportLimits&)> set;
        const char* mentions;
    } cases[] = {
        {"tables", [](ImportLimits& l) { l.maxTables = 5; },
         "holds 9 tables, more than the bound of 5"},
        {"columns", [](ImportLimits& l) { l.maxColumns = 12; }, "table Orders: it has 14 columns"},
        {"rows", [](ImportLimits& l) { l.maxRowsPerTable = 1000; },
         "table Order Details: its definition counts 2155 rows"},
        {"one value", [](ImportLimits& l) { l.maxValueBytes = 1024; },
         "table Categories: row 1, column Picture"},
        {"all values", [](ImportLimits& l) { l.maxTotalBytes = 100000; }, "for the whole file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bound);
        QTemporaryDir dir;
        const QString source = jetSample(QStringLiteral("nwind.mdb"));
        ImportRequest request = importRequest(source, dir.filePath(QStringLiteral("nwind.mdb")));
        c.set(request.limits);
        const Result<ImportSummary> imported = importJetFile(request);
        ASSERT_FALSE(imported);
        EXPECT_EQ(imported.error().number, ErrorNumber::FileTooLarge);
        EXPECT_TRUE(imported.error().description.startsWith(source));
        EXPECT_TRUE(imported.error().description.contains(QString::fromUtf8(c.mentions)))
            << imported.error().description.toStdString();
        EXPECT_TRUE(entries(dir.path()).isEmpty());
    }
}

TEST(JetImport, RequestsThatCannotBeginAreRefusedAtOnce)
{
    QTemporaryDir dir;
    const QString nwind = jetSample(QStringLiteral("nwind.mdb"));
    const QString copy = dir.filePath(QStringLiteral("copia.mdb"));
    ASSERT_TRUE(QFile::copy(nwind, copy));
    QDir(dir.path()).mkdir(QStringLiteral("carpeta"));
    const struct {
        const char* name;
        ImportRequest request;
        long long number;
    } cases[] = {
        {"no such Jet file",
         importRequest(dir.filePath(QStringLiteral("falta.mdb")),
                       dir.filePath(QStringLiteral("a.mdb"))),
         ErrorNumber::FileNotFound},
        {"no folder for the target",
         importRequest(nwind, dir.filePath(QStringLiteral("no/hay/a.mdb"))),
         ErrorNumber::PathFileAccess},
        {"the target is a folder",
         [&] {
             ImportRequest r = importRequest(nwind, dir.filePath(QStringLiteral("carpeta")));
             r.replaceExisting = true;
             return r;
         }(),
         ErrorNumber::PathFileAccess},
        {"into itself",
         [&] {
             ImportRequest r = importRequest(copy, copy);
             r.replaceExisting = true;
             return r;
         }(),
         ErrorNumber::InvalidProcedureCall},
        {"no reader",
         [&] {
             ImportRequest r = importRequest(nwind, dir.filePath(QStringLiteral("a.mdb")));
             r.helper = dir.filePath(QStringLiteral("telvar-import"));
             return r;
         }(),
         ErrorNumber::ProviderNotFound},
    };
    const QStringList before = entries(dir.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<ImportSummary> imported = importJetFile(c.request);
        ASSERT_FALSE(imported);
        EXPECT_EQ(imported.error().number, c.number) << imported.error().description.toStdString();
        EXPECT_EQ(entries(dir.path()), before);
    }
    EXPECT_EQ(readAll(copy), readAll(nwind));
}

// What one import of a damaged file came to.
enum class Verdict { Complete, Refused, TableMissing };

// The rows of table in the SQLite file db as canonical texts, sorted.
QList<QStringList> canonicalRows(const QSqlDatabase& db, const QString& table,
                                 QStringList* typesOut = nullptr)
{
    QStringList types;
    QSqlQuery info(db);
    if (!info.exec(QStringLiteral("PRAGMA table_info(\"") + table + QStringLiteral("\")")))
        return {};
    while (info.next())
        types.append(info.value(2).toString());
    QList<QStringList> rows;
    QSqlQuery select(db);
    if (!select.exec(QStringLiteral("SELECT * FROM \"") + table + QLatin1Char('"')))
        return {};
    while (select.next()) {
        QStringList values;
        for (int c = 0; c < types.size(); ++c)
            values.append(canonical(types[c], select.value(c)));
        rows.append(values);
    }
    std::sort(rows.begin(), rows.end());
    if (typesOut)
        *typesOut = types;
    return rows;
}

// "" when table of the imported file db holds what mdb-export prints of
// it from source; otherwise what differs.
QString mdbExportDifference(const QSqlDatabase& db, const QString& source, const QString& table)
{
    QProcess exporter;
    exporter.start(QStringLiteral("mdb-export"),
                   {QStringLiteral("-D"), QStringLiteral("%Y-%m-%d %H:%M:%S"), QStringLiteral("-T"),
                    QStringLiteral("%Y-%m-%d %H:%M:%S"), QStringLiteral("-b"),
                    QStringLiteral("hex"), source, table});
    if (!exporter.waitForFinished(60000))
        return QStringLiteral("mdb-export did not finish");
    const QList<CsvRecord> csv = test::parseCsv(exporter.readAllStandardOutput());
    QStringList types;
    const QList<QStringList> actual = canonicalRows(db, table, &types);
    if (csv.isEmpty())
        return QStringLiteral("mdb-export printed nothing");
    QList<QStringList> expected;
    for (qsizetype r = 1; r < csv.size(); ++r) {
        if (csv[r].size() != types.size())
            return QStringLiteral("mdb-export row %1 has %2 fields").arg(r).arg(csv[r].size());
        QStringList values;
        for (qsizetype c = 0; c < types.size(); ++c)
            values.append(canonicalCsv(types[c], csv[r][c]));
        expected.append(values);
    }
    std::sort(expected.begin(), expected.end());
    if (actual.size() != expected.size())
        return QStringLiteral("%1 rows where mdb-export prints %2")
            .arg(actual.size())
            .arg(expected.size());
    for (qsizetype r = 0; r < actual.size(); ++r) {
        if (actual[r] != expected[r])
            return QStringLiteral("row %1 in sorted order differs from mdb-export's").arg(r);
    }
    return QString();
}

// Cut at page boundaries and with bytes changed at random, each sample file
// either imports whole (every table its undamaged self has, each holding
// what mdb-export reads of the damaged file) or is refused with one line
// naming the file, leaving nothing behind. A run over every page boundary
// takes TELVAR_IMPORT_ALL_CUTS=1; TELVAR_IMPORT_DAMAGE_SEED chooses the
// byte changes (a failing case prints its seed and offset).
TEST(JetImport, DamagedSamplesImportWholeOrAreRefused)
{
    const bool allCuts = qEnvironmentVariableIntValue("TELVAR_IMPORT_ALL_CUTS") != 0;
    bool seedSet = false;
    const quint32 seed =
        quint32(qEnvironmentVariableIntValue("TELVAR_IMPORT_DAMAGE_SEED", &seedSet));
    const struct {
        const char* sample;
        qsizetype pageSize;
        int sampledCuts; // boundaries cut at in the default run
        int byteChanges;
        QList<qsizetype> cutsKept; // boundaries that once imported with tables missing
    } samples[] = {
        {"nwind.mdb", 2048, 24, 160, {603, 8, 20}},
        {"ASampleDatabase.accdb", 4096, 12, 60, {}},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.sample);
        QTemporaryDir work;
        const QString original = jetSample(QString::fromLatin1(sample.sample));
        const QByteArray bytes = readAll(original);
        const qsizetype pages = bytes.size() / sample.pageSize;

        // The undamaged file's import, what a damaged one is held to.
        const QString good = work.filePath(QStringLiteral("good.mdb"));
        Result<ImportSummary> whole = importJetFile(importRequest(original, good));
        ASSERT_TRUE(whole) << whole.error().description.toStdString();
        QStringList goodTables;
        for (const ImportedTable& t : whole.value().tables)
            goodTables.append(t.name);

        struct Damage {
            QString name;
            QByteArray bytes;
        };
        std::vector<Damage> damages;
        QList<qsizetype> cuts = sample.cutsKept;
        for (qsizetype page = 1; page < pages; ++page) {
            if (allCuts || page % std::max<qsizetype>(1, pages / sample.sampledCuts) == 0)
                cuts.append(page);
        }
        for (const qsizetype page : cuts)
            damages.push_back(
                {QStringLiteral("cut at page %1").arg(page), bytes.left(page * sample.pageSize)});
        QRandomGenerator random(seedSet ? seed : 20240611u);
        for (int i = 0; i < sample.byteChanges; ++i) {
            const qsizetype offset = qsizetype(random.bounded(quint32(bytes.size())));
            QByteArray changed = bytes;
            changed[offset] = char(changed[offset] ^ char(1 + random.bounded(255)));
            damages.push_back({QStringLiteral("byte %1 changed (seed %2)")
                                   .arg(offset)
                                   .arg(seedSet ? seed : 20240611u),
                               changed});
        }

        QMap<Verdict, int> verdicts;
        for (const Damage& damage : damages) {
            SCOPED_TRACE(damage.name.toStdString());
            QTemporaryDir dir;
            const QString source = dir.filePath(QStringLiteral("damaged.mdb"));
            writeFile(source, damage.bytes);
            QDir(dir.path()).mkdir(QStringLiteral("out"));
            const QString target = dir.filePath(QStringLiteral("out/TLVConf.mdb"));
            ImportRequest request = importRequest(source, target);
            // A file that sets libmdb looping or allocating meets these soon.
            request.limits.readerMemoryBytes = qint64(512) << 20;
            request.limits.readerCpuSeconds = 20;
            request.limits.wallSeconds = 30;
            const Result<ImportSummary> imported = importJetFile(request);
            if (!imported) {
                ++verdicts[Verdict::Refused];
                const QString line = imported.error().description;
                EXPECT_TRUE(line.startsWith(source)) << line.toStdString();
                EXPECT_FALSE(line.contains(QLatin1Char('\n'))) << line.toStdString();
                EXPECT_TRUE(entries(dir.filePath(QStringLiteral("out"))).isEmpty());
                continue;
            }
            QStringList tables;
            for (const ImportedTable& t : imported.value().tables)
                tables.append(t.name);
            if (tables != goodTables) {
                ++verdicts[Verdict::TableMissing];
                ADD_FAILURE() << "imported " << tables.join(QLatin1Char(',')).toStdString()
                              << " of " << goodTables.join(QLatin1Char(',')).toStdString();
                continue;
            }
            ++verdicts[Verdict::Complete];
            std::unique_ptr<Connection> cn = openImported(target);
            ASSERT_TRUE(cn);
            QSqlQuery attach(cn->database());
            ASSERT_TRUE(attach.exec(QStringLiteral("ATTACH DATABASE '") + good +
                                    QStringLiteral("' AS good")));
            for (const QString& t : tables) {
                // A changed value is read as libmdb reads it: a table that
                // differs from the undamaged file's is held to mdb-export's
                // reading of the damaged file.
                const QString quoted = QLatin1Char('"') + t + QLatin1Char('"');
                QSqlQuery differ(cn->database());
                ASSERT_TRUE(differ.exec(
                    QStringLiteral("SELECT (SELECT count(*) FROM main.%1) - (SELECT count(*) FROM "
                                   "good.%1), (SELECT count(*) FROM (SELECT * FROM main.%1 "
                                   "EXCEPT SELECT * FROM good.%1))")
                        .arg(quoted)));
                ASSERT_TRUE(differ.next());
                if (differ.value(0).toLongLong() == 0 && differ.value(1).toLongLong() == 0)
                    continue;
                differ.finish();
                EXPECT_EQ(mdbExportDifference(cn->database(), source, t), QString())
                    << "table " << t.toStdString();
            }
        }
        std::cout << sample.sample << ": " << damages.size() << " damaged copies (" << cuts.size()
                  << " cut at a page, " << sample.byteChanges
                  << " with a byte changed): " << verdicts.value(Verdict::Complete)
                  << " imported complete, " << verdicts.value(Verdict::Refused) << " refused, "
                  << verdicts.value(Verdict::TableMissing) << " succeeded with a table missing"
                  << std::endl;
    }
}

// The reader runs under its system call filter: a reader that attempts a
// call the filter forbids (here on purpose, a socket) is killed and
// reported as such, apart from a crash or a bound passed; and a damaged
// source never takes a good file's place, nor does an empty one unless
// asked for.
TEST(JetImport, TheReaderIsConfinedAndOnlyACompleteImportReplacesAFile)
{
    QTemporaryDir dir;
    const QString nwind = jetSample(QStringLiteral("nwind.mdb"));
    const QString target = dir.filePath(QStringLiteral("TLVConf.mdb"));
    ASSERT_TRUE(importJetFile(importRequest(nwind, target)));
    const QByteArray good = readAll(target);

    qputenv("TELVAR_READER_PROBE", "socket");
    ImportRequest probed = importRequest(nwind, dir.filePath(QStringLiteral("otro.mdb")));
    const Result<ImportSummary> violated = importJetFile(probed);
    qunsetenv("TELVAR_READER_PROBE");
    ASSERT_FALSE(violated);
    EXPECT_EQ(violated.error().number, ErrorNumber::PermissionDenied);
    EXPECT_TRUE(violated.error().description.contains(QStringLiteral("SIGSYS")))
        << violated.error().description.toStdString();

    const QByteArray bytes = readAll(nwind);
    const QString cut = dir.filePath(QStringLiteral("cortada.mdb"));
    writeFile(cut, bytes.left(1234944));
    ImportRequest replace = importRequest(cut, target);
    replace.replaceExisting = true;
    EXPECT_FALSE(importJetFile(replace));
    EXPECT_EQ(readAll(target), good);
    EXPECT_EQ(entries(dir.path()),
              (QStringList{QStringLiteral("TLVConf.mdb"), QStringLiteral("cortada.mdb")}));
}

} // namespace
} // namespace telvar
