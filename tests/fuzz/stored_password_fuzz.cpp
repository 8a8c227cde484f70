// A configurator's stored password (USU.USUCONTR, as hostile as any file)
// against a typed one: the three stored forms and their checks.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "common/TrimBlanks.h"
#include "dialogs/ContraMatch.h"

#include <cstdlib>

TELVAR_FUZZ_TARGET(stored_password)
{
    // The input is the typed password, a NUL byte, then the stored value.
    const QByteArray input = telvar::fuzz::bytes(data, size);
    const qsizetype split = input.indexOf('\0');
    const QString typed = QString::fromUtf8(split < 0 ? input : input.left(split));
    const QString stored = split < 0 ? QString() : QString::fromUtf8(input.mid(split + 1));

    const QString slice = telvar::trimBlanks(stored.left(60));
    if (telvar::storedPasswordForm(slice) == telvar::StoredPasswordForm::Bcrypt) {
        // Hashes the check would run are only tried at the cheapest costs,
        // so that a run stays fast; those above the bound must fail at once.
        const int cost = slice.mid(4, 2).toInt();
        if (cost > 5 && cost <= telvar::kMaxBcryptCost)
            return 0;
    }
    const QString result = telvar::ContraMatch(typed, stored, QString());
    if (result != QLatin1String("Y") && result != QLatin1String("N"))
        std::abort();
    // An encoded-digits match is the encoding of what was typed.
    if (result == QLatin1String("Y") &&
        telvar::storedPasswordForm(slice) == telvar::StoredPasswordForm::EncodedDigits) {
        const auto encoded = telvar::encodeDigits(typed, slice.back().digitValue());
        if (!encoded || *encoded != slice)
            std::abort();
    }
    return 0;
}
