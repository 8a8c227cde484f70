#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace telvar {

// The column types of a Jet table that the import converts.
enum class JetType {
    Boolean,       // Yes/No
    Byte,          // Number (Byte)
    Integer,       // Number (Integer), 16 bits
    LongInteger,   // Number (Long Integer) and AutoNumber, 32 bits
    Currency,      // 64-bit integer of ten-thousandths
    Single,        // Number (Single)
    Double,        // Number (Double)
    DateTime,      // Date/Time
    Binary,        // Binary(n), fixed-size bytes
    Text,          // Text(n)
    OleObject,     // OLE Object, bytes of any length
    Memo,          // Memo (and Hyperlink), text of any length
    ReplicationId, // Number (Replication ID), a GUID
    Decimal,       // Number (Decimal), scaled integer of up to 28 digits
};

// The type's name as Access shows it, for reports.
QString jetTypeName(JetType type);

struct JetColumn {
    QString name;
    JetType type = JetType::Text;
    // Text: the defined size in characters; Binary: in bytes; 0 otherwise.
    int width = 0;
    // Decimal: the precision and scale the column declares.
    int precision = 0;
    int scale = 0;
    bool autoNumber = false;
    // The column's Required property (or a primary key's column).
    bool required = false;
};

struct JetIndexKey {
    int column = 0; // position in JetTable::columns
    bool descending = false;
};

struct JetIndex {
    enum class Kind { Primary, Unique, Plain };
    QString name;
    Kind kind = Kind::Plain;
    QList<JetIndexKey> keys;
};

// A user table of a Jet file as the import converts it: the columns it
// carries over (in the table's order), its indexes over them, the number
// of rows its definition counts, and what of it is left out (a sentence
// each).
struct JetTable {
    QString name;
    qint64 declaredRows = 0;
    QList<JetColumn> columns;
    QList<JetIndex> indexes;
    QStringList notes;
};

} // namespace telvar
