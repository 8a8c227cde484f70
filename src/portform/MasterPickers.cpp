#include "portform/MasterPickers.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/TrimBlanks.h"
#include "database/Connection.h"
#include "database/LeeAnchos.h"
#include "database/OpenDBOK.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace telvar {

namespace {

// One picker as the form uses it.
struct PickerDefinition {
    // The picker's code, which is also the table whose rows are listed;
    // its key column (the first one listed) and the column that names the
    // parent.
    const char* code;
    const char* keyColumn;
    const char* parentColumn; // nullptr for the operators
    // The master table that describes the key, its key column and its
    // description column (without the language's number).
    const char* masterTable;
    const char* masterKey;
    const char* descriptionColumn;
    MessageId heading;
    const char* headingEnd; // after the parent key
};

// In the order of PickerTable.
constexpr PickerDefinition kPickers[] = {
    {"USU", "USUCLAVE", nullptr, "USU", "USUCLAVE", "USUDESCR", {43, 20}, ""},
    {"EXU", "EXUESTAC", "EXUUSUAR", "EST", "ESTCLAVE", "ESTDESC", {43, 21}, ": "},
    {"MXE", "MXEMAQUI", "MXEESTAC", "MAQ", "MAQCLAVE", "MAQDESC", {43, 22}, ": "},
    {"PXM", "PXMPRODU", "PXMMAQUI", "PRO", "PROCLAVE", "PRODESC", {43, 23}, ": "},
    {"FXP", "FXPFORMA", "FXPPRODU", "FRM", "FRMCLAVE", "FRMDESC", {43, 24}, ": "},
    {"CXF", "CXFCARAC", "CXFFORMA", "CAR", "CARCLAVE", "CARDESC", {43, 25}, ":"},
};

const PickerDefinition& definition(PickerTable table)
{
    return kPickers[static_cast<int>(table)];
}

QString latin1(const char* text)
{
    return QString::fromLatin1(text);
}

// The key width of the master table a picker lists (the station's for the
// stations of an operator, and so on).
int masterWidth(PickerTable table, const Modulo1& m)
{
    switch (table) {
    case PickerTable::USU:
        return m.AnchoUSU;
    case PickerTable::EXU:
        return m.AnchoEST;
    case PickerTable::MXE:
        return m.AnchoMAQ;
    case PickerTable::PXM:
        return m.AnchoPRO;
    case PickerTable::FXP:
        return m.AnchoFRM;
    case PickerTable::CXF:
        return m.AnchoCAR;
    }
    return 0;
}

// The box a picker fills.
const QString& boxOf(PickerTable table, const PortBoxes& boxes)
{
    switch (table) {
    case PickerTable::USU:
        return boxes.Opera;
    case PickerTable::EXU:
        return boxes.Estac;
    case PickerTable::MXE:
        return boxes.Maqui;
    case PickerTable::PXM:
        return boxes.Produ;
    case PickerTable::FXP:
        return boxes.Forma;
    case PickerTable::CXF:
        return boxes.Carac;
    }
    return boxes.Opera;
}

QString withoutTrailingBlanks(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

} // namespace

QString pickerCode(PickerTable table)
{
    return latin1(definition(table).code);
}

QString keyInBox(const QString& boxText, int width)
{
    return trimBlanks(boxText.left(std::max(width, 0)));
}

PickerQuery pickerQuery(PickerTable table, const QString& parentKey, int idioma)
{
    if (table == PickerTable::USU)
        return {QStringLiteral("Select USUCLAVE,USUDESCR from USU where USUSSTAT = '0' order by "
                               "USUCLAVE"),
                {}};
    const PickerDefinition& d = definition(table);
    const QString language = QString::number(idioma);
    QString columns = latin1(d.keyColumn);
    if (table == PickerTable::CXF)
        columns += QStringLiteral(",CXFPOSIC");
    columns += QStringLiteral(", ") + latin1(d.descriptionColumn) + language;
    // The parent key is bound, so a key holding an apostrophe is only a key.
    const QString statement = QStringLiteral("Select ") + columns + QStringLiteral(" from ") +
                              latin1(d.code) + QStringLiteral(" inner join ") +
                              latin1(d.masterTable) + QStringLiteral(" on ") + latin1(d.code) +
                              QLatin1Char('.') + latin1(d.keyColumn) + QStringLiteral(" = ") +
                              latin1(d.masterTable) + QLatin1Char('.') + latin1(d.masterKey) +
                              QStringLiteral(" where RTRIM(") + latin1(d.parentColumn) +
                              QStringLiteral(") like ? order by ") + latin1(d.keyColumn);
    return {statement, {parentKey}};
}

QString pickerHeading(PickerTable table, const QString& parentKey, const Modulo1& m)
{
    const PickerDefinition& d = definition(table);
    if (table == PickerTable::USU)
        return m.Mensajes(d.heading) + QLatin1Char(':');
    return m.Mensajes(d.heading) + QLatin1Char(' ') + parentKey + latin1(d.headingEnd);
}

QList<PickerColumn> pickerColumns(PickerTable table)
{
    switch (table) {
    case PickerTable::USU:
        return {{1200, {44, 8}}, {4500, {44, 9}}};
    case PickerTable::EXU:
        return {{1200, {44, 8}}, {3600, {0, 17}}};
    case PickerTable::MXE:
        return {{1200, {44, 8}}, {3600, {0, 18}}};
    case PickerTable::PXM:
        return {{1800, {44, 8}}, {3900, {0, 19}}};
    case PickerTable::FXP:
        return {{1200, {44, 8}}, {3600, {0, 20}}};
    case PickerTable::CXF:
        return {{1200, {44, 8}}, {660, {44, 21}}, {3600, {0, 21}}};
    }
    return {};
}

QString parentKeyOf(PickerTable table, const PortBoxes& boxes, const Modulo1& m)
{
    switch (table) {
    case PickerTable::USU:
        return {};
    case PickerTable::EXU:
        return keyInBox(boxes.Opera, m.AnchoUSU);
    case PickerTable::MXE:
        return keyInBox(boxes.Estac, m.AnchoEST);
    case PickerTable::PXM:
        return keyInBox(boxes.Maqui, m.AnchoMAQ);
    case PickerTable::FXP:
        return keyInBox(boxes.Produ, m.AnchoPRO);
    case PickerTable::CXF:
        return keyInBox(boxes.Forma, m.AnchoFRM);
    }
    return {};
}

QString ownKeyOf(PickerTable table, const PortBoxes& boxes, const Modulo1& m, int keyColumnSize)
{
    // The machines are found by the size of the listed column itself; the
    // others by their master key's width.
    const int width = table == PickerTable::MXE ? keyColumnSize : masterWidth(table, m);
    return keyInBox(boxOf(table, boxes), width);
}

QString pickedBoxText(const QVariant& key, int keySize, const QVariant& description)
{
    const QString keyText = key.isNull() ? QString() : key.toString();
    const QString descriptionText = description.isNull() ? QString() : description.toString();
    return AjustaAncho(keyText, keySize) + QStringLiteral(": ") + descriptionText;
}

// ---- PickerModel -----------------------------------------------------------

Status PickerModel::load(const Connection& cn, const PickerQuery& query)
{
    beginResetModel();
    m_rows.clear();
    m_columns = 0;
    m_truncated = false;
    Status loaded;
    {
        Result<QSqlQuery> run = cn.exec(query.statement, query.values);
        if (!run) {
            loaded = run.error();
        } else {
            QSqlQuery& rows = run.value();
            m_columns = rows.record().count();
            while (rows.next()) {
                if (m_rows.size() == kMaxRows) {
                    m_truncated = true;
                    break;
                }
                QVariantList values;
                values.reserve(m_columns);
                for (int c = 0; c < m_columns; ++c)
                    values.append(rows.value(c));
                m_rows.append(std::move(values));
            }
        }
    }
    endResetModel();
    return loaded;
}

void PickerModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    m_columns = 0;
    m_truncated = false;
    endResetModel();
}

