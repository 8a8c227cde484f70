#include "config/ConfigDatabase.h"

#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "config/AmpliarTexto.h"
#include "config/ConfigSchema.h"
#include "config/ConfigTexts.h"
#include "config/OpenConfigDatabase.h"
#include "config/TLVDirec.h"
#include "database/CompactRepair.h"
#include "database/ConnectionString.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"

namespace telvar {

QString ConfigDatabase::fullRecordSource()
{
    return QStringLiteral("Select * from HTMCONFI left join HTMRELOJ") +
           QStringLiteral(" ON HTMCONFI.RELOJ=HTMRELOJ.CLAVE order by PUERT");
}

ConfigDatabase::ConfigDatabase(Modulo1& m, Interaccion& ui)
    : m_m(m), m_ui(ui), m_rsConf(std::make_unique<ConfigGridModel>(ui)), m_rsConfBusca(*m_rsConf),
      m_data1Opener(&EngineLayer::open)
{
}

ConfigDatabase::~ConfigDatabase() = default;

void ConfigDatabase::setData1Opener(Data1Opener opener)
{
    m_data1Opener = std::move(opener);
}

ReiniciaOutcome ConfigDatabase::Reinicia()
{
    const auto outcome = [](Action action) {
        return action == Action::End ? ReiniciaOutcome::EndProgram : ReiniciaOutcome::Abandoned;
    };
    bool repaired = false;

    // The configuration database's path: the first field of TLVDirec.IAU.
    Result<QString> path = readConfigPath(m_m);
    if (!path)
        return outcome(handleError(path.error(), m_data1ConnectionString, nullptr));
    m_m.RutaConf = path.value();

    // The opener asks for the password or repairs the file where it can, and
    // reports its own failures, all but one: a file it cannot reach at all
    // (a wrong path in TLVDirec.IAU) is left to the handler here, whose
    // report tells the person which file to correct.
    OpenDBOKResult opened =
        openConfigDatabase(m_m, m_ui, configConnectionString(m_m.RutaConf, m_m.PassBD), false);
    if (!opened) {
        if (opened.error && opened.error->number == ErrorNumber::UnspecifiedFailure)
            return outcome(handleError(*opened.error, opened.Conexion, nullptr));
        return ReiniciaOutcome::Abandoned;
    }
    const QString connectionString = opened.Conexion;
    std::unique_ptr<Connection> cn = std::move(opened.cn);

    // The station column is widened automatically.
    if (Status s = AmpliarTexto(*cn, QStringLiteral("HTMCONFI"), QStringLiteral("ESTAC"),
                                kWidenedEstacWidth);
        !s)
        return outcome(handleError(s.error(), connectionString, nullptr));

    // The key columns must be exactly as wide as the master keys.
    Result<QString> report = checkKeyWidths(*cn, KeyWidths::from(m_m));
    if (!report)
        return outcome(handleError(report.error(), connectionString, nullptr));
    cn.reset();

    // A configuration that does not fit the master data stops the program.
    if (!report.value().isEmpty()) {
        m_ui.messageBox(keyWidthStopMessage(m_m.RutaConf, report.value()), BoxKind::Critical);
        return ReiniciaOutcome::EndProgram;
    }

    // Bind the grid's rows (RsConf); the lookup (RsConfBusca) sees them.
    m_data1ConnectionString = connectionString;
    while (true) {
        Result<std::unique_ptr<Connection>> data1 = m_data1Opener(m_data1ConnectionString);
        Status bound = data1 ? m_rsConf->bind(std::move(data1.value()), fullRecordSource())
                             : Status(data1.error());
        if (bound)
            break;
        const Action action = handleError(bound.error(), m_data1ConnectionString, &repaired);
        if (action != Action::Retry)
            return outcome(action);
    }

    // The bare file name on bArchConf.
    m_archConfCaption = bareFileName(m_m.RutaConf);
    return ReiniciaOutcome::Done;
}

ConfigDatabase::Action ConfigDatabase::handleError(const Error& error,
                                                   const QString& connectionString, bool* repaired)
{
    m_ui.setMousePointer(PointerShape::Default);
    const QString report = reiniciaReport(error, connectionString, m_m.Idioma);
    // Only the data control's opening can be repeated; the steps before it
    // run on a connection the opener has already recovered.
    const bool repeatable = repaired != nullptr;
    const bool asksRepeat = error.number == ErrorNumber::WrongPassword ||
                            error.number == ErrorNumber::DamagedFile ||
                            error.number == ErrorNumber::NotADatabase;
    switch (asksRepeat && !repeatable ? 0 : error.number) {
    case ErrorNumber::WrongPassword: {
        const std::optional<QString> answer = m_ui.inputBox(
            QLatin1Char('\n') + m_m.Mensajes(Message::TypePassword), InputEcho::Password);
        if (!answer || answer->isEmpty())
            return Action::Abandon;
        m_m.PassBD = *answer;
        m_data1ConnectionString = replacePasswordField(m_data1ConnectionString, *answer);
        return Action::Retry;
    }
    case ErrorNumber::DamagedFile:
    case ErrorNumber::NotADatabase: {
        // The configuration file is repaired in place once, as the opener
        // repairs a damaged file database; a file still failing is reported.
        if (*repaired)
            break;
        *repaired = true;
        m_ui.setMousePointer(PointerShape::Hourglass);
        Result<QString> repair = compactAndRepair(m_m.RutaConf);
        m_ui.setMousePointer(PointerShape::Default);
        if (repair)
            return Action::Retry;
        Error failure = error;
        failure.description += QLatin1Char(' ') + repair.error().description;
        m_ui.messageBox(reiniciaReport(failure, connectionString, m_m.Idioma),
                        BoxKind::Exclamation);
        return Action::Abandon;
    }
    case ErrorNumber::ErrorInDll:
        m_ui.messageBox(report + m_m.Mensajes(Message::CheckComponents) + QStringLiteral("\n\n"),
                        BoxKind::Exclamation);
        return Action::Abandon;
    case ErrorNumber::UnspecifiedFailure:
        m_ui.messageBox(
            report +
                QStringLiteral("Si la ruta de acceso está equivocada por favor corrijala "
                               "en el archivo ") +
                m_m.RutaIAU + QStringLiteral("TLVDirec.IAU") + QLatin1Char('\n'),
            BoxKind::Critical);
        return Action::End;
    default:
        break;
    }
    m_ui.messageBox(report, BoxKind::Exclamation);
    return Action::Abandon;
}

} // namespace telvar
