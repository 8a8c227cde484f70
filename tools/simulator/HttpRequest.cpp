#include "simulator/HttpRequest.h"

#include <QList>

namespace telvar::simulator {

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

bool isTargetChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F;
}

// The position of the blank line ending the head, and its length.
qsizetype findHeadEnd(QByteArrayView buffer, qsizetype& terminatorLength)
{
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != '\n')
            continue;
        if (i + 1 < buffer.size() && buffer[i + 1] == '\n') {
            terminatorLength = 2;
            return i;
        }
        if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
            terminatorLength = 3;
            return i;
        }
    }
    return -1;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

bool hasToken(QByteArrayView list, QByteArrayView token)
{
    for (QByteArrayView part : QByteArray(list.toByteArray()).split(','))
        if (trimmed(part).compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

qint64 parseNumber(QByteArrayView text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return -1;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

QByteArray queryValue(QByteArrayView query, QByteArrayView key)
{
    while (!query.isEmpty()) {
        const qsizetype amp = query.indexOf('&');
        const QByteArrayView pair = amp < 0 ? query : query.first(amp);
        query = amp < 0 ? QByteArrayView() : query.sliced(amp + 1);
        const qsizetype eq = pair.indexOf('=');
        const QByteArrayView name = eq < 0 ? pair : pair.first(eq);
        if (name == key)
            return eq < 0 ? QByteArray() : pair.sliced(eq + 1).toByteArray();
    }
    return {};
}

ParseResult parseRequestHead(QByteArrayView buffer, const ParseLimits& limits)
{
    ParseResult result;
    // Empty lines before a request line are ignored.
    qsizetype skipped = 0;
    while (skipped < buffer.size() && (buffer[skipped] == '\r' || buffer[skipped] == '\n'))
        ++skipped;
    if (skipped > 4) {
        result.outcome = ParseOutcome::Malformed;
        return result;
    }
    const QByteArrayView rest = buffer.sliced(skipped);
    qsizetype terminatorLength = 0;
    const qsizetype end = findHeadEnd(rest, terminatorLength);
    if (end < 0) {
        result.outcome = rest.size() >= limits.maxHeadBytes ? ParseOutcome::HeadTooLarge
                                                            : ParseOutcome::Incomplete;
        return result;
    }
    if (end + terminatorLength > limits.maxHeadBytes) {
        result.outcome = ParseOutcome::HeadTooLarge;
        return result;
    }
    result.headLength = skipped + end + terminatorLength;
    const QList<QByteArray> lines = rest.first(end).toByteArray().split('\n');
    if (lines.size() > limits.maxHeaderLines + 1) {
        result.outcome = ParseOutcome::HeadTooLarge;
        return result;
    }

    result.outcome = ParseOutcome::Malformed;
    QByteArrayView requestLine = lines.front();
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    const QList<QByteArray> parts = requestLine.toByteArray().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]))
        return result;
    HttpRequest& request = result.request;
    request.method = parts[0];
    QByteArrayView target = parts[1];
    for (char c : target)
        if (!isTargetChar(c))
            return result;
    if (target.startsWith("http://") || target.startsWith("https://")) {
        const qsizetype slash = target.indexOf('/', target.indexOf("//") + 2);
        target = slash < 0 ? QByteArrayView("/") : target.sliced(slash);
    }
    if (!target.startsWith('/'))
        return result;
    const qsizetype hash = target.indexOf('#');
    if (hash >= 0)
        target = target.first(hash);
    const qsizetype question = target.indexOf('?');
    request.path = (question < 0 ? target : target.first(question)).toByteArray();
    request.query = question < 0 ? QByteArray() : target.sliced(question + 1).toByteArray();
    const QByteArrayView version = parts[2];
    if (!version.startsWith("HTTP/"))
        return result;
    if (version == "HTTP/1.1")
        request.minorVersion = 1;
    else if (version == "HTTP/1.0")
        request.minorVersion = 0;
    else {
        result.outcome = ParseOutcome::BadVersion;
        return result;
    }
    request.keepAlive = request.minorVersion == 1;

    bool sawLength = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArrayView line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(' ') || line.startsWith('\t'))
            return result; // folded header lines are obsolete
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.first(colon)))
            return result;
        const QByteArrayView name = line.first(colon);
        const QByteArrayView value = trimmed(line.sliced(colon + 1));
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            const qint64 length = parseNumber(value, 18);
            if (length < 0 || (sawLength && length != request.contentLength))
                return result;
            sawLength = true;
            request.contentLength = length;
        } else if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0) {
            result.outcome = ParseOutcome::Unsupported;
            return result;
        } else if (name.compare("Connection", Qt::CaseInsensitive) == 0) {
            if (hasToken(value, "close"))
                request.keepAlive = false;
            else if (hasToken(value, "keep-alive"))
                request.keepAlive = true;
        }
    }
    if (request.contentLength > limits.maxBodyBytes) {
        result.outcome = ParseOutcome::BodyTooLarge;
        return result;
    }
    result.outcome = ParseOutcome::Complete;
    return result;
}

} // namespace telvar::simulator
