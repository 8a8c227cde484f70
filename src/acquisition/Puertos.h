#pragma once

#include "acquisition/TPuerto.h"
#include "common/Error.h"
#include "config/ConfigRow.h"

#include <QList>
#include <array>
#include <optional>

namespace telvar {

// The active-port table: element k (from 1) belongs to the k-th configuration
// row in the walk's order (by Puert); element 0 is never filled, nor is the
// element of a row without a clock. Each element keeps its row's Puert, so
// the element number is never taken for the port number.
using Puertos = QList<TPuerto>;

// The element of one configuration row: empty for a row without a clock. A
// null WebPg, Ident, Inici or Longi of a row with a clock is the run-time's
// invalid-use-of-Null error; an Inici or Longi beyond 16 bits its overflow.
Result<TPuerto> buildTPuerto(const ConfigRow& row);

// `Puertos` built from the configuration rows. An Inici or Longi beyond 16
// bits, or more rows than a 16-bit count holds, is the run-time's overflow
// error. The limits come separately, from the Qualitra database.
Result<Puertos> buildPuertos(const QList<ConfigRow>& rows);

// The element of `puertos` that holds the port `puert`; 0 when none does.
int elementOfPuert(const Puertos& puertos, int puert);

// The clocks the active ports use, with their intervals (a clock without an
// HTMRELOJ row has interval 0), index 0 unused. A clock number above 10 ends
// the walk with an error; the clocks met before it stay in the plan, as a
// start enables them before it fails.
struct ClockPlan {
    std::array<bool, 11> used{};
    std::array<int, 11> interval{};
    std::optional<Error> error;
};
ClockPlan planClocks(const QList<ConfigRow>& rows);

} // namespace telvar
