// Telvar: start-up behind the cover window, then the main window; or, with
// --headless, the same router without a screen, as a service; or, with
// --quarantine, the outbox's quarantine listed, exported or sent again.
// --help and --version only print; a command line it does not understand is
// refused with exit code 2, naming what it did not understand.
#include "app/HeadlessInteraccion.h"
#include "app/HeadlessProgram.h"
#include "app/Programa.h"
#include "app/QuarantineCommand.h"
#include "app/ServiceNotifier.h"
#include "app/StopSignals.h"
#include "common/Modulo1.h"
#include "common/SafeFiles.h"
#include "common/Version.h"
#include "dialogs/widgets/GuiInteraccion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The command line. It is read before any application object exists: a
// request for the usage, the version or a mistake is answered without a
// window system. Qt's own options of a window program (-platform, -style
// ...) are accepted as QApplication would take them, and not shown.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Run without a screen (as a service): boxes become lines on standard "
                       "error, and SIGTERM or SIGINT stops the acquisition and ends the program.")};
    QCommandLineOption installation{
        QStringLiteral("installation"),
        QStringLiteral("The installation's folder (the one holding IAu); by default the "
                       "program's own folder."),
        QStringLiteral("folder")};
    QCommandLineOption start{
        QStringLiteral("start"),
        QStringLiteral("With --headless: start acquiring as a person's Start would; the "
                       "installation keeps it, so later starts acquire by themselves.")};
    QCommandLineOption quarantine{
        QStringLiteral("quarantine"),
        QStringLiteral("The outbox's quarantine of the installation, beside a running router or "
                       "without one: list prints it, export FILE.csv writes it to a new CSV "
                       "file, resend sends every reading in it again."),
        QStringLiteral("list|export|resend")};
    QCommandLineOption allowRoot{
        QString::fromLatin1(telvar::kAllowRootOnForeignFolder),
        QStringLiteral("Run as root all the same on an installation that belongs to another "
                       "account (refused without it: run the program as that account, e.g. "
                       "sudo -u telvar). Files made there are given to that account.")};
    QCommandLineOption help;
    QCommandLineOption version;

    CommandLine() : help(parser.addHelpOption()), version(parser.addVersionOption())
    {
        parser.setApplicationDescription(
            QStringLiteral("Telvar: polls the stations' pages and records their readings."));
        // Qt's options are words after a single dash.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(headless);
        parser.addOption(start);
        parser.addOption(installation);
        parser.addOption(quarantine);
        parser.addOption(allowRoot);
        parser.addPositionalArgument(QStringLiteral("file"),
                                     QStringLiteral("With --quarantine export: the CSV file to "
                                                    "write."),
                                     QStringLiteral("[file]"));
        for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                                 "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                                 "geometry", "style", "stylesheet", "session"})
            addQtOption(name, true);
        for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"})
            addQtOption(name, false);
    }

    void addQtOption(const char* name, bool takesValue)
    {
        QCommandLineOption option(QString::fromLatin1(name), QString(),
                                  takesValue ? QStringLiteral("value") : QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // What is wrong with the command line, "" when nothing is.
    QString mistake() const
    {
        const QStringList positional = parser.positionalArguments();
        if (!parser.isSet(quarantine) && !positional.isEmpty())
            return QStringLiteral("unexpected argument '") + positional.first() +
                   QStringLiteral("'");
        return QString();
    }
};

int runQuarantine(const QString& installation, const QString& word, const QStringList& files)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto action = telvar::QuarantineCommand::actionNamed(word);
    const qsizetype filesWanted = action == telvar::QuarantineCommand::Action::Export ? 1 : 0;
    if (!action || files.size() != filesWanted) {
        err << QStringLiteral("Telvar: --quarantine takes list, export FILE.csv or resend\n");
        return 2;
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
    // Whatever the session's umask: the files Telvar makes (and those SQLite
    // makes beside its databases) are never readable by others.
    ::umask(027);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CommandLine line;
    const bool understood = line.parser.parse(arguments);
    const QString mistake = understood ? line.mistake() : line.parser.errorText();
    const bool onlyPrints = !mistake.isEmpty() || line.parser.isSet(line.help) ||
                            line.parser.isSet(QStringLiteral("help-all")) ||
                            line.parser.isSet(line.version);
    const bool headless = understood && line.parser.isSet(line.headless);

    // Without a screen no window system is needed at all.
    std::unique_ptr<QCoreApplication> app;
    if (onlyPrints || headless || line.parser.isSet(line.quarantine))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Telvar"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(telvar::version::kMajor)
                                                .arg(telvar::version::kMinor)
                                                .arg(telvar::version::kRevision));

    if (!mistake.isEmpty()) {
        telvar::writeStandardErrorLine(QStringLiteral("Telvar: ") + mistake +
                                       QStringLiteral(" (telvar --help lists the options)"));
        return 2;
    }
    if (line.parser.isSet(line.help) || line.parser.isSet(QStringLiteral("help-all"))) {
        QTextStream(stdout) << line.parser.helpText();
        return 0;
    }
    if (line.parser.isSet(line.version)) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' '
                            << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    // QApplication has taken its own options away by now.
    line.parser.process(*app);
    const QCommandLineParser& parser = line.parser;

    QString installation = QCoreApplication::applicationDirPath();
    if (parser.isSet(line.installation)) {
        const QFileInfo folder(parser.value(line.installation));
        if (!folder.isDir()) {
            telvar::writeStandardErrorLine(QStringLiteral("Telvar: the installation's folder ") +
                                           folder.filePath() + QStringLiteral(" does not exist"));
            return 1;
        }
        installation = QDir(folder.absoluteFilePath()).absolutePath();
    }
    // Root on another account's installation would leave files there that
    // account's router cannot write, and would act on what that account can
    // put there: refused unless asked for.
    if (const QString refusal = telvar::rootOnForeignFolderRefusal(
            QStringLiteral("telvar"), installation, arguments.mid(1), ::geteuid(),
            parser.isSet(line.allowRoot));
        !refusal.isEmpty()) {
        telvar::writeStandardErrorLine(refusal);
        return 1;
    }
    if (parser.isSet(line.quarantine)) {
        if (headless) {
            telvar::writeStandardErrorLine(
                QStringLiteral("Telvar: --quarantine and --headless cannot be combined"));
            return 2;
        }
        return runQuarantine(installation, parser.value(line.quarantine),
                             parser.positionalArguments());
    }
    if (headless)
        return runHeadless(installation, parser.isSet(line.start));

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
