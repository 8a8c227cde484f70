// Telvar: start-up behind the cover window, then the main window.
#include "common/Modulo1.h"
#include "config/widgets/Telvar.h"
#include "dialogs/widgets/GuiInteraccion.h"
#include "startup/StartupSequence.h"
#include "startup/widgets/TelvarCarat.h"

#include <QApplication>
#include <QLockFile>
#include <QTimer>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvar"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(TELVAR_VERSION_MAJOR)
                                            .arg(TELVAR_VERSION_MINOR)
                                            .arg(TELVAR_VERSION_REVISION));

    telvar::Modulo1 m;
    // Boxes carry the application's title. The display name is left unset:
    // Qt would append it to every window caption.
    telvar::GuiInteraccion ui(m, QStringLiteral("Telvar"));

    // Every start-up failure has shown its own box; the program then ends.
    telvar::StartupSequence startup(m, ui, QCoreApplication::applicationDirPath());
    if (!startup.run())
        return 1;
    const std::unique_ptr<QLockFile> instanceLock = startup.takeInstanceLock();

    std::unique_ptr<telvar::Telvar> mainWindow;
    telvar::TelvarCarat cover;
    QObject::connect(&cover, &telvar::TelvarCarat::descargada, &app, [&] {
        mainWindow = std::make_unique<telvar::Telvar>(m, ui);
        QObject::connect(mainWindow.get(), &telvar::Telvar::terminarPrograma, &app,
                         [] { QCoreApplication::exit(1); });
        if (!mainWindow->Form_Load()) {
            // Deferred so that the exit code is not lost when the loop starts.
            QTimer::singleShot(0, &app, [] { QCoreApplication::exit(1); });
            return;
        }
        mainWindow->show();
    });
    if (!cover.muestra(startup.rutaCaratula(), ui))
        return 1;

    const int code = app.exec();
    mainWindow.reset();
    return code;
}
