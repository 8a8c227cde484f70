#include "recording/ReadingsModel.h"

#include "common/Modulo1.h"

namespace telvar {

namespace {

const QString& cell(const ReadingRow& row, int column)
{
    switch (column) {
    case 0:
        return row.tag;
    case 1:
        return row.dateTime;
    case 2:
        return row.Opera;
    case 3:
        return row.Formato;
    case 4:
        return row.Maquina;
    case 5:
        return row.Producto;
    case 6:
        return row.Carac;
    case 7:
        return row.reading;
    default:
        return row.Marca;
    }
}

Qt::Alignment alignment(int column)
{
    return kReadingsColumns[std::size_t(column)].centred ? Qt::AlignCenter
                                                         : Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

ReadingsModel::ReadingsModel(const Modulo1& m, QObject* parent)
    : QAbstractTableModel(parent), m_m(m)
{
}

void ReadingsModel::addReading(const ReadingRow& row)
{
    beginInsertRows(QModelIndex(), 0, 0);
    m_rows.prepend(row);
    endInsertRows();
    if (m_rows.size() > kMaxReadings) {
        const int oldest = int(m_rows.size()) - 1;
        beginRemoveRows(QModelIndex(), oldest, oldest);
        m_rows.removeLast();
        endRemoveRows();
    }
    emit readingAdded(row);
}

void ReadingsModel::refreshHeaders()
{
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int ReadingsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ReadingsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(kReadingsColumns.size());
}

QVariant ReadingsModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return cell(m_rows.at(index.row()), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(alignment(index.column()));
    return {};
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    const ReadingsColumn& column = kReadingsColumns[std::size_t(section)];
    if (role == Qt::DisplayRole)
        return column.fixedHeader ? QString::fromLatin1(column.fixedHeader)
                                  : m_m.Mensajes(column.header);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(alignment(section));
    return {};
}

} // namespace telvar
