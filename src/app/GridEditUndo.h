#pragma once

#include "common/Error.h"

#include <QString>
#include <QVariant>
#include <deque>

namespace telvar {

class ConfigGridModel;

// The changes a person made to the configuration from the grid, newest
// last, so that they can be taken back one by one: each is the port, the
// field and the value the field held before the change. Taking one back
// writes that value again through the grid's model, with the same checks
// as a typed value. A bounded number is kept; a new configuration (another
// database, a port form's save) makes them meaningless and they are
// forgotten.
class GridEditUndo final {
public:
    struct Change {
        int puert = 0;
        QString field;
        QVariant before; // null: the field was empty
    };

    static constexpr std::size_t kMostKept = 50;

    void remember(Change change);
    bool canUndo() const { return !m_changes.empty(); }
    // The change that undo() takes back.
    const Change& last() const { return m_changes.back(); }
    // Writes the newest change's earlier value back and forgets the change;
    // on an error the change is kept and nothing was written.
    Status undo(ConfigGridModel& grid);
    void forget() { m_changes.clear(); }

private:
    std::deque<Change> m_changes;
};

} // namespace telvar
