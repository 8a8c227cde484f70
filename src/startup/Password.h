#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

// From this position on, adding 94 once no longer brings every decoded code
// back into 33..126.
inline constexpr int kFirstUndecodablePosition = 48;

// The outcome of decoding the first line of QLTRPASS.IAU.
struct PasswordDecoding {
    QString PassBD;
    // One "Character [c] is not allowed" per character outside codes 33..126,
    // in order; decoding goes on past them.
    QStringList warnings;
    // Set when the line cannot be decoded; PassBD must not be used then.
    std::optional<QString> error;
};

// Decodes the encoded password line, the code enclosed in double quotes:
// character i (1-based) of code a becomes a - 2i, plus 94 once if that falls
// below 33. A line that does not both begin and end with a double quote (a
// blank after the closing quote, say) cannot be decoded: dropping its first
// and last characters would give a wrong password. displayName names the
// file in error texts; no error text shows a character of the code.
PasswordDecoding decodePassword(const QByteArray& line, const QString& displayName);

// The inverse of decodePassword: the line that QLTRPASS.IAU keeps for
// PassBD, enclosed in double quotes. std::nullopt when a character lies
// outside codes 33..126 or cannot be encoded at its position.
std::optional<QByteArray> encodePassword(const QString& PassBD);

// The first line of an 8-bit text file (ended by CR, LF or CR LF), without its
// line end; std::nullopt when the file cannot be read. At most maxBytes are
// read: a longer first line is cut there.
std::optional<QByteArray> readFirstLine(const QString& path, qint64 maxBytes);

} // namespace telvar
