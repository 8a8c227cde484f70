#include "acquisition/HttpPageLoader.h"

#include "common/ErrorNumbers.h"
#include "common/Version.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <curl/curl.h>
#include <deque>
#include <list>
#include <map>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace telvar {

namespace {

constexpr long kMaxRedirects = 5;
// Response heads of all the responses of one load together (redirects
// included); libcurl bounds each header line on its own.
constexpr qsizetype kMaxHeadBytes = 256 * 1024;
// How far into the body a <meta> charset declaration is looked for.
constexpr qsizetype kMetaScanBytes = 1024;
constexpr qsizetype kMaxCharsetName = 40;
// How long a kept connection may stay idle and still be reused: beyond
// libcurl's 118 s, so that the connections of a clock of up to five
// minutes are still there at its next cycle. A station that closes an idle
// connection sooner costs a new connection, nothing else.
constexpr long kMaxIdleConnectionSeconds = 5 * 60 + 30;
// The most connections kept open, in use or idle: well within the usual
// limit of 1024 open files.
constexpr qint64 kMaxKeptConnections = 512;

// kMaxKeptConnections, or half the process's open-file limit when that is
// lower.
qint64 connectionLimit()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return kMaxKeptConnections;
    const rlim_t half = files.rlim_cur / 2;
    return std::max<qint64>(
        1, static_cast<qint64>(std::min<rlim_t>(half, rlim_t(kMaxKeptConnections))));
}

// libcurl's process-wide set-up, done once before the first handle and
// undone at exit.
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

RuntimeError curlError(CURLcode code, const QString& detail = {})
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

RuntimeError pageTooLargeError(qsizetype bound)
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

// An address as parsed for loading: what libcurl is given, and the host
// whose connections it shares.
struct Address {
    QByteArray url;
    QByteArray hostKey;
};

QByteArray urlPart(CURLU* handle, CURLUPart part, unsigned int flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, flags) != CURLUE_OK || !text)
        return {};
    QByteArray result(text);
    curl_free(text);
    return result;
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

// One GET on its own easy handle: its settings, its body up to the bound,
// and what its end means as a loaded page.
class Request final {
public:
    Request() = default;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    ~Request()
    {
        if (m_easy)
            curl_easy_cleanup(m_easy);
        curl_slist_free_all(m_headers);
    }

    CURL* easy() const { return m_easy; }

    // Prepares the handle; an error when libcurl refuses a setting.
    std::optional<RuntimeError> setUp(const QByteArray& address, const QList<QByteArray>& headers,
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
        set(CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(limits.timeLimitMs, 1)));
        set(CURLOPT_WRITEFUNCTION, &Request::onBody);
        set(CURLOPT_WRITEDATA, this);
        set(CURLOPT_HEADERFUNCTION, &Request::onHead);
        set(CURLOPT_HEADERDATA, this);
        if (code != CURLE_OK)
            return curlError(code, QString::fromUtf8(m_errorText));
        return std::nullopt;
    }

    // What the transfer's end with code means.
    pagefetch::Fetched finish(CURLcode code) const
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
        const RuntimeError error = curlError(code, QString::fromUtf8(m_errorText));
        fetched.transferError = error;
        if (code == CURLE_OPERATION_TIMEDOUT)
            page.outcome = PageOutcome::TimedOut;
        else if (isUnreachable(code) || (code == CURLE_UNSUPPORTED_PROTOCOL && !leftHttp()))
            page.outcome = PageOutcome::Unreachable;
        else {
            page.outcome = PageOutcome::Failed;
            page.error = error;
        }
        return fetched;
    }

