#include "database/OpenDBOK.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/CompactRepair.h"
#include "database/ConnectionString.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "database/OpenDBOKReport.h"

namespace telvar {

namespace {

const QString LF = QStringLiteral("\n");
const QString CRLF = QStringLiteral("\r\n");

bool isJetString(const QString& Conexion)
{
    const auto provider = ConnectionFields::parse(Conexion).value(QStringLiteral("Provider"));
    return provider && provider->trimmed().compare(QLatin1String("Microsoft.Jet.OLEDB.4.0"),
                                                   Qt::CaseInsensitive) == 0;
}

bool isDamage(long long numero)
{
    return numero == ErrorNumber::DamagedFile || numero == ErrorNumber::NotADatabase;
}

} // namespace

QString maskPassword(const QString& Conexion)
{
    // The password runs to the ";" the string's layout closes it with, so
    // that a password holding ";" is hidden whole.
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    const ConnectionField* field = fields.maskedPasswordField();
    if (!field)
        return Conexion;
    static const qsizetype kPasswordLength = QStringLiteral("Password=").size();
    const QString after =
        field->valueEnd < Conexion.size() ? Conexion.mid(field->valueEnd + 1) : QString();
    return Conexion.left(field->valueStart - kPasswordLength) + QStringLiteral("Password=***;") +
           after;
}

QString openFailureReport(const RuntimeError& error, const QString& masked)
{
    return errorReport(QStringLiteral("Module1. OpenDBOK."), error, SourceLine::Shown, masked);
}

void showOpenFailure(const Modulo1& m, Interaccion& ui, long long numero, QString R, bool Avisa)
{
    if (numero == ErrorNumber::ProviderNotFound || numero == ErrorNumber::AuthenticationFailed) {
        ui.messageBox(R + LF, BoxKind::Exclamation);
        return;
    }
    if (numero == ErrorNumber::ErrorInDll) {
        ui.mensaBox(R + m.Mensajes(Mensaje::RevisarComponentes) + LF + LF, BoxKind::Exclamation, 5);
        return;
    }
    if (numero == ErrorNumber::UnspecifiedFailure) {
        if (R.toUpper().contains(QLatin1String("SSL SECURITY ERROR")))
            R += QStringLiteral("If using TLS please enable version 1.0") + CRLF;
        if (Avisa)
            ui.mensaBox(R + CRLF, BoxKind::Exclamation, 8);
        return;
    }
    ui.mensaBox(R, BoxKind::Exclamation, 5);
}

bool OpenDBOK(Modulo1& m, Interaccion& ui, QString& Conexion, std::unique_ptr<Connection>& cn,
              bool Avisa)
{
    cn.reset();
    bool repaired = false;
    bool retriedUnchanged = false;
    for (;;) {
        ui.setMousePointer(PointerShape::Hourglass);
        auto opened = EngineLayer::open(Conexion);
        if (opened) {
            cn = std::move(opened.value());
            ui.setMousePointer(PointerShape::Default);
            return true;
        }
        ui.setMousePointer(PointerShape::Default);
        RuntimeError error = opened.error();
        const QString masked = maskPassword(Conexion);

        if (error.numero == ErrorNumber::WrongPassword) {
            const auto answer = ui.inputBox(masked + LF + m.Mensajes(Mensaje::EscribaContrasena),
                                            InputEcho::Password);
            if (!answer || answer->isEmpty())
                return false;
            // The typed password reaches the repeated attempt through the
            // string being opened, and later openings through PassBD.
            m.PassBD = *answer;
            Conexion = replacePasswordField(Conexion, *answer);
            continue;
        }

        if (isDamage(error.numero)) {
            const bool jet = m.TipoBD == QLatin1String("[JET4]") && isJetString(Conexion);
            if (jet && !repaired) {
                repaired = true;
                ui.setMousePointer(PointerShape::Hourglass);
                const QString path =
                    ConnectionFields::parse(Conexion).text(QStringLiteral("Data Source"));
                auto repair = compactAndRepair(path);
                ui.setMousePointer(PointerShape::Default);
                if (repair)
                    continue;
                error.descripcion +=
                    (error.descripcion.endsWith(QLatin1Char('.')) ? QStringLiteral(" ")
                                                                  : QStringLiteral(". ")) +
                    repair.error().descripcion;
            } else if (!jet && !retriedUnchanged) {
                // Nothing to repair on this engine: one more attempt only.
                retriedUnchanged = true;
                continue;
            }
            // Repair failed, or the repaired file still fails, or the
            // repeated attempt failed: reported as any other error.
            ui.mensaBox(openFailureReport(error, masked), BoxKind::Exclamation, 5);
            return false;
        }

        showOpenFailure(m, ui, error.numero, openFailureReport(error, masked), Avisa);
        return false;
    }
}

} // namespace telvar
