#include "startup/StartupSequence.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
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
#include <QStandardPaths>
#include <algorithm>

namespace telvar {

namespace {

QString coverFormName()
{
    return QLatin1String(kCoverFormName);
}

// A file path split into its directory (with the separator) and its name, so
// that the name can be matched case-insensitively within the directory.
QString resolvePath(const QString& path)
{
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return findInstallationFile(path.left(slash + 1), path.mid(slash + 1));
}

bool isReadOnly(const QFileInfo& file)
{
    return !file.isWritable() || !file.permission(QFileDevice::WriteOwner);
}

} // namespace

QString startupErrorReport(const Error& error)
{
    return errorReport(coverFormName() + QStringLiteral(". Form_Load."), error);
}

StartupSequence::StartupSequence(Modulo1& m, Interaccion& ui, const QString& programDir,
                                 const QString& runtimeDir)
    : m_m(m), m_ui(ui), m_programDir(programDir), m_runtimeDir(runtimeDir)
{
}

bool StartupSequence::run()
{
    setPaths();
    if (!readCompanyFile() || !readPasswordFile() || !InitIdioma(m_m, m_ui))
        return false;
    if (m_onLanguageKnown)
        m_onLanguageKnown(m_m.Idioma);
    m_m.TipoBD = QStringLiteral("[JET4]");
    return readDatabaseDirectory() && readShifts() && ensureSingleInstance() && findCoverPicture();
}

bool StartupSequence::fail(const Error& error)
{
    m_ui.messageBox(startupErrorReport(error), BoxKind::Critical);
    return false;
}

void StartupSequence::setPaths()
{
    m_m.NomProducto = QStringLiteral("Qualitra");
    m_m.RutaApp = RutaConBarra(m_programDir);
    m_m.RutaIAU = findInstallationFile(m_m.RutaApp, QStringLiteral("IAu")) + QDir::separator();
    m_m.ArchivoAyuda = findInstallationFile(m_m.RutaApp, QStringLiteral("QLTR.HLP"));
}

bool StartupSequence::readCompanyFile()
{
    const QString displayName = m_m.RutaIAU + QStringLiteral("QLCompa.iau");
    const QString path = findInstallationFile(m_m.RutaIAU, QStringLiteral("QLCompa.iau"));
    if (const Status size = checkFileSize(path, displayName, kMaxInstallationFileBytes); !size)
        return fail(size.error());
    UnicodeFile file;
    if (file.OpenUnicode(path) != QLatin1String("OK")) {
        m_ui.messageBox(displayName + QStringLiteral(" should be a Unicode file"),
                        BoxKind::Critical);
        return false;
    }
    m_m.Empresa = file.LineInputUnicode();
    m_m.CodProducto = file.LineInputUnicode();
    file.LineInputUnicode();
    return true;
}

bool StartupSequence::readPasswordFile()
{
    m_m.PassBD.clear();
    const QString displayName = m_m.RutaIAU + QStringLiteral("QLTRPASS.IAU");
    const QString path = findInstallationFile(m_m.RutaIAU, QStringLiteral("QLTRPASS.IAU"));
    if (!QFileInfo(path).isFile())
        return true;
    if (const Status size = checkFileSize(path, displayName, kMaxInstallationFileBytes); !size)
        return fail(size.error());
    const std::optional<QByteArray> line = readFirstLine(path, kMaxInstallationFileBytes);
    if (!line)
        return fail(Error{ErrorNumber::PathFileAccess, QStringLiteral("Telvar"),
                          QStringLiteral("Path/File access error: ") + path});
    const PasswordDecoding decoded = decodePassword(*line, displayName);
    for (const QString& warning : decoded.warnings)
        m_ui.messageBox(warning, BoxKind::Plain);
    if (decoded.error) {
        m_ui.messageBox(*decoded.error, BoxKind::Critical);
        return false;
    }
    m_m.PassBD = decoded.PassBD;
    return true;
}

bool StartupSequence::readDatabaseDirectory()
{
    const QString displayName = m_m.RutaIAU + QStringLiteral("QLDIREC.IAU");
    const Result<DatabaseDirectory> read =
        DatabaseDirectory::read(findInstallationFile(m_m.RutaIAU, QStringLiteral("QLDirec.iau")));
    if (!read)
        return fail(read.error());
    const DatabaseDirectory& directory = read.value();
    if (!directory.hasCurrentFormat()) {
        m_ui.messageBox(QStringLiteral("Please update the ") + displayName +
                            QStringLiteral(" format!"),
                        BoxKind::Critical);
        return false;
    }
    if (directory.entries().isEmpty()) {
        m_ui.messageBox(displayName + QStringLiteral("\n\n") +
                            ownText(OwnText::StartupNoDatabaseListed, m_m.Idioma),
                        BoxKind::Critical);
        return false;
    }

    const DatabaseEntry& entry = directory.entries().at(chooseDatabase(directory, m_ui) - 1);
    m_m.TipoBD = entry.TipoBD;
    if (isServerTag(entry.TipoBD)) {
        m_m.Servidor = entry.Servidor;
        m_m.BaseDatos = entry.BaseDatos;
        m_m.UsuarioBD = entry.UsuarioBD;
        m_m.CadConexion = ArmaConexion(m_m, m_m.BaseDatos);
        m_m.RutaBD = directory.firstJetDirectory();
        m_m.RutaDatos = m_m.RutaBD;
        return true;
    }

    m_m.RutaBD = entry.RutaBD;
    m_m.RutaDatos = m_m.RutaBD;
    const QString databaseFile = m_m.RutaBD + m_m.NomProducto + QStringLiteral(".MDB");
    const QFileInfo found(resolvePath(databaseFile));
    if (!found.isFile()) {
        m_ui.messageBox(coverFormName() + QStringLiteral(". FormLoad\n") + databaseFile +
                            QStringLiteral("\n") + m_m.Mensajes(5, 6) + QStringLiteral("\n") +
                            m_m.Mensajes(5, 7) + QStringLiteral(" ") + displayName,
                        BoxKind::Critical);
        return false;
    }
    if (isReadOnly(found)) {
        m_ui.messageBox(coverFormName() + QStringLiteral(". Form_Load.\n\n") + databaseFile +
                            QStringLiteral("\n\n") + m_m.Mensajes(4, 16),
                        BoxKind::Exclamation);
        return false;
    }
    m_m.CadConexion = ArmaConexion(m_m, found.filePath());
    return true;
}

bool StartupSequence::readShifts()
{
    const Result<ShiftTable> shifts =
        readShiftTable(findInstallationFile(m_m.RutaIAU, QStringLiteral("QLTurn.IAU")));
    if (!shifts)
        return fail(shifts.error());
    m_m.NumTurnos = shifts.value().NumTurnos;
    m_m.TurnoClave = shifts.value().TurnoClave;
    m_m.TurnoHasta = shifts.value().TurnoHasta;
    return true;
}

bool StartupSequence::ensureSingleInstance()
{
    const QString runtimeDir =
        m_runtimeDir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                               : m_runtimeDir;
    InstanceLockAttempt attempt = acquireInstanceLock(m_m.RutaApp, runtimeDir);
    switch (attempt.outcome) {
    case InstanceLockAttempt::Outcome::Acquired:
        m_lock = std::move(attempt.lock);
        return true;
    case InstanceLockAttempt::Outcome::AnotherInstance:
        m_ui.setMousePointer(PointerShape::Default);
        m_ui.messageBox(m_m.Mensajes(0, 75), BoxKind::Exclamation);
        return false;
    case InstanceLockAttempt::Outcome::Failed:
        break;
    }
    return fail(Error{ErrorNumber::PermissionDenied, QStringLiteral("Telvar"), attempt.error});
}

bool StartupSequence::findCoverPicture()
{
    const QString path =
        findInstallationFile(m_m.RutaIAU, QStringLiteral("CARATULA") + QString::number(m_m.Idioma) +
                                              QStringLiteral(".JPG"));
    if (!QFileInfo(path).isFile())
        return fail(Error{ErrorNumber::FileNotFound, QStringLiteral("Telvar"),
                          ownText(OwnText::StartupCoverMissing, m_m.Idioma).arg(path)});
    m_coverPicturePath = path;
    return true;
}

} // namespace telvar
