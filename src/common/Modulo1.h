#pragma once

#include "common/MessageId.h"
#include "common/MessageTable.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace telvar {

// The program-wide state: what start-up reads from the installation, the
// message table, the key widths and the connection strings. One object, owned
// by main and handed to whoever needs it.
struct Modulo1 {
    // Start-up variables
    QString RutaApp;     // program directory, ending in the separator
    QString RutaIAU;     // RutaApp + "IAu" + separator
    QString NomProducto; // "Qualitra"
    QString Empresa;
    QString CodProducto;
    QString PassBD;
    QString TipoBD;
    QString RutaBD;
    QString RutaDatos;
    QString Servidor;
    QString BaseDatos;
    QString UsuarioBD;
    QString CadConexion;
    QString ArchivoAyuda; // RutaApp + "QLTR.HLP"

    // Shift table: element 0 exists and stays empty.
    qint16 NumTurnos = 0;
    QStringList TurnoClave;
    QList<qint16> TurnoHasta;

    // Language
    qint16 Idioma = 0;
    MessageTable messageTable;

    // Key widths of the master tables
    qint16 AnchoUSU = 0;
    qint16 AnchoEST = 0;
    qint16 AnchoMAQ = 0;
    qint16 AnchoPRO = 0;
    qint16 AnchoFRM = 0;
    qint16 AnchoCAR = 0;

    // Path of the configuration database named by TLVDirec.IAU
    QString RutaConf;

    // Mensajes(section, number) in the current language.
    QString Mensajes(int section, int number) const
    {
        return messageTable.text(section, number, Idioma);
    }
    QString Mensajes(MessageId id) const { return Mensajes(id.section, id.number); }
};

} // namespace telvar
