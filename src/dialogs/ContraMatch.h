#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace telvar {

// How a configurator's password is stored, told apart by its content.
enum class StoredPasswordForm {
    Bcrypt,        // "$2a$" (or "$2b$", "$2y$") and exactly 60 characters
    EncodedDigits, // at least 4 decimal digits, length - 1 divisible by 3
    PlainText,     // anything else, the empty value included
};

// The form of a stored password (already cut and trimmed).
StoredPasswordForm storedPasswordForm(const QString& stored);

// The highest bcrypt cost accepted. Each step doubles the work: cost 10
// takes about 50 ms here, 16 about 3 s. A stored hash asking for more
// (a damaged or hostile value: cost 31 would run for days) never matches
// and is never run.
inline constexpr int kMaxBcryptCost = 16;

// The password's bytes in the Windows ANSI code page the stored passwords
// come from (cp1252: "€" is 128, "’" 146); std::nullopt when a character
// has none.
std::optional<QByteArray> toCp1252(const QString& text);

// The encoded-digits form of password with key digit k (0 to 9): for the
// j-th character (from 1) the number code + 2 * k * j, where code is the
// character's byte in cp1252, its last three decimal digits zero-padded,
// groups written last character first, then k. std::nullopt when a
// character has no cp1252 byte or a number leaves the 16-bit range the
// encoding is computed in: such a password has no encoding and matches
// nothing.
std::optional<QString> encodeDigits(const QString& password, int k);

// Whether typed verifies against a bcrypt hash, with libxcrypt: its UTF-8
// bytes, then (a hash made by a Windows program) its cp1252 bytes. A hash
// that is malformed or whose cost is above kMaxBcryptCost gives false at
// once.
// Runs on the calling thread.
bool bcryptMatches(const QString& typed, const QString& hash);

// Checks a typed password against stored passwords; one letter per stored
// password checked, "Y" for a match, "N" for none. With an empty Rango the
// first 60 characters of Hash, trimmed of blanks, are the one stored
// password. A Rango holding a count n from 1 to 64 checks n stored
// passwords in consecutive 60-character slices of Hash; any other Rango
// checks one.
//
// A bcrypt check lets the thread's pending events run first and keeps them
// running while it verifies on a worker thread, so the window's timers go
// on firing; it returns when the check is done.
QString ContraMatch(const QString& TryContra, const QString& Hash, const QString& Rango);

} // namespace telvar
