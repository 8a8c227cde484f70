#include "recording/ColumnStorage.h"

#include <QMetaType>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace telvar {

namespace {

QString withoutTrailingBlanks(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

// PostgreSQL's type oids of the columns a data table may have.
namespace pg {
constexpr int kInt8 = 20;
constexpr int kInt2 = 21;
constexpr int kInt4 = 23;
constexpr int kFloat4 = 700;
constexpr int kFloat8 = 701;
constexpr int kBpchar = 1042;
constexpr int kNumeric = 1700;
} // namespace pg

// ODBC's SQL types (sql.h, sqlext.h).
namespace odbc {
constexpr int kChar = 1;
constexpr int kNumeric = 2;
constexpr int kDecimal = 3;
constexpr int kInteger = 4;
constexpr int kSmallInt = 5;
constexpr int kFloat = 6;
constexpr int kReal = 7;
constexpr int kDouble = 8;
constexpr int kVarChar = 12;
constexpr int kLongVarChar = -1;
constexpr int kBigInt = -5;
constexpr int kTinyInt = -6;
constexpr int kWChar = -8;
constexpr int kWVarChar = -9;
constexpr int kWLongVarChar = -10;
} // namespace odbc

ColumnStorage fromPostgresField(const QSqlField& field)
{
    using Number = ColumnStorage::Number;
    switch (field.typeID()) {
    case pg::kInt2:
    case pg::kInt4:
    case pg::kInt8:
        return ColumnStorage::number(Number::Decimal, 0);
    case pg::kFloat4:
        return ColumnStorage::number(Number::Single);
    case pg::kFloat8:
        return ColumnStorage::number(Number::Double);
    case pg::kNumeric:
        // Qt's driver gives a NUMERIC(p,s) column's scale as its precision,
        // and -1 for a NUMERIC without one, which keeps every digit sent.
        return field.precision() >= 0 ? ColumnStorage::number(Number::Decimal, field.precision())
                                      : ColumnStorage::number(Number::Double);
    case pg::kBpchar:
        return ColumnStorage::text(true);
    default:
        // CHARACTER(n) is the only type PostgreSQL pads.
        if (field.metaType().id() == QMetaType::QString)
            return ColumnStorage::text(false);
        return ColumnStorage::number(Number::Unknown);
    }
}

ColumnStorage fromOdbcField(const QSqlField& field)
{
    using Number = ColumnStorage::Number;
    switch (field.typeID()) {
    case odbc::kChar:
    case odbc::kWChar:
        return ColumnStorage::text(true);
    case odbc::kVarChar:
    case odbc::kWVarChar:
    case odbc::kLongVarChar:
    case odbc::kWLongVarChar:
        return ColumnStorage::text(false);
    case odbc::kNumeric:
    case odbc::kDecimal:
        return ColumnStorage::number(Number::Decimal, std::max(field.precision(), 0));
    case odbc::kInteger:
    case odbc::kSmallInt:
    case odbc::kBigInt:
    case odbc::kTinyInt:
        return ColumnStorage::number(Number::Decimal, 0);
    case odbc::kReal:
        return ColumnStorage::number(Number::Single);
    case odbc::kFloat:
        // FLOAT(n): its column size is the mantissa's bits.
        return ColumnStorage::number(field.length() > 0 && field.length() <= 24 ? Number::Single
                                                                                : Number::Double);
    case odbc::kDouble:
        return ColumnStorage::number(Number::Double);
    default:
        // A text column of a type not known here may be one that pads.
        if (field.metaType().id() == QMetaType::QString)
            return ColumnStorage::text(true);
        return ColumnStorage::number(Number::Unknown);
    }
}

} // namespace

ColumnStorage ColumnStorage::text(bool fixedWidth)
{
    ColumnStorage storage;
    storage.m_text = true;
    storage.m_fixedWidth = fixedWidth;
    return storage;
}

ColumnStorage ColumnStorage::number(Number kind, int decimals)
{
    ColumnStorage storage;
    storage.m_number = kind;
    storage.m_decimals = kind == Number::Decimal ? decimals : 0;
    return storage;
}

ColumnStorage ColumnStorage::fromDeclaredType(const QString& declaredType, bool textColumn)
{
    const QString type = declaredType.simplified().toUpper();
    if (textColumn) {
        static const QRegularExpression fixed(
            QStringLiteral("^(N?CHAR|CHARACTER|NATIONAL CHAR(ACTER)?|BPCHAR)( ?\\(|$)"));
        return text(fixed.match(type).hasMatch() && !type.contains(QLatin1String("VARYING")));
    }
    static const QRegularExpression decimal(
        QStringLiteral("^(NUMERIC|DECIMAL|DEC|NUMBER) ?\\( ?\\d+ ?(?:, ?(-?\\d+) ?)?\\)$"));
    if (const auto match = decimal.match(type); match.hasMatch())
        return number(Number::Decimal, match.hasCaptured(2) ? match.captured(2).toInt() : 0);
    static const QRegularExpression floatBits(QStringLiteral("^FLOAT ?\\( ?(\\d+) ?\\)$"));
    if (const auto match = floatBits.match(type); match.hasMatch())
        return number(match.captured(1).toInt() <= 24 ? Number::Single : Number::Double);
    static const QRegularExpression single(QStringLiteral("^(REAL|FLOAT4|SINGLE)$"));
    if (single.match(type).hasMatch())
        return number(Number::Single);
    static const QRegularExpression doubles(
        QStringLiteral("^(DOUBLE|DOUBLE PRECISION|FLOAT|FLOAT8|IEEEDOUBLE)$"));
    if (doubles.match(type).hasMatch())
        return number(Number::Double);
    static const QRegularExpression integers(QStringLiteral(
        "^((TINY|SMALL|MEDIUM|BIG)?INT(EGER)?|INT[248]|LONG|SHORT|BYTE|COUNTER)( ?\\(.*\\))?$"));
    if (integers.match(type).hasMatch())
        return number(Number::Decimal, 0);
    return number(Number::Unknown);
}

ColumnStorage ColumnStorage::fromField(SqlDialect dialect, const QSqlField& field)
{
    switch (dialect) {
    case SqlDialect::PostgreSql:
        return fromPostgresField(field);
    case SqlDialect::SqlServer:
    case SqlDialect::SqlAnywhere:
    case SqlDialect::Informix:
        return fromOdbcField(field);
    case SqlDialect::Sqlite:
        break;
    }
    // SQLite's driver describes a value, not its column: its declared type
    // is read instead (fromDeclaredType).
    return field.metaType().id() == QMetaType::QString ? text(false) : number(Number::Unknown);
}

bool ColumnStorage::holds(const QVariant& cell, const QVariant& written) const
{
    if (!cell.isValid() || cell.isNull())
        return false;
    if (written.metaType().id() == QMetaType::QString) {
        if (m_fixedWidth)
            return withoutTrailingBlanks(cell.toString()) ==
                   withoutTrailingBlanks(written.toString());
        return cell.toString() == written.toString();
    }
    bool isNumber = false;
    const double stored = cell.toDouble(&isNumber);
    if (!isNumber)
        return false;
    const double value = written.toDouble();
    if (stored == value)
        return true;
    const double difference = std::abs(stored - value);
    const double magnitude = std::max(std::abs(stored), std::abs(value));
    switch (m_number) {
    case Number::Decimal:
        // Half a unit of the last decimal kept, whichever way the engine
        // rounds a half.
        return difference <=
               0.5 * std::pow(10.0, -m_decimals) + kDoubleRelativeTolerance * magnitude;
    case Number::Single:
    case Number::Unknown:
        return difference <= kFloatRelativeTolerance * magnitude;
    case Number::Double:
        return difference <= kDoubleRelativeTolerance * magnitude;
    }
    return false;
}

} // namespace telvar
