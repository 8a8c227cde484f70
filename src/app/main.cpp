// Telvar: start-up behind the cover window, then the main window; or, with
// --headless, the same router without a screen, as a service; or, with
// --quarantine, the outbox's quarantine listed, exported or sent again.
#include "app/HeadlessInteraccion.h"
#include "app/HeadlessProgram.h"
#include "app/Programa.h"
#include "app/QuarantineCommand.h"
#include "app/ServiceNotifier.h"
#include "app/StopSignals.h"
#include "common/Modulo1.h"
#include "common/Version.h"
#include "dialogs/widgets/GuiInteraccion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace {

// True when the command line names one of options (a window needs none of
// them: they run without a screen, or only print).
bool asksFor(int argc, char** argv, std::initializer_list<const char*> options)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : options) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// True when the command line asks for the quarantine (--quarantine WORD or
// --quarantine=WORD).
bool asksForQuarantine(int argc, char** argv)
{
    const char* const option = "--quarantine";
    const std::size_t length = std::strlen(option);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], option, length) == 0 &&
            (argv[i][length] == '\0' || argv[i][length] == '='))
            return true;
    }
    return false;
}

int runQuarantine(const QString& installation, const QString& word, const QStringList& files)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto action = telvar::QuarantineCommand::actionNamed(word);
    const qsizetype filesWanted = action == telvar::QuarantineCommand::Action::Export ? 1 : 0;
    if (!action || files.size() != filesWanted) {
        err << QStringLiteral("Telvar: --quarantine takes list, export FILE.csv or resend\n");
        return 1;
    }
    const telvar::QuarantineCommand command(telvar::QuarantineCommand::outboxPathFor(installation));
    return command.run(*action, files.value(0), out, err);
}

int runHeadless(const QString& installation, bool personStarts)
{
    telvar::Modulo1 m;
    telvar::HeadlessInteraccion ui;
    telvar::ServiceNotifier notifier;
    telvar::StopSignals stopSignals;
    if (!stopSignals.installed())
        telvar::writeStandardErrorLine(
            QStringLiteral("Telvar: SIGTERM and SIGINT cannot be caught; a stop will not commit "
                           "the outbox first"));
    telvar::HeadlessProgram program(m, ui, installation, notifier,
                                    [](int code) { QCoreApplication::exit(code); });
    QObject::connect(&stopSignals, &telvar::StopSignals::stopRequested, &program,
                     &telvar::HeadlessProgram::stop);
    if (!program.start(personStarts))
        return 1;
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Without a screen no window system is needed at all.
    const bool headless = asksFor(argc, argv, {"--headless"});
    std::unique_ptr<QCoreApplication> app;
    if (headless || asksForQuarantine(argc, argv) ||
        asksFor(argc, argv, {"--version", "-v", "--help", "-h", "--help-all"}))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Telvar"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(telvar::version::kMajor)
                                                .arg(telvar::version::kMinor)
                                                .arg(telvar::version::kRevision));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Telvar: polls the stations' pages and records their readings."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run without a screen (as a service): boxes become lines on standard "
                       "error, and SIGTERM or SIGINT stops the acquisition and ends the program."));
    const QCommandLineOption installationOption(
        QStringLiteral("installation"),
        QStringLiteral("The installation's folder (the one holding IAu); by default the "
                       "program's own folder."),
        QStringLiteral("folder"));
    const QCommandLineOption startOption(
        QStringLiteral("start"),
        QStringLiteral("With --headless: start acquiring as a person's Start would; the "
                       "installation keeps it, so later starts acquire by themselves."));
    const QCommandLineOption quarantineOption(
        QStringLiteral("quarantine"),
        QStringLiteral("The outbox's quarantine of the installation, beside a running router or "
                       "without one: list prints it, export FILE.csv writes it to a new CSV "
                       "file, resend sends every reading in it again."),
        QStringLiteral("list|export|resend"));
    parser.addOption(headlessOption);
    parser.addOption(startOption);
    parser.addOption(installationOption);
    parser.addOption(quarantineOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("With --quarantine export: the CSV file to write."),
                                 QStringLiteral("[file]"));
    parser.process(*app);

    QString installation = QCoreApplication::applicationDirPath();
    if (parser.isSet(installationOption)) {
        const QFileInfo folder(parser.value(installationOption));
        if (!folder.isDir()) {
            telvar::writeStandardErrorLine(QStringLiteral("Telvar: the installation's folder ") +
                                           folder.filePath() + QStringLiteral(" does not exist"));
            return 1;
        }
        installation = QDir(folder.absoluteFilePath()).absolutePath();
    }
    if (parser.isSet(quarantineOption)) {
        if (headless) {
            telvar::writeStandardErrorLine(
                QStringLiteral("Telvar: --quarantine and --headless cannot be combined"));
            return 1;
        }
        return runQuarantine(installation, parser.value(quarantineOption),
                             parser.positionalArguments());
    }
    if (headless)
        return runHeadless(installation, parser.isSet(startOption));

    telvar::Modulo1 m;
    // Boxes carry the application's title. The display name is left unset:
    // Qt would append it to every window caption.
    telvar::GuiInteraccion ui(m, QStringLiteral("Telvar"));

    telvar::Programa programa(m, ui, installation);
    if (!programa.start())
        return 1;
    const int code = QCoreApplication::exec();
    return programa.failed() ? 1 : code;
}
