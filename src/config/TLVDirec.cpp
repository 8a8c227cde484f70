#include "config/TLVDirec.h"

#include "common/ErrorNumbers.h"
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

// The single field that text holds for the reader, or nothing when it holds
// more than one (or none).
std::optional<QString> leeCampoUnico(const QByteArray& texto)
{
    SequentialInput lectura(texto, QString());
    Result<QString> campo = lectura.next();
    if (!campo || !lectura.atEnd())
        return std::nullopt;
    return campo.value();
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

std::optional<QByteArray> lineaRutaConf(const QString& ruta)
{
    const QByteArray bytes = ruta.toUtf8();
    for (const QByteArray& linea : {bytes, QByteArray('"' + bytes + '"')}) {
        if (leeCampoUnico(linea + "\r\n") == ruta)
            return linea;
    }
    return std::nullopt;
}

Status escribeRutasConf(const Modulo1& m, const QStringList& rutas)
{
    const QString ruta = rutaTLVDirec(m);
    const auto invalida = [&](const QString& linea, const QString& motivo) {
        return errorArchivo(ErrorNumber::InvalidProcedureCall,
                            QStringLiteral("Invalid procedure call or argument: the path \"") +
                                linea + QStringLiteral("\" ") + motivo + QStringLiteral(" in ") +
                                ruta);
    };
    // The path in use goes first as a plain line. The older ones come from
    // the file as the reader gave them (a path with a comma, say, was quoted
    // there) and go back in whatever form reads back the same, so that none
    // of them can stop a new choice.
    QByteArray contenido;
    QStringList escritas;
    for (qsizetype i = 0; i < rutas.size(); ++i) {
        const QString& linea = rutas.at(i);
        if (i == 0) {
            if (const QString motivo = motivoRutaNoAlmacenable(linea); !motivo.isEmpty())
                return invalida(linea, motivo);
        } else if (linea.isEmpty()) {
            continue; // names no database, and would not be read back
        }
        const std::optional<QByteArray> escrita = lineaRutaConf(linea);
        if (!escrita)
            return invalida(linea, QStringLiteral("cannot be written so that it reads back whole"));
        contenido += *escrita + "\r\n";
        escritas.append(linea);
    }
    // The whole file must read back as the list it was made from.
    SequentialInput lectura(contenido, ruta);
    QStringList leidas;
    while (!lectura.atEnd()) {
        Result<QString> campo = lectura.next();
        if (!campo)
            return campo.error();
        if (!campo.value().isEmpty())
            leidas.append(campo.value());
    }
    if (leidas != escritas)
        return errorArchivo(ErrorNumber::InvalidProcedureCall,
                            QStringLiteral("Invalid procedure call or argument: the paths would "
                                           "not read back from ") +
                                ruta);

    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly))
        return errorArchivo(ErrorNumber::PathFileAccess,
                            QStringLiteral("Path/File access error: ") + ruta +
                                QStringLiteral(" (") + archivo.errorString() + QStringLiteral(")"));
    if (archivo.write(contenido) != contenido.size() || !archivo.commit())
        return errorArchivo(ErrorNumber::PathFileAccess,
                            QStringLiteral("Path/File access error: ") + ruta +
                                QStringLiteral(" (") + archivo.errorString() + QStringLiteral(")"));
    return {};
}

} // namespace telvar
