#pragma once

#include "acquisition/PageLoader.h"
#include "common/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

namespace telvar {

// The time a page may take before it is given up as an empty page.
inline constexpr int kPageTimeLimitMs = 7000;
// The time a connection attempt to a station may take. A station on the
// plant's network accepts a connection within milliseconds; one that has
// not within two seconds is down, and waiting the whole page limit for it
// would only hold up the cycle.
inline constexpr int kConnectTimeoutMs = 2000;

// The limits of one page's GET, shared by the loader and the synchronous
// fetch.
struct PageLimits {
    // The time a page may take, from the moment its transfer starts (a load
    // waiting for a free connection is not timed).
    int timeLimitMs = kPageTimeLimitMs;
    // The time its connection attempt may take, within timeLimitMs.
    int connectTimeoutMs = kConnectTimeoutMs;
    // The largest body accepted; a longer one is cut here.
    qsizetype maxBodyBytes = qsizetype(4) * 1024 * 1024;
};

struct HttpPageLoaderOptions {
    PageLimits limits;
    // Connections open at once to one host (host name and port); further
    // loads of that host wait for one of them.
    int maxConnectionsPerHost = 2;
    // Transfers running at once over all hosts; further loads wait. The
    // idle connections kept for later loads do not count.
    int maxTransfers = 64;
};

// A PageLoader on libcurl's multi interface, driven by the event loop of the
// thread that creates it: libcurl's sockets are watched with socket
// notifiers and its time-outs with one timer, so nothing blocks and no
// thread is started.
//
// Each load is one GET with "Cache-Control: no-cache" of an http or https
// address (any other scheme fails before a transfer exists, so no address
// ever reaches the file system), following at most 5 redirects to http or
// https. Connections are kept alive and reused across loads, with
// TCP_NODELAY: every host loaded keeps its connections open for the next
// cycle (up to 512 connections in all, fewer when the open-file limit is
// under 1024), while idle for at most five and a half minutes. No cookies
// are kept, and proxies are never used (the environment's http_proxy and
// the like are ignored): station pages live on the plant's own network.
// Certificates of https stations are verified.
//
// Loads wait in the loader's own queue until their host has a free
// connection and fewer than maxTransfers run; only then does their transfer
// start and its time limit begin. Finished loads are reported one at a time
// from the event loop, in the order they finished.
//
// A station that is down costs about one limit, not one per load, while a
// page that hangs costs only its own load:
//
// - When a connection attempt to a host is refused or times out (the host
//   takes no connection), every other load of that host that is still
//   waiting for a connection or still connecting ends at once, as that
//   attempt did (Unreachable for a refusal, TimedOut for a time-out).
// - When a page of a host times out on its connection without a byte of
//   answer, the loads of that host still waiting for a connection end as
//   TimedOut only if the host is silent: it has not answered any page
//   lately. "Lately" is since that page's own limit began: no load of the
//   host ended with the host's answer (a whole response, one cut at the
//   bound, or a redirect) after the page's transfer started, and none of
//   its running loads is receiving an answer. A host that answered another
//   page meanwhile (a gateway serving many stations' pages, one of which
//   hangs) keeps its queue: each waiting load gets its connection and its
//   own limit, and the hanging page alone times out. Answers from before
//   the page's limit began do not count, so a station that dies in the
//   middle of a cycle costs about two limits, not one per connection's
//   worth of loads. Pages that hang on every connection of a host at once,
//   with nothing else answered, look like a silent station.
//
// Loads made after that try the host again. Each such page says why
// (LoadedPage::noAnswer): a refused connection Refused, a connection
// attempt that timed out HostDown, the loads given up with them
// HostGivenUp, and the loads given up with a silent host HostSilent (the
// timed-out page itself says Unknown, as any page that timed out once
// connected).
//
// The loader keeps the page limit itself rather than leaving it to libcurl:
// when the thread was busy beyond a limit, whatever has arrived in the
// sockets is read first, so a page whose answer is there completes instead
// of timing out.
class HttpPageLoader final : public PageLoader {
    Q_OBJECT
public:
    explicit HttpPageLoader(QObject* parent = nullptr);
    explicit HttpPageLoader(HttpPageLoaderOptions options, QObject* parent = nullptr);
    // Loads still running or waiting are dropped without a signal.
    ~HttpPageLoader() override;

    Ticket load(const QString& url) override;
    void cancel(Ticket ticket) override;

    const HttpPageLoaderOptions& options() const;
    // Loads whose transfer runs now, and loads waiting for a connection.
    int runningCount() const;
    int waitingCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The pieces of a page's GET that the synchronous fetch (SendRequest) shares
// with the loader.
namespace pagefetch {

// The address libcurl is given for url (trimmed and normalised), or why it
// cannot be loaded: malformed, or a scheme other than http and https.
// Errors carry libcurl's number and text, with "libcurl" as their source.
Result<QByteArray> checkedAddress(const QString& url);

// One blocking GET.
struct Fetched {
    // The page as the loader reports it.
    LoadedPage page;
    // A whole response arrived (whatever its status).
    bool responseArrived = false;
    // libcurl's error when the transfer did not end well (a page cut at the
    // bound included); empty otherwise.
    std::optional<Error> transferError;
};

// Fetches address (from checkedAddress) with the given extra request
// headers, blocking the calling thread until it ends or its time is up.
Fetched fetchBlocking(const QByteArray& address, const QList<QByteArray>& headers,
                      const PageLimits& limits);

// The page text of body: decoded by the charset that contentType names;
// when it names none, or one unknown, by the charset a <meta> element
// declares in the first 1024 bytes; otherwise as UTF-8. Bytes invalid in
// the charset become replacement characters.
QString decodePageText(const QByteArray& body, const QByteArray& contentType);

// The charset parameter of a Content-Type value (case-insensitive, quotes
// allowed), or empty.
QByteArray charsetOfContentType(QByteArrayView contentType);

} // namespace pagefetch

} // namespace telvar
