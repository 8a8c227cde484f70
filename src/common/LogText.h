#pragma once

#include <QString>

namespace telvar {

// Text bound for a log (the recording log's box, the file of unrecorded
// readings) as one line of its own: every C0 and C1 control character (tab,
// carriage return and line feed among them), DEL, and the Unicode line and
// paragraph separators U+2028 and U+2029 become U+FFFD, so that text cut out
// of a page can never end a line or begin one of its own choosing.
QString logLineText(const QString& text);

} // namespace telvar
