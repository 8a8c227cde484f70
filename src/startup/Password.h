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
    QStringList avisos;
    // Set when the line cannot be decoded; PassBD must not be used then.
    std::optional<QString> error;
};

// Decodes the encoded password line (its first and last characters enclose
// the code): character i (1-based) of code a becomes a - 2i, plus 94 once if
// that falls below 33. nombre names the file in error texts.
PasswordDecoding decodificaPassword(const QByteArray& linea, const QString& nombre);

// The inverse of decodificaPassword: the line that QLTRPASS.IAU keeps for
// PassBD, enclosed in double quotes. std::nullopt when a character lies
// outside codes 33..126 or cannot be encoded at its position.
std::optional<QByteArray> codificaPassword(const QString& PassBD);

// The first line of an 8-bit text file (ended by CR, LF or CR LF), without its
// line end; std::nullopt when the file cannot be read.
std::optional<QByteArray> leePrimeraLinea(const QString& ruta);

} // namespace telvar
