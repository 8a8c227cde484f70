#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace telvar {

// How a text on the page comes near a port's identifier.
enum class NearKind {
    // The same text in other capitals.
    OtherCase,
    // The same text with other blanks (added, missing or different).
    OtherBlanks,
    // A few characters differ (added, missing or replaced).
    Similar,
};

struct NearIdentifier {
    QString text;       // as the page has it, without surrounding blanks
    qsizetype position; // where it starts in the page, 0-based
    NearKind kind;
    int distance; // characters to change (0 for OtherCase and OtherBlanks)
    friend bool operator==(const NearIdentifier&, const NearIdentifier&) = default;
};

// The bounds of the search, which runs on every keystroke in the
// identifier box, on pages up to the loader's bound.
struct NearLimits {
    // Only the page's first this many characters are searched.
    qsizetype pageChars = 256 * 1024;
    // Identifiers longer than this are not searched for by edit distance
    // (whose cost grows with the identifier's length).
    qsizetype identChars = 64;
    // At most this many texts are offered.
    int maxMatches = 5;
};

struct NearIdentifiers {
    QList<NearIdentifier> matches; // nearest first
    qsizetype searched = 0;        // characters of the page searched
    bool pageCut = false;          // the page is longer than what was searched
};

// Texts of page that come nearest to ident, an identifier the page does not
// hold: the identifier in other capitals first, then with other blanks,
// then texts a few characters away (at most a third of its length, and one
// for a short identifier; none is searched for identifiers under three
// characters, where one change matches nearly anything). Each text is
// offered once, at its first place. A text that spans a line end is not
// offered: the identifier box holds one line.
NearIdentifiers nearIdentifiers(QStringView page, QStringView ident, const NearLimits& limits = {});

} // namespace telvar
