#include "app/Programa.h"

#include "app/HeadlessInteraccion.h"
#include "app/widgets/Telvar.h"
#include "common/Modulo1.h"
#include "startup/QtTranslations.h"
#include "startup/StartupSequence.h"
#include "startup/widgets/TelvarCarat.h"

#include <QApplication>
#include <QLockFile>

namespace telvar {

Programa::Programa(Modulo1& m, Interaccion& ui, QString programDir)
    : m_m(m), m_ui(ui), m_programDir(std::move(programDir)),
      m_qtTranslations(std::make_unique<QtTranslations>())
{
}

Programa::~Programa()
{
    // The main window goes before the lock that guards the single instance.
    m_mainWindow.reset();
    m_cover.reset();
}

bool Programa::start()
{
    // Between the cover closing and the main window showing there is no
    // visible window; Qt must not take that for the end of the program.
    QApplication::setQuitOnLastWindowClosed(false);

    m_startup = std::make_unique<StartupSequence>(m_m, m_ui, m_programDir);
    // Every box from here on (the database menu, start-up's reports) already
    // has its buttons in the installation's language. Without Qt's
    // catalogue the run goes on with English buttons, and says so once.
    m_startup->setOnLanguageKnown([this](int idioma) {
        if (const std::optional<QString> note = m_qtTranslations->load(idioma))
            writeStandardErrorLine(QStringLiteral("Telvar: ") + *note);
    });
    if (!m_startup->run()) {
        m_failed = true;
        return false;
    }
    m_lock = m_startup->takeInstanceLock();

    m_cover = std::make_unique<TelvarCarat>();
    connect(m_cover.get(), &TelvarCarat::unloaded, this, &Programa::openMainWindow);
    if (!m_cover->showCover(m_startup->coverPicturePath(), m_ui)) {
        m_failed = true;
        return false;
    }
    return true;
}

void Programa::openMainWindow()
{
    m_router = std::make_unique<Router>(m_m, m_ui);
    // The installation's outbox is claimed first, before anything else of
    // the installation is opened: a second router says at once which one
    // holds it. Readings an earlier run left are recorded from now on.
    m_router->open();
    m_mainWindow = std::make_unique<Telvar>(m_m, m_ui, *m_router);
    connect(m_mainWindow.get(), &Telvar::programMustEnd, this, &Programa::end);
    if (!m_mainWindow->Form_Load()) {
        end();
        return;
    }
    m_mainWindow->show();
    QApplication::setQuitOnLastWindowClosed(true);
    // A router that ended while acquiring acquires again by itself.
    m_router->resumeAcquisition();
}

void Programa::end()
{
    m_failed = true;
    if (m_mainWindow)
        m_mainWindow->hide();
    QCoreApplication::exit(1);
}

} // namespace telvar
