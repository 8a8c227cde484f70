#pragma once

#include "common/Interaccion.h"
#include "common/RuntimeError.h"

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
    // Reads the file at ruta. Errors: the file missing or unreadable, or an
    // entry cut short by the end of the file (named by file, field and line).
    static Result<DatabaseDirectory> lee(const QString& ruta);

    // False when the first field, trimmed, is not "[IMAGE]" (an empty file
    // included); the entries are then empty.
    bool formatoValido() const { return m_formatoValido; }
    const QList<DatabaseEntry>& entradas() const { return m_entradas; }

    // One line per entry, each ended by a line feed:
    // n ". " tag " " directory, or n ". " tag " " server "." database.
    QString textoMenu() const;
    // The list picker that offers the entries.
    ListPickerRequest menu() const;
    // The directory of the first "[JET4]" entry; "" when there is none.
    QString primerDirectorioJet() const;

private:
    bool m_formatoValido = false;
    QList<DatabaseEntry> m_entradas;
};

// The entry number the person chooses: 1 without asking when there are at
// most two entries, otherwise the menu on the list picker, shown again until
// its Resultado is a number in 1..count.
int eligeBaseDatos(const DatabaseDirectory& directorio, Interaccion& ui);

} // namespace telvar