std::optional<int> PickerModel::findKey(const QString& key) const
{
    const QString wanted = withoutTrailingBlanks(key);
    for (int row = 0; row < m_rows.size(); ++row) {
        const QVariant value = m_rows.at(row).value(0);
        if (value.isNull())
            continue;
        if (withoutTrailingBlanks(value.toString()).compare(wanted, Qt::CaseInsensitive) == 0)
            return row;
    }
    return std::nullopt;
}

QVariant PickerModel::key(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_columns == 0)
        return {};
    return m_rows.at(row).value(0);
}

QVariant PickerModel::description(int row) const
{
    if (row < 0 || row >= m_rows.size() || m_columns < 2)
        return {};
    return m_rows.at(row).value(m_columns - 1);
}

void PickerModel::setCaptions(const QStringList& captions)
{
    m_captions = captions;
    if (m_columns > 0)
        emit headerDataChanged(Qt::Horizontal, 0, m_columns - 1);
}

int PickerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int PickerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant PickerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_rows.at(index.row()).value(index.column());
    return {};
}

QVariant PickerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_captions.size())
        return m_captions.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

// ---- MasterPickers ---------------------------------------------------------

MasterPickers::MasterPickers(Modulo1& m, Interaccion& ui) : m_m(m), m_ui(ui) {}

