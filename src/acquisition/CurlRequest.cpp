#include "acquisition/CurlRequest.h"

#include "common/ErrorNumbers.h"
#include "common/Version.h"

#include <algorithm>
#include <memory>

namespace telvar {

namespace curlrequest {

namespace {

constexpr long kMaxRedirects = 5;
// Response heads of all the responses of one load together (redirects
// included); libcurl bounds each header line on its own.
constexpr qsizetype kMaxHeadBytes = 256 * 1024;

Error pageTooLargeError(qsizetype bound)
{
    return {ErrorNumber::PageTooLarge, QStringLiteral("Telvar"),
            QStringLiteral("The page is larger than %1 bytes; it was cut there.").arg(bound)};
}

// Errors of a transfer that found no station to talk to, or no HTTP answer
// from it: the page stays empty, as a browser shows no document.
bool isUnreachable(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_RANGE_ERROR:
        return true;
    default:
        return false;
    }
}

QByteArray urlPart(CURLU* handle, CURLUPart part, unsigned int flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, flags) != CURLUE_OK || !text)
        return {};
    QByteArray result(text);
    curl_free(text);
    return result;
}

} // namespace

bool curlReady()
{
    struct Global {
        Global() : ok(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
        ~Global()
        {
            if (ok)
                curl_global_cleanup();
        }
        bool ok;
    };
    static const Global global;
    return global.ok;
}

Error curlError(CURLcode code, const QString& detail)
{
    QString text = QString::fromUtf8(curl_easy_strerror(code));
    QString extra = detail.trimmed();
    // libcurl's detail often ends with the general text again.
    if (extra.endsWith(QStringLiteral(": ") + text))
        extra.chop(text.size() + 2);
    if (!extra.isEmpty() && extra != text)
        text += QStringLiteral(": ") + extra;
    return {static_cast<long long>(code), QStringLiteral("libcurl"), text};
}

Error multiError(CURLMcode code)
{
    return curlError(code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT,
                     QString::fromUtf8(curl_multi_strerror(code)));
}

Result<Address> parseAddress(const QString& url)
{
    if (!curlReady())
        return curlError(CURLE_FAILED_INIT);
    const QByteArray text = url.trimmed().toUtf8();
    if (text.isEmpty())
        return curlError(CURLE_URL_MALFORMAT, QStringLiteral("the address is empty"));
    if (text.contains('\0'))
        return curlError(CURLE_URL_MALFORMAT, QStringLiteral("the address holds a NUL character"));
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle)
        return curlError(CURLE_OUT_OF_MEMORY);
    const CURLUcode parsed = curl_url_set(handle.get(), CURLUPART_URL, text.constData(), 0);
    if (parsed != CURLUE_OK)
        return curlError(parsed == CURLUE_UNSUPPORTED_SCHEME ? CURLE_UNSUPPORTED_PROTOCOL
                                                             : CURLE_URL_MALFORMAT,
                         QString::fromUtf8(curl_url_strerror(parsed)));
    const QByteArray scheme = urlPart(handle.get(), CURLUPART_SCHEME).toLower();
    if (scheme != "http" && scheme != "https")
        return curlError(CURLE_UNSUPPORTED_PROTOCOL,
                         QStringLiteral("only http and https pages are loaded, not \"%1\"")
                             .arg(QString::fromUtf8(scheme)));
    Address address;
    address.url = urlPart(handle.get(), CURLUPART_URL);
    address.hostKey = urlPart(handle.get(), CURLUPART_HOST).toLower() + ':' +
                      urlPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (address.url.isEmpty())
        return curlError(CURLE_URL_MALFORMAT);
    return address;
}

Request::~Request()
{
    if (m_easy)
        curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

std::optional<Error> Request::setUp(const QByteArray& address, const QList<QByteArray>& headers,
                                    const PageLimits& limits)
{
    if (!curlReady())
        return curlError(CURLE_FAILED_INIT);
    m_easy = curl_easy_init();
    if (!m_easy)
        return curlError(CURLE_FAILED_INIT);
    m_maxBody = std::max<qsizetype>(limits.maxBodyBytes, 0);
    m_errorText[0] = '\0';
    for (const QByteArray& header : headers) {
        curl_slist* grown = curl_slist_append(m_headers, header.constData());
        if (!grown)
            return curlError(CURLE_OUT_OF_MEMORY);
        m_headers = grown;
    }
    static const QByteArray userAgent = "Telvar/" + QByteArray::number(version::kMajor) + '.' +
                                        QByteArray::number(version::kMinor) + '.' +
                                        QByteArray::number(version::kRevision);
    const long timeLimit = std::max(limits.timeLimitMs, 1);
    const long connectLimit = std::clamp<long>(limits.connectTimeoutMs, 1, timeLimit);
    CURLcode code = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK)
            code = curl_easy_setopt(m_easy, option, value);
    };
    set(CURLOPT_ERRORBUFFER, m_errorText);
    set(CURLOPT_URL, address.constData());
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_HTTPHEADER, m_headers);
    set(CURLOPT_USERAGENT, userAgent.constData());
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Station pages are on the plant's network: never through a proxy
    // that the environment happens to name.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_TCP_NODELAY, 1L);
    set(CURLOPT_TIMEOUT_MS, timeLimit);
    set(CURLOPT_CONNECTTIMEOUT_MS, connectLimit);
    set(CURLOPT_WRITEFUNCTION, &Request::onBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &Request::onHead);
    set(CURLOPT_HEADERDATA, this);
    if (code != CURLE_OK)
        return curlError(code, QString::fromUtf8(m_errorText));
    return std::nullopt;
}

