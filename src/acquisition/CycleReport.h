#pragma once

#include "acquisition/TPuerto.h"
#include "common/Error.h"

#include <QString>

namespace telvar {

// The report of an error met while a polling cycle handled one port: the
// routine and clock, the caption for a port (portCaption) and the port's
// number, its page (with a password in it masked as maskUrlPassword does), identifier, start and
// length, an empty line and "number.- description". Lines end in CR LF.
QString cycleReport(int reloj, const QString& portCaption, int puert, const TPuerto& port,
                    const Error& error);

} // namespace telvar
