#pragma once

// Reading one HTTP/1.x request head from the bytes a client sent, bounded:
// a head longer than the limit, too many header lines or a body longer than
// the limit are refused rather than buffered.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace telvar::simulator {

struct HttpRequest {
    QByteArray method;
    QByteArray path;  // the target's path, starting with '/'
    QByteArray query; // after '?', without it; empty when absent
    int minorVersion = 1;
    bool keepAlive = true;
    qint64 contentLength = 0;
};

enum class ParseOutcome {
    Incomplete,   // the head has not fully arrived yet
    Complete,     // request and headLength are set
    Malformed,    // 400
    HeadTooLarge, // 431
    BodyTooLarge, // 413
    Unsupported,  // 501: a request body in chunks
    BadVersion,   // 505
};

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Incomplete;
    HttpRequest request;
    qsizetype headLength = 0; // bytes of the head, terminator included
};

struct ParseLimits {
    qsizetype maxHeadBytes = 8192;
    int maxHeaderLines = 100;
    qint64 maxBodyBytes = 65536;
};

ParseResult parseRequestHead(QByteArrayView buffer, const ParseLimits& limits = {});

// The value of key in a query ("a=1&b=2"), percent-decoding left out: the
// simulator's parameters are plain; empty when absent.
QByteArray queryValue(QByteArrayView query, QByteArrayView key);

// A non-negative decimal number of at most maxDigits digits, or -1.
qint64 parseNumber(QByteArrayView text, int maxDigits = 12);

} // namespace telvar::simulator
