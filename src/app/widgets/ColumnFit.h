#pragma once

#include <QHash>
#include <QObject>

class QTableView;

namespace telvar {

// Fits a grid's columns to the width it has. Each shown column has a natural
// width; a wider grid shares the extra among its flexible columns, a
// narrower one takes width from the flexible columns (down to a floor) so
// that the others stay in view without scrolling. Once the person drags a
// column's edge, the widths are the person's: they are kept as set, and
// the grid scrolls sideways when they do not fit.
class ColumnFit final : public QObject {
    Q_OBJECT
public:
    // How narrow a flexible column may become: a few characters (its
    // tooltip shows the rest), or never narrower than its caption.
    enum class Floor { FewCharacters, Caption };

    // The narrowest a flexible column of FewCharacters becomes: a few
    // characters still show, and its tooltip shows the rest.
    static constexpr int kFlexibleFloor = 40;

    ColumnFit(QTableView& grid, Floor floor, QObject* parent = nullptr);

    // The widths the columns are fitted from; columns not named keep
    // whatever width they have and are not counted.
    void setNatural(const QHash<int, int>& widthByColumn, const QList<int>& flexible);
    // Widths the person set earlier (by column; columns not laid out are
    // ignored); from now on they are kept.
    void setPersonWidths(const QHash<int, int>& widthByColumn);
    bool personSized() const { return m_personSized; }
    const QHash<int, int>& naturalWidths() const { return m_natural; }
    // The shown columns' widths now.
    QHash<int, int> widths() const;
    // Lays the columns out again for the grid's width (the person's widths
    // are left alone).
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setWidth(int column, int width);
    int floorOf(int column) const;

    QTableView& m_grid;
    QObject* m_viewport;
    Floor m_floor;
    QHash<int, int> m_natural;
    QList<int> m_flexible;
    // The widths the person gave columns, by column.
    QHash<int, int> m_person;
    bool m_personSized = false;
    bool m_fitting = false;
};

} // namespace telvar
