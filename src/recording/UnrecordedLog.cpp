#include "recording/UnrecordedLog.h"

#include "common/InstallationFolder.h"
#include "common/LogText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telvar {

UnrecordedLog::UnrecordedLog(QString path, QString fallbackPath)
    : m_path(std::move(path)), m_fallbackPath(std::move(fallbackPath))
{
}

UnrecordedLog UnrecordedLog::forInstallation(const QString& appPath)
{
    const QString name = QStringLiteral("TelvarNoGrabadas.log");
    // The fallback carries the installation's identity: two installations
    // run by one user never mix their lines.
    return UnrecordedLog(QDir(appPath).filePath(name),
                         QDir(installationDataFolder(appPath)).filePath(name));
}

bool UnrecordedLog::append(const QString& line)
{
    // One reading, one line, whatever the message holds.
    const QByteArray bytes = logLineText(line).toUtf8() + '\n';
    return appendTo(m_path, bytes) || appendTo(m_fallbackPath, bytes);
}

bool UnrecordedLog::appendTo(const QString& path, const QByteArray& bytes) const
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.exists() && info.size() + bytes.size() > kMaxBytes) {
        const QString old = path + QStringLiteral(".old");
        QFile::remove(old);
        if (!QFile::rename(path, old))
            return false;
    }
    QDir().mkpath(info.absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const bool written = file.write(bytes) == bytes.size();
    return file.flush() && written;
}

} // namespace telvar
