#pragma once

#include "common/Error.h"

#include <QObject>
#include <QString>
#include <optional>

namespace telvar {

// How the loading of one page ended.
enum class PageOutcome {
    // A response arrived, whatever its HTTP status; text is its body.
    Complete,
    // A response arrived with a body larger than the loader accepts; text is
    // its beginning, up to the bound, and error says so.
    Truncated,
    // No complete response within the time limit: an empty page.
    TimedOut,
    // No connection or no answer (refused, reset, unknown host, garbage
    // instead of HTTP): an empty page, as a browser shows no document.
    Unreachable,
    // The address cannot be loaded (malformed, a scheme other than http or
    // https, too many redirects): error says why; the text is empty.
    Failed,
};

// What the loader knows of why a TimedOut or Unreachable page got no
// answer, beyond its outcome: whether asking again may help.
enum class NoAnswer {
    // Nothing more: the page had an answer, or timed out once connected, or
    // its answer was not HTTP (reset, garbage, an unknown host, TLS).
    Unknown,
    // The connection was refused (or could not be made): nothing listened
    // on the station's port at that moment.
    Refused,
    // The connection attempt timed out: the host is down.
    HostDown,
    // The page was not tried on its own: another load of its host found
    // the host taking no connection (refused, or the attempt timed out),
    // and the loader gave this one up with it.
    HostGivenUp,
    // The page was not tried on its own: a page of its host got a
    // connection and no answer within its limit while the host answered
    // nothing else, and the loader gave this one up with it as a silent
    // station's. The host did take connections: a later try may be
    // answered, as when only the pages that held every connection to the
    // host hang.
    HostSilent,
};

// One loaded page.
struct LoadedPage {
    QString url;
    PageOutcome outcome = PageOutcome::Unreachable;
    // The response body decoded by the charset its Content-Type names
    // (UTF-8 when none or an unknown one).
    QString text;
    // The HTTP status of the last response; 0 when none arrived.
    int httpStatus = 0;
    // What to report for Truncated and Failed; empty otherwise.
    std::optional<Error> error;
    // For TimedOut and Unreachable: why no answer came, when known.
    NoAnswer noAnswer = NoAnswer::Unknown;
};

// Loads pages asynchronously on the thread's event loop. Every load that is
// not cancelled ends with exactly one pageLoaded, emitted from the event
// loop, never from inside load() itself. A load is a complete GET that
// bypasses every cache; its time limit counts from the moment its request
// is sent, not while it waits for a free connection.
class PageLoader : public QObject {
    Q_OBJECT
public:
    using Ticket = quint64;

    using QObject::QObject;
    ~PageLoader() override = default;

    // Starts loading url; the ticket names it in pageLoaded. Tickets are
    // never 0 and never reused within one loader.
    virtual Ticket load(const QString& url) = 0;
    // Forgets a load: no pageLoaded comes for it. Unknown or finished
    // tickets are ignored.
    virtual void cancel(Ticket ticket) = 0;

signals:
    void pageLoaded(telvar::PageLoader::Ticket ticket, const telvar::LoadedPage& page);
};

} // namespace telvar
