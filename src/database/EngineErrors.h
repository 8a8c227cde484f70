#pragma once

#include "common/RuntimeError.h"
#include "database/Connection.h"

#include <QSqlError>
#include <QString>

namespace telvar {

// The program's error numbers, as its reports and recovery know them. Every
// engine's native errors are translated onto these in one place
// (engineError below); an error without a counterpart keeps the engine's
// own number.
namespace ErrorNumber {
// Jet: not a valid password.
inline constexpr long long WrongPassword = 3031;
// Jet: damaged database.
inline constexpr long long DamagedFile = 3049;
// Jet: unrecognised database format (not a database).
inline constexpr long long NotADatabase = 3343;
// ADO: provider cannot be found (driver missing).
inline constexpr long long ProviderNotFound = 3706;
// 0x80040E4D: authentication failed.
inline constexpr long long AuthenticationFailed = -2147217843;
// 0x80004005, unspecified failure: missing file, wrong path, unreachable server.
inline constexpr long long UnspecifiedFailure = -2147467259;
// 0x800401F9, error in the DLL: the driver's library is there but broken.
inline constexpr long long ErrorInDll = -2147220999;
// 0x80040E14: a statement the engine rejected, without a numeric code of its own.
inline constexpr long long ErrorsInCommand = -2147217900;
// ADO: arguments of the wrong type, out of range or in conflict (an empty
// connection string, or one without a provider).
inline constexpr long long InvalidArgument = 3001;
// Jet: database already exists.
inline constexpr long long DatabaseExists = 3204;
// ADO: item cannot be found in the collection (a missing column).
inline constexpr long long ItemNotFound = 3265;
// ADO: operation not allowed when the object is closed.
inline constexpr long long ObjectClosed = 3704;
// Run-time: overflow (a size beyond 16 bits, or a text column without one).
inline constexpr long long Overflow = 6;
// Run-time: type mismatch (a size asked of a column that is not text).
inline constexpr long long TypeMismatch = 13;
// SQLite's SQLITE_AUTH: a file's password record cannot be read.
inline constexpr long long PasswordRecordDamaged = 23;
} // namespace ErrorNumber

// When an engine error happened: while connecting, or running a statement
// on an open connection.
enum class ErrorPhase { Connect, Statement };

// The component named as an error's source in reports.
QString errorSource(Dialecto dialecto);

// A Qt SQL error of the given engine translated to the program's numbering.
// The description is the engine's own text.
RuntimeError engineError(Dialecto dialecto, const QSqlError& error, ErrorPhase phase);

// An error the engine layer raises itself (before or around the engine).
RuntimeError layerError(long long numero, const QString& fuente, const QString& descripcion);

// The source of errors raised before any engine is involved.
QString engineLayerSource();

} // namespace telvar
