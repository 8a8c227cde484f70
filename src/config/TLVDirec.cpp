#include "config/TLVDirec.h"

#include "common/Modulo1.h"
#include "startup/InstallationFiles.h"
#include "startup/SequentialInput.h"

#include <QSaveFile>

namespace telvar {

namespace {

RuntimeError errorArchivo(long long numero, const QString& descripcion)
{
    return RuntimeError{numero, QStringLiteral("Telvar"), descripcion};
}

} // namespace

QString rutaTLVDirec(const Modulo1& m)
{
    return findInstallationFile(m.RutaIAU, QStringLiteral("TLVDirec.IAU"));
}

Result<QString> leeRutaConf(const Modulo1& m)
{
    Result<SequentialInput> archivo = SequentialInput::open(rutaTLVDirec(m));
    if (!archivo)
        return archivo.error();
    return archivo.value().next();
}

Result<QStringList> leeRutasConf(const Modulo1& m)
{
    Result<SequentialInput> archivo = SequentialInput::open(rutaTLVDirec(m));
    if (!archivo)
        return archivo.error();
    QStringList rutas;
    while (!archivo.value().atEnd()) {
        Result<QString> campo = archivo.value().next();
        if (!campo)
            return campo.error();
        if (!campo.value().isEmpty())
            rutas.append(campo.value());
    }
    return rutas;
}

QString motivoRutaNoAlmacenable(const QString& ruta)
{
    if (ruta.contains(QLatin1Char(',')))
        return QStringLiteral("contains a comma, which would split it into two paths");
    if (ruta.contains(QLatin1Char('"')))
        return QStringLiteral("contains a double quote, which would not read back");
    if (ruta.contains(QLatin1Char('\n')) || ruta.contains(QLatin1Char('\r')))
        return QStringLiteral("contains a line break, which would split it into two paths");
    if (ruta != ruta.trimmed())
        return QStringLiteral("begins or ends with blanks, which would be dropped when read back");
    return {};
}

Status escribeRutasConf(const Modulo1& m, const QStringList& rutas)
{
    const QString ruta = rutaTLVDirec(m);
    for (const QString& linea : rutas) {
        const QString motivo = motivoRutaNoAlmacenable(linea);
        if (!motivo.isEmpty())
            return errorArchivo(
                5, QStringLiteral("Invalid procedure call or argument: the path \"") + linea +
                       QStringLiteral("\" ") + motivo + QStringLiteral(" in ") + ruta);
    }
    QByteArray contenido;
    for (const QString& linea : rutas)
        contenido += linea.toUtf8() + "\r\n";

    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly))
        return errorArchivo(75, QStringLiteral("Path/File access error: ") + ruta +
                                    QStringLiteral(" (") + archivo.errorString() +
                                    QStringLiteral(")"));
    if (archivo.write(contenido) != contenido.size() || !archivo.commit())
        return errorArchivo(75, QStringLiteral("Path/File access error: ") + ruta +
                                    QStringLiteral(" (") + archivo.errorString() +
                                    QStringLiteral(")"));
    return {};
}

} // namespace telvar
