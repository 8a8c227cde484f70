#pragma once

#include "common/Error.h"
#include "common/Interaccion.h"

#include <QList>
#include <QString>

namespace telvar {

// One entry of QLDirec.iau: an engine tag and its data fields.
struct DatabaseEntry {
    QString TipoBD;
    QString RutaBD;   // "[JET4]": directory of the database file
    QString Servidor; // server tags: server, database, user
    QString BaseDatos;
    QString UsuarioBD;
};

// The database directory QLDirec.iau: "[IMAGE]", one field this program does
// not use, then entries numbered 1, 2, 3 ... in file order. A field that is
// not an engine tag where a tag is expected is skipped on its own; tags are
// compared exactly (case and blanks count).
class DatabaseDirectory final {
public:
    // The most entries a directory may list: far more than any menu can
    // usefully offer, few enough that a damaged file cannot build a menu of
    // millions of lines.
    static constexpr int kMaxEntries = 1000;

    // Reads the file at path. Errors: the file missing, unreadable or above
    // the size bound, more than kMaxEntries entries, or an entry cut short by
    // the end of the file (named by file, field and line).
    static Result<DatabaseDirectory> read(const QString& path);

    // False when the first field, trimmed, is not "[IMAGE]" (an empty file
    // included); the entries are then empty.
    bool hasCurrentFormat() const { return m_currentFormat; }
    const QList<DatabaseEntry>& entries() const { return m_entries; }

    // One line per entry, each ended by a line feed:
    // n ". " tag " " directory, or n ". " tag " " server "." database.
    QString menuText() const;
    // The list picker that offers the entries.
    ListPickerRequest menu() const;
    // The directory of the first "[JET4]" entry; "" when there is none.
    QString firstJetDirectory() const;

private:
    bool m_currentFormat = false;
    QList<DatabaseEntry> m_entries;
};

// The entry number the person chooses: 1 without asking when there are at
// most two entries, otherwise the menu on the list picker, shown again until
// its Resultado is a number in 1..count.
int chooseDatabase(const DatabaseDirectory& directory, Interaccion& ui);

} // namespace telvar
