#include "portform/PortSave.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/NumericValue.h"
#include "common/OwnTexts.h"
#include "common/TrimBlanks.h"
#include "config/ConfigGridModel.h"

namespace telvar {

namespace {

// A key box's key: its first width characters.
QString keyOf(const QString& box, int width)
{
    return box.left(std::max(width, 0));
}

// Text as it is written: an empty box stores an empty text, not null (a
// null QString would be bound as null).
QVariant storedText(const QString& text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

} // namespace

QList<ColumnValue> portColumns(int portNumber, const PortBoxes& boxes, const KeyWidths& widths)
{
    return {
        {QStringLiteral("Puert"), portNumber},
        {QStringLiteral("Descr"), storedText(trimBlanks(boxes.Descr))},
        {QStringLiteral("WebPg"), storedText(trimBlanks(boxes.WebPg))},
        {QStringLiteral("Ident"), storedText(trimBlanks(boxes.Ident))},
        {QStringLiteral("Inici"), numericValue(boxes.Inici)},
        {QStringLiteral("Longi"), numericValue(boxes.Longi)},
        {QStringLiteral("Opera"), storedText(keyOf(boxes.Opera, widths.Opera))},
        {QStringLiteral("Estac"), storedText(keyOf(boxes.Estac, widths.Estac))},
        {QStringLiteral("Maqui"), storedText(keyOf(boxes.Maqui, widths.Maqui))},
        {QStringLiteral("Produ"), storedText(keyOf(boxes.Produ, widths.Produ))},
        {QStringLiteral("Forma"), storedText(keyOf(boxes.Forma, widths.Forma))},
        {QStringLiteral("Carac"), storedText(keyOf(boxes.Carac, widths.Carac))},
        {QStringLiteral("Reloj"), numericValue(boxes.Reloj)},
    };
}

QString operatorQuestion(const QString& newOperator, const QString& machine, int idioma)
{
    // One pass over the text: a key holding "%1" stays as it is.
    return ownText(OwnText::PortOperatorChanged, idioma).arg(newOperator, machine);
}

QString productQuestion(const QString& newProduct, const QString& machine, int idioma)
{
    return ownText(OwnText::PortProductChanged, idioma).arg(newProduct, machine);
}

PortSave::PortSave(const Modulo1& m, Interaccion& ui, ConfigGridModel& rsConf)
    : m_m(m), m_ui(ui), m_rsConf(rsConf)
{
}

bool PortSave::cmdAceptar(int portNumber, const PortBoxes& boxes)
{
    const Status saved = save(portNumber, boxes);
    if (saved)
        return true;
    m_ui.mensaBox(errorReport(QStringLiteral("HtmlCanal. CmdAceptar."), saved.error()),
                  BoxKind::Exclamation, 5);
    return false;
}

Status PortSave::save(int portNumber, const PortBoxes& boxes)
{
    const ConfigRowWriter* writer = m_rsConf.writer();
    const std::optional<int> rowIndex = m_rsConf.rowOfPuert(portNumber);
    if (!writer || !rowIndex)
        return Error{ErrorNumber::NoCurrentRecord, QStringLiteral("Telvar"),
                     QStringLiteral("No current record: port ") + QString::number(portNumber) +
                         QStringLiteral(" is not in the configuration")};

    // What the row held before the save, to tell whether the operator or
    // the product changed.
    const PortBoxes stored = PortBoxes::fromRecord(m_rsConf.rowRecord(*rowIndex));
    const KeyWidths widths = KeyWidths::from(m_m);
    if (Status written = writer->writePort(portNumber, portColumns(portNumber, boxes, widths));
        !written)
        return written;

    const QString machine = trimBlanks(keyOf(boxes.Maqui, widths.Maqui));
    const QString newOperator = trimBlanks(keyOf(boxes.Opera, widths.Opera));
    if (trimBlanks(stored.Opera) != newOperator) {
        if (Status carried = offerToMachine(operatorQuestion(newOperator, machine, m_m.Idioma),
                                            machine, QStringLiteral("Opera"), newOperator);
            !carried)
            return carried;
    }
    const QString newProduct = trimBlanks(keyOf(boxes.Produ, widths.Produ));
    if (trimBlanks(stored.Produ) != newProduct) {
        if (Status carried = offerToMachine(productQuestion(newProduct, machine, m_m.Idioma),
                                            machine, QStringLiteral("Produ"), newProduct);
            !carried)
            return carried;
    }
    return {};
}

Status PortSave::offerToMachine(const QString& question, const QString& machine,
                                const QString& field, const QString& value)
{
    if (!m_ui.questionBox(question))
        return {};
    m_ui.setMousePointer(PointerShape::Hourglass);
    // The grid may have been unbound while the question was open.
    const ConfigRowWriter* writer = m_rsConf.writer();
    Status done;
    if (!writer) {
        done = Error{ErrorNumber::ConnectionNotOpen, QStringLiteral("Telvar"),
                     QStringLiteral("The connection cannot be used: it is not open")};
    } else if (Result<int> changed = writer->writeMachinePorts(machine, field, value); !changed) {
        done = changed.error();
    } else {
        done = m_rsConf.refresh();
    }
    m_ui.setMousePointer(PointerShape::Default);
    return done;
}

} // namespace telvar
