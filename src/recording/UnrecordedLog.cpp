#include "recording/UnrecordedLog.h"

#include "common/ErrorNumbers.h"
#include "common/InstallationFolder.h"
#include "common/LogText.h"
#include "common/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    Status first = appendTo(m_path, bytes);
    if (first) {
        m_lastError.clear();
        return true;
    }
    Status second = appendTo(m_fallbackPath, bytes);
    m_lastError = first.error().description;
    if (!second && !m_fallbackPath.isEmpty())
        m_lastError += QStringLiteral("; ") + second.error().description;
    return second.ok();
}

Status UnrecordedLog::appendTo(const QString& path, const QByteArray& bytes) const
{
    if (path.isEmpty())
        return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                     QStringLiteral("no file for the unrecorded readings")};
    const QFileInfo info(path);
    // A folder made here is its owner's alone, whatever the umask.
    if (!info.absoluteDir().exists() && QDir().mkpath(info.absolutePath()))
        QFile::setPermissions(info.absolutePath(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Result<SafeFolder> folder = SafeFolder::ofFile(path);
    if (!folder)
        return folder.error();
    const QString name = info.fileName();
    Result<FileHandle> file = folder.value().openInPlace(name, O_WRONLY | O_APPEND);
    if (!file)
        return file.error();
    struct stat opened {};
    if (::fstat(file.value().fd(), &opened) == 0 && opened.st_size + bytes.size() > kMaxBytes) {
        // The full file becomes the older one (replacing the one before);
        // a new file begins.
        file.value() = FileHandle();
        if (Status renamed = folder.value().rename(name, name + QStringLiteral(".old")); !renamed)
            return renamed.error();
        file = folder.value().openInPlace(name, O_WRONLY | O_APPEND);
        if (!file)
            return file.error();
    }
    const int fd = file.value().fd();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                         path + QStringLiteral(": the line cannot be written")};
        done += n;
    }
    return {};
}

} // namespace telvar
