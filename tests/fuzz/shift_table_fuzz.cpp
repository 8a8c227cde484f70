// QLTurn.IAU: the shift count and its pairs.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/ShiftTable.h"

TELVAR_FUZZ_TARGET(shift_table)
{
    const QString path = telvar::fuzz::writeScratchFile(QStringLiteral("QLTurn.IAU"), data, size);
    (void)telvar::readShiftTable(path);
    return 0;
}
