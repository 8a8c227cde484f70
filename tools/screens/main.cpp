// telvar_screens: pictures of the program's windows, as a person sees them,
// at a small and a large window size, so that their layout can be looked at
// without clicking through the program. It lays out a demo installation of
// its own in a temporary folder, starts it as the program does, polls the
// demo stations (the station simulator must serve them on 127.0.0.1:8088,
// as ./scripts/demo arranges) and saves one PNG per window and size.
//
//   telvar_screens OUTDIR
#include "app/Router.h"
#include "app/widgets/Telvar.h"
#include "common/Modulo1.h"
#include "config/widgets/TelvarConfig.h"
#include "demo/DemoInstallation.h"
#include "demo/covers/DemoCovers.h"
#include "dialogs/widgets/GuiInteraccion.h"
#include "dialogs/widgets/Salir.h"
#include "portform/widgets/HtmlCanal.h"
#include "startup/StartupSequence.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

using namespace telvar;

namespace {

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget& window, const QString& dir, const QString& name)
{
    window.raise();
    window.activateWindow();
    waitMs(400);
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!window.grab().save(path)) {
        QTextStream(stderr) << "telvar_screens: cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Telvar"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Saves pictures of Telvar's windows at 1024x768 and 1920x1080, on a demo installation "
        "of its own (the station simulator must serve 127.0.0.1:8088)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("OUTDIR"),
                                 QStringLiteral("Folder for the pictures (made when missing)."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        QTextStream(stderr) << "telvar_screens: give one output folder (see --help)\n";
        return 2;
    }
    const QString outDir = parser.positionalArguments().first();
    if (!QDir().mkpath(outDir)) {
        QTextStream(stderr) << "telvar_screens: cannot make the folder " << outDir << '\n';
        return 1;
    }
    // A box that waits for an answer would hold the pictures for ever.
    QTimer::singleShot(180000, [] {
        std::fputs("telvar_screens: a window is waiting for an answer; giving up\n", stderr);
        std::_Exit(3);
    });

    QTemporaryDir programDir;
    demo::DemoInstallationOptions options;
    options.programDir = programDir.path();
    if (const Status built = demo::buildDemoInstallation(options, demo::drawDemoCover); !built) {
        QTextStream(stderr) << "telvar_screens: " << built.error().description << '\n';
        return 1;
    }
    // What windows keep between runs stays in this run's folder.
    qputenv("XDG_CONFIG_HOME", programDir.filePath(QStringLiteral("config")).toUtf8());

    Modulo1 m;
    GuiInteraccion ui(m, QStringLiteral("Telvar"));
    StartupSequence startup(m, ui, programDir.path());
    if (!startup.run())
        return 1;
    Router router(m, ui);
    router.open();
    Telvar window(m, ui, router);
    if (!window.Form_Load())
        return 1;
    window.show();
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("SSTab1"));

    bool saved = true;
    bool polled = false;
    const QSize sizes[] = {{1024, 768}, {1920, 1080}};
    for (const QSize& size : sizes) {
        const QString suffix = QStringLiteral("-%1x%2").arg(size.width()).arg(size.height());
        window.resize(size);
        tabs->setCurrentIndex(0);
        saved &= save(window, outDir, QStringLiteral("main-configuration") + suffix);
        if (!polled) {
            // Every clock polls its ports at once, a few times over.
            router.pressStartStop();
            waitMs(1500);
            for (int round = 0; round < 3; ++round) {
                for (int reloj = 1; reloj <= 10; ++reloj)
                    window.acquisition().bReloj_Click(reloj);
                waitMs(2500);
            }
            polled = true;
        }
        tabs->setCurrentIndex(1);
        saved &= save(window, outDir, QStringLiteral("main-readings") + suffix);
    }
    if (window.acquisition().isRunning())
        router.pressStartStop();
    waitMs(500);

    {
        HtmlCanal form(m, ui, window.configDatabase().RsConf(), router.pageLoader(), &window);
        form.PuertoConf = 1;
        if (form.Form_Load()) {
            form.show();
            waitMs(3000); // its preview reads the port's page
            saved &= save(form, outDir, QStringLiteral("port-form"));
        }
    }
    {
        TelvarConfig chooser(m, ui, &window);
        chooser.show();
        saved &= save(chooser, outDir, QStringLiteral("configuration-chooser"));
    }
    {
        Salir exit(&window);
        exit.Leyenda = m.Mensajes(43, 28);
        exit.Form_Load();
        exit.show();
        saved &= save(exit, outDir, QStringLiteral("exit"));
    }
    window.hide();
    return saved ? 0 : 1;
}
