// The comma-and-line field reader under the database directory and the
// shift table.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/SequentialInput.h"

TELVAR_FUZZ_TARGET(installation_fields)
{
    telvar::SequentialInput input(telvar::fuzz::bytes(data, size), QStringLiteral("QLDirec.iau"));
    // Every field consumes input, so the fields are never more than the bytes.
    for (std::size_t i = 0; i <= size && !input.atEnd(); ++i) {
        if (i % 2 == 0) {
            if (!input.next())
                break;
        } else if (!input.nextInteger() && input.atEnd()) {
            break;
        }
    }
    return 0;
}
