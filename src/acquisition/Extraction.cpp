#include "acquisition/Extraction.h"

#include "common/ErrorNumbers.h"

#include <algorithm>

namespace telvar {

namespace {

Error invalidArgument()
{
    return Error{ErrorNumber::InvalidProcedureCall, QStringLiteral("Telvar"),
                 QStringLiteral("Invalid procedure call or argument")};
}

} // namespace

qsizetype classicPosition(QStringView text, QStringView what)
{
    if (text.isEmpty())
        return 0;
    return text.indexOf(what, 0, Qt::CaseSensitive) + 1;
}

Result<QString> classicMid(QStringView text, qint64 start, qint64 length)
{
    if (start < 1 || length < 0)
        return invalidArgument();
    const qint64 size = text.size();
    if (start > size)
        return QString();
    const qint64 from = start - 1;
    const qint64 count = std::min(length, size - from);
    return text.sliced(static_cast<qsizetype>(from), static_cast<qsizetype>(count)).toString();
}

Result<QString> cutAfterAnchor(QStringView page, qsizetype anchorPosition, qsizetype anchorLength,
                               qint16 inici, qint16 longi)
{
    const qint64 start = qint64{anchorPosition} + qint64{anchorLength} - 1 + qint64{inici};
    return classicMid(page, start, longi);
}

bool isBlankReading(QStringView reading)
{
    for (const QChar c : reading) {
        if (c != u' ')
            return false;
    }
    return true;
}

Result<QString> readMarker(QStringView page, const QString& marker, qint16 inici, qint16 longi)
{
    if (marker.isEmpty())
        return QString();
    const qsizetype position = classicPosition(page, marker);
    if (position < 1)
        return QString();
    return cutAfterAnchor(page, position, marker.size(), inici, longi);
}

Extraction extractReading(QStringView page, const TPuerto& port)
{
    Extraction result;
    const qsizetype position = classicPosition(page, port.Ident);
    if (position <= 0) {
        result.status = ReadingStatus::NotFound;
        result.statusText = port.Ident + QStringLiteral(" not found");
        return result;
    }
    Result<QString> reading =
        cutAfterAnchor(page, position, port.Ident.size(), port.Inici, port.Longi);
    if (!reading.ok()) {
        result.status = ReadingStatus::Failed;
        result.errors.append(reading.error());
        return result;
    }
    result.reading = std::move(reading.value());
    if (isBlankReading(result.reading)) {
        result.status = ReadingStatus::Blank;
        return result;
    }
    result.status = ReadingStatus::Read;
    const auto mark = [&](const QString& marker, QString& into) {
        const Result<QString> value = readMarker(page, marker, port.Inici, port.Longi);
        if (value.ok())
            into = value.value();
        else
            result.errors.append(value.error());
    };
    mark(port.Forma, result.markers.format);
    mark(port.Maqui, result.markers.machine);
    mark(port.Produ, result.markers.product);
    return result;
}

} // namespace telvar
