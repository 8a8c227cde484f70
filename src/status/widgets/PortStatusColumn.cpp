#include "status/widgets/PortStatusColumn.h"

#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "config/ConfigGridModel.h"

#include <QBrush>

namespace telvar {

PortStatusColumn::PortStatusColumn(const Modulo1& m, const RouterStatus& status,
                                   ConfigGridModel& grid, QObject* parent)
    : QIdentityProxyModel(parent), m_m(m), m_status(status), m_grid(grid)
{
    setSourceModel(&grid);
    connect(&status, &RouterStatus::changed, this, &PortStatusColumn::statusChanged);
}

int PortStatusColumn::statusColumn() const
{
    return m_grid.columnCount();
}

QColor PortStatusColumn::colour(PortState state)
{
    switch (state) {
    case PortState::Ok:
        return QColor(0x2e, 0x7d, 0x32);
    case PortState::Late:
        return QColor(0xf9, 0xa8, 0x25);
    case PortState::Failing:
        return QColor(0xc6, 0x28, 0x28);
    case PortState::Waiting:
        return QColor(0x90, 0xca, 0xf9);
    case PortState::Stopped:
        break;
    }
    return QColor(0xbd, 0xbd, 0xbd);
}

QColor PortStatusColumn::textColour(PortState state)
{
    return state == PortState::Ok || state == PortState::Failing ? QColor(Qt::white)
                                                                 : QColor(Qt::black);
}

bool PortStatusColumn::isStatus(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.column() == statusColumn();
}

int PortStatusColumn::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_grid.columnCount() + 1;
}

QModelIndex PortStatusColumn::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column > statusColumn())
        return {};
    if (column == statusColumn())
        return createIndex(row, column);
    return QIdentityProxyModel::index(row, column, parent);
}

QModelIndex PortStatusColumn::parent(const QModelIndex&) const
{
    // A table: no row has children.
    return {};
}

QModelIndex PortStatusColumn::sibling(int row, int column, const QModelIndex&) const
{
    return index(row, column);
}

QModelIndex PortStatusColumn::mapToSource(const QModelIndex& proxyIndex) const
{
    if (isStatus(proxyIndex))
        return {};
    return QIdentityProxyModel::mapToSource(proxyIndex);
}

QVariant PortStatusColumn::data(const QModelIndex& index, int role) const
{
    if (!isStatus(index))
        return QIdentityProxyModel::data(index, role);
    const int puertColumn = m_grid.columnOf(QStringLiteral("Puert"));
    if (puertColumn < 0)
        return {};
    const QVariant puert = m_grid.data(m_grid.index(index.row(), puertColumn));
    // A row without a port number is no port of the acquisition's.
    PortStatus port = m_status.port(puert.isNull() ? 0 : puert.toInt());
    if (port.reloj <= 0 && role == Qt::ToolTipRole) {
        // A port the acquisition has not polled yet: its clock as
        // configured.
        const int relojColumn = m_grid.columnOf(QStringLiteral("Reloj"));
        const int interColumn = m_grid.columnOf(QStringLiteral("Inter"));
        if (relojColumn >= 0)
            port.reloj = m_grid.data(m_grid.index(index.row(), relojColumn)).toInt();
        if (interColumn >= 0)
            port.intervalMinutes = m_grid.data(m_grid.index(index.row(), interColumn)).toInt();
    }
    switch (role) {
    case Qt::DisplayRole:
        return portStateText(port.state, m_m.Idioma);
    case Qt::BackgroundRole:
        return QBrush(colour(port.state));
    case Qt::ForegroundRole:
        return QBrush(textColour(port.state));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    case Qt::ToolTipRole: {
        // Rich text with every line escaped: a page's or a row's text is
        // shown as it is, never read as markup.
        QString tip = QStringLiteral("<qt>");
        const QStringList lines = m_status.details(port);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                tip += QStringLiteral("<br/>");
            tip += lines[i].toHtmlEscaped();
        }
        return tip + QStringLiteral("</qt>");
    }
    case StateRole:
        return static_cast<int>(port.state);
    default:
        return {};
    }
}

QVariant PortStatusColumn::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == statusColumn()) {
        if (role == Qt::DisplayRole)
            return ownText(OwnText::StatusColumn, m_m.Idioma);
        return {};
    }
    return QIdentityProxyModel::headerData(section, orientation, role);
}

Qt::ItemFlags PortStatusColumn::flags(const QModelIndex& index) const
{
    if (isStatus(index))
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return QIdentityProxyModel::flags(index);
}

void PortStatusColumn::statusChanged()
{
    const int rows = rowCount();
    if (rows == 0)
        return;
    const int column = statusColumn();
    emit dataChanged(index(0, column), index(rows - 1, column));
}

} // namespace telvar
