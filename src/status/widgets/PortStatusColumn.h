#pragma once

#include "status/RouterStatus.h"

#include <QColor>
#include <QIdentityProxyModel>

namespace telvar {

struct Modulo1;
class ConfigGridModel;

// The configuration grid as the main window shows it: the configuration's
// rows and columns as they are (same rows, same column numbers, edits go
// through), and one more column at the end with each row's port status: its
// state's name on its colour (ok green, waiting light blue, late amber,
// failing red, stopped grey) and the port's details as its tooltip. The status column follows the
// status's changed() with one dataChanged for the column; its cells are
// worked out when shown, so a change costs nothing per row that is not
// visible.
class PortStatusColumn final : public QIdentityProxyModel {
    Q_OBJECT
public:
    // The state of the row's port, as an int of PortState.
    static constexpr int StateRole = Qt::UserRole + 1;

    PortStatusColumn(const Modulo1& m, const RouterStatus& status, ConfigGridModel& grid,
                     QObject* parent = nullptr);

    // The status column: the one after the configuration's columns.
    int statusColumn() const;
    static QColor colour(PortState state);
    static QColor textColour(PortState state);

    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool isStatus(const QModelIndex& index) const;
    void statusChanged();

    const Modulo1& m_m;
    const RouterStatus& m_status;
    ConfigGridModel& m_grid;
};

} // namespace telvar
