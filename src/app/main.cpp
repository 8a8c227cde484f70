// Telvar: start-up behind the cover window, then the main window; or, with
// --headless, the same router without a screen, as a service.
#include "app/HeadlessInteraccion.h"
#include "app/HeadlessProgram.h"
#include "app/Programa.h"
#include "app/ServiceNotifier.h"
#include "app/StopSignals.h"
#include "common/Modulo1.h"
#include "common/Version.h"
#include "dialogs/widgets/GuiInteraccion.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
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
    if (headless || asksFor(argc, argv, {"--version", "-v", "--help", "-h", "--help-all"}))
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
    parser.addOption(headlessOption);
    parser.addOption(startOption);
    parser.addOption(installationOption);
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
