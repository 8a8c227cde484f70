#pragma once

#include <QString>

namespace telvar {

// How the recording of a reading ended, when it did not fail outright: 0
// recorded; 1, 2, 3 a file database's format directory, machine directory
// or data file is missing (nothing was written).
enum class CodeErr { Recorded = 0, NoFormatDirectory = 1, NoMachineDirectory = 2, NoDataFile = 3 };

// One reading to record, with where it goes: its format, machine and
// product, the characteristic's column (trimmed), the operator, and the
// reading as cut from the page.
struct ReadingToRecord {
    QString Forma;
    QString Maqui;
    QString Produ;
    QString Carac;
    QString Opera;
    QString Valor;
};

} // namespace telvar
