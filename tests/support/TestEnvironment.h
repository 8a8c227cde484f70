#pragma once

namespace telvar::test {

// Sets what Qt needs in a test process: a private XDG_RUNTIME_DIR. (Tests
// that reach the ODBC driver manager set up its configuration themselves.)
void prepareProcessEnvironment();

} // namespace telvar::test
