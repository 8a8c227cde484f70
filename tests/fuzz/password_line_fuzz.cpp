// QLTRPASS.IAU's first line: decoding, and encoding what was decoded.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/Password.h"

#include <cstdlib>

TELVAR_FUZZ_TARGET(password_line)
{
    const auto decoded =
        telvar::decodePassword(telvar::fuzz::bytes(data, size), QStringLiteral("QLTRPASS.IAU"));
    if (!decoded.error && decoded.warnings.isEmpty()) {
        // A password that decoded cleanly encodes back to a line that decodes
        // to the same password.
        const auto line = telvar::encodePassword(decoded.PassBD);
        if (line) {
            const auto again = telvar::decodePassword(*line, QStringLiteral("QLTRPASS.IAU"));
            if (again.error || again.PassBD != decoded.PassBD)
                std::abort();
        }
    }
    return 0;
}
