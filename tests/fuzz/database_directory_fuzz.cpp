// QLDirec.iau: entries, the menu built from them, the data directory.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "startup/DatabaseDirectory.h"

TELVAR_FUZZ_TARGET(database_directory)
{
    const QString path = telvar::fuzz::writeScratchFile(QStringLiteral("QLDirec.iau"), data, size);
    const auto directory = telvar::DatabaseDirectory::read(path);
    if (directory) {
        (void)directory.value().menuText();
        (void)directory.value().menu();
        (void)directory.value().firstJetDirectory();
    }
    return 0;
}
