#pragma once

#include "common/Error.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace telvar {

// The shift table of QLTurn.IAU: the count, then that many pairs of shift
// identifier and limit (a time of day as an hhnn number). Element 0 of both
// lists exists and stays empty, so shift i is at index i.
struct ShiftTable {
    qint16 NumTurnos = 0;
    QStringList TurnoClave;
    QList<qint16> TurnoHasta;
};

// The most shifts a table may hold: one per minute of the day. A shift
// applies up to its limit, a minute of the day in ascending order, so a
// longer table cannot be meant.
inline constexpr int kMaxShifts = 24 * 60;

// Reads the shift table at path. Errors name the file and the field: missing,
// unreadable or oversized file, a count or limit that is not a whole 16-bit
// number, a count below 0 or above kMaxShifts, fewer pairs than the count says.
Result<ShiftTable> readShiftTable(const QString& path);

} // namespace telvar
