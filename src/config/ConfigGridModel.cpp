#include "config/ConfigGridModel.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace telvar {

namespace {

// A grid edit may write every writable column but the row's key.
bool isGridColumn(const QString& field)
{
    return ConfigRowWriter::isWritable(field) &&
           field.compare(QStringLiteral("Puert"), Qt::CaseInsensitive) != 0;
}

Error sqlError(SqlDialect dialect, const QSqlError& error, const QString& context)
{
    Error e = engineError(dialect, error, ErrorPhase::Statement);
    e.description = context + QStringLiteral(": ") + e.description;
    return e;
}

Error valueError(long long number, const QString& description)
{
    return Error{number, QStringLiteral("Telvar"), description};
}

} // namespace

ConfigGridModel::ConfigGridModel(Interaccion& ui, QObject* parent)
    : QSqlQueryModel(parent), m_ui(ui)
{
}

ConfigGridModel::~ConfigGridModel()
{
    // The query must let go of the connection before the connection closes.
    clear();
}

Status ConfigGridModel::bind(std::unique_ptr<Connection> cn, const QString& recordSource)
{
    unbind();
    if (!cn)
        return valueError(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    m_cn = std::move(cn);
    m_recordSource = recordSource;

    m_writer = std::make_unique<ConfigRowWriter>(*m_cn);
    Status reread = runRecordSource();
    if (!reread)
        unbind();
    return reread;
}

void ConfigGridModel::unbind()
{
    clear();
    // The emptied model still holds a statement made by the connection's
    // driver. A statement of no connection takes its place before the
    // connection closes, so that a later clear() (another bind, the
    // destructor) does not reach a driver that is gone.
    setQuery(QSqlQuery());
    forgetRows();
    m_writer.reset();
    m_cn.reset();
}

void ConfigGridModel::forgetRows()
{
    m_rowOfPuert.clear();
    m_repeatedPuerts.clear();
    m_ambiguousRows.clear();
    m_written.clear();
}

Status ConfigGridModel::setRecordSource(const QString& recordSource)
{
    m_recordSource = recordSource;
    return refresh();
}

Status ConfigGridModel::refresh()
{
    if (!m_cn)
        return valueError(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    return runRecordSource();
}

Status ConfigGridModel::runRecordSource()
{
    QSqlQuery query(m_cn->database());
    const QString sql = m_cn->sql(m_recordSource);
    if (!query.prepare(sql) || !query.exec()) {
        const Error error = sqlError(m_cn->dialect(), query.lastError(), sql);
        clear();
        forgetRows();
        return error;
    }
    forgetRows();
    setQuery(std::move(query));
    // All rows are read now, so that the statement does not keep the
    // database file locked against the other connections' writes.
    while (canFetchMore())
        fetchMore();
    if (lastError().isValid())
        return sqlError(m_cn->dialect(), lastError(), sql);

    // A row is written by its Puert: a row without one, or one whose Puert
    // another row shares, cannot be told apart and is only shown.
    const int puert = columnOf(QStringLiteral("Puert"));
    if (puert >= 0) {
        for (int rowIndex = 0; rowIndex < rowCount(); ++rowIndex) {
            const QVariant value = QSqlQueryModel::data(index(rowIndex, puert));
            if (value.isNull()) {
                m_ambiguousRows.insert(rowIndex);
                continue;
            }
            const int port = value.toInt();
            if (const auto other = m_rowOfPuert.constFind(port); other != m_rowOfPuert.cend()) {
                m_repeatedPuerts.insert(port);
                m_ambiguousRows.insert(other.value());
                m_ambiguousRows.insert(rowIndex);
            }
            m_rowOfPuert.insert(port, rowIndex);
        }
    }
    emit rowsRead();
    return {};
}

void ConfigGridModel::setCaptions(const QHash<QString, QString>& captionsByField)
{
    m_captions.clear();
    for (auto it = captionsByField.cbegin(); it != captionsByField.cend(); ++it)
        m_captions.insert(it.key().toUpper(), it.value());
    if (columnCount() > 0)
        emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int ConfigGridModel::columnOf(const QString& field) const
{
    const QSqlRecord fields = record();
    for (int i = 0; i < fields.count(); ++i) {
        if (fields.fieldName(i).compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QSqlRecord ConfigGridModel::rowRecord(int rowIndex) const
{
    QSqlRecord values = record(rowIndex);
    for (auto it = m_written.cbegin(); it != m_written.cend(); ++it) {
        if (it.key().first == rowIndex)
            values.setValue(it.key().second, it.value());
    }
    return values;
}

ConfigRow ConfigGridModel::row(int rowIndex) const
{
    return ConfigRow::fromRecord(rowRecord(rowIndex));
}

QVariant ConfigGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const auto it = m_written.constFind({index.row(), index.column()});
        if (it != m_written.cend())
            return it.value();
        return QSqlQueryModel::data(index, role);
    }
    const QString field = record().fieldName(index.column());
    if (role == Qt::TextAlignmentRole) {
        // Whole numbers line up on their last digit.
        if (ConfigRowWriter::isWholeNumber(field))
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    }
    if (role == Qt::ToolTipRole) {
        // A text cut off by its column can be read whole.
        if (isGridColumn(field) && !ConfigRowWriter::isWholeNumber(field))
            return data(index, Qt::DisplayRole);
        return {};
    }
    return QSqlQueryModel::data(index, role);
}

std::optional<int> ConfigGridModel::rowOfPuert(int puert) const
{
    const auto it = m_rowOfPuert.constFind(puert);
    if (it == m_rowOfPuert.cend())
        return std::nullopt;
    return it.value();
}

bool ConfigGridModel::isEditable(const QString& field) const
{
    return m_cn != nullptr && isGridColumn(field);
}

Result<QVariant> ConfigGridModel::writeValue(int puert, const QString& field, const QVariant& value)
{
    if (!m_cn)
        return valueError(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    if (!isGridColumn(field))
        return valueError(ErrorNumber::CannotUpdate, QStringLiteral("Cannot update: the column ") +
                                                         field + QStringLiteral(" is read-only"));
    const std::optional<int> rowIndex = rowOfPuert(puert);
    if (!rowIndex)
        return valueError(ErrorNumber::NoCurrentRecord,
                          QStringLiteral("No current record: port ") + QString::number(puert) +
                              QStringLiteral(" is not in the configuration"));
    if (m_repeatedPuerts.contains(puert))
        return valueError(ErrorNumber::CannotUpdate,
                          QStringLiteral("Cannot update: port ") + QString::number(puert) +
                              QStringLiteral(" is in more than one row of HTMCONFI; give "
                                             "each row a port number of its own first"));
    // An emptied cell stores null.
    const QVariant given =
        value.isNull() || value.toString().isEmpty() ? QVariant() : QVariant(value.toString());
    Result<QVariant> newValue = m_writer->valueForColumn(field, given);
    if (!newValue)
        return newValue.error();

    Status written;
    if (ConfigRowWriter::isClockColumn(field)) {
        const std::optional<int> key = row(*rowIndex).Clave;
        if (!key)
            return valueError(ErrorNumber::CannotUpdate,
                              QStringLiteral("Cannot update: port ") + QString::number(puert) +
                                  QStringLiteral(" has no clock whose interval could change"));
        written = m_writer->writeClockInterval(*key, newValue.value());
    } else {
        written = m_writer->writePort(puert, {{field, newValue.value()}});
    }
    if (!written)
        return written.error();
    return newValue.value();
}

Status ConfigGridModel::writeField(int puert, const QString& field, const QVariant& value)
{
    Result<QVariant> written = writeValue(puert, field, value);
    if (!written)
        return written.error();
    if (Status reread = runRecordSource(); !reread)
        return reread;
    emit fieldWritten(puert, ConfigRowWriter::columnName(field));
    return {};
}

void ConfigGridModel::warn(const Error& error)
{
    m_ui.mensaBox(errorReport(QStringLiteral("Telvar. DBGrid1."), error), BoxKind::Exclamation, 5);
}

void ConfigGridModel::rereadAfterEdit()
{
    m_rereadPending = false;
    if (!m_cn)
        return;
    if (Status reread = runRecordSource(); !reread)
        warn(reread.error());
}

void ConfigGridModel::setLocked(bool locked)
{
    if (m_locked == locked)
        return;
    m_locked = locked;
    if (rowCount() > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

Qt::ItemFlags ConfigGridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QSqlQueryModel::flags(index);
    if (!index.isValid() || m_locked)
        return f;
    const QString field = record().fieldName(index.column());
    if (!isEditable(field) || m_ambiguousRows.contains(index.row()))
        return f;
    // A port without a clock row has no interval to edit.
    if (ConfigRowWriter::isClockColumn(field) && !row(index.row()).Clave)
        return f;
    return f | Qt::ItemIsEditable;
}

bool ConfigGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    // Nothing to write when the cell keeps its value.
    const QVariant stored = QSqlQueryModel::data(index, Qt::EditRole);
    if (stored.toString() == value.toString() && stored.isNull() == value.toString().isEmpty())
        return false;

    const int puert = row(index.row()).Puert;
    const QString field = record().fieldName(index.column());
    Result<QVariant> written = writeValue(puert, field, value);
    if (!written) {
        warn(written.error());
        // The cell shows the stored value again.
        emit dataChanged(index, index);
        return false;
    }
    // The cell shows what was stored; the rows are read again (other
    // columns may follow, such as the interval of a new clock) once the
    // grid has finished with its editor.
    m_written.insert({index.row(), index.column()},
                     written.value().isNull() ? QVariant() : written.value());
    emit dataChanged(index, index);
    if (!m_rereadPending) {
        m_rereadPending = true;
        QMetaObject::invokeMethod(this, &ConfigGridModel::rereadAfterEdit, Qt::QueuedConnection);
    }
    emit fieldWritten(puert, ConfigRowWriter::columnName(field));
    return true;
}

QVariant ConfigGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        const auto it = m_captions.constFind(record().fieldName(section).toUpper());
        if (it != m_captions.cend())
            return it.value();
    }
    return QSqlQueryModel::headerData(section, orientation, role);
}

} // namespace telvar
