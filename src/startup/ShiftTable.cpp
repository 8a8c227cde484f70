#include "startup/ShiftTable.h"

#include "common/ErrorNumbers.h"
#include "startup/SequentialInput.h"

namespace telvar {

Result<ShiftTable> readShiftTable(const QString& path)
{
    Result<SequentialInput> opened = SequentialInput::open(path);
    if (!opened)
        return opened.error();
    SequentialInput& input = opened.value();

    const Result<qint16> count = input.nextInteger();
    if (!count)
        return count.error();
    if (count.value() < 0 || count.value() > kMaxShifts)
        return Error{ErrorNumber::SubscriptOutOfRange, QStringLiteral("Telvar"),
                     QStringLiteral("Subscript out of range: the shift count in ") + path +
                         QStringLiteral(" is ") + QString::number(count.value()) +
                         QStringLiteral(", outside 0..") + QString::number(kMaxShifts)};

    ShiftTable table;
    table.NumTurnos = count.value();
    table.TurnoClave.append(QString());
    table.TurnoHasta.append(0);
    for (int i = 1; i <= table.NumTurnos; ++i) {
        const Result<QString> key = input.next();
        if (!key)
            return key.error();
        const Result<qint16> limit = input.nextInteger();
        if (!limit)
            return limit.error();
        table.TurnoClave.append(key.value());
        table.TurnoHasta.append(limit.value());
    }
    return table;
}

} // namespace telvar
