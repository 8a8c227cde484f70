#include "app/GridEditUndo.h"

#include "config/ConfigGridModel.h"

namespace telvar {

void GridEditUndo::remember(Change change)
{
    m_changes.push_back(std::move(change));
    while (m_changes.size() > kMostKept)
        m_changes.pop_front();
}

Status GridEditUndo::undo(ConfigGridModel& grid)
{
    if (m_changes.empty())
        return {};
    const Change& change = m_changes.back();
    // An empty field is written back as empty, which the model stores as null.
    const QVariant value = change.before.isNull() ? QVariant(QString()) : change.before;
    if (Status written = grid.writeField(change.puert, change.field, value); !written)
        return written;
    m_changes.pop_back();
    return {};
}

} // namespace telvar
