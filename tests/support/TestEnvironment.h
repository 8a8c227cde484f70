#pragma once

namespace telvar::test {

// Sets what Qt and the ODBC driver manager need in a test process: a private
// XDG_RUNTIME_DIR and an ODBC configuration that does not log to /tmp.
void prepareProcessEnvironment();

} // namespace telvar::test
