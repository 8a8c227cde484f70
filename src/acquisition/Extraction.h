#pragma once

#include "acquisition/TPuerto.h"
#include "common/Error.h"

#include <QList>
#include <QString>
#include <QStringView>

namespace telvar {

// The cutting of a reading out of a page, with positions counted as the
// classic string functions count them: 1-based, in UTF-16 code units (the
// units of QString), compared case-sensitively.

// Position of the first `what` in `text`, searching from character 1; 0 when
// absent. An empty `what` is found at 1 in any text but the empty one.
qsizetype classicPosition(QStringView text, QStringView what);

// The `length` characters of `text` from position `start`: empty when `start`
// lies past the end, the rest when `length` reaches beyond it. A `start`
// below 1 or a negative `length` is the run-time's invalid-argument error.
Result<QString> classicMid(QStringView text, qint64 start, qint64 length);

// The `longi` characters that start `inici` characters after the last
// character of an anchor found at `anchorPosition` with `anchorLength`
// characters (`inici` 1 is the character right after the anchor).
Result<QString> cutAfterAnchor(QStringView page, qsizetype anchorPosition, qsizetype anchorLength,
                               qint16 inici, qint16 longi);

// A reading that is empty or holds only spaces (tabs and line ends count as
// text, as the classic Trim sees it) is no reading.
bool isBlankReading(QStringView reading);

// The value at a page marker: empty for an empty marker or one absent from
// the page, else the text at the reading's own offset and length counted
// from the marker.
Result<QString> readMarker(QStringView page, const QString& marker, qint16 inici, qint16 longi);

enum class ReadingStatus {
    Read,     // a reading with text: to be shown and checked
    Blank,    // the cut is empty or only spaces: nothing is shown
    NotFound, // the identifier is not in the page
    Failed,   // the port's start or length cannot be cut (see errors)
};

struct PageMarkers {
    QString format;
    QString machine;
    QString product;

    bool operator==(const PageMarkers&) const = default;
};

// What one port's page gives.
struct Extraction {
    ReadingStatus status = ReadingStatus::NotFound;
    // The reading as cut, untrimmed (Read and Blank).
    QString reading;
    // The port's identifier followed by " not found" (NotFound only).
    QString statusText;
    // Read at the port's markers, only for a reading with text.
    PageMarkers markers;
    // Every cut that failed, in the order they were made: the reading's
    // (status Failed), or a marker's, whose value is then left empty while
    // the reading stands.
    QList<Error> errors;
};

// The reading and markers of `port` in `page`, as the polling cycle cuts them.
Extraction extractReading(QStringView page, const TPuerto& port);

} // namespace telvar
