#pragma once

#include <QByteArray>
#include <QString>

namespace telvar::test {

// The ODBC driver manager's configuration for ODBC tests: a private
// odbcinst.ini (ODBCSYSINI points at its directory for the whole process,
// since unixODBC reads that variable once) holding the machine's driver
// sections with connection logging off (CommLog=0) plus the test's own.
// Each test rewrites the file with what it needs.
class OdbcConfiguration final {
public:
    // Writes odbcinst.ini: the system's sections when withSystemDrivers,
    // then extraSections (ini text).
    static void write(bool withSystemDrivers, const QString& extraSections = QString());
    // The private directory (created on first use).
    static QString directory();
    // True when the system's odbcinst.ini declares a FreeTDS driver.
    static bool systemHasFreeTds();
};

} // namespace telvar::test
