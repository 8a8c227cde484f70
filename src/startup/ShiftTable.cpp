#include "startup/ShiftTable.h"

#include "common/ErrorNumbers.h"
#include "startup/SequentialInput.h"

namespace telvar {

Result<ShiftTable> leeTurnos(const QString& ruta)
{
    Result<SequentialInput> opened = SequentialInput::open(ruta);
    if (!opened)
        return opened.error();
    SequentialInput& input = opened.value();

    const Result<qint16> count = input.nextInteger();
    if (!count)
        return count.error();
    if (count.value() < 0)
        return RuntimeError{ErrorNumber::SubscriptOutOfRange, QStringLiteral("Telvar"),
                            QStringLiteral("Subscript out of range: the shift count in ") + ruta +
                                QStringLiteral(" is ") + QString::number(count.value()) +
                                QStringLiteral(", it cannot be negative")};

    ShiftTable table;
    table.NumTurnos = count.value();
    table.TurnoClave.append(QString());
    table.TurnoHasta.append(0);
    for (int i = 1; i <= table.NumTurnos; ++i) {
        const Result<QString> clave = input.next();
        if (!clave)
            return clave.error();
        const Result<qint16> hasta = input.nextInteger();
        if (!hasta)
            return hasta.error();
        table.TurnoClave.append(clave.value());
        table.TurnoHasta.append(hasta.value());
    }
    return table;
}

} // namespace telvar
