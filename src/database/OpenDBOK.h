#pragma once

#include "common/Error.h"
#include "database/Connection.h"

#include <QString>
#include <memory>
#include <optional>

namespace telvar {

struct Modulo1;
class Interaccion;

// What OpenDBOK is asked to open.
struct OpenRequest {
    // The connection string.
    QString Conexion;
    // The engine tag of the database it names. The configuration database
    // is a file database whatever the SPC database's engine is, so its
    // callers say "[JET4]" here rather than anything in Modulo1 deciding it.
    QString TipoBD;
    // False silences only the report of error -2147467259; every other
    // failure is reported regardless.
    bool Avisa = true;
};

// How an opening ended.
struct OpenDBOKResult {
    // The open connection; null when opening failed.
    std::unique_ptr<Connection> cn;
    // The string the connection was (last) tried with: the request's, with
    // a password typed at the prompt in its password field.
    QString Conexion;
    // The failure, when opening failed: already reported, except error
    // -2147467259 with Avisa false, and nothing for an abandoned prompt.
    std::optional<Error> error;
    // True when the password prompt was left empty or cancelled.
    bool abandoned = false;
    // The password typed at the prompt, when one was: later openings of the
    // program should use it (keepTypedPassword).
    std::optional<QString> typedPassword;

    bool ok() const { return cn != nullptr; }
    explicit operator bool() const { return ok(); }
};

// Opens a connection on request.Conexion with the program's recovery
// policy: the password prompt for a rejected database password, compact and
// repair of a damaged file database ("[JET4]" only), and one masked report
// per failure. m gives the messages' texts.
//
// A password typed at the prompt comes back in the result's typedPassword;
// besides a repaired file, the routine changes nothing that lasts.
OpenDBOKResult OpenDBOK(const Modulo1& m, Interaccion& ui, const OpenRequest& request);

// Makes the password typed at opened's prompt, if one was, the database
// password of the program's later openings (m.PassBD).
void keepTypedPassword(Modulo1& m, const OpenDBOKResult& opened);

// Conexion with its first password field ("Password=", or
// "Jet OLEDB:Database Password=" whose prefix stays) shown as
// "Password=***;", followed by what followed the ";" that closed the
// password. The password's end is read by the string's layout
// (ConnectionFields), so a password holding ";" or "Password=" is hidden
// whole, and a "Password=" inside another value is not taken for it. When
// the layout finds no password field but the text holds "Password="
// anyway, everything from its first occurrence on is hidden:
// masking never shows a password because the string was malformed.
QString maskPassword(const QString& Conexion);

} // namespace telvar
