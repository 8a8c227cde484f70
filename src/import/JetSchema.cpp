#include "import/JetSchema.h"

namespace telvar {

QString jetTypeName(JetType type)
{
    switch (type) {
    case JetType::Boolean:
        return QStringLiteral("Yes/No");
    case JetType::Byte:
        return QStringLiteral("Byte");
    case JetType::Integer:
        return QStringLiteral("Integer");
    case JetType::LongInteger:
        return QStringLiteral("Long Integer");
    case JetType::Currency:
        return QStringLiteral("Currency");
    case JetType::Single:
        return QStringLiteral("Single");
    case JetType::Double:
        return QStringLiteral("Double");
    case JetType::DateTime:
        return QStringLiteral("Date/Time");
    case JetType::Binary:
        return QStringLiteral("Binary");
    case JetType::Text:
        return QStringLiteral("Text");
    case JetType::OleObject:
        return QStringLiteral("OLE Object");
    case JetType::Memo:
        return QStringLiteral("Memo");
    case JetType::ReplicationId:
        return QStringLiteral("Replication ID");
    case JetType::Decimal:
        return QStringLiteral("Decimal");
    }
    return QStringLiteral("?");
}

} // namespace telvar
