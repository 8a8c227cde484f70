#include "app/widgets/ColumnFit.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

namespace telvar {

ColumnFit::ColumnFit(QTableView& grid, Floor floor, QObject* parent)
    : QObject(parent), m_grid(grid), m_viewport(grid.viewport()), m_floor(floor)
{
    m_viewport->installEventFilter(this);
    connect(m_grid.horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int before, int width) {
                // Hiding or showing a column resizes it from or to nothing:
                // only a change between two widths is a person's.
                if (m_fitting || !m_natural.contains(column) || before == 0 || width == 0)
                    return;
                m_personSized = true;
                m_person.insert(column, width);
            });
}

void ColumnFit::setNatural(const QHash<int, int>& widthByColumn, const QList<int>& flexible)
{
    m_natural = widthByColumn;
    m_flexible = flexible;
    if (!m_personSized) {
        fit();
        return;
    }
    // The grid's columns were laid out anew (its rows read again): the
    // person's widths come back.
    for (auto it = m_natural.cbegin(); it != m_natural.cend(); ++it)
        setWidth(it.key(), m_person.value(it.key(), it.value()));
}

void ColumnFit::setPersonWidths(const QHash<int, int>& widthByColumn)
{
    if (widthByColumn.isEmpty())
        return;
    m_person.clear();
    for (auto it = widthByColumn.cbegin(); it != widthByColumn.cend(); ++it) {
        if (!m_natural.contains(it.key()))
            continue;
        const int width = std::max(it.value(), kFlexibleFloor / 2);
        m_person.insert(it.key(), width);
        setWidth(it.key(), width);
    }
    m_personSized = !m_person.isEmpty();
}

QHash<int, int> ColumnFit::widths() const
{
    QHash<int, int> result;
    for (auto it = m_natural.cbegin(); it != m_natural.cend(); ++it)
        result.insert(it.key(), m_grid.columnWidth(it.key()));
    return result;
}

void ColumnFit::fit()
{
    if (m_personSized || m_natural.isEmpty())
        return;
    int total = 0;
    int flexibleTotal = 0;
    for (auto it = m_natural.cbegin(); it != m_natural.cend(); ++it) {
        if (m_grid.isColumnHidden(it.key()))
            continue;
        total += it.value();
        if (m_flexible.contains(it.key()))
            flexibleTotal += it.value();
    }
    const int available = m_grid.viewport()->width();
    // The flexible columns take the difference, shared in proportion to
    // their natural widths.
    const double scale =
        flexibleTotal > 0 ? double(flexibleTotal + available - total) / flexibleTotal : 1.0;
    for (auto it = m_natural.cbegin(); it != m_natural.cend(); ++it) {
        if (!m_flexible.contains(it.key()) || flexibleTotal == 0) {
            setWidth(it.key(), it.value());
            continue;
        }
        setWidth(it.key(), std::max(floorOf(it.key()), int(it.value() * scale)));
    }
}

int ColumnFit::floorOf(int column) const
{
    if (m_floor == Floor::FewCharacters)
        return kFlexibleFloor;
    return std::min(m_natural.value(column), m_grid.horizontalHeader()->sectionSizeHint(column));
}

void ColumnFit::setWidth(int column, int width)
{
    m_fitting = true;
    m_grid.setColumnWidth(column, width);
    m_fitting = false;
}

bool ColumnFit::eventFilter(QObject* watched, QEvent* event)
{
    // Only the pointer kept is compared: the grid may be half taken apart
    // when its viewport's last events come.
    if (event->type() == QEvent::Resize && watched == m_viewport)
        fit();
    return QObject::eventFilter(watched, event);
}

} // namespace telvar
