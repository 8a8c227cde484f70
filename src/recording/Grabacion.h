#pragma once

#include "common/RuntimeError.h"

#include <QString>

namespace telvar {

// How the recording of a reading ended, when it did not fail outright: 0
// recorded; 1, 2, 3 a file database's format directory, machine directory
// or data file is missing (nothing was written).
enum class CodeErr {
    Grabado = 0,
    SinDirectorioFormato = 1,
    SinDirectorioMaquina = 2,
    SinArchivoDatos = 3
};

// One reading to record, with where it goes: its format, machine and
// product, the characteristic's column (trimmed), the operator, and the
// reading as cut from the page.
struct LecturaAGrabar {
    QString Forma;
    QString Maqui;
    QString Produ;
    QString Carac;
    QString Opera;
    QString Valor;
};

// What records the readings that the reading check passes.
class Grabador {
public:
    virtual ~Grabador() = default;
    // Records one reading; an error for any failure besides the codes.
    virtual Result<CodeErr> grabarLectura(const LecturaAGrabar& lectura) = 0;
    // Whether the last failure has been shown to the person already (a
    // failed opening reports itself), so that it is not shown twice.
    virtual bool lastErrorShown() const = 0;

protected:
    Grabador() = default;
    Grabador(const Grabador&) = default;
    Grabador& operator=(const Grabador&) = default;
};

} // namespace telvar
