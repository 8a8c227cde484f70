#pragma once

#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;

// The statement that lists the active configurators: users whose rights
// begin with "1" and whose status is "0".
inline constexpr const char* kActiveConfigurators =
    "Select * from USU where USUPODER like '1%' and USUSSTAT='0'";

// Whether typed is the password of an active configurator of the SPC
// database that m.CadConexion names: true at the first configurator whose
// stored password (USUCONTR, null as empty) matches. False when none does,
// and also when the database cannot be opened (OpenDBOK has reported why)
// or the users cannot be read (reported here): a router must not become
// closable because its database link broke.
bool configuratorPasswordMatches(Modulo1& m, Interaccion& ui, const QString& typed);

} // namespace telvar
