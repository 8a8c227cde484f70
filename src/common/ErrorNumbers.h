#pragma once

namespace telvar {

// The program's error numbers, as its reports and recovery know them: the
// classic run-time's numbers for file and conversion errors, and the database
// numbers that every engine's native errors are translated onto (in one
// place, engineError); an engine error without a counterpart keeps the
// engine's own number.
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
// ADO: the connection cannot be used to perform the operation (it is closed).
inline constexpr long long ConnectionNotOpen = 3709;
// Jet: field too small to accept the amount of data.
inline constexpr long long FieldTooSmall = 3163;
// Jet: no current record.
inline constexpr long long NoCurrentRecord = 3021;
// Jet: cannot update (the database or object is read-only).
inline constexpr long long CannotUpdate = 3027;
// Jet: table already exists.
inline constexpr long long TableExists = 3201;
// Jet: operation not supported on this type of object.
inline constexpr long long NotSupported = 3251;
// 0x80040E37: the table does not exist.
inline constexpr long long TableNotFound = -2147217865;
// Run-time: invalid procedure call or argument.
inline constexpr long long InvalidProcedureCall = 5;

// Run-time: subscript out of range.
inline constexpr long long SubscriptOutOfRange = 9;
// Run-time: file not found.
inline constexpr long long FileNotFound = 53;
// Run-time: input past end of file.
inline constexpr long long InputPastEndOfFile = 62;
// Run-time: permission denied.
inline constexpr long long PermissionDenied = 70;
// Run-time: path/file access error.
inline constexpr long long PathFileAccess = 75;
// Run-time: control array element does not exist (a clock beyond the ten).
inline constexpr long long ControlArrayElementMissing = 340;
// Run-time: invalid picture.
inline constexpr long long InvalidPicture = 481;
// Run-time: out of memory, what reading a file without bound would end in.
// An installation file above its size bound is refused with it before it is
// read.
inline constexpr long long FileTooLarge = 7;
// Run-time: invalid use of Null (a null column read as a number or text).
inline constexpr long long InvalidUseOfNull = 94;
// A page whose body is larger than the loader accepts, cut at the bound;
// the same number as a file above its bound.
inline constexpr long long PageTooLarge = FileTooLarge;
} // namespace ErrorNumber

} // namespace telvar
