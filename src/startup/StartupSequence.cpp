#include "startup/StartupSequence.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "startup/DatabaseDirectory.h"
#include "startup/InstallationFiles.h"
#include "startup/InstanceLock.h"
#include "startup/LanguageFile.h"
#include "startup/Password.h"
#include "startup/ShiftTable.h"
#include "startup/UnicodeFile.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace telvar {

namespace {

QString nombreCaratula()
{
    return QLatin1String(kNombreCaratula);
}

// A file path split into its directory (with the separator) and its name, so
// that the name can be matched case-insensitively within the directory.
QString resuelveRuta(const QString& ruta)
{
    const qsizetype barra =
        std::max(ruta.lastIndexOf(QLatin1Char('/')), ruta.lastIndexOf(QLatin1Char('\\')));
    return findInstallationFile(ruta.left(barra + 1), ruta.mid(barra + 1));
}

bool esSoloLectura(const QFileInfo& archivo)
{
    return !archivo.isWritable() || !archivo.permission(QFileDevice::WriteOwner);
}

} // namespace

QString reporteErrorArranque(const RuntimeError& error)
{
    return errorReport(nombreCaratula() + QStringLiteral(". Form_Load."), error);
}

StartupSequence::StartupSequence(Modulo1& m, Interaccion& ui, const QString& programDir)
    : m_m(m), m_ui(ui), m_programDir(programDir)
{
}

bool StartupSequence::run()
{
    iniciaRutas();
    if (!leeCompania() || !leePassword() || !InitIdioma(m_m, m_ui))
        return false;
    m_m.TipoBD = QStringLiteral("[JET4]");
    return leeDirectorio() && leeTurnos() && instanciaUnica() && buscaCaratula();
}

bool StartupSequence::falla(const RuntimeError& error)
{
    m_ui.messageBox(reporteErrorArranque(error), BoxKind::Critical);
    return false;
}

void StartupSequence::iniciaRutas()
{
    m_m.NomProducto = QStringLiteral("Qualitra");
    m_m.RutaApp = RutaConBarra(m_programDir);
    m_m.RutaIAU = findInstallationFile(m_m.RutaApp, QStringLiteral("IAu")) + QDir::separator();
    m_m.ArchivoAyuda = findInstallationFile(m_m.RutaApp, QStringLiteral("QLTR.HLP"));
}

bool StartupSequence::leeCompania()
{
    UnicodeFile archivo;
    if (archivo.OpenUnicode(findInstallationFile(m_m.RutaIAU, QStringLiteral("QLCompa.iau"))) !=
        QLatin1String("OK")) {
        m_ui.messageBox(m_m.RutaIAU + QStringLiteral("QLCompa.iau") +
                            QStringLiteral(" should be a Unicode file"),
                        BoxKind::Critical);
        return false;
    }
    m_m.Empresa = archivo.LineInputUnicode();
    m_m.CodProducto = archivo.LineInputUnicode();
    archivo.LineInputUnicode();
    return true;
}

bool StartupSequence::leePassword()
{
    m_m.PassBD.clear();
    const QString ruta = findInstallationFile(m_m.RutaIAU, QStringLiteral("QLTRPASS.IAU"));
    if (!QFileInfo(ruta).isFile())
        return true;
    const std::optional<QByteArray> linea = leePrimeraLinea(ruta);
    if (!linea)
        return falla(RuntimeError{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                                  QStringLiteral("Path/File access error: ") + ruta});
    const PasswordDecoding decodificado =
        decodificaPassword(*linea, m_m.RutaIAU + QStringLiteral("QLTRPASS.IAU"));
    for (const QString& aviso : decodificado.avisos)
        m_ui.messageBox(aviso, BoxKind::Plain);
    if (decodificado.error) {
        m_ui.messageBox(*decodificado.error, BoxKind::Critical);
        return false;
    }
    m_m.PassBD = decodificado.PassBD;
    return true;
}

