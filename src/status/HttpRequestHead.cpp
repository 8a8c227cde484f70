#include "status/HttpRequestHead.h"

#include <algorithm>

namespace telvar {

namespace {

// A token's characters (RFC 9110's tchar): what a method and a field name
// are made of.
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
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

// Visible characters only: no blanks, no controls, nothing above ASCII.
bool isVisible(QByteArrayView text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f)
            return false;
    }
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

HttpHeadReading refused(int status)
{
    HttpHeadReading reading;
    reading.outcome = HttpHeadReading::Outcome::Refused;
    reading.refusal = status;
    return reading;
}

// A line without its line feed and the carriage return before it.
QByteArrayView withoutEnd(QByteArrayView line)
{
    if (!line.isEmpty() && line.back() == '\r')
        line.chop(1);
    return line;
}

bool parseRequestLine(QByteArrayView line, HttpRequestHead& head, int& refusal)
{
    refusal = 400;
    const qsizetype firstSpace = line.indexOf(' ');
    if (firstSpace <= 0)
        return false;
    const qsizetype secondSpace = line.indexOf(' ', firstSpace + 1);
    if (secondSpace < 0)
        return false;
    const QByteArrayView method = line.first(firstSpace);
    const QByteArrayView target = line.sliced(firstSpace + 1, secondSpace - firstSpace - 1);
    const QByteArrayView version = line.sliced(secondSpace + 1);
    if (!isToken(method) || target.isEmpty() || !isVisible(target))
        return false;
    if (version == "HTTP/1.1") {
        head.http10 = false;
    } else if (version == "HTTP/1.0") {
        head.http10 = true;
    } else {
        if (version.startsWith("HTTP/") && version.size() == 8 && version[6] == '.')
            refusal = 505;
        return false;
    }
    head.method = method.toByteArray();
    head.target = target.toByteArray();
    return true;
}

bool parseField(QByteArrayView line, HttpRequestHead& head)
{
    // A continuation line (obsolete folding) and blanks before the colon
    // are what request smuggling is made of: refused, not mended.
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !isToken(line.first(colon)))
        return false;
    const QByteArrayView value = trimmedBlanks(line.sliced(colon + 1));
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return false;
    }
    head.fields.append({line.first(colon).toByteArray().toLower(), value.toByteArray()});
    return true;
}

// The refusal a request with a body gets, 0 for one without.
int bodyRefusal(const HttpRequestHead& head)
{
    if (!head.values("transfer-encoding").isEmpty())
        return 413;
    for (const QByteArray& length : head.values("content-length")) {
        if (length.isEmpty())
            return 400;
        for (const char c : length) {
            if (c < '0' || c > '9')
                return 400;
        }
        for (const char c : length) {
            if (c != '0')
                return 413;
        }
    }
    return 0;
}

} // namespace

QList<QByteArray> HttpRequestHead::values(QByteArrayView name) const
{
    QList<QByteArray> found;
    for (const auto& [fieldName, value] : fields) {
        if (fieldName == name)
            found.append(value);
    }
    return found;
}

HttpHeadReading readHttpRequestHead(QByteArrayView buffered, qsizetype maxHeadBytes)
{
    const QByteArrayView bounded = buffered.first(std::min(buffered.size(), maxHeadBytes));
    HttpHeadReading reading;
    HttpRequestHead& head = reading.head;
    bool requestLineRead = false;
    qsizetype at = 0;
    for (;;) {
        const qsizetype end = bounded.indexOf('\n', at);
        if (end < 0) {
            // What is not HTTP at all (a TLS greeting, say) is told by its
            // first bytes, without waiting for a line end that may never come.
            if (!requestLineRead) {
                const QByteArrayView partial = bounded.sliced(at);
                const QByteArrayView method = partial.first(std::max<qsizetype>(
                    0, partial.indexOf(' ') < 0 ? partial.size() : partial.indexOf(' ')));
                if (!method.isEmpty() && !isToken(method) && method != "\r")
                    return refused(400);
            }
            if (buffered.size() > maxHeadBytes)
                return refused(431);
            return {};
        }
        const QByteArrayView line = withoutEnd(bounded.sliced(at, end - at));
        at = end + 1;
        if (!requestLineRead) {
            // Blank lines before a request are let pass (a client may end
            // its previous request's body with one more line end).
            if (line.isEmpty())
                continue;
            int refusal = 0;
            if (!parseRequestLine(line, head, refusal))
                return refused(refusal);
            requestLineRead = true;
            continue;
        }
        if (line.isEmpty())
            break;
        if (!parseField(line, head))
            return refused(400);
    }
    if (const int refusal = bodyRefusal(head); refusal != 0)
        return refused(refusal);
    head.length = at;
    reading.outcome = HttpHeadReading::Outcome::Complete;
    return reading;
}

} // namespace telvar
