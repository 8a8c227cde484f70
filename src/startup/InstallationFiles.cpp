#include "startup/InstallationFiles.h"

#include <QDir>
#include <QFileInfo>

namespace telvar {

QString RutaConBarra(const QString& Ruta)
{
    QString ruta = Ruta.trimmed();
    if (ruta.endsWith(QLatin1Char(':')) || ruta.endsWith(QLatin1Char('\\')) ||
        ruta.endsWith(QLatin1Char('/')))
        return ruta;
    return ruta + QDir::separator();
}

QString findInstallationFile(const QString& dir, const QString& nombre)
{
    const QString exacta = dir + nombre;
    if (QFileInfo::exists(exacta))
        return exacta;
    const QDir directorio(dir.isEmpty() ? QStringLiteral(".") : dir);
    const QStringList entradas = directorio.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entrada : entradas) {
        if (entrada.compare(nombre, Qt::CaseInsensitive) == 0)
            return dir + entrada;
    }
    return exacta;
}

} // namespace telvar