pagefetch::Fetched Request::finish(CURLcode code) const
{
    pagefetch::Fetched fetched;
    LoadedPage& page = fetched.page;
    long status = 0;
    if (curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        page.httpStatus = static_cast<int>(status);
    if (code == CURLE_OK) {
        page.outcome = PageOutcome::Complete;
        page.text = pagefetch::decodePageText(m_body, contentType());
        fetched.responseArrived = true;
        return fetched;
    }
    if (m_cut) {
        page.outcome = PageOutcome::Truncated;
        page.text = pagefetch::decodePageText(m_body, contentType());
        page.error = pageTooLargeError(m_maxBody);
        fetched.transferError = page.error;
        return fetched;
    }
    if (m_headOverflow) {
        page.outcome = PageOutcome::Unreachable;
        fetched.transferError = curlError(
            CURLE_WEIRD_SERVER_REPLY,
            QStringLiteral("the response head is larger than %1 bytes").arg(kMaxHeadBytes));
        return fetched;
    }
    const Error error = curlError(code, QString::fromUtf8(m_errorText));
    fetched.transferError = error;
    if (code == CURLE_OPERATION_TIMEDOUT)
        page.outcome = PageOutcome::TimedOut;
    else if (code == CURLE_COULDNT_CONNECT) {
        page.outcome = PageOutcome::Unreachable;
        page.noAnswer = NoAnswer::Refused;
    } else if (isUnreachable(code) || (code == CURLE_UNSUPPORTED_PROTOCOL && !leftHttp()))
        page.outcome = PageOutcome::Unreachable;
    else {
        page.outcome = PageOutcome::Failed;
        page.error = error;
    }
    return fetched;
}

// Whether a redirect led to a scheme other than http and https. The
// address itself was checked before the transfer, so an unsupported
// protocol without such a redirect is an answer that is not HTTP.
bool Request::leftHttp() const
{
    char* url = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url)
        return false;
    const QByteArray effective = QByteArray(url).toLower();
    return !effective.startsWith("http://") && !effective.startsWith("https://");
}

QByteArray Request::contentType() const
{
    char* type = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK || !type)
        return {};
    return QByteArray(type);
}

// Keeps the body up to the bound; a longer one stops the transfer there.
size_t Request::onBody(char* data, size_t size, size_t count, void* self)
{
    auto* request = static_cast<Request*>(self);
    const size_t bytes = size * count;
    const qsizetype room = request->m_maxBody - request->m_body.size();
    if (bytes > static_cast<size_t>(room)) {
        request->m_body.append(data, room);
        request->m_cut = true;
        return 0;
    }
    request->m_body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

size_t Request::onHead(char*, size_t size, size_t count, void* self)
{
    auto* request = static_cast<Request*>(self);
    const size_t bytes = size * count;
    request->m_headBytes += static_cast<qsizetype>(std::min<size_t>(bytes, kMaxHeadBytes + 1));
    if (request->m_headBytes > kMaxHeadBytes) {
        request->m_headOverflow = true;
        return 0;
    }
    return bytes;
}

} // namespace curlrequest

namespace pagefetch {

Result<QByteArray> checkedAddress(const QString& url)
{
    Result<curlrequest::Address> address = curlrequest::parseAddress(url);
    if (!address)
        return address.error();
    return address.value().url;
}

Fetched fetchBlocking(const QByteArray& address, const QList<QByteArray>& headers,
                      const PageLimits& limits)
{
    curlrequest::Request request;
    if (std::optional<Error> error = request.setUp(address, headers, limits)) {
        Fetched fetched;
        fetched.page.outcome = PageOutcome::Failed;
        fetched.page.error = error;
        fetched.transferError = error;
        return fetched;
    }
    return request.finish(curl_easy_perform(request.easy()));
}

} // namespace pagefetch

} // namespace telvar
