#include "import/JetReader.h"

#include "common/ErrorNumbers.h"
#include "common/LogText.h"
#include "import/ImportErrors.h"
#include "import/JetValues.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
// GLib first, outside the C linkage block mdbtools.h puts around its own
// includes (GLib's C++ code is templates).
#include <glib.h>
#include <mdbtools.h>

namespace telvar {

namespace {

// mdb_find_row gives a row's start with the row's flags (deleted, lookup)
// in its top bits; libmdb's own mdb_read_row masks them off the same way.
constexpr int kRowOffsetMask = 0x1fff;

// The first four bytes of a memo or OLE value: its length in the low 30
// bits, and in the top two where its bytes are (inline in the row, on one
// page of their own, or on a chain of pages).
constexpr quint32 kLongValueInline = 0x80000000u;
constexpr quint32 kLongValueSinglePage = 0x40000000u;
constexpr quint32 kLongValueLength = 0x3fffffffu;
// libmdb follows a chain of pages only for values below 16 MiB.
constexpr quint32 kLongValueChainLimit = 0x00ffffffu;

// A name libmdb keeps in a fixed buffer, in UTF-8.
QString nameOf(const char* name)
{
    return QString::fromUtf8(name, static_cast<qsizetype>(qstrnlen(name, MDB_MAX_OBJ_NAME + 1)));
}

template <typename T> T* element(GPtrArray* array, guint index)
{
    return static_cast<T*>(g_ptr_array_index(array, index));
}

// A string libmdb allocated with GLib.
struct GFree {
    void operator()(char* text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFree>;

// What libmdb printed since it was last looked at (keepLibraryMessages).
struct LibraryMessages {
    bool kept = false;
    std::string text;
    // Beyond this, only that more came is known.
    static constexpr std::size_t kBound = 4096;
};
LibraryMessages& libraryMessages()
{
    static LibraryMessages messages;
    return messages;
}

ssize_t keepMessage(void*, const char* data, std::size_t size)
{
    std::string& text = libraryMessages().text;
    text.append(data, std::min(size, LibraryMessages::kBound -
                                         std::min(text.size(), LibraryMessages::kBound)));
    return ssize_t(size);
}

// The first lines of what libmdb printed, as one printable line: it follows
// some of its warnings with a dump of the page.
QString firstMessages(const std::string& text)
{
    QStringList lines;
    for (const QString& line : QString::fromUtf8(text.data(), qsizetype(text.size()))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        static const QRegularExpression dump(QStringLiteral("^[0-9a-fA-F]+x?\\s"));
        if (dump.match(line).hasMatch())
            continue;
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        lines.append(logLineText(trimmed).left(200));
        if (lines.size() == 3)
            break;
    }
    return lines.join(QStringLiteral(" / "));
}

QString counted(qsizetype n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

struct JetReader::Handle {
    MdbHandle* mdb = nullptr;
    ~Handle()
    {
        if (mdb)
            mdb_close(mdb);
    }
};

struct JetTableReader::State {
    MdbHandle* mdb = nullptr;
    MdbTableDef* def = nullptr;
    ImportLimits limits;
    // For each column of the definition, its position among libmdb's columns.
    std::vector<guint> mdbColumn;
    // A row as mdb_crack_row splits it, and for each of libmdb's columns
    // its position among the row's fields.
    std::vector<MdbField> fields;
    std::vector<int> fieldOf;
    // Where libmdb copies the pieces of a memo or OLE value (a page at most)
    // and the UTF-8 of a text.
    std::vector<char> piece;
    std::vector<char> utf8;

    ~State()
    {
        if (def)
            mdb_free_tabledef(def);
    }
};

JetReader::JetReader(QString path, std::unique_ptr<Handle> handle)
    : m_path(std::move(path)), m_handle(std::move(handle))
{
}

JetReader::~JetReader() = default;

void JetReader::keepLibraryMessages()
{
    LibraryMessages& messages = libraryMessages();
    if (messages.kept)
        return;
    // libmdb prints with fprintf(stderr) and printf: both streams now write
    // into memory, which takes no system call (the reader's confinement
    // allows few).
    static const cookie_io_functions_t functions{nullptr, keepMessage, nullptr, nullptr};
    FILE* stream = ::fopencookie(nullptr, "w", functions);
    if (!stream)
        return;
    ::setvbuf(stream, nullptr, _IONBF, 0);
    std::fflush(stdout);
    std::fflush(stderr);
    stderr = stream;
    stdout = stream;
    messages.text.reserve(LibraryMessages::kBound);
    messages.kept = true;
}

Status JetReader::libraryComplaint(const QString& table, const QString& part) const
{
    LibraryMessages& messages = libraryMessages();
    if (messages.text.empty())
        return {};
    const QString said = firstMessages(messages.text);
    messages.text.clear();
    return jetImportError(ErrorNumber::DamagedFile, m_path, table,
                          QStringLiteral("libmdb failed to read ") +
                              (part.isEmpty() ? QStringLiteral("it") : part) +
                              QStringLiteral(" (\"") + said +
                              QStringLiteral("\"): the file is damaged or cut short."));
}

Result<std::unique_ptr<JetReader>> JetReader::open(const QString& path,
                                                   const std::function<Status()>& beforeParsing)
{
    const QFileInfo info(path);
    if (!info.exists())
        return jetImportError(ErrorNumber::FileNotFound, path, {},
                              QStringLiteral("there is no such file."));
    if (!info.isFile())
        return jetImportError(ErrorNumber::FileNotFound, path, {},
                              QStringLiteral("it is not a file."));
    if (info.size() == 0)
        return jetImportError(ErrorNumber::NotADatabase, path, {},
                              QStringLiteral("it is empty: libmdb does not recognise it as a Jet "
                                             "database."));
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            return jetImportError(ErrorNumber::PermissionDenied, path, {},
                                  QStringLiteral("it cannot be read: ") + probe.errorString());
    }

    auto handle = std::make_unique<Handle>();
    handle->mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!handle->mdb)
        return jetImportError(ErrorNumber::NotADatabase, path, {},
                              QStringLiteral("libmdb does not recognise it as a Jet database "
                                             "(.mdb of Jet 3 or Jet 4, or .accdb)."));
    MdbHandle* mdb = handle->mdb;

    // Text comes out of libmdb in the character set MDB_ICONV names; the
    // import reads it as UTF-8.
    const char* charset = mdb_target_charset(mdb);
    if (!charset || QByteArray(charset).toUpper() != "UTF-8")
        return jetImportError(
            ErrorNumber::ProviderNotFound, path, {},
            QStringLiteral("libmdb decodes text into ") +
                QString::fromLatin1(charset ? charset : "?") +
                QStringLiteral(", not UTF-8 (the environment variable MDBICONV must not be set)."));

    // A Jet file is a whole number of pages: anything else was cut short.
    const qint64 pageSize = mdb->fmt->pg_size;
    if (pageSize <= 0 || info.size() % pageSize != 0)
        return jetImportError(ErrorNumber::DamagedFile, path, {},
                              QStringLiteral("its size, ") + QString::number(info.size()) +
                                  QStringLiteral(" bytes, is not a whole number of ") +
                                  QString::number(pageSize) +
                                  QStringLiteral("-byte pages: the file is cut short or damaged."));

    std::unique_ptr<JetReader> reader(new JetReader(path, std::move(handle)));
    if (Status complaint = reader->libraryComplaint({}, QStringLiteral("its header")); !complaint)
        return complaint.error();
    if (beforeParsing) {
        if (Status ready = beforeParsing(); !ready)
            return ready.error();
    }
    if (Status read = reader->readCatalog(); !read)
        return read.error();
    return reader;
}

QString JetReader::formatName() const
{
    switch (m_handle->mdb->f->jet_version) {
    case MDB_VER_JET3:
        return QStringLiteral("Jet 3 (Access 97)");
    case MDB_VER_JET4:
        return QStringLiteral("Jet 4 (Access 2000-2003)");
    case MDB_VER_ACCDB_2007:
        return QStringLiteral("ACE 12 (Access 2007)");
    case MDB_VER_ACCDB_2010:
        return QStringLiteral("ACE 14 (Access 2010)");
    case MDB_VER_ACCDB_2013:
        return QStringLiteral("ACE 15 (Access 2013)");
    case MDB_VER_ACCDB_2016:
        return QStringLiteral("ACE 16 (Access 2016)");
    case MDB_VER_ACCDB_2019:
        return QStringLiteral("ACE 17 (Access 2019)");
    default:
        return QStringLiteral("Jet version ") + QString::number(m_handle->mdb->f->jet_version);
    }
}

Status JetReader::readCatalog()
{
    MdbHandle* mdb = m_handle->mdb;
    GPtrArray* catalog = mdb_read_catalog(mdb, MDB_ANY);
    if (!catalog)
        return jetImportError(ErrorNumber::DamagedFile, m_path, {},
                              QStringLiteral("its catalog of tables cannot be read: the file is "
                                             "damaged."));
    if (Status complete = checkCatalogRows(catalog->len); !complete)
        return complete;
    if (Status complaint = libraryComplaint({}, QStringLiteral("its catalog of tables"));
        !complaint)
        return complaint;
    QStringList linked;
    qsizetype temporary = 0;
    qsizetype queries = 0;
    qsizetype forms = 0;
    qsizetype reports = 0;
    qsizetype macros = 0;
    qsizetype modules = 0;
    for (guint i = 0; i < catalog->len; ++i) {
        auto* entry = element<MdbCatalogEntry>(catalog, i);
        if (!entry)
            continue;
        const QString name = nameOf(entry->object_name);
        switch (entry->object_type) {
        case MDB_TABLE:
            if (!mdb_is_user_table(entry) ||
                name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive))
                break;
            // Access's own temporary tables ("~TMPCLP...") are hidden objects.
            if (name.startsWith(QLatin1Char('~'))) {
                ++temporary;
                break;
            }
            m_tableNames.append(name);
            m_entries.push_back(entry);
            break;
        case MDB_LINKED_TABLE:
            linked.append(name);
            break;
        case MDB_QUERY:
            ++queries;
            break;
        case MDB_FORM:
            ++forms;
            break;
        case MDB_REPORT:
            ++reports;
            break;
        case MDB_MACRO:
            ++macros;
            break;
        case MDB_MODULE:
            ++modules;
            break;
        default:
            break;
        }
    }
    if (!linked.isEmpty())
        m_catalogNotes.append(QStringLiteral("Linked tables are left out (their rows live in "
                                             "another database): ") +
                              linked.join(QStringLiteral(", ")) + QLatin1Char('.'));
    if (temporary > 0)
        m_catalogNotes.append(counted(temporary, "temporary table", "temporary tables") +
                              QStringLiteral(" of Access (named \"~...\") left out."));
    QStringList objects;
    if (queries > 0)
        objects.append(counted(queries, "query", "queries"));
    if (forms > 0)
        objects.append(counted(forms, "form", "forms"));
    if (reports > 0)
        objects.append(counted(reports, "report", "reports"));
    if (macros > 0)
        objects.append(counted(macros, "macro", "macros"));
    if (modules > 0)
        objects.append(counted(modules, "module", "modules"));
    if (!objects.isEmpty())
        m_catalogNotes.append(QStringLiteral("Only tables are converted; left out: ") +
                              objects.join(QStringLiteral(", ")) + QLatin1Char('.'));
    return {};
}

Status JetReader::checkCatalogRows(unsigned int entries)
{
    // libmdb's catalog is what it could read of the table MSysObjects (on
    // page 2), a row for each object, and it stops quietly at a page it
    // cannot read: the table is read again here and its rows counted
    // against the number its definition states and the entries libmdb made.
    const auto damaged = [&](const QString& what) {
        return jetImportError(ErrorNumber::DamagedFile, m_path, {},
                              QStringLiteral("its catalog of tables (MSysObjects) ") + what +
                                  QStringLiteral(": the file is damaged or cut short."));
    };
    MdbCatalogEntry objects{};
    objects.mdb = m_handle->mdb;
    objects.object_type = MDB_TABLE;
    objects.table_pg = 2;
    std::snprintf(objects.object_name, sizeof objects.object_name, "%s", "MSysObjects");
    MdbTableDef* def = mdb_read_table(&objects);
    if (!def)
        return damaged(QStringLiteral("has no definition libmdb can read"));
    const auto freeDef = qScopeGuard([def] { mdb_free_tabledef(def); });
    if (!mdb_read_columns(def) || !def->columns || def->columns->len != def->num_cols)
        return damaged(QStringLiteral("has columns libmdb cannot read"));
    mdb_rewind_table(def);
    const qint64 declared = def->num_rows;
    qint64 read = 0;
    while (read <= declared && mdb_fetch_row(def))
        ++read;
    if (read != declared)
        return damaged(QStringLiteral("counts ") + QString::number(declared) +
                       QStringLiteral(" objects, of which ") +
                       (read > declared ? QStringLiteral("more") : QString::number(read)) +
                       QStringLiteral(" could be read"));
    if (qint64(entries) != declared)
        return damaged(QStringLiteral("counts ") + QString::number(declared) +
                       QStringLiteral(" objects, of which libmdb listed ") +
                       QString::number(entries));
    return {};
}

Result<std::unique_ptr<JetTableReader>> JetReader::openTable(qsizetype position,
                                                             const ImportLimits& limits)
{
    const QString name = m_tableNames.value(position);
    if (position < 0 || position >= m_tableNames.size())
        return jetImportError(ErrorNumber::SubscriptOutOfRange, m_path, {},
                              QStringLiteral("there is no table number ") +
                                  QString::number(position));
    const auto damaged = [&](const QString& what) {
        return jetImportError(ErrorNumber::DamagedFile, m_path, name,
                              what + QStringLiteral(": the file is damaged."));
    };
    const auto tooLarge = [&](const QString& what) {
        return jetImportError(ErrorNumber::FileTooLarge, m_path, name, what);
    };

    auto state = std::make_unique<JetTableReader::State>();
    state->mdb = m_handle->mdb;
    state->limits = limits;
    state->def = mdb_read_table(static_cast<MdbCatalogEntry*>(m_entries[std::size_t(position)]));
    if (!state->def)
        return damaged(QStringLiteral("its definition cannot be read"));
    MdbTableDef* def = state->def;
    if (!mdb_read_columns(def) || !def->columns || def->columns->len != def->num_cols)
        return damaged(QStringLiteral("its columns cannot be read"));
    if (def->num_cols == 0)
        return damaged(QStringLiteral("it has no columns"));
    if (def->num_cols > guint(std::min(limits.maxColumns, MDB_MAX_COLS)))
        return tooLarge(QStringLiteral("it has ") + QString::number(def->num_cols) +
                        QStringLiteral(" columns, more than the bound of ") +
                        QString::number(std::min(limits.maxColumns, MDB_MAX_COLS)) +
                        QLatin1Char('.'));
    if (qint64(def->num_rows) > limits.maxRowsPerTable)
        return tooLarge(QStringLiteral("its definition counts ") + QString::number(def->num_rows) +
                        QStringLiteral(" rows, more than the bound of ") +
                        QString::number(limits.maxRowsPerTable) + QLatin1Char('.'));

    const bool jet3 = state->mdb->f->jet_version == MDB_VER_JET3;
    JetTable table;
    table.name = name;
    table.declaredRows = def->num_rows;
    // Position among the definition's columns of each of libmdb's, -1 for
    // one left out.
    std::vector<int> imported(def->num_cols, -1);
    for (guint c = 0; c < def->num_cols; ++c) {
        const MdbColumn* col = element<MdbColumn>(def->columns, c);
        if (!col)
            return damaged(QStringLiteral("its columns cannot be read"));
        JetColumn column;
        column.name = nameOf(col->name);
        switch (col->col_type) {
        case MDB_BOOL:
            column.type = JetType::Boolean;
            break;
        case MDB_BYTE:
            column.type = JetType::Byte;
            break;
        case MDB_INT:
            column.type = JetType::Integer;
            break;
        case MDB_LONGINT:
            column.type = JetType::LongInteger;
            column.autoNumber = col->is_long_auto != 0;
            break;
        case MDB_MONEY:
            column.type = JetType::Currency;
            break;
        case MDB_FLOAT:
            column.type = JetType::Single;
            break;
        case MDB_DOUBLE:
            column.type = JetType::Double;
            break;
        case MDB_DATETIME:
            column.type = JetType::DateTime;
            break;
        case MDB_BINARY:
            column.type = JetType::Binary;
            column.width = col->col_size;
            break;
        case MDB_TEXT:
            column.type = JetType::Text;
            // Jet 4 and later keep text as UCS-2: two bytes a character.
            column.width = jet3 ? col->col_size : col->col_size / 2;
            if (column.width < 1 || column.width > 255) {
                table.notes.append(QStringLiteral("Column ") + column.name +
                                   QStringLiteral(" declares a size of ") +
                                   QString::number(column.width) +
                                   QStringLiteral(", outside Jet's 1 to 255: it is given 255."));
                column.width = 255;
            }
            break;
        case MDB_OLE:
            column.type = JetType::OleObject;
            break;
        case MDB_MEMO:
            column.type = JetType::Memo;
            break;
        case MDB_REPID:
            column.type = JetType::ReplicationId;
            break;
        case MDB_NUMERIC:
            column.type = JetType::Decimal;
            column.precision = col->col_prec;
            column.scale = col->col_scale;
            if (column.precision < 1 || column.precision > 28 || column.scale < 0 ||
                column.scale > column.precision)
                return damaged(QStringLiteral("column ") + column.name +
                               QStringLiteral(" declares a decimal of precision ") +
                               QString::number(column.precision) + QStringLiteral(" and scale ") +
                               QString::number(column.scale));
            break;
        case MDB_COMPLEX:
            table.notes.append(QStringLiteral("Column ") + column.name +
                               QStringLiteral(" is an attachment or multi-valued field, which "
                                              "libmdb does not read: it is left out."));
            continue;
        default:
            table.notes.append(QStringLiteral("Column ") + column.name +
                               QStringLiteral(" has a type libmdb does not know (") +
                               QString::number(col->col_type) +
                               QStringLiteral("): it is left out."));
            continue;
        }
        const char* required = mdb_col_get_prop(col, "Required");
        column.required = required && (required[0] == 'y' || required[0] == 'Y');
        imported[c] = int(table.columns.size());
        table.columns.append(column);
        state->mdbColumn.push_back(c);
    }
    if (table.columns.isEmpty())
        return jetImportError(ErrorNumber::NotSupported, m_path, name,
                              QStringLiteral("none of its columns is of a type libmdb reads."));

    // Indexes: the primary key, unique and plain ones over columns that are
    // carried over. Jet also keeps an index for each side of a
    // relationship, of which libmdb gives no columns.
    if (def->num_idxs > 0) {
        mdb_read_indices(def);
        if (!def->indices || def->indices->len < def->num_idxs)
            table.notes.append(QStringLiteral("Its indexes cannot be read: none is converted."));
    }
    qsizetype relationshipIndexes = 0;
    bool primarySeen = false;
    for (guint i = 0; def->indices && def->indices->len >= def->num_idxs && i < def->num_idxs;
         ++i) {
        const MdbIndex* idx = element<MdbIndex>(def->indices, i);
        if (!idx)
            continue;
        const QString indexName = nameOf(idx->name);
        if (idx->num_keys == 0) {
            ++relationshipIndexes;
            continue;
        }
        JetIndex index;
        index.name = indexName;
        if (idx->index_type == 1 && !primarySeen)
            index.kind = JetIndex::Kind::Primary;
        else if (idx->flags & MDB_IDX_UNIQUE)
            index.kind = JetIndex::Kind::Unique;
        QString leftOut;
        for (guint k = 0; k < idx->num_keys && leftOut.isEmpty(); ++k) {
            if (k >= MDB_MAX_IDX_COLS) {
                leftOut = QStringLiteral("it has more key columns than libmdb reads");
                break;
            }
            const int number = idx->key_col_num[k];
            if (number < 1 || guint(number) > def->num_cols) {
                leftOut = QStringLiteral("it names a column the table does not have");
                break;
            }
            const int keyColumn = imported[std::size_t(number - 1)];
            if (keyColumn < 0) {
                leftOut = QStringLiteral("its column ") +
                          nameOf(element<MdbColumn>(def->columns, guint(number - 1))->name) +
                          QStringLiteral(" is left out");
                break;
            }
            index.keys.append({keyColumn, idx->key_col_order[k] != 0});
        }
        if (!leftOut.isEmpty()) {
            table.notes.append(QStringLiteral("Index ") + indexName +
                               QStringLiteral(" is left out: ") + leftOut + QLatin1Char('.'));
            continue;
        }
        if (index.kind == JetIndex::Kind::Primary) {
            primarySeen = true;
            for (const JetIndexKey& key : index.keys)
                table.columns[key.column].required = true;
        }
        table.indexes.append(index);
    }
    if (relationshipIndexes > 0)
        table.notes.append(counted(relationshipIndexes, "index", "indexes") +
                           QStringLiteral(" of its relationships left out (libmdb gives no "
                                          "columns for them; relationships are not converted)."));

    state->fields.resize(def->num_cols);
    state->fieldOf.resize(def->num_cols);
    state->piece.resize(std::size_t(state->mdb->fmt->pg_size) + 16);
    mdb_rewind_table(def);
    if (Status complaint = libraryComplaint(name); !complaint)
        return complaint.error();
    return std::unique_ptr<JetTableReader>(new JetTableReader(*this, std::move(state), table));
}

JetTableReader::JetTableReader(const JetReader& file, std::unique_ptr<State> state, JetTable table)
    : m_file(file), m_state(std::move(state)), m_table(std::move(table))
{
}

JetTableReader::~JetTableReader() = default;

Error JetTableReader::damaged(const QString& what) const
{
    return jetImportError(ErrorNumber::DamagedFile, m_file.path(), m_table.name,
                          QStringLiteral("row ") + QString::number(m_rowsRead) +
                              QStringLiteral(", ") + what +
                              QStringLiteral(": the file is damaged."));
}

Result<bool> JetTableReader::next(QVariantList& row)
{
    State& s = *m_state;
    MdbTableDef* def = s.def;
    const bool fetched = mdb_fetch_row(def) != 0;
    if (Status complaint = m_file.libraryComplaint(m_table.name); !complaint)
        return complaint.error();
    if (!fetched)
        return false;
    ++m_rowsRead;
    if (m_rowsRead > s.limits.maxRowsPerTable)
        return jetImportError(ErrorNumber::FileTooLarge, m_file.path(), m_table.name,
                              QStringLiteral("it has more rows than the bound of ") +
                                  QString::number(s.limits.maxRowsPerTable) + QLatin1Char('.'));
    if (m_rowsRead > m_table.declaredRows)
        return damaged(QStringLiteral("beyond the ") + QString::number(m_table.declaredRows) +
                       QStringLiteral(" rows the table's definition counts"));

    // libmdb's bound values say "no length" for both NULL and an empty
    // text; the row's own null flags tell them apart, so the row fetched
    // (the one before the current on the page libmdb holds) is split again.
    int start = 0;
    std::size_t size = 0;
    if (def->cur_row == 0 || mdb_find_row(s.mdb, int(def->cur_row - 1), &start, &size) != 0 ||
        mdb_crack_row(def, start & kRowOffsetMask, size, s.fields.data()) < 0)
        return damaged(QStringLiteral("the row cannot be read again"));
    std::fill(s.fieldOf.begin(), s.fieldOf.end(), -1);
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
        const int column = s.fields[i].colnum;
        if (column >= 0 && std::size_t(column) < s.fieldOf.size())
            s.fieldOf[std::size_t(column)] = int(i);
    }

