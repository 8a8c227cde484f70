// The UTF-16 line reader under the company and language files.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/UnicodeFile.h"

TELVAR_FUZZ_TARGET(unicode_file)
{
    const QString path = telvar::fuzz::writeScratchFile(QStringLiteral("QLCompa.iau"), data, size);
    telvar::UnicodeFile file;
    if (file.OpenUnicode(path) == QLatin1String("OK")) {
        for (std::size_t i = 0; i <= size && !file.atEnd(); ++i)
            (void)file.LineInputUnicode();
    }
    file.close();
    return 0;
}