private:
    // Whether a redirect led to a scheme other than http and https. The
    // address itself was checked before the transfer, so an unsupported
    // protocol without such a redirect is an answer that is not HTTP.
    bool leftHttp() const
    {
        char* url = nullptr;
        if (curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url)
            return false;
        const QByteArray effective = QByteArray(url).toLower();
        return !effective.startsWith("http://") && !effective.startsWith("https://");
    }

    QByteArray contentType() const
    {
        char* type = nullptr;
        if (curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK || !type)
            return {};
        return QByteArray(type);
    }

    // Keeps the body up to the bound; a longer one stops the transfer there.
    static size_t onBody(char* data, size_t size, size_t count, void* self)
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

    static size_t onHead(char*, size_t size, size_t count, void* self)
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

    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    QByteArray m_body;
    qsizetype m_maxBody = 0;
    bool m_cut = false;
    qsizetype m_headBytes = 0;
    bool m_headOverflow = false;
};

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

Result<QByteArray> checkedAddress(const QString& url)
{
    Result<Address> address = parseAddress(url);
    if (!address)
        return address.error();
    return address.value().url;
}

Fetched fetchBlocking(const QByteArray& address, const QList<QByteArray>& headers,
                      const PageLimits& limits)
{
    Request request;
    if (std::optional<RuntimeError> error = request.setUp(address, headers, limits)) {
        Fetched fetched;
        fetched.page.outcome = PageOutcome::Failed;
        fetched.page.error = error;
        fetched.transferError = error;
        return fetched;
    }
    return request.finish(curl_easy_perform(request.easy()));
}

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

struct HttpPageLoader::Impl {
    struct Host;

    // One load, waiting or running.
    struct Load {
        Ticket ticket = 0;
        QString url;
        Address address;
        Host* host = nullptr;
        std::unique_ptr<Request> request;
    };

    using LoadQueue = std::list<std::unique_ptr<Load>>;

    // A host (name and port) loaded at least once: its loads waiting for a
    // connection, oldest first, and the number of its transfers running.
    struct Host {
        LoadQueue waiting;
        int busy = 0;
        // Its key in `ready` while it is there, 0 otherwise.
        Ticket readyAs = 0;
    };

