#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>
#include <cstdlib>

namespace telvar::test {

void prepareProcessEnvironment()
{
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = QDir::tempPath().toUtf8() + "/telvar-test-runtime";
        QDir().mkpath(QString::fromUtf8(dir));
        QFile::setPermissions(QString::fromUtf8(dir), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
}

} // namespace telvar::test
