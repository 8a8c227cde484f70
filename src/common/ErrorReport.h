#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// Whether a report shows the error's source on a line of its own.
enum class SourceLine { Omitted, Shown };

// The report of an error caught by a handler: where ("window. routine." or
// "window (routine)"), two line feeds, the source line when asked for, then
// "number.- description".
QString errorReport(const QString& where, const Error& error,
                    SourceLine sourceLine = SourceLine::Omitted);

// The same report followed by a context block: two line feeds, the context
// and two closing line feeds.
QString errorReport(const QString& where, const Error& error, SourceLine sourceLine,
                    const QString& context);

} // namespace telvar
