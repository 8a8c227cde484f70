#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <utility>

namespace telvar {

// The head of an HTTP/1.x request (its request line and header fields), as
// the status server reads it off a connection.
struct HttpRequestHead {
    QByteArray method;
    QByteArray target;
    bool http10 = false;
    // Field names lower-cased, values without the blanks around them, in the
    // order they came.
    QList<std::pair<QByteArray, QByteArray>> fields;
    // The bytes the head took, the blank line that ends it included: where
    // the next request starts.
    qsizetype length = 0;

    // The values of every field of that (lower-case) name.
    QList<QByteArray> values(QByteArrayView name) const;
};

struct HttpHeadReading {
    enum class Outcome {
        // The head has not arrived whole yet; read more and ask again.
        Incomplete,
        Complete,
        // Not to be answered but with `refusal`, after which the connection
        // is closed: the rest of what the peer sends cannot be trusted to
        // start a request.
        Refused,
    };
    Outcome outcome = Outcome::Incomplete;
    HttpRequestHead head;
    // 400 malformed, 413 a body (the server takes none), 431 a head over the
    // bound, 505 another HTTP version.
    int refusal = 0;
};

// Reads the request head at the start of `buffered` (bytes from a
// connection, perhaps more than one request). A head longer than
// `maxHeadBytes` is refused whether or not its end has arrived, so a caller
// never needs to hold more than maxHeadBytes + 1 bytes to decide. A request
// that announces a body (Content-Length above 0, any Transfer-Encoding) is
// refused: the status documents are only read.
HttpHeadReading readHttpRequestHead(QByteArrayView buffered, qsizetype maxHeadBytes);

} // namespace telvar
