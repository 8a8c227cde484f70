#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// Whether the router was acquiring, kept in the installation so that a
// router that ended while acquiring (a crash, a power cut, a reboot, a
// service stop) starts acquiring again by itself, and one that a person
// stopped stays stopped.
//
// The file holds one word, "acquiring" or "stopped", and is replaced whole
// (written beside it, then renamed), so a power cut leaves the old state or
// the new one, never a mix. It is read as hostile: only its first bytes,
// and anything but "acquiring" means stopped.
class RunState {
public:
    explicit RunState(QString path) : m_path(std::move(path)) {}

    // TelvarRun.state in the program's folder, or in the user's data folder
    // when the program's folder cannot be written.
    static QString pathForInstallation(const QString& appPath);

    const QString& path() const { return m_path; }

    // True when the state says acquiring. A missing file is "stopped"; an
    // unreadable one is an error naming the file.
    Result<bool> wasAcquiring() const;
    // Replaces the state.
    Status save(bool acquiring) const;

private:
    QString m_path;
};

} // namespace telvar
