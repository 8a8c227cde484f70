#pragma once

#include "config/ConfigRow.h"

#include <optional>

namespace telvar {

class ConfigGridModel;

// The lookup over the configuration (the recordset RsConfBusca, a clone of
// RsConf): it sees the same rows as the grid, including edits made in it,
// without moving the grid's current row. Rows are walked in the record
// source's order (by Puert) and found by their Puert.
class ConfigLookup final {
public:
    explicit ConfigLookup(const ConfigGridModel& rsConf) : m_rsConf(rsConf) {}

    // Number of rows, and row i (0-based) of the walk.
    int count() const;
    ConfigRow row(int i) const;
    // The row satisfying "Puert = " puert; empty when there is none (the
    // classic end of file after a failed find).
    std::optional<ConfigRow> find(int puert) const;

private:
    const ConfigGridModel& m_rsConf;
};

} // namespace telvar
