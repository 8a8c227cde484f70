// The page text of a response body: the charset its Content-Type names, a
// <meta> declaration, or UTF-8.

#include "acquisition/HttpPageLoader.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <optional>

namespace telvar {

namespace {

// How far into the body a <meta> charset declaration is looked for.
constexpr qsizetype kMetaScanBytes = 1024;
constexpr qsizetype kMaxCharsetName = 40;

// A charset name as pages write it, kept only when it looks like one.
QByteArray cleanCharset(QByteArrayView value)
{
    value = value.trimmed();
    if (!value.isEmpty() && (value.front() == '"' || value.front() == '\'')) {
        const char quote = value.front();
        value = value.sliced(1);
        const qsizetype end = value.indexOf(quote);
        if (end >= 0)
            value = value.first(end);
        value = value.trimmed();
    }
    if (value.isEmpty() || value.size() > kMaxCharsetName)
        return {};
    for (const char c : value) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
        if (!ok)
            return {};
    }
    return value.toByteArray();
}

// The charset a <meta charset=...> or <meta http-equiv="Content-Type"
// content="...; charset=..."> declares near the top of the page.
QByteArray metaCharset(const QByteArray& body)
{
    const QByteArray head = body.left(kMetaScanBytes).toLower();
    qsizetype from = 0;
    while ((from = head.indexOf("<meta", from)) >= 0) {
        qsizetype end = head.indexOf('>', from);
        if (end < 0)
            end = head.size();
        const QByteArrayView tag = QByteArrayView(head).sliced(from, end - from);
        const qsizetype at = tag.indexOf("charset");
        if (at >= 0) {
            QByteArrayView rest = tag.sliced(at + 7).trimmed();
            if (rest.startsWith('=')) {
                rest = rest.sliced(1).trimmed();
                qsizetype length = 0;
                const bool quoted =
                    !rest.isEmpty() && (rest.front() == '"' || rest.front() == '\'');
                if (quoted)
                    rest = rest.sliced(1);
                while (length < rest.size() && rest[length] != '"' && rest[length] != '\'' &&
                       rest[length] != ';' && rest[length] != ' ' && rest[length] != '/' &&
                       rest[length] != '\t' && rest[length] != '\n' && rest[length] != '\r')
                    ++length;
                if (const QByteArray name = cleanCharset(rest.first(length)); !name.isEmpty())
                    return name;
            }
        }
        from = end;
    }
    return {};
}

// A decoder for a charset name, as browsers read the names: ISO-8859-1 and
// US-ASCII pages are read as windows-1252, their common superset.
std::optional<QStringDecoder> decoderFor(const QByteArray& charset)
{
    if (charset.isEmpty())
        return std::nullopt;
    const QByteArray lower = charset.toLower();
    const bool western = lower == "iso-8859-1" || lower == "iso8859-1" || lower == "latin1" ||
                         lower == "l1" || lower == "us-ascii" || lower == "ascii" ||
                         lower == "iso_8859-1";
    QStringDecoder decoder(western ? "windows-1252" : charset.constData(),
                           QStringConverter::Flag::Stateless);
    if (!decoder.isValid() && western)
        decoder = QStringDecoder(QStringConverter::Latin1, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder;
}

} // namespace

namespace pagefetch {

QByteArray charsetOfContentType(QByteArrayView contentType)
{
    const QList<QByteArray> parts = contentType.toByteArray().split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        const qsizetype equals = part.indexOf('=');
        if (equals < 0 || part.first(equals).trimmed().toLower() != "charset")
            continue;
        return cleanCharset(QByteArrayView(part).sliced(equals + 1));
    }
    return {};
}

QString decodePageText(const QByteArray& body, const QByteArray& contentType)
{
    // A byte-order mark names the encoding before anything else does.
    if (const std::optional<QStringConverter::Encoding> marked =
            QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*marked, QStringConverter::Flag::Stateless);
        return decoder.decode(body);
    }
    std::optional<QStringDecoder> decoder = decoderFor(charsetOfContentType(contentType));
    if (!decoder)
        decoder = decoderFor(metaCharset(body));
    if (!decoder)
        decoder.emplace(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    return decoder->decode(body);
}

} // namespace pagefetch

} // namespace telvar
