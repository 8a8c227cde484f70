// QLLang.IAU: the UTF-16 message table with its header and sections.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/LanguageFile.h"

TELVAR_FUZZ_TARGET(language_file)
{
    const QString path = telvar::fuzz::writeScratchFile(QStringLiteral("QLLang.IAU"), data, size);
    (void)telvar::readLanguageFile(path, telvar::fuzz::scratchDirectory(), QStringLiteral("QLTR"));
    (void)telvar::readLanguageFile(path, telvar::fuzz::scratchDirectory(), QStringLiteral("RVTR"));
    return 0;
}
