#pragma once

#include "common/Error.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <utility>

namespace telvar {

class Connection;

// A column of the configuration with the value to write into it.
using ColumnValue = std::pair<QString, QVariant>;

// Writes the configuration's rows, for the grid and for the port form alike.
// Every value is checked against its column first: a whole-number column
// takes a whole number written as text or any finite number (rounded half to
// even), within its range (a clock from 0 to 10); a text column takes text no
// longer than its defined size. A null value stores null. A change is kept
// only when it reached exactly the row it is meant for.
class ConfigRowWriter final {
public:
    // Reads the defined sizes of the configuration's text columns from cn,
    // which must outlive the writer.
    explicit ConfigRowWriter(const Connection& cn);

    // Whether field (matched case-insensitively) is a column that may be
    // written: HTMCONFI's own columns, Puert included, and the clock's
    // interval "Inter".
    static bool isWritable(const QString& field);
    // field as the configuration spells it ("" when it is not writable).
    static QString columnName(const QString& field);
    // Whether field holds whole numbers.
    static bool isWholeNumber(const QString& field);
    // Whether field belongs to the clocks' table (only "Inter").
    static bool isClockColumn(const QString& field);

    // value checked and converted for column field.
    Result<QVariant> valueForColumn(const QString& field, const QVariant& value) const;

    // Writes the values into port puert's row of HTMCONFI with one update,
    // in one transaction that is kept only when it changed exactly that row.
    Status writePort(int puert, const QList<ColumnValue>& values) const;
    // Writes the interval of clock clave.
    Status writeClockInterval(int clave, const QVariant& value) const;
    // Writes value into column field of every port whose machine (null as
    // empty, without its surrounding blanks) equals machine exactly. Returns
    // how many rows it changed.
    Result<int> writeMachinePorts(const QString& machine, const QString& field,
                                  const QVariant& value) const;

private:
    Status writeOneRow(const QString& statement, const QVariantList& values, const QString& table,
                       const QString& where) const;
    Error statementError(const QString& context) const;

    const Connection& m_cn;
    QHash<QString, int> m_textWidths; // upper-cased text column -> defined size
};

} // namespace telvar
