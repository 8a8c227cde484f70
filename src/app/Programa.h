#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLockFile;

namespace telvar {

struct Modulo1;
class Interaccion;
class Router;
class QtTranslations;
class StartupSequence;
class Telvar;
class TelvarCarat;

// The program's run from start-up to the main window: the start-up sequence
// behind the cover, then, when the cover closes, the main window and its
// load. Qt's own texts (standard buttons) speak the installation's language
// from the moment the language file is read until the run ends. Failures end the run with exit code
// 1 (their reasons have been shown); closing the cover never ends the program by itself.
class Programa final : public QObject {
    Q_OBJECT
public:
    Programa(Modulo1& m, Interaccion& ui, QString programDir);
    ~Programa() override;

    // Start-up and the cover. False when the program must end at once.
    bool start();

    // True once a failure has asked the program to end.
    bool failed() const { return m_failed; }

    TelvarCarat* cover() const { return m_cover.get(); }
    Telvar* mainWindow() const { return m_mainWindow.get(); }

private:
    void openMainWindow();
    void end();

    Modulo1& m_m;
    Interaccion& m_ui;
    QString m_programDir;
    // Declared first of the owned parts, so the translation outlives every
    // window of the run.
    std::unique_ptr<QtTranslations> m_qtTranslations;
    std::unique_ptr<StartupSequence> m_startup;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<TelvarCarat> m_cover;
    std::unique_ptr<Router> m_router;
    std::unique_ptr<Telvar> m_mainWindow;
    bool m_failed = false;
};

} // namespace telvar
