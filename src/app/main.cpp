// Telvar: start-up behind the cover window, then the main window.
#include "app/Programa.h"
#include "common/Modulo1.h"
#include "common/Version.h"
#include "dialogs/widgets/GuiInteraccion.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvar"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(telvar::version::kMajor)
                                            .arg(telvar::version::kMinor)
                                            .arg(telvar::version::kRevision));

    telvar::Modulo1 m;
    // Boxes carry the application's title. The display name is left unset:
    // Qt would append it to every window caption.
    telvar::GuiInteraccion ui(m, QStringLiteral("Telvar"));

    telvar::Programa programa(m, ui, QCoreApplication::applicationDirPath());
    if (!programa.start())
        return 1;
    const int code = app.exec();
    return programa.failed() ? 1 : code;
}
