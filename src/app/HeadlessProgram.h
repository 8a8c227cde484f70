#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLockFile;

namespace telvar {

struct Modulo1;
class Interaccion;
class Router;
class ServiceNotifier;

// The program without a screen: the same start-up checks, configuration
// load, acquisition, recording and outbox as with the main window, driven by
// the installation alone. It acquires when the installation's run state says
// the router was acquiring when it last ended; a stop (SIGTERM, SIGINT, or
// SIGHUP: a hang-up stops it as cleanly and reloads nothing) ends the
// acquisition, commits the outbox and ends the program, leaving the run
// state as it was, so the next start acquires again.
class HeadlessProgram final : public QObject {
    Q_OBJECT
public:
    // end is called with the program's exit code once it must end.
    using Ender = std::function<void(int exitCode)>;

    HeadlessProgram(Modulo1& m, Interaccion& ui, QString programDir, ServiceNotifier& notifier,
                    Ender end);
    ~HeadlessProgram() override;

    // Start-up, the configuration, the outbox, then the acquisition: started
    // as a person's Start would (and kept in the run state) when
    // personStarts, else resumed when the run state says so. False when the
    // program must end at once (the reason has been written).
    bool start(bool personStarts = false);
    // The stop of a service: the acquisition ends (the run state is kept),
    // then the program (exit code 0); the outbox is committed as the router
    // goes.
    void stop(int signalNumber);

    Router* router() const { return m_router.get(); }

private:
    void say(const QString& line);

    Modulo1& m_m;
    Interaccion& m_ui;
    QString m_programDir;
    ServiceNotifier& m_notifier;
    Ender m_end;
    QElapsedTimer m_sinceStart;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<Router> m_router;
    bool m_stopping = false;
};

} // namespace telvar
