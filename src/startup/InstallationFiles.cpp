#include "startup/InstallationFiles.h"

#include "common/ErrorNumbers.h"

#include <QDir>
#include <QFileInfo>

namespace telvar {

QString RutaConBarra(const QString& Ruta)
{
    QString path = Ruta.trimmed();
    if (path.endsWith(QLatin1Char(':')) || path.endsWith(QLatin1Char('\\')) ||
        path.endsWith(QLatin1Char('/')))
        return path;
    return path + QDir::separator();
}

QString findInstallationFile(const QString& dir, const QString& name)
{
    const QString exact = dir + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QDir directory(dir.isEmpty() ? QStringLiteral(".") : dir);
    const QStringList entries = directory.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + entry;
    }
    return exact;
}

Status checkFileSize(const QString& path, const QString& displayName, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() <= maxBytes)
        return {};
    return Error{ErrorNumber::FileTooLarge, QStringLiteral("Telvar"),
                 QStringLiteral("File too large: ") + displayName + QStringLiteral(" holds ") +
                     QString::number(info.size()) + QStringLiteral(" bytes; at most ") +
                     QString::number(maxBytes) + QStringLiteral(" are allowed for it")};
}

} // namespace telvar
