#pragma once

#include "acquisition/CxpLimits.h"

#include <ostream>

namespace telvar {

// gtest output for the limits the tests compare.
inline void PrintTo(const Limits& l, std::ostream* os)
{
    *os << '{' << l.LimInf << ", " << l.LimSup << '}';
}

} // namespace telvar
