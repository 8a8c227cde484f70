#include "common/InstallationFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace telvar {

QString installationFolderName(const QString& appPath)
{
    const QFileInfo info(appPath);
    const QString canonical = info.canonicalFilePath();
    const QString identity =
        QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    const QByteArray digest =
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("Telvar-") + QString::fromLatin1(digest);
}

QString installationFolder(const QString& appPath)
{
    const QFileInfo folder(appPath);
    if (!appPath.isEmpty() && folder.isDir() && folder.isWritable())
        return QDir::cleanPath(folder.absoluteFilePath());
    return installationDataFolder(appPath);
}

QString installationDataFolder(const QString& appPath)
{
    QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dataDir.isEmpty())
        dataDir = QDir::homePath() + QStringLiteral("/.local/share/Telvar");
    const QString own = QDir(dataDir).filePath(installationFolderName(appPath));
    // Made here: its user's alone, whatever the umask.
    if (!QFileInfo::exists(own) && QDir().mkpath(own))
        QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return own;
}

} // namespace telvar
