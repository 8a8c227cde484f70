#pragma once

#include "common/RuntimeError.h"

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

// Reads the shift table at ruta. Errors name the file and the field: missing
// or unreadable file, a count or limit that is not a whole 16-bit number, a
// negative count, fewer pairs than the count says.
Result<ShiftTable> leeTurnos(const QString& ruta);

} // namespace telvar