MasterPickers::~MasterPickers()
{
    // The rows hold no statement, but the connection must go last anyway.
    m_model.clearRows();
}

const Connection* MasterPickers::connection()
{
    if (m_cn && m_cn->isOpen())
        return m_cn.get();
    OpenDBOKResult opened = OpenDBOK(m_m, m_ui, OpenRequest{m_m.CadConexion, m_m.TipoBD, true});
    keepTypedPassword(m_m, opened);
    m_cn = std::move(opened.cn);
    return m_cn.get();
}

MasterPickers::Shown MasterPickers::focus(PickerTable table, const PortBoxes& boxes,
                                          const QString& boxName)
{
    m_activeTable = table;
    const PickerDefinition& d = definition(table);
    const QString parentKey = parentKeyOf(table, boxes, m_m);
    Shown shown{pickerHeading(table, parentKey, m_m), std::nullopt};

    QStringList captions;
    for (const PickerColumn& column : pickerColumns(table))
        captions.append(m_m.Mensajes(column.caption));
    m_model.setCaptions(captions);

    const Connection* cn = connection();
    if (!cn) {
        // OpenDBOK has reported why.
        m_model.clearRows();
        m_keySize = masterWidth(table, m_m);
        return shown;
    }
    // The key is padded to its column's size in the listed table; a size the
    // engine does not declare falls back to the master key's width.
    const Result<int> size = cn->definedSize(latin1(d.code), latin1(d.keyColumn));
    m_keySize = size && size.value() > 0 ? size.value() : masterWidth(table, m_m);

    if (Status loaded = m_model.load(*cn, pickerQuery(table, parentKey, m_m.Idioma)); !loaded) {
        // A lost connection is opened again at the next picker.
        m_model.clearRows();
        m_cn.reset();
        m_ui.mensaBox(
            errorReport(QStringLiteral("HtmlCanal. ") + boxName + QStringLiteral("_GotFocus."),
                        loaded.error()),
            BoxKind::Exclamation, 5);
        return shown;
    }
    if (m_model.rowCount() > 0)
        shown.selectedRow = m_model.findKey(ownKeyOf(table, boxes, m_m, m_keySize));
    return shown;
}

std::optional<QString> MasterPickers::pickedText(int row) const
{
    if (!m_activeTable || row < 0 || row >= m_model.rowCount())
        return std::nullopt;
    const QVariant key = m_model.key(row);
    if (key.isNull())
        return std::nullopt;
    return pickedBoxText(key, m_keySize, m_model.description(row));
}

} // namespace telvar
