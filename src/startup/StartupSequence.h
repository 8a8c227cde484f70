#pragma once

#include "common/Error.h"

#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

namespace telvar {

struct Modulo1;
class Interaccion;

// The window whose load runs the start-up: its name opens the start-up reports.
inline constexpr const char* kCoverFormName = "TelvarCarat";

// The report of a run-time error during start-up: the window's name and
// ". Form_Load.", two line feeds, the error number, ".- " and the description.
QString startupErrorReport(const Error& error);

// The start-up sequence that runs while the cover is loaded: it reads the
// installation files of the program directory into the program-wide state
// (company, password, language, the chosen Qualitra database and its
// connection string, shifts), makes sure this is the only running instance
// on this machine and finds the cover picture. It writes nothing into the
// installation but its lock. Every failure is reported through ui and ends
// the sequence: run() then returns false and the program must end.
class StartupSequence final {
public:
    // programDir: the directory of the program (RutaApp is derived from it).
    // runtimeDir: where the single-instance lock goes when the program
    // directory cannot be written; "" means the user's runtime directory.
    StartupSequence(Modulo1& m, Interaccion& ui, const QString& programDir,
                    const QString& runtimeDir = QString());

    bool run();

    // Called once the language file has set Idioma, before anything after it
    // can show a box: the program puts Qt's own texts (the standard buttons)
    // into that language there.
    void setOnLanguageKnown(std::function<void(int idioma)> hook)
    {
        m_onLanguageKnown = std::move(hook);
    }

    // The cover picture (RutaIAU + "CARATULA" + Idioma + ".JPG" as found on
    // disk); valid after a successful run().
    const QString& coverPicturePath() const { return m_coverPicturePath; }
    // The single-instance lock, valid after a successful run(). The caller
    // keeps it for the whole run: releasing it lets another instance start.
    std::unique_ptr<QLockFile> takeInstanceLock() { return std::move(m_lock); }

private:
    void setPaths();
    bool readCompanyFile();
    bool readPasswordFile();
    bool readDatabaseDirectory();
    bool readShifts();
    bool ensureSingleInstance();
    bool findCoverPicture();
    bool fail(const Error& error);

    Modulo1& m_m;
    Interaccion& m_ui;
    QString m_programDir;
    QString m_runtimeDir;
    QString m_coverPicturePath;
    std::unique_ptr<QLockFile> m_lock;
    std::function<void(int idioma)> m_onLanguageKnown;
};

} // namespace telvar
