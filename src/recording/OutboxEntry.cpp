#include "recording/OutboxEntry.h"

namespace telvar {

QString OutboxEntry::destinationKey() const
{
    // Each part with its length before it: the parts may come from a page
    // and hold any character, and two destinations must never share a key.
    QString key;
    for (const QString* part : {&engine, &base, &Forma, &Maqui, &Produ})
        key += QString::number(part->size()) + QLatin1Char(':') + *part;
    return key;
}

} // namespace telvar
