#include "app/Programa.h"

#include "common/Modulo1.h"
#include "config/widgets/Telvar.h"
#include "startup/StartupSequence.h"
#include "startup/widgets/TelvarCarat.h"

#include <QApplication>
#include <QLockFile>

namespace telvar {

Programa::Programa(Modulo1& m, Interaccion& ui, QString programDir)
    : m_m(m), m_ui(ui), m_programDir(std::move(programDir))
{
}

Programa::~Programa()
{
    // The main window goes before the lock that guards the single instance.
    m_ventana.reset();
    m_caratula.reset();
}

bool Programa::arranca()
{
    // Between the cover closing and the main window showing there is no
    // visible window; Qt must not take that for the end of the program.
    QApplication::setQuitOnLastWindowClosed(false);

    m_startup = std::make_unique<StartupSequence>(m_m, m_ui, m_programDir);
    if (!m_startup->run()) {
        m_fallo = true;
        return false;
    }
    m_lock = m_startup->takeInstanceLock();

    m_caratula = std::make_unique<TelvarCarat>();
    connect(m_caratula.get(), &TelvarCarat::unloaded, this, &Programa::abreVentanaPrincipal);
    if (!m_caratula->showCover(m_startup->coverPicturePath(), m_ui)) {
        m_fallo = true;
        return false;
    }
    return true;
}

void Programa::abreVentanaPrincipal()
{
    m_ventana = std::make_unique<Telvar>(m_m, m_ui);
    connect(m_ventana.get(), &Telvar::terminarPrograma, this, &Programa::termina);
    if (!m_ventana->Form_Load()) {
        termina();
        return;
    }
    m_ventana->show();
    QApplication::setQuitOnLastWindowClosed(true);
}

void Programa::termina()
{
    m_fallo = true;
    if (m_ventana)
        m_ventana->hide();
    QCoreApplication::exit(1);
}

} // namespace telvar
