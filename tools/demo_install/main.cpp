// Lays out the demo installation beside the built program:
//   telvar_demo_install <program directory> [--recreate-databases]
//   telvar_demo_install --help
#include "demo/DemoInstallation.h"
#include "demo/covers/DemoCovers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    // The command line is read first: a request for the usage, or a mistake,
    // is answered before anything is created.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lays out a complete demo installation of Telvar in the program "
                       "directory: the installation files, the configuration database, the "
                       "SPC database and its data files, the cover pictures."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption recreate(
        QStringLiteral("recreate-databases"),
        QStringLiteral("Build the databases again even when they exist already."));
    parser.addOption(recreate);
    parser.addPositionalArgument(QStringLiteral("directory"),
                                 QStringLiteral("The program directory (where telvar lies)."));
    QTextStream err(stderr);
    const bool understood = parser.parse(arguments);
    if (understood && parser.isSet(help)) {
        QCoreApplication helpOnly(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("telvar_demo_install"));
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    QString mistake = understood ? QString() : parser.errorText();
    if (understood && positional.isEmpty())
        mistake = QStringLiteral("the program directory is missing");
    else if (understood && positional.size() > 1)
        mistake = QStringLiteral("unexpected argument '") + positional.at(1) + QStringLiteral("'");
    if (!mistake.isEmpty()) {
        err << "telvar_demo_install: " << mistake << Qt::endl
            << "usage: telvar_demo_install <program directory> [--recreate-databases] "
               "(--help for more)"
            << Qt::endl;
        return 2;
    }

    // Pictures are drawn with fonts, which need a GUI application but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = QDir::tempPath() + QStringLiteral("/telvar-demo-runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    }
    QGuiApplication app(argc, argv);

    telvar::demo::DemoInstallationOptions options;
    options.programDir = positional.first();
    options.recreateDatabases = parser.isSet(recreate);
    const telvar::Status status =
        telvar::demo::buildDemoInstallation(options, telvar::demo::drawDemoCover);
    if (!status) {
        err << "demo installation failed: " << status.error().description << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "demo installation ready in " << options.programDir << Qt::endl;
    return 0;
}
