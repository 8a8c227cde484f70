// TLVDirec.IAU: the configuration database's path.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "common/Modulo1.h"
#include "config/TLVDirec.h"

TELVAR_FUZZ_TARGET(tlvdirec)
{
    (void)telvar::fuzz::writeScratchFile(QStringLiteral("TLVDirec.IAU"), data, size);
    telvar::Modulo1 m;
    m.RutaApp = telvar::fuzz::scratchDirectory();
    m.RutaIAU = telvar::fuzz::scratchDirectory();
    (void)telvar::readConfigPaths(m);
    return 0;
}