bool StartupSequence::leeDirectorio()
{
    const QString nombre = m_m.RutaIAU + QStringLiteral("QLDIREC.IAU");
    const Result<DatabaseDirectory> leido =
        DatabaseDirectory::lee(findInstallationFile(m_m.RutaIAU, QStringLiteral("QLDirec.iau")));
    if (!leido)
        return falla(leido.error());
    const DatabaseDirectory& directorio = leido.value();
    if (!directorio.formatoValido()) {
        m_ui.messageBox(QStringLiteral("Please update the ") + nombre + QStringLiteral(" format!"),
                        BoxKind::Critical);
        return false;
    }
    if (directorio.entradas().isEmpty()) {
        m_ui.messageBox(nombre + QStringLiteral("\n\nThe file lists no database: it has no "
                                                "[JET4] entry and no server entry."),
                        BoxKind::Critical);
        return false;
    }

    const DatabaseEntry& entrada = directorio.entradas().at(eligeBaseDatos(directorio, m_ui) - 1);
    m_m.TipoBD = entrada.TipoBD;
    if (isServerTag(entrada.TipoBD)) {
        m_m.Servidor = entrada.Servidor;
        m_m.BaseDatos = entrada.BaseDatos;
        m_m.UsuarioBD = entrada.UsuarioBD;
        m_m.CadConexion = ArmaConexion(m_m, m_m.BaseDatos);
        m_m.RutaBD = directorio.primerDirectorioJet();
        m_m.RutaDatos = m_m.RutaBD;
        return true;
    }

    m_m.RutaBD = entrada.RutaBD;
    m_m.RutaDatos = m_m.RutaBD;
    const QString archivo = m_m.RutaBD + m_m.NomProducto + QStringLiteral(".MDB");
    const QFileInfo encontrado(resuelveRuta(archivo));
    if (!encontrado.isFile()) {
        m_ui.messageBox(nombreCaratula() + QStringLiteral(". FormLoad\n") + archivo +
                            QStringLiteral("\n") + m_m.Mensajes(5, 6) + QStringLiteral("\n") +
                            m_m.Mensajes(5, 7) + QStringLiteral(" ") + nombre,
                        BoxKind::Critical);
        return false;
    }
    if (esSoloLectura(encontrado)) {
        m_ui.messageBox(nombreCaratula() + QStringLiteral(". Form_Load.\n\n") + archivo +
                            QStringLiteral("\n\n") + m_m.Mensajes(4, 16),
                        BoxKind::Exclamation);
        return false;
    }
    m_m.CadConexion = ArmaConexion(m_m, encontrado.filePath());
    return true;
}

bool StartupSequence::leeTurnos()
{
    const Result<ShiftTable> turnos =
        telvar::leeTurnos(findInstallationFile(m_m.RutaIAU, QStringLiteral("QLTurn.IAU")));
    if (!turnos)
        return falla(turnos.error());
    m_m.NumTurnos = turnos.value().NumTurnos;
    m_m.TurnoClave = turnos.value().TurnoClave;
    m_m.TurnoHasta = turnos.value().TurnoHasta;
    return true;
}

bool StartupSequence::instanciaUnica()
{
    InstanceLockAttempt intento = adquiereInstancia(m_m.RutaApp);
    switch (intento.estado) {
    case InstanceLockAttempt::Estado::Adquirido:
        m_lock = std::move(intento.lock);
        return true;
    case InstanceLockAttempt::Estado::OtraInstancia:
        m_ui.setMousePointer(PointerShape::Default);
        m_ui.messageBox(m_m.Mensajes(0, 75), BoxKind::Exclamation);
        return false;
    case InstanceLockAttempt::Estado::Fallo:
        break;
    }
    return falla(
        RuntimeError{ErrorNumber::PermissionDenied, QStringLiteral("Telvar"), intento.error});
}

bool StartupSequence::buscaCaratula()
{
    const QString ruta =
        findInstallationFile(m_m.RutaIAU, QStringLiteral("CARATULA") + QString::number(m_m.Idioma) +
                                              QStringLiteral(".JPG"));
    if (!QFileInfo(ruta).isFile())
        return falla(RuntimeError{ErrorNumber::FileNotFound, QStringLiteral("Telvar"),
                                  QStringLiteral("File not found: the cover picture ") + ruta});
    m_rutaCaratula = ruta;
    return true;
}

} // namespace telvar
