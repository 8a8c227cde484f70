#include "app/RunState.h"

#include "common/ErrorNumbers.h"
#include "common/InstallationFolder.h"
#include "common/SafeFiles.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <unistd.h>

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

// A refusal of the safe file layer already names the file.
Error stateError(const Error& refused)
{
    return Error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar"), refused.description};
}

} // namespace

QString RunState::pathForInstallation(const QString& appPath)
{
    return QDir(installationFolder(appPath)).filePath(QStringLiteral("TelvarRun.state"));
}

Result<bool> RunState::wasAcquiring() const
{
    Result<SafeFolder> folder = SafeFolder::ofFile(m_path);
    if (!folder)
        return stateError(m_path, folder.error().description);
    Result<FileHandle> file = folder.value().openForReading(fileNameOf(m_path));
    if (!file)
        return stateError(file.error());
    if (!file.value().isOpen())
        return false;
    char text[kMostRead];
    ssize_t got = 0;
    do
        got = ::read(file.value().fd(), text, sizeof text);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return stateError(m_path, QString::fromLocal8Bit(std::strerror(errno)));
    return QByteArray(text, got).trimmed() == kAcquiring;
}

Status RunState::save(bool acquiring) const
{
    if (Status saved = replaceFile(m_path, (acquiring ? kAcquiring : kStopped) + '\n'); !saved)
        return stateError(saved.error());
    return {};
}

} // namespace telvar
