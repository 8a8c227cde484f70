#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace telvar::fuzz {

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Writes the input as the file name in a scratch directory that lives as
// long as the process and returns the file's path.
QString writeScratchFile(const QString& name, const std::uint8_t* data, std::size_t size);
// The scratch directory, ending in "/".
QString scratchDirectory();

} // namespace telvar::fuzz