    // The notifiers of one socket libcurl asked to watch.
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        // A connection's socket, opened through onOpenSocket: libcurl closes
        // it through onCloseSocket, so its notifiers wait, disabled, while
        // the connection is idle between transfers.
        bool connection = false;
    };

    Impl(HttpPageLoader* owner, HttpPageLoaderOptions loaderOptions)
        : q(owner), options(std::move(loaderOptions))
    {
        options.maxConnectionsPerHost = std::max(options.maxConnectionsPerHost, 1);
        options.maxTransfers = std::max(options.maxTransfers, 1);
        timer.setSingleShot(true);
        // libcurl's time-outs are short and exact (connection attempts, the
        // page's limit): a coarse timer would wake it early and often.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, q, [this] { onTimeout(); });
        if (!curlReady())
            return;
        multi = curl_multi_init();
        if (!multi)
            return;
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::onSocketChange);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::onTimerChange);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        // The loader's queue keeps within the per-host limit; libcurl's own
        // limit only backs it up (a transfer libcurl holds back would be
        // timed while it waits). The queue alone bounds the transfers
        // running: libcurl's total would count the idle connections kept
        // for the next cycle too, and close one of them to open another.
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                          static_cast<long>(options.maxConnectionsPerHost));
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, 0L);
        resizeConnectionCache();
    }

    ~Impl()
    {
        closing = true;
        timer.stop();
        for (auto& [fd, entry] : watches) {
            delete entry.read;
            delete entry.write;
        }
        watches.clear();
        for (auto& [ticket, load] : running)
            curl_multi_remove_handle(multi, load->request->easy());
        running.clear();
        // Closes the kept connections (through onCloseSocket).
        if (multi)
            curl_multi_cleanup(multi);
    }

    Ticket load(const QString& url)
    {
        const Ticket ticket = ++lastTicket;
        Result<Address> address = parseAddress(url);
        if (!address) {
            finishWithError(ticket, url, address.error());
            return ticket;
        }
        if (!multi) {
            finishWithError(ticket, url, curlError(CURLE_FAILED_INIT));
            return ticket;
        }
        auto entry = std::make_unique<Load>();
        entry->ticket = ticket;
        entry->url = url;
        entry->address = std::move(address.value());
        Host& host = hostOf(entry->address.hostKey);
        entry->host = &host;
        host.waiting.push_back(std::move(entry));
        waiting.emplace(ticket, std::prev(host.waiting.end()));
        refresh(host);
        startWaiting();
        return ticket;
    }

    void cancel(Ticket ticket)
    {
        if (const auto found = running.find(ticket); found != running.end()) {
            Load& entry = *found->second;
            curl_multi_remove_handle(multi, entry.request->easy());
            release(*entry.host);
            running.erase(found);
            startWaiting();
            return;
        }
        if (const auto queued = waiting.find(ticket); queued != waiting.end()) {
            Host& host = *(*queued->second)->host;
            host.waiting.erase(queued->second);
            waiting.erase(queued);
            refresh(host);
            return;
        }
        undelivered.erase(ticket);
    }

    Host& hostOf(const QByteArray& hostKey)
    {
        const auto [found, added] = hosts.try_emplace(hostKey);
        if (added)
            resizeConnectionCache();
        return found->second;
    }

    // The connections libcurl keeps open, in use or idle: enough for every
    // host loaded so far to keep all of its connections for the next cycle
    // (redirects to other hosts have the room of the transfer limit), up to
    // a bound well within the open-file limit.
    void resizeConnectionCache()
    {
        if (!multi)
            return;
        const qint64 perHost = options.maxConnectionsPerHost;
        const qint64 wanted =
            std::max<qint64>(perHost * static_cast<qint64>(hosts.size()), options.maxTransfers);
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS,
                          static_cast<long>(std::min(wanted, connectionBound)));
    }

    // Puts host in `ready`, under the ticket of its oldest waiting load,
    // while it has a waiting load and a free connection; takes it out
    // otherwise.
    void refresh(Host& host)
    {
        const Ticket wanted = !host.waiting.empty() && host.busy < options.maxConnectionsPerHost
                                  ? host.waiting.front()->ticket
                                  : 0;
        if (wanted == host.readyAs)
            return;
        if (host.readyAs != 0)
            ready.erase(host.readyAs);
        host.readyAs = wanted;
        if (wanted != 0)
            ready.emplace(wanted, &host);
    }

    // Starts waiting loads, oldest first, while their host and the total
    // have room.
    void startWaiting()
    {
        while (!ready.empty() && static_cast<int>(running.size()) < options.maxTransfers) {
            Host& host = *ready.begin()->second;
            std::unique_ptr<Load> entry = std::move(host.waiting.front());
            host.waiting.pop_front();
            waiting.erase(entry->ticket);
            start(std::move(entry));
            refresh(host);
        }
    }

    void start(std::unique_ptr<Load> entry)
    {
        static const QList<QByteArray> headers = {QByteArrayLiteral("Cache-Control: no-cache")};
        entry->request = std::make_unique<Request>();
        if (std::optional<RuntimeError> error =
                entry->request->setUp(entry->address.url, headers, options.limits)) {
            finishWithError(entry->ticket, entry->url, *error);
            return;
        }
        CURL* easy = entry->request->easy();
        CURLcode code = CURLE_OK;
        const auto set = [&](CURLoption option, auto value) {
            if (code == CURLE_OK)
                code = curl_easy_setopt(easy, option, value);
        };
        set(CURLOPT_PRIVATE, entry.get());
        set(CURLOPT_OPENSOCKETFUNCTION, &Impl::onOpenSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        set(CURLOPT_CLOSESOCKETFUNCTION, &Impl::onCloseSocket);
        set(CURLOPT_CLOSESOCKETDATA, this);
        set(CURLOPT_MAXAGE_CONN, kMaxIdleConnectionSeconds);
        if (code != CURLE_OK) {
            finishWithError(entry->ticket, entry->url, curlError(code));
            return;
        }
        const CURLMcode added = curl_multi_add_handle(multi, easy);
        if (added != CURLM_OK) {
            finishWithError(
                entry->ticket, entry->url,
                curlError(CURLE_FAILED_INIT, QString::fromUtf8(curl_multi_strerror(added))));
            return;
        }
        ++entry->host->busy;
        const Ticket ticket = entry->ticket;
        running.emplace(ticket, std::move(entry));
    }

    void release(Host& host)
    {
        if (host.busy > 0)
            --host.busy;
        refresh(host);
    }

    void finishWithError(Ticket ticket, const QString& url, const RuntimeError& error)
    {
        LoadedPage page;
        page.url = url;
        page.outcome = PageOutcome::Failed;
        page.error = error;
        finish(ticket, std::move(page));
    }

    void finish(Ticket ticket, LoadedPage page)
    {
        finished.emplace_back(ticket, std::move(page));
        undelivered.insert(ticket);
        scheduleDelivery();
    }

    // Takes the transfers libcurl has ended, then lets waiting loads start.
    void collectFinished()
    {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* easy = message->easy_handle;
            const CURLcode code = message->data.result;
            char* privateData = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, &privateData);
            auto* entry = reinterpret_cast<Load*>(privateData);
            curl_multi_remove_handle(multi, easy);
            const auto found = entry ? running.find(entry->ticket) : running.end();
            if (found == running.end())
                continue;
            LoadedPage page = entry->request->finish(code).page;
            page.url = entry->url;
            release(*entry->host);
            finished.emplace_back(entry->ticket, std::move(page));
            undelivered.insert(entry->ticket);
            running.erase(found);
        }
        startWaiting();
        scheduleDelivery();
    }

    // Finished loads are reported from a later turn of the event loop, so
    // that no report comes from inside load(), cancel() or libcurl.
    void scheduleDelivery()
    {
        if (deliveryScheduled || finished.empty())
            return;
        deliveryScheduled = true;
        QMetaObject::invokeMethod(
            q, [this] { deliver(); }, Qt::QueuedConnection);
    }

    void deliver()
    {
        deliveryScheduled = false;
        // A receiver may load, cancel or even destroy the loader.
        const QPointer<HttpPageLoader> alive(q);
        while (!finished.empty()) {
            auto [ticket, page] = std::move(finished.front());
            finished.pop_front();
            // Cancelled after it finished.
            if (undelivered.erase(ticket) == 0)
                continue;
            emit q->pageLoaded(ticket, page);
            if (!alive)
                return;
        }
    }

    void onActivity(curl_socket_t fd, int direction)
    {
        int stillRunning = 0;
        curl_multi_socket_action(multi, fd, direction, &stillRunning);
        collectFinished();
    }

    void onTimeout()
    {
        int stillRunning = 0;
        curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &stillRunning);
        collectFinished();
    }

    // libcurl's callbacks only change what is watched: transfers are taken
    // and started outside them.
    static int onSocketChange(CURL*, curl_socket_t fd, int what, void* self, void*)
    {
        auto* impl = static_cast<Impl*>(self);
        if (!impl->closing)
            impl->watch(fd, what);
        return 0;
    }

    static int onTimerChange(CURLM*, long timeoutMs, void* self)
    {
        auto* impl = static_cast<Impl*>(self);
        if (impl->closing)
            return 0;
        if (timeoutMs < 0)
            impl->timer.stop();
        else
            impl->timer.start(static_cast<int>(std::min<long>(timeoutMs, INT_MAX)));
        return 0;
    }

    // A connection's socket, opened for libcurl (closed when another
    // program starts).
    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address)
    {
        const int fd =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd < 0)
            return CURL_SOCKET_BAD;
        static_cast<Impl*>(self)->socketOpened(fd);
        return fd;
    }

    // A connection's socket closed for libcurl; its notifiers go first, so
    // none is left on the number when a new socket gets it.
    static int onCloseSocket(void* self, curl_socket_t fd)
    {
        static_cast<Impl*>(self)->forget(fd);
        return ::close(fd) == 0 ? 0 : 1;
    }

    void socketOpened(curl_socket_t fd)
    {
        // Notifiers still on the number belong to a socket closed without
        // the close callback: the new socket gets its own.
        forget(fd);
        if (!closing)
            watches[fd].connection = true;
    }

    void forget(curl_socket_t fd)
    {
        const auto found = watches.find(fd);
        if (found == watches.end())
            return;
        // The notifier may be the one whose signal is being handled.
        for (QSocketNotifier* notifier : {found->second.read, found->second.write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        watches.erase(found);
    }

    void watch(curl_socket_t fd, int what)
    {
        if (what == CURL_POLL_REMOVE) {
            const auto found = watches.find(fd);
            if (found == watches.end())
                return;
            // An idle connection keeps its notifiers for its next transfer;
            // other sockets (a resolver's) are closed without the close
            // callback, so theirs go now.
            if (!found->second.connection) {
                forget(fd);
                return;
            }
            for (QSocketNotifier* notifier : {found->second.read, found->second.write}) {
                if (notifier)
                    notifier->setEnabled(false);
            }
            return;
        }
        Watch& entry = watches[fd];
        setNotifier(entry.read, fd, QSocketNotifier::Read,
                    what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        setNotifier(entry.write, fd, QSocketNotifier::Write,
                    what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    }

    void setNotifier(QSocketNotifier*& notifier, curl_socket_t fd, QSocketNotifier::Type type,
                     bool wanted)
    {
        if (!wanted) {
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = new QSocketNotifier(static_cast<qintptr>(fd), type, q);
            const int direction =
                type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
            QObject::connect(notifier, &QSocketNotifier::activated, q,
                             [this, fd, direction] { onActivity(fd, direction); });
        }
        notifier->setEnabled(true);
    }

    HttpPageLoader* q;
    HttpPageLoaderOptions options;
    const qint64 connectionBound = connectionLimit();
    CURLM* multi = nullptr;
    QTimer timer;
    bool closing = false;
    Ticket lastTicket = 0;
    // Every host loaded so far (they size libcurl's connection cache).
    std::unordered_map<QByteArray, Host> hosts;
    // The hosts with a waiting load and a free connection, by the ticket of
    // their oldest waiting load.
    std::map<Ticket, Host*> ready;
    // Where each waiting load is in its host's queue.
    std::unordered_map<Ticket, LoadQueue::iterator> waiting;
    std::unordered_map<Ticket, std::unique_ptr<Load>> running;
    // Ended loads in the order they ended, and those of them not cancelled
    // since.
    std::deque<std::pair<Ticket, LoadedPage>> finished;
    std::unordered_set<Ticket> undelivered;
    bool deliveryScheduled = false;
    std::unordered_map<curl_socket_t, Watch> watches;
};

HttpPageLoader::HttpPageLoader(QObject* parent) : HttpPageLoader(HttpPageLoaderOptions{}, parent) {}

HttpPageLoader::HttpPageLoader(HttpPageLoaderOptions options, QObject* parent)
    : PageLoader(parent), m_impl(std::make_unique<Impl>(this, std::move(options)))
{
}

HttpPageLoader::~HttpPageLoader() = default;

PageLoader::Ticket HttpPageLoader::load(const QString& url)
{
    return m_impl->load(url);
}

void HttpPageLoader::cancel(Ticket ticket)
{
    m_impl->cancel(ticket);
}

const HttpPageLoaderOptions& HttpPageLoader::options() const
{
    return m_impl->options;
}

int HttpPageLoader::runningCount() const
{
    return static_cast<int>(m_impl->running.size());
}

int HttpPageLoader::waitingCount() const
{
    return static_cast<int>(m_impl->waiting.size());
}

} // namespace telvar
