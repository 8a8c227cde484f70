#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

// A plain-text file beside the program that keeps a line for every reading
// that passed its limits but could not be recorded, so that an unattended
// router's losses can be read afterwards. Lines are UTF-8, one per reading,
// appended and flushed at once. The file is kept below a size bound: when a
// line would take it over, the file is renamed with ".old" added (replacing
// an older one) and a new file begins. The files are never written through
// a link, nor when they belong to another account (SafeFiles), and are
// readable by their owner's group only.
class UnrecordedLog final {
public:
    static constexpr qint64 kMaxBytes = qint64(8) * 1024 * 1024;

    // path: the file; fallbackPath: where lines go when the file cannot be
    // written (a read-only program folder).
    UnrecordedLog(QString path, QString fallbackPath);

    // The file of Telvar's installation, with its fallback in the user's
    // data directory.
    static UnrecordedLog forInstallation(const QString& appPath);

    // Appends the line; false when neither file could be written.
    bool append(const QString& line);

    const QString& path() const { return m_path; }
    const QString& fallbackPath() const { return m_fallbackPath; }
    // Why the last line could not be written to the file (and, when it
    // could not either, to the fallback); "" after a line written there.
    const QString& lastError() const { return m_lastError; }

private:
    Status appendTo(const QString& path, const QByteArray& bytes) const;

    QString m_path;
    QString m_fallbackPath;
    QString m_lastError;
};

} // namespace telvar
