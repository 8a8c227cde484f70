#pragma once

#include <QtGlobal>

namespace telvar::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment: a
// connection to it is refused.
quint16 unusedLocalPort();

} // namespace telvar::test
