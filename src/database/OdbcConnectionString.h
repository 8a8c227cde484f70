#pragma once

#include "common/Error.h"
#include "database/ConnectionString.h"
#include "database/OdbcDrivers.h"

#include <QSqlDatabase>
#include <QString>

namespace telvar {

// How a driver reads a value in braces.
enum class OdbcBraces {
    // ODBC's rule: "{" up to the "}" that is not doubled; "}}" stands for
    // "}" (Microsoft's, Informix's and SQL Anywhere's drivers, psqlODBC).
    Standard,
    // FreeTDS: "{" up to the first "}" that is followed by ";"; "}}" is read
    // as two characters, and "};" cannot be inside a value.
    FreeTds,
};

OdbcBraces odbcBracesOf(const QString& driverName);

// value written as an ODBC attribute value for a driver that reads braces
// that way: bare when it needs no braces, else in braces. A secret (a
// password) is always braced. An error when the driver cannot be given the
// value at all.
Result<QString> odbcValue(const QString& value, OdbcBraces braces, bool secret = false);

// What the ODBC driver manager is given for one of the program's server
// strings: the attributes (driver, server, database, options) and the
// credentials, each already written as an attribute value.
struct OdbcLogin {
    QString attributes; // "Driver={...};Server=...;..." without UID and PWD, no final ";"
    bool hasCredentials = false;
    QString user;     // UID's value
    QString password; // PWD's value, braced
};

// The login for engine through the driver driverName, from the fields of
// the program's connection string. An error (3001) when a value cannot be
// written for that driver, or holds ".dsn" (which Qt's ODBC driver reads as
// a file data source, whatever the rest of the string says).
Result<OdbcLogin> odbcLogin(OdbcEngine engine, const QString& driverName,
                            const ConnectionFields& fields);

// Sets db (a QODBC connection, not yet open) up for login. Qt's driver reads
// a database name that contains ".dsn" anywhere as a file DSN, so the
// credentials go through the user name and password, which it appends to the
// attributes as ";UID=" and ";PWD=" untouched.
void configureOdbc(QSqlDatabase& db, const OdbcLogin& login);

} // namespace telvar
