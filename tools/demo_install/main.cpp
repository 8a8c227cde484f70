// Lays out the demo installation beside the built program:
//   telvar_demo_install <program directory> [--recreate-databases]
#include "demo/DemoInstallation.h"
#include "demo/covers/DemoCovers.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
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
    QTextStream err(stderr);

    const QStringList args = app.arguments().mid(1);
    telvar::demo::DemoInstallationOptions options;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--recreate-databases"))
            options.recreateDatabases = true;
        else if (options.programDir.isEmpty())
            options.programDir = arg;
        else {
            err << "unexpected argument: " << arg << Qt::endl;
            return 2;
        }
    }
    if (options.programDir.isEmpty()) {
        err << "usage: telvar_demo_install <program directory> [--recreate-databases]" << Qt::endl;
        return 2;
    }

    const telvar::Status status =
        telvar::demo::buildDemoInstallation(options, telvar::demo::drawDemoCover);
    if (!status) {
        err << "demo installation failed: " << status.error().description << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << "demo installation ready in " << options.programDir << Qt::endl;
    return 0;
}
