#include "import/JetConversion.h"

#include "common/ErrorNumbers.h"
#include "database/ArmaConexion.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/FilePassword.h"
#include "import/ImportErrors.h"
#include "import/JetReader.h"
#include "import/SqliteSchema.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace telvar {

namespace {

// What a value adds to the bound on everything written (text as UTF-16).
qint64 valueBytes(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return qint64(value.toString().size()) * 2;
    case QMetaType::QByteArray:
        return value.toByteArray().size();
    default:
        return 8;
    }
}

class Conversion final {
public:
    Conversion(const QString& source, const QString& newFile, const ImportLimits& limits,
               const ConversionObserver& observe, const ConversionOptions& options)
        : m_source(source), m_newFile(newFile), m_limits(limits), m_observe(observe),
          m_options(options)
    {
        m_summary.source = source;
        m_summary.target = newFile;
    }

    Result<ImportSummary> run(const QString& password)
    {
        // The new file is made and opened first, so that nothing needs to be
        // opened once libmdb begins to read the Jet file (the reader is
        // confined then; see ConversionOptions::beforeParsing).
        if (Status created = EngineLayer::createFileDatabase(m_newFile, password); !created)
            return created.error();
        Result<std::unique_ptr<Connection>> cn =
            EngineLayer::open(jetConnectionString(m_newFile, password));
        if (!cn)
            return cn.error();
        {
            QSqlDatabase db = cn.value()->database();
            // The file is new and only takes its place once complete (a
            // failure throws it away whole): no rollback journal, no
            // waiting for the disk at each commit, and sorting in memory
            // rather than in temporary files. No setting stays with the
            // file.
            for (const char* pragma : {"PRAGMA journal_mode = OFF", "PRAGMA synchronous = OFF",
                                       "PRAGMA temp_store = MEMORY"}) {
                QSqlQuery query(db);
                if (!query.exec(QLatin1String(pragma)))
                    return sqlError(query.lastError(), {}, QLatin1String(pragma));
            }
            Status converted = convertTables(db);
            if (!converted)
                return converted.error();
        }
        cn.value()->close();
        return m_summary;
    }

private:
    Status convertTables(QSqlDatabase& db)
    {
        Result<std::unique_ptr<JetReader>> opened =
            JetReader::open(m_source, m_options.beforeParsing);
        if (!opened)
            return opened.error();
        JetReader& jet = *opened.value();
        m_summary.format = jet.formatName();
        event(ConversionEvent::Kind::Format, m_summary.format);

        const QStringList& names = jet.tableNames();
        if (names.size() > m_limits.maxTables)
            return jetImportError(ErrorNumber::FileTooLarge, m_source, {},
                                  QStringLiteral("it holds ") + QString::number(names.size()) +
                                      QStringLiteral(" tables, more than the bound of ") +
                                      QString::number(m_limits.maxTables) + QLatin1Char('.'));
        if (names.isEmpty() && !m_options.allowEmpty)
            return jetImportError(ErrorNumber::DamagedFile, m_source, {},
                                  QStringLiteral("its catalog lists no user table, which a "
                                                 "damaged file's may as well; a file meant to "
                                                 "be empty is converted only when that is "
                                                 "asked for."));
        // Every table name must be one the SQLite file can hold, once.
        QSet<QString> taken{QString::fromLatin1(FilePassword::kTable).toLower(),
                            QStringLiteral("sqlite_sequence")};
        for (const QString& name : names) {
            if (const QString why = JetToSqlite::unusableTableName(name); !why.isEmpty())
                return jetImportError(ErrorNumber::NotSupported, m_source, name,
                                      QStringLiteral("it cannot keep its name in the SQLite "
                                                     "file: ") +
                                          why + QLatin1Char('.'));
            if (taken.contains(name.toLower()))
                return jetImportError(ErrorNumber::TableExists, m_source, name,
                                      QStringLiteral("another table has the same name but for "
                                                     "upper and lower case, which SQLite does "
                                                     "not tell apart."));
            taken.insert(name.toLower());
        }
        for (const QString& note : jet.catalogNotes())
            addNote(note);
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (Status table = convertTable(jet, i, db, taken); !table)
                return table.error();
        }
        return {};
    }

    void event(ConversionEvent::Kind kind, const QString& text, const ImportedTable& table = {})
    {
        if (m_observe)
            m_observe(ConversionEvent{kind, text, table});
    }

    void addNote(const QString& note)
    {
        m_summary.notes.append(note);
        event(ConversionEvent::Kind::Note, note);
    }

    Error sqlError(const QSqlError& error, const QString& table, const QString& what) const
    {
        const Error e = engineError(SqlDialect::Sqlite, error, ErrorPhase::Statement);
        Error result = jetImportError(e.number, m_source, table,
                                      what + QStringLiteral(" in ") + m_newFile +
                                          QStringLiteral(" failed: ") + e.description);
        result.source = e.source;
        return result;
    }

    Status convertTable(JetReader& jet, qsizetype index, QSqlDatabase& db, QSet<QString>& taken)
    {
        const QString& name = jet.tableNames()[index];
        event(ConversionEvent::Kind::TableStarted, name);
        Result<std::unique_ptr<JetTableReader>> opened = jet.openTable(index, m_limits);
        if (!opened)
            return opened.error();
        JetTableReader& reader = *opened.value();
        const JetTable& table = reader.definition();
        for (const QString& note : table.notes + JetToSqlite::declarationNotes(table))
            addNote(name + QStringLiteral(": ") + note);

        QSqlQuery query(db);
        if (!query.exec(JetToSqlite::createTable(table)))
            return sqlError(query.lastError(), name, QStringLiteral("creating the table"));
        if (!db.transaction())
            return sqlError(db.lastError(), name, QStringLiteral("starting its rows"));
        QSqlQuery insert(db);
        if (!insert.prepare(JetToSqlite::insertRow(table)))
            return sqlError(insert.lastError(), name, QStringLiteral("preparing its rows"));
        QVariantList row;
        for (;;) {
            Result<bool> more = reader.next(row);
            if (!more)
                return more.error();
            if (!more.value())
                break;
            for (qsizetype k = 0; k < row.size(); ++k) {
                m_totalBytes += valueBytes(row[k]);
                insert.bindValue(int(k), row[k]);
            }
            if (m_totalBytes > m_limits.maxTotalBytes)
                return jetImportError(ErrorNumber::FileTooLarge, m_source, name,
                                      QStringLiteral("the values read up to its row ") +
                                          QString::number(reader.rowsRead()) +
                                          QStringLiteral(" pass the bound of ") +
                                          QString::number(m_limits.maxTotalBytes) +
                                          QStringLiteral(" bytes for the whole file."));
            if (!insert.exec())
                return sqlError(insert.lastError(), name,
                                QStringLiteral("writing its row ") +
                                    QString::number(reader.rowsRead()));
        }
        insert.finish();
        if (Status complete = reader.checkComplete(); !complete)
            return complete;
        if (!db.commit())
            return sqlError(db.lastError(), name, QStringLiteral("saving its rows"));

        for (const QString& statement : JetToSqlite::createIndexes(table, taken)) {
            if (!query.exec(statement))
                return sqlError(query.lastError(), name, QStringLiteral("creating an index"));
        }
        query.finish();

        const ImportedTable done{name, reader.rowsRead(), int(table.columns.size()),
                                 int(table.indexes.size())};
        m_summary.tables.append(done);
        event(ConversionEvent::Kind::TableDone, name, done);
        return {};
    }

    const QString m_source;
    const QString m_newFile;
    const ImportLimits m_limits;
    const ConversionObserver& m_observe;
    const ConversionOptions& m_options;
    ImportSummary m_summary;
    qint64 m_totalBytes = 0;
};

} // namespace

qint64 ImportSummary::rows() const
{
    qint64 total = 0;
    for (const ImportedTable& table : tables)
        total += table.rows;
    return total;
}

Result<ImportSummary> convertJetFile(const QString& source, const QString& newFile,
                                     const QString& password, const ImportLimits& limits,
                                     const ConversionObserver& observe,
                                     const ConversionOptions& options)
{
    return Conversion(source, newFile, limits, observe, options).run(password);
}

} // namespace telvar
