#include "database/OpenDBOK.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/CompactRepair.h"
#include "database/ConnectionString.h"
#include "database/DatabaseDescription.h"
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

bool isDamage(long long number)
{
    return number == ErrorNumber::DamagedFile || number == ErrorNumber::NotADatabase;
}

} // namespace

QString maskPassword(const QString& Conexion)
{
    static const QString kPassword = QStringLiteral("Password=");
    // The password runs to the ";" the string's layout closes it with, so
    // that a password holding ";" is hidden whole.
    const ConnectionFields fields = ConnectionFields::parse(Conexion);
    const ConnectionField* field = fields.maskedPasswordField();
    if (!field) {
        // A string the layout cannot read (a name that swallowed the
        // fields after it) may still carry a password: hide all of it.
        const qsizetype at = Conexion.indexOf(kPassword);
        if (at < 0)
            return Conexion;
        return Conexion.left(at) + QStringLiteral("Password=***;");
    }
    const QString after =
        field->valueEnd < Conexion.size() ? Conexion.mid(field->valueEnd + 1) : QString();
    return Conexion.left(field->valueStart - kPassword.size()) + QStringLiteral("Password=***;") +
           after;
}

QString openFailureReport(const Error& error, const QString& Conexion, int idioma)
{
    // An empty string names no database: the cause says so, and there is
    // nothing to name below it.
    return errorReport(
        QStringLiteral("Module1. OpenDBOK."),
        DatabaseDescription::explainOpenFailure(error, Conexion, idioma), SourceLine::Shown,
        Conexion.trimmed().isEmpty() ? QString() : DatabaseDescription::describe(Conexion, idioma));
}

void showOpenFailure(const Modulo1& m, Interaccion& ui, long long number, QString R, bool Avisa)
{
    if (number == ErrorNumber::ProviderNotFound || number == ErrorNumber::AuthenticationFailed) {
        ui.messageBox(R + LF, BoxKind::Exclamation);
        return;
    }
    if (number == ErrorNumber::ErrorInDll) {
        ui.mensaBox(R + m.Mensajes(Message::CheckComponents) + LF + LF, BoxKind::Exclamation, 5);
        return;
    }
    if (number == ErrorNumber::UnspecifiedFailure) {
        if (R.toUpper().contains(QLatin1String("SSL SECURITY ERROR")))
            R += QStringLiteral("If using TLS please enable version 1.0") + CRLF;
        if (Avisa)
            ui.mensaBox(R + CRLF, BoxKind::Exclamation, 8);
        return;
    }
    ui.mensaBox(R, BoxKind::Exclamation, 5);
}

OpenDBOKResult OpenDBOK(const Modulo1& m, Interaccion& ui, const OpenRequest& request)
{
    OpenDBOKResult result;
    result.Conexion = request.Conexion;
    const bool fileEngine =
        request.TipoBD == QLatin1String(kJetTag) && isJetString(request.Conexion);
    bool repaired = false;
    bool retriedUnchanged = false;
    for (;;) {
        ui.setMousePointer(PointerShape::Hourglass);
        auto opened = EngineLayer::open(result.Conexion);
        ui.setMousePointer(PointerShape::Default);
        if (opened) {
            result.cn = std::move(opened.value());
            result.error.reset();
            return result;
        }
        Error error = opened.error();
        // Reports name the database by its file or server, never by the
        // connection string (another platform's providers, a password).
        const QString database = DatabaseDescription::describe(result.Conexion, m.Idioma);
        const auto report = [&](const Error& e) {
            return openFailureReport(e, result.Conexion, m.Idioma);
        };

        if (error.number == ErrorNumber::WrongPassword) {
            const auto answer =
                ui.inputBox(database + LF + m.Mensajes(Message::TypePassword), InputEcho::Password);
            if (!answer || answer->isEmpty()) {
                result.abandoned = true;
                result.error = error;
                return result;
            }
            // The typed password reaches the repeated attempt through the
            // string being opened, and the caller's later openings through
            // the result.
            result.typedPassword = *answer;
            result.Conexion = replacePasswordField(result.Conexion, *answer);
            continue;
        }

        if (isDamage(error.number)) {
            if (fileEngine && !repaired) {
                repaired = true;
                ui.setMousePointer(PointerShape::Hourglass);
                const QString path =
                    ConnectionFields::parse(result.Conexion).text(QStringLiteral("Data Source"));
                auto repair = compactAndRepair(path);
                ui.setMousePointer(PointerShape::Default);
                if (repair)
                    continue;
                error.description +=
                    (error.description.endsWith(QLatin1Char('.')) ? QStringLiteral(" ")
                                                                  : QStringLiteral(". ")) +
                    repair.error().description;
            } else if (!fileEngine && !retriedUnchanged) {
                // Nothing to repair on this engine: one more attempt only.
                retriedUnchanged = true;
                continue;
            }
            // Repair failed, or the repaired file still fails, or the
            // repeated attempt failed: reported as any other error.
            ui.mensaBox(report(error), BoxKind::Exclamation, 5);
            result.error = error;
            return result;
        }

        showOpenFailure(m, ui, error.number, report(error), request.Avisa);
        result.error = error;
        return result;
    }
}

void keepTypedPassword(Modulo1& m, const OpenDBOKResult& opened)
{
    if (opened.typedPassword)
        m.PassBD = *opened.typedPassword;
}

} // namespace telvar
