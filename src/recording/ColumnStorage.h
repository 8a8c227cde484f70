#pragma once

#include "database/Connection.h"

#include <QSqlField>
#include <QString>
#include <QVariant>

namespace telvar {

// What a column of a data table does to a value written into it, so that a
// value read back can be told to be the one written or not: a fixed-width
// text column pads the text with blanks to its width, a numeric column
// rounds a number to its scale or its precision.
class ColumnStorage final {
public:
    // How a numeric column keeps a number.
    enum class Number {
        // Every digit of a double (DOUBLE PRECISION, FLOAT, an unconstrained
        // NUMERIC of PostgreSQL).
        Double,
        // Rounded to decimals() places (NUMERIC(p,s), DECIMAL(p,s), the
        // integer types with 0).
        Decimal,
        // Rounded to a float's precision, seven significant digits (REAL,
        // FLOAT4, SINGLE, FLOAT(p) up to 24 bits).
        Single,
        // Not known (a type the program cannot read).
        Unknown,
    };

    // A character column (fixed width or not), or a column of a type the
    // program cannot read.
    static ColumnStorage text(bool fixedWidth);
    static ColumnStorage number(Number kind, int decimals = 0);

    // From a declared type as a CREATE TABLE writes it ("NUMERIC(8,2)",
    // "REAL", "CHAR(10)", "double precision"); textColumn says whether the
    // engine takes the column for text.
    static ColumnStorage fromDeclaredType(const QString& declaredType, bool textColumn);
    // From the field a server's driver describes in a query's record: the
    // type's identifier (PostgreSQL: the type's oid; ODBC: the SQL type)
    // with its length and scale.
    static ColumnStorage fromField(SqlDialect dialect, const QSqlField& field);

    bool isText() const { return m_text; }
    bool isFixedWidth() const { return m_fixedWidth; }
    Number numberKind() const { return m_number; }
    int decimals() const { return m_decimals; }

    // Whether cell holds written as this column keeps it: the same text
    // (right-trimmed of blanks on both sides in a fixed-width column), or a
    // number that differs from written by no more than the column's own
    // rounding. A null cell holds nothing.
    bool holds(const QVariant& cell, const QVariant& written) const;

    // The relative difference allowed for a number in a column that rounds
    // it to a float's precision: the float's own rounding (half a step of its
    // 24-bit mantissa) and that of the shortest text the server gives for it.
    // The same tight tolerance serves a column whose rounding is not known
    // (a type the driver does not name): a REAL column's rounding passes, a
    // decimal column of unknown scale that dropped decimals does not, and
    // its reading is then written again.
    static constexpr double kFloatRelativeTolerance = 2.4e-7;
    // The relative difference allowed between two doubles that stand for
    // the same number (a number that went to the server as text and came
    // back).
    static constexpr double kDoubleRelativeTolerance = 1e-12;

private:
    bool m_text = false;
    bool m_fixedWidth = false;
    Number m_number = Number::Unknown;
    int m_decimals = 0;
};

} // namespace telvar
