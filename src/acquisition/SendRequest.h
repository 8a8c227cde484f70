#pragma once

#include "acquisition/HttpPageLoader.h"
#include "common/Error.h"

#include <QString>
#include <functional>
#include <optional>

namespace telvar {

// What one synchronous page fetch gave.
struct SendRequestResult {
    // The response body as text, an error page's included; empty when the
    // fetch failed. A body cut at the bound keeps its beginning.
    QString text;
    // Why the fetch failed or was cut; empty when a whole response arrived.
    std::optional<Error> error;
    // How far the request got, counted as a browser's request object does:
    // 0 the address was refused before a request existed, 1 the request was
    // opened and sent but no whole response came, 3 a response whose body
    // was cut at the bound, 4 a whole response.
    int readyState = 0;
    // The HTTP status of the last response; 0 when none arrived.
    int status = 0;
};

// The status texts a fetch reports in turn.
inline constexpr const char* kSendRequestConnecting = "Connecting ...";
inline constexpr const char* kSendRequestFetching = "Fetching HTML Code ...";
inline constexpr const char* kSendRequestDone = "Done";

// Fetches url with one blocking GET (headers "Content_type: text/html" and
// "Cache-control: no-cache"), the way the main window reads a page without
// its browser: http and https only, at most 5 redirects, the body cut at
// 4 MiB and decoded by its charset, and 7 seconds at most so that the window
// is never held longer. An HTTP error status is not a failure: its page is
// the result. progress (when given) is called with kSendRequestConnecting
// before the request is opened, kSendRequestFetching before it is sent and
// kSendRequestDone at the end, after a failure too. No event is processed
// meanwhile, and nothing is kept from one call to the next. limits may
// change the time limit and the bound (tests use short ones).
SendRequestResult sendRequest(const QString& url,
                              const std::function<void(const QString&)>& progress = {},
                              const PageLimits& limits = {});

// The report of a failed fetch: "Telvar. SendRequest(<url>)", two line
// feeds, the error's source, a line feed, "<number>.- <description>", then
// "readyState: <n>" and "Status:<n>" on lines of their own. A password in
// the address is shown as "***". Empty when result holds no error.
QString sendRequestReport(const QString& url, const SendRequestResult& result);

// url with the password of its user information replaced by "***". Read
// generously: whatever stands between the first ':' after the scheme and the
// last '@' is hidden, so a malformed address never shows its password.
QString maskUrlPassword(const QString& url);

} // namespace telvar
