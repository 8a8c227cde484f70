#include "app/RunState.h"

#include "common/ErrorNumbers.h"
#include "common/InstallationFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace telvar {

namespace {

const QByteArray kAcquiring = QByteArrayLiteral("acquiring");
const QByteArray kStopped = QByteArrayLiteral("stopped");
// More than either word with its line end: the rest of a longer file is
// never read.
constexpr qint64 kMostRead = 64;

Error stateError(const QString& path, const QString& what)
{
    return Error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar"),
                 path + QStringLiteral(": ") + what};
}

} // namespace

QString RunState::pathForInstallation(const QString& appPath)
{
    return QDir(installationFolder(appPath)).filePath(QStringLiteral("TelvarRun.state"));
}

Result<bool> RunState::wasAcquiring() const
{
    QFile file(m_path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return stateError(m_path, file.errorString());
    const QByteArray text = file.read(kMostRead);
    if (text.isNull() && file.error() != QFileDevice::NoError)
        return stateError(m_path, file.errorString());
    return text.trimmed() == kAcquiring;
}

Status RunState::save(bool acquiring) const
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return stateError(m_path, file.errorString());
    file.write((acquiring ? kAcquiring : kStopped) + '\n');
    if (!file.commit())
        return stateError(m_path, file.errorString());
    return {};
}

} // namespace telvar
