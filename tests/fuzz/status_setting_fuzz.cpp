// TelvarService.ini: the status server's port.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "status/StatusSetting.h"

#include <cstdlib>

TELVAR_FUZZ_TARGET(status_setting)
{
    const QString path =
        telvar::fuzz::writeScratchFile(QStringLiteral("TelvarService.ini"), data, size);
    const QByteArray input = telvar::fuzz::bytes(data, size);
    for (const int idioma : {1, 2}) {
        const auto setting = telvar::StatusSetting::read(path, idioma);
        if (!setting) {
            // Every error names the file it is about.
            if (!setting.error().description.startsWith(path))
                std::abort();
            continue;
        }
        // A port comes only from a file that names one, within the bound.
        if (setting.value().port != 0 &&
            (input.size() > telvar::StatusSetting::kMostBytes || !input.toLower().contains("port")))
            std::abort();
    }
    return 0;
}
