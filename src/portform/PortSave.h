#pragma once

#include "common/Error.h"
#include "config/ConfigRowWriter.h"
#include "config/ConfigSchema.h"
#include "portform/PortBoxes.h"

#include <QList>
#include <QString>

namespace telvar {

struct Modulo1;
class Interaccion;
class ConfigGridModel;

// The columns the port form writes into the port's row, converted from its
// boxes: texts without their surrounding blanks, the start, length and clock
// as the number their text begins with, each key as its first (key width)
// characters (which drops what a picker adds after the key).
QList<ColumnValue> portColumns(int portNumber, const PortBoxes& boxes, const KeyWidths& widths);

// The question asked when a save changes the port's operator, in language
// idioma (1 Spanish, 2 English; any other the Spanish).
QString operatorQuestion(const QString& newOperator, const QString& machine, int idioma);
// The question asked when a save changes the port's product.
QString productQuestion(const QString& newProduct, const QString& machine, int idioma);

// Saving the port form (its Grabar button): writes the boxes into the row of
// port portNumber in one update, then, when the operator or the product
// differs from the stored one, asks whether to carry it over to every port
// of the same machine and does so on Yes. The grid's rows are read again
// after a carried-over change. A failure is reported in the timed box
// ("HtmlCanal. CmdAceptar.", the error); what was written before it stays.
class PortSave final {
public:
    PortSave(const Modulo1& m, Interaccion& ui, ConfigGridModel& rsConf);

    // True when the port was saved (the form closes); false after a
    // reported failure (the form stays open).
    bool cmdAceptar(int portNumber, const PortBoxes& boxes);

private:
    Status save(int portNumber, const PortBoxes& boxes);
    // Asks question and, on Yes, writes value into field of every port of
    // machine, then reads the grid's rows again.
    Status offerToMachine(const QString& question, const QString& machine, const QString& field,
                          const QString& value);

    const Modulo1& m_m;
    Interaccion& m_ui;
    ConfigGridModel& m_rsConf;
};

} // namespace telvar
