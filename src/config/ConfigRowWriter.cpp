#include "config/ConfigRowWriter.h"

#include "common/ErrorNumbers.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cfenv>
#include <cmath>

namespace telvar {

namespace {

enum class Table { Config, Clocks };

struct WritableColumn {
    const char* field;
    Table table;
    bool whole;
};

constexpr WritableColumn kWritables[] = {
    {"Puert", Table::Config, true},  {"Descr", Table::Config, false},
    {"WebPg", Table::Config, false}, {"Ident", Table::Config, false},
    {"Inici", Table::Config, true},  {"Longi", Table::Config, true},
    {"Estac", Table::Config, false}, {"Maqui", Table::Config, false},
    {"Produ", Table::Config, false}, {"Forma", Table::Config, false},
    {"Carac", Table::Config, false}, {"Opera", Table::Config, false},
    {"Reloj", Table::Config, true},  {"Inter", Table::Clocks, true},
};

const WritableColumn* writable(const QString& field)
{
    for (const WritableColumn& c : kWritables) {
        if (field.compare(QLatin1String(c.field), Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

Error valueError(long long number, const QString& description)
{
    return Error{number, QStringLiteral("Telvar"), description};
}

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace

ConfigRowWriter::ConfigRowWriter(const Connection& cn) : m_cn(cn)
{
    for (const WritableColumn& c : kWritables) {
        if (c.whole || c.table != Table::Config)
            continue;
        // A text column whose size cannot be read is written unchecked: the
        // width check has already vouched for the key columns.
        const Result<int> width =
            m_cn.definedSize(QStringLiteral("HTMCONFI"), QLatin1String(c.field));
        if (width && width.value() > 0)
            m_textWidths.insert(QString::fromLatin1(c.field).toUpper(), width.value());
    }
}

bool ConfigRowWriter::isWritable(const QString& field)
{
    return writable(field) != nullptr;
}

QString ConfigRowWriter::columnName(const QString& field)
{
    const WritableColumn* column = writable(field);
    return column ? QString::fromLatin1(column->field) : QString();
}

bool ConfigRowWriter::isWholeNumber(const QString& field)
{
    const WritableColumn* column = writable(field);
    return column && column->whole;
}

bool ConfigRowWriter::isClockColumn(const QString& field)
{
    const WritableColumn* column = writable(field);
    return column && column->table == Table::Clocks;
}

Result<QVariant> ConfigRowWriter::valueForColumn(const QString& field, const QVariant& value) const
{
    const WritableColumn* column = writable(field);
    if (!column)
        return valueError(ErrorNumber::CannotUpdate, QStringLiteral("Cannot update: the column ") +
                                                         field + QStringLiteral(" is read-only"));
    const QString name = QLatin1String(column->field);
    if (value.isNull())
        return QVariant(column->whole ? QMetaType::fromType<qlonglong>()
                                      : QMetaType::fromType<QString>());
    if (!column->whole) {
        const QString text = value.toString();
        const auto width = m_textWidths.constFind(name.toUpper());
        if (width != m_textWidths.cend() && text.size() > width.value())
            return valueError(ErrorNumber::FieldTooSmall,
                              QStringLiteral("The field is too small to accept the amount of data "
                                             "you attempted to add: ") +
                                  name + QStringLiteral(" holds at most ") +
                                  QString::number(width.value()) +
                                  QStringLiteral(" characters, \"") + text +
                                  QStringLiteral("\" has ") + QString::number(text.size()));
        return QVariant(text);
    }

    const bool isClock = name == QLatin1String("Reloj");
    // The acquisition reads a start and a length as 16-bit numbers: one
    // beyond them would be stored and then refuse every start.
    const bool isOffset = name == QLatin1String("Inici") || name == QLatin1String("Longi");
    const qlonglong minimum = isClock || column->table == Table::Clocks ? 0
                              : isOffset                                ? -32768
                                                                        : -2147483647LL - 1;
    const qlonglong maximum = isClock ? 10 : isOffset ? 32767 : 2147483647LL;
    const auto overflow = [&](const QString& shown) {
        return valueError(ErrorNumber::Overflow,
                          QStringLiteral("Overflow: ") + name +
                              QStringLiteral(" takes a whole number from ") +
                              QString::number(minimum) + QStringLiteral(" to ") +
                              QString::number(maximum) + QStringLiteral(", not ") + shown);
    };
    qlonglong number = 0;
    if (isNumber(value)) {
        const double given = value.toDouble();
        if (!std::isfinite(given))
            return overflow(QString::number(given));
        // Half-way values go to the even neighbour, as the classic whole-number
        // conversion rounds them.
        const int previousMode = std::fegetround();
        std::fesetround(FE_TONEAREST);
        const double rounded = std::nearbyint(given);
        std::fesetround(previousMode);
        if (rounded < double(minimum) || rounded > double(maximum))
            return overflow(QString::number(given, 'g', 17));
        number = static_cast<qlonglong>(rounded);
    } else {
        const QString text = value.toString();
        const QString digits = text.trimmed();
        if (digits.isEmpty())
            return QVariant(QMetaType::fromType<qlonglong>());
        bool ok = false;
        number = digits.toLongLong(&ok);
        if (!ok)
            return valueError(ErrorNumber::TypeMismatch,
                              QStringLiteral("Type mismatch: ") + name +
                                  QStringLiteral(" takes a whole number, not \"") + text +
                                  QStringLiteral("\""));
        if (number < minimum || number > maximum)
            return overflow(QString::number(number));
    }
    return QVariant(number);
}

Status ConfigRowWriter::writePort(int puert, const QList<ColumnValue>& values) const
{
    if (values.isEmpty())
        return {};
    QString assignments;
    QVariantList bound;
    for (const ColumnValue& column : values) {
        if (isClockColumn(column.first))
            return valueError(ErrorNumber::CannotUpdate,
                              QStringLiteral("Cannot update: ") + column.first +
                                  QStringLiteral(" is not a column of HTMCONFI"));
        Result<QVariant> value = valueForColumn(column.first, column.second);
        if (!value)
            return value.error();
        if (!assignments.isEmpty())
            assignments += QStringLiteral(", ");
        assignments += columnName(column.first) + QStringLiteral(" = ?");
        bound.append(value.value());
    }
    bound.append(puert);
    return writeOneRow(
        QStringLiteral("UPDATE HTMCONFI SET ") + assignments + QStringLiteral(" WHERE Puert = ?"),
        bound, QStringLiteral("HTMCONFI"), QStringLiteral("port ") + QString::number(puert));
}

Status ConfigRowWriter::writeClockInterval(int clave, const QVariant& value) const
{
    Result<QVariant> interval = valueForColumn(QStringLiteral("Inter"), value);
    if (!interval)
        return interval.error();
    return writeOneRow(QStringLiteral("UPDATE HTMRELOJ SET INTER = ? WHERE CLAVE = ?"),
                       {interval.value(), clave}, QStringLiteral("HTMRELOJ"),
                       QStringLiteral("clock ") + QString::number(clave));
}

Result<int> ConfigRowWriter::writeMachinePorts(const QString& machine, const QString& field,
                                               const QVariant& value) const
{
    if (!isWritable(field) || isClockColumn(field))
        return valueError(ErrorNumber::CannotUpdate, QStringLiteral("Cannot update: the column ") +
                                                         field + QStringLiteral(" is read-only"));
    Result<QVariant> checked = valueForColumn(field, value);
    if (!checked)
        return checked.error();
    // LTRIM and RTRIM take blanks only, as the comparison of keys padded
    // with blanks needs; a null machine compares as empty.
    const QString statement = QStringLiteral("UPDATE HTMCONFI SET ") + columnName(field) +
                              QStringLiteral(" = ? WHERE LTRIM(RTRIM(COALESCE(Maqui, ''))) = ?");
    QSqlDatabase db = m_cn.database();
    if (!db.transaction())
        return statementError(QStringLiteral("starting the change of the ports of machine ") +
                              machine);
    int changed = 0;
    {
        // An empty machine is compared as "" (a null QString would bind null).
        const QString compared = machine.isNull() ? QStringLiteral("") : machine;
        Result<QSqlQuery> done = m_cn.exec(statement, {checked.value(), compared});
        if (!done) {
            db.rollback();
            return done.error();
        }
        changed = done.value().numRowsAffected();
    }
    if (!db.commit()) {
        const Error error =
            statementError(QStringLiteral("saving the change of the ports of machine ") + machine);
        db.rollback();
        return error;
    }
    return changed;
}

Error ConfigRowWriter::statementError(const QString& context) const
{
    Error e = engineError(m_cn.dialect(), m_cn.database().lastError(), ErrorPhase::Statement);
    e.description = context + QStringLiteral(": ") + e.description;
    return e;
}

Status ConfigRowWriter::writeOneRow(const QString& statement, const QVariantList& values,
                                    const QString& table, const QString& where) const
{
    // The key may have been left ambiguous by another program since the rows
    // were read (a file without a primary key): the change stands only when
    // it reached exactly the one row it is meant for.
    QSqlDatabase db = m_cn.database();
    if (!db.transaction())
        return statementError(QStringLiteral("starting the change of ") + where);
    int changed = 0;
    {
        Result<QSqlQuery> done = m_cn.exec(statement, values);
        if (!done) {
            db.rollback();
            return done.error();
        }
        changed = done.value().numRowsAffected();
    }
    if (changed != 1) {
        db.rollback();
        if (changed == 0)
            return valueError(ErrorNumber::NoCurrentRecord,
                              QStringLiteral("No current record: ") + where +
                                  QStringLiteral(" is no longer in ") + table);
        return valueError(ErrorNumber::CannotUpdate,
                          QStringLiteral("Cannot update: the change to ") + where +
                              QStringLiteral(" would change ") + QString::number(changed) +
                              QStringLiteral(" rows of ") + table +
                              QStringLiteral(" that share its key; nothing was changed"));
    }
    if (!db.commit()) {
        const Error error = statementError(QStringLiteral("saving the change of ") + where);
        db.rollback();
        return error;
    }
    return {};
}

} // namespace telvar
