#include "app/widgets/ReadingsFollow.h"

#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

namespace telvar {

ReadingsFollow::ReadingsFollow(QTableView& grid, QPushButton& mark, QObject* parent)
    : QObject(parent), m_grid(grid), m_mark(mark)
{
    m_mark.hide();
    const QAbstractItemModel* model = m_grid.model();
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            &ReadingsFollow::aboutToInsert);
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { inserted(last - first + 1); });
    connect(&m_mark, &QPushButton::clicked, this, &ReadingsFollow::followNewest);
    // Back at the top on the newest reading, the person follows again.
    connect(m_grid.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!m_following && viewAtTop())
            followNewest();
    });
    connect(m_grid.selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!m_following && viewAtTop())
            followNewest();
    });
}

bool ReadingsFollow::viewAtTop() const
{
    const QModelIndex current = m_grid.currentIndex();
    return m_grid.verticalScrollBar()->value() == 0 && (!current.isValid() || current.row() == 0);
}

void ReadingsFollow::aboutToInsert()
{
    // Decided before the rows move: afterwards the person's row is no
    // longer the first.
    m_following = viewAtTop();
}

void ReadingsFollow::inserted(int count)
{
    if (m_following) {
        m_grid.setCurrentIndex(m_grid.model()->index(0, 0));
        m_grid.scrollToTop();
        return;
    }
    // The rows on screen move down by the readings that came above them:
    // scrolling down as much keeps them in place.
    QScrollBar* bar = m_grid.verticalScrollBar();
    const int step = m_grid.verticalScrollMode() == QAbstractItemView::ScrollPerPixel
                         ? m_grid.verticalHeader()->defaultSectionSize()
                         : 1;
    // The range grows with the rows only at the next layout: make room now.
    bar->setMaximum(std::max(bar->maximum(), bar->value() + count * step));
    bar->setValue(bar->value() + count * step);
    m_unseen += count;
    showMark();
}

void ReadingsFollow::showMark()
{
    m_mark.setText(QStringLiteral("\u25B2 %1").arg(m_unseen));
    m_mark.show();
}

void ReadingsFollow::followNewest()
{
    m_following = true;
    m_unseen = 0;
    m_mark.hide();
    if (m_grid.model()->rowCount() > 0)
        m_grid.setCurrentIndex(m_grid.model()->index(0, 0));
    m_grid.scrollToTop();
}

} // namespace telvar