    row.clear();
    row.reserve(m_table.columns.size());
    for (qsizetype j = 0; j < m_table.columns.size(); ++j) {
        const int field = s.fieldOf[s.mdbColumn[std::size_t(j)]];
        if (field < 0)
            return damaged(QStringLiteral("column ") + m_table.columns[j].name +
                           QStringLiteral(" is missing from the row"));
        const MdbField& f = s.fields[std::size_t(field)];
        Result<QVariant> v = value(int(j), f.start, f.siz, f.is_null != 0);
        if (!v)
            return v.error();
        row.append(v.value());
    }
    return true;
}

Status JetTableReader::checkComplete() const
{
    if (Status complaint = m_file.libraryComplaint(m_table.name); !complaint)
        return complaint;
    if (m_rowsRead == m_table.declaredRows)
        return {};
    return jetImportError(ErrorNumber::DamagedFile, m_file.path(), m_table.name,
                          QStringLiteral("only ") + QString::number(m_rowsRead) +
                              QStringLiteral(" of the ") + QString::number(m_table.declaredRows) +
                              QStringLiteral(" rows its definition counts could be read: the "
                                             "file is damaged or cut short."));
}

Result<QVariant> JetTableReader::value(int column, int start, int size, bool isNull)
{
    const JetColumn& c = m_table.columns[column];
    // A yes/no column keeps its value in the row's null flags.
    if (c.type == JetType::Boolean)
        return QVariant(qint64(isNull ? 0 : 1));
    if (isNull)
        return QVariant();

    MdbHandle* mdb = m_state->mdb;
    unsigned char* page = mdb->pg_buf;
    if (start < 0 || size < 0 || qint64(start) + size > qint64(mdb->fmt->pg_size))
        return damaged(QStringLiteral("column ") + c.name +
                       QStringLiteral(" lies outside the row's page"));
    const auto tooShort = [&](int bytes) -> std::optional<Error> {
        if (size >= bytes)
            return std::nullopt;
        return damaged(QStringLiteral("column ") + c.name + QStringLiteral(" holds ") +
                       QString::number(size) + QStringLiteral(" bytes where a ") +
                       jetTypeName(c.type) + QStringLiteral(" takes ") + QString::number(bytes));
    };
    const auto number = [&](GText text) -> Result<QVariant> {
        const std::optional<double> parsed = decimalValue(text.get());
        if (!parsed)
            return damaged(QStringLiteral("column ") + c.name +
                           QStringLiteral(" holds no number libmdb can write"));
        return QVariant(*parsed);
    };

    switch (c.type) {
    case JetType::Boolean:
        break;
    case JetType::Byte:
        if (auto e = tooShort(1))
            return *e;
        return QVariant(qint64(mdb_get_byte(page, start)));
    case JetType::Integer:
        if (auto e = tooShort(2))
            return *e;
        return QVariant(qint64(static_cast<qint16>(mdb_get_int16(page, start))));
    case JetType::LongInteger:
        if (auto e = tooShort(4))
            return *e;
        return QVariant(qint64(static_cast<qint32>(mdb_get_int32(page, start))));
    case JetType::Single:
        if (auto e = tooShort(4))
            return *e;
        return QVariant(singleAsDouble(mdb_get_single(page, start)));
    case JetType::Double:
        if (auto e = tooShort(8))
            return *e;
        return QVariant(mdb_get_double(page, start));
    case JetType::Currency:
        if (auto e = tooShort(8))
            return *e;
        return number(GText(mdb_money_to_string(mdb, start)));
    case JetType::Decimal:
        // A sign byte and a 128-bit integer.
        if (auto e = tooShort(17))
            return *e;
        return number(GText(mdb_numeric_to_string(mdb, start, c.scale, c.precision)));
    case JetType::DateTime: {
        if (auto e = tooShort(8))
            return *e;
        const double days = mdb_get_double(page, start);
        const std::optional<QString> text = jetDateText(days);
        if (!text)
            return damaged(QStringLiteral("column ") + c.name + QStringLiteral(" holds ") +
                           QString::number(days, 'g', 17) +
                           QStringLiteral(", not a date in Jet's range (years 100 to 9999)"));
        return QVariant(*text);
    }
    case JetType::ReplicationId: {
        if (auto e = tooShort(16))
            return *e;
        const GText text(mdb_uuid_to_string(page, start));
        return QVariant(QString::fromUtf8(text.get()));
    }
    case JetType::Binary:
        return QVariant(QByteArray(reinterpret_cast<const char*>(page + start), size));
    case JetType::Text:
        return QVariant(text(reinterpret_cast<const char*>(page + start), size));
    case JetType::Memo: {
        Result<QByteArray> bytes = longValue(column, start, size);
        if (!bytes)
            return bytes.error();
        return QVariant(text(bytes.value().constData(), bytes.value().size()));
    }
    case JetType::OleObject: {
        Result<QByteArray> bytes = longValue(column, start, size);
        if (!bytes)
            return bytes.error();
        return QVariant(bytes.value());
    }
    }
    return damaged(QStringLiteral("column ") + c.name + QStringLiteral(" has no known type"));
}

Result<QByteArray> JetTableReader::longValue(int column, int start, int size)
{
    State& s = *m_state;
    const JetColumn& c = m_table.columns[column];
    if (size == 0)
        return QByteArray();
    if (size < MDB_MEMO_OVERHEAD)
        return damaged(QStringLiteral("column ") + c.name +
                       QStringLiteral(" holds a memo or OLE value too short to be one"));

    std::array<unsigned char, MDB_MEMO_OVERHEAD> header{};
    std::memcpy(header.data(), s.mdb->pg_buf + start, header.size());
    const auto word = static_cast<quint32>(mdb_get_int32(header.data(), 0));
    const qint64 length = word & kLongValueLength;
    if (length > s.limits.maxValueBytes)
        return jetImportError(
            ErrorNumber::FileTooLarge, m_file.path(), m_table.name,
            QStringLiteral("row ") + QString::number(m_rowsRead) + QStringLiteral(", column ") +
                c.name + QStringLiteral(" holds ") + QString::number(length) +
                QStringLiteral(" bytes, more than the bound of ") +
                QString::number(s.limits.maxValueBytes) + QStringLiteral(" bytes a value."));
    if (!(word & (kLongValueInline | kLongValueSinglePage)) && length > kLongValueChainLimit)
        return jetImportError(ErrorNumber::NotSupported, m_file.path(), m_table.name,
                              QStringLiteral("row ") + QString::number(m_rowsRead) +
                                  QStringLiteral(", column ") + c.name + QStringLiteral(" holds ") +
                                  QString::number(length) +
                                  QStringLiteral(" bytes; libmdb reads memo and OLE values "
                                                 "below 16 MiB only."));

    // libmdb copies each piece into the column's bound buffer, and follows
    // the chain of pages one piece at a time; the loop stops at the length
    // the value declares, so a chain that runs in a circle ends too.
    auto* col = element<MdbColumn>(s.def->columns, s.mdbColumn[std::size_t(column)]);
    QByteArray bytes;
    bytes.reserve(length);
    col->bind_ptr = s.piece.data();
    std::size_t piece = mdb_ole_read(s.mdb, col, header.data(), s.piece.size());
    bool longer = false;
    while (piece > 0) {
        if (qint64(piece) > length - bytes.size()) {
            longer = true;
            break;
        }
        bytes.append(s.piece.data(), qsizetype(piece));
        if (bytes.size() == length)
            break;
        piece = mdb_ole_read_next(s.mdb, col, header.data());
    }
    col->bind_ptr = nullptr;
    if (longer || bytes.size() != length)
        return damaged(QStringLiteral("column ") + c.name +
                       QStringLiteral(" holds a memo or OLE value of ") + QString::number(length) +
                       QStringLiteral(" bytes of which ") +
                       (longer ? QStringLiteral("more") : QString::number(bytes.size())) +
                       QStringLiteral(" could be read"));
    return bytes;
}

QString JetTableReader::text(const char* data, qsizetype size)
{
    // libmdb decodes the file's code page (Jet 3) or UCS-2 with Jet's
    // compression (Jet 4 and later) into UTF-8: at most three bytes for each
    // byte of the file.
    std::vector<char>& out = m_state->utf8;
    out.resize(std::size_t(size) * 3 + 16);
    const int written =
        mdb_unicode2ascii(m_state->mdb, data, std::size_t(size), out.data(), out.size() - 1);
    const qsizetype length = std::clamp<qsizetype>(written, 0, qsizetype(out.size()) - 1);
    return QString::fromUtf8(out.data(), length);
}

} // namespace telvar
