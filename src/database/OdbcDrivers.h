#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

// The ODBC drivers the driver manager knows: the sections of odbcinst.ini
// (in $ODBCSYSINI, or /etc, named $ODBCINSTINI or odbcinst.ini), read afresh
// on every call.
QStringList installedOdbcDrivers();

// The engines reached through ODBC, and the driver chosen for each:
// SQL Server: FreeTDS, else Microsoft's "ODBC Driver nn for SQL Server"
// (newest); Informix: a driver whose name contains "Informix"; SQL Anywhere:
// one whose name contains "SQL Anywhere" or "Adaptive Server Anywhere".
// The library file of driverName ("Driver=" of its section), if declared.
std::optional<QString> odbcDriverLibrary(const QString& driverName);

// Why the driver's library cannot be loaded, when it is there but broken
// (not a shared library, missing symbols); std::nullopt when it is simply
// missing (or loads).
std::optional<QString> brokenDriverLibrary(const QString& driverName);

enum class OdbcEngine { SqlServer, Informix, SqlAnywhere };
std::optional<QString> odbcDriverFor(OdbcEngine engine, const QStringList& installed);

} // namespace telvar
