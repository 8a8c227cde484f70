#include "acquisition/HttpPageLoader.h"

#include "acquisition/CurlRequest.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <curl/curl.h>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace telvar {

namespace {

using curlrequest::Address;
using curlrequest::curlError;
using curlrequest::multiError;
using curlrequest::Request;
using SteadyClock = std::chrono::steady_clock;

// How long a kept connection may stay idle and still be reused: beyond
// libcurl's 118 s, so that the connections of a clock of up to five
// minutes are still there at its next cycle. A station that closes an idle
// connection sooner costs a new connection, nothing else.
constexpr long kMaxIdleConnectionSeconds = 5 * 60 + 30;
// The most connections kept open, in use or idle: well within the usual
// limit of 1024 open files.
constexpr qint64 kMaxKeptConnections = 512;
// Rounds of reading the sockets that have data waiting before the page
// limits are judged. Each round reads at least one buffer of libcurl's
// (16 KiB) from every such socket, so a page up to the body bound that has
// arrived whole is read in far fewer; a station still sending at full
// speed cannot hold the judgement back for longer than this.
constexpr int kMaxDrainRounds = 1024;

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

// A multi call that fails only when the loader breaks libcurl's rules (a
// handle removed that it never added, a call from inside a callback): a
// fault of the loader's, never of a station's.
void expectMultiOk(CURLMcode code)
{
    Q_ASSERT_X(code == CURLM_OK, "HttpPageLoader", curl_multi_strerror(code));
}

// The redirects a transfer has followed so far.
long redirectCount(CURL* easy)
{
    long count = 0;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &count) != CURLE_OK)
        return 0;
    return count;
}

LoadedPage emptyPage(const QString& url, PageOutcome outcome)
{
    LoadedPage page;
    page.url = url;
    page.outcome = outcome;
    return page;
}

} // namespace

struct HttpPageLoader::Impl {
    struct Host;

    // One load, waiting or running.
    struct Load {
        Ticket ticket = 0;
        QString url;
        Address address;
        Host* host = nullptr;
        std::unique_ptr<Request> request;
        // Once its transfer runs: when it started (its limit began), when
        // its time is up, and whether it has a connection to its host (a new
        // or a kept one, its request about to be sent).
        SteadyClock::time_point started;
        SteadyClock::time_point deadline;
        bool connected = false;
    };

    using LoadQueue = std::list<std::unique_ptr<Load>>;

    // A host (name and port) loaded at least once: its loads waiting for a
    // connection, oldest first, and those whose transfer runs.
    struct Host {
        LoadQueue waiting;
        std::unordered_set<Load*> transfers;
        // When a load of it last ended with an answer of the host's (see
        // answeredBy); empty while none has.
        std::optional<SteadyClock::time_point> answeredAt;
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
        options.limits.timeLimitMs = std::max(options.limits.timeLimitMs, 1);
        timer.setSingleShot(true);
        // libcurl's time-outs are short and exact (connection attempts): a
        // coarse timer would wake it early and often.
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, q, [this] { onTimeout(); });
        deadlineTimer.setSingleShot(true);
        deadlineTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadlineTimer, &QTimer::timeout, q, [this] { onDeadline(); });
        if (curlrequest::curlReady())
            multi = curl_multi_init();
        if (!multi) {
            setupError = curlError(CURLE_FAILED_INIT);
            return;
        }
        CURLMcode code = CURLM_OK;
        const auto set = [&](CURLMoption option, auto value) {
            if (code == CURLM_OK)
                code = curl_multi_setopt(multi, option, value);
        };
        set(CURLMOPT_SOCKETFUNCTION, &Impl::onSocketChange);
        set(CURLMOPT_SOCKETDATA, this);
        set(CURLMOPT_TIMERFUNCTION, &Impl::onTimerChange);
        set(CURLMOPT_TIMERDATA, this);
        // The loader's queue keeps within the per-host limit; libcurl's own
        // limit only backs it up (a transfer libcurl holds back would be
        // timed while it waits). The queue alone bounds the transfers
        // running: libcurl's total would count the idle connections kept
        // for the next cycle too, and close one of them to open another.
        set(CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(options.maxConnectionsPerHost));
        set(CURLMOPT_MAX_TOTAL_CONNECTIONS, 0L);
        if (code == CURLM_OK)
            code = resizeConnectionCache();
        if (code != CURLM_OK) {
            // Every load fails with the reason.
            setupError = multiError(code);
            expectMultiOk(curl_multi_cleanup(multi));
            multi = nullptr;
        }
    }

    ~Impl()
    {
        closing = true;
        timer.stop();
        deadlineTimer.stop();
        for (auto& [fd, entry] : watches) {
            delete entry.read;
            delete entry.write;
        }
        watches.clear();
        for (auto& [ticket, load] : running)
            expectMultiOk(curl_multi_remove_handle(multi, load->request->easy()));
        running.clear();
        // Closes the kept connections (through onCloseSocket).
        if (multi)
            expectMultiOk(curl_multi_cleanup(multi));
    }

    Ticket load(const QString& url)
    {
        const Ticket ticket = ++lastTicket;
        Result<Address> address = curlrequest::parseAddress(url);
        if (!address) {
            finishWithError(ticket, url, address.error());
            return ticket;
        }
        if (!multi) {
            finishWithError(ticket, url, *setupError);
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
        armDeadline();
        return ticket;
    }

    void cancel(Ticket ticket)
    {
        if (const auto found = running.find(ticket); found != running.end()) {
            detach(found);
            startWaiting();
            armDeadline();
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
            expectMultiOk(resizeConnectionCache());
        return found->second;
    }

    // The connections libcurl keeps open, in use or idle: enough for every
    // host loaded so far to keep all of its connections for the next cycle
    // (redirects to other hosts have the room of the transfer limit), up to
    // a bound well within the open-file limit.
    CURLMcode resizeConnectionCache()
    {
        const qint64 perHost = options.maxConnectionsPerHost;
        const qint64 wanted =
            std::max<qint64>(perHost * static_cast<qint64>(hosts.size()), options.maxTransfers);
        return curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS,
                                 static_cast<long>(std::min(wanted, connectionBound)));
    }

    // Puts host in `ready`, under the ticket of its oldest waiting load,
    // while it has a waiting load and a free connection; takes it out
    // otherwise.
    void refresh(Host& host)
    {
        const bool free =
            host.transfers.size() < static_cast<std::size_t>(options.maxConnectionsPerHost);
        const Ticket wanted = !host.waiting.empty() && free ? host.waiting.front()->ticket : 0;
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
        if (std::optional<Error> error =
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
        // The page limit is the loader's own (onDeadline); libcurl keeps
        // only the connection attempt's.
        set(CURLOPT_TIMEOUT_MS, 0L);
        set(CURLOPT_PREREQFUNCTION, &Impl::onConnected);
        set(CURLOPT_PREREQDATA, entry.get());
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
            finishWithError(entry->ticket, entry->url, multiError(added));
            return;
        }
        entry->started = SteadyClock::now();
        entry->deadline = entry->started + std::chrono::milliseconds(options.limits.timeLimitMs);
        deadlines.emplace(entry->deadline, entry->ticket);
        entry->host->transfers.insert(entry.get());
        const Ticket ticket = entry->ticket;
        running.emplace(ticket, std::move(entry));
    }

    // Takes a running load out of libcurl and the loader's books; the load
    // is handed back to be reported, or dropped.
    std::unique_ptr<Load> detach(std::unordered_map<Ticket, std::unique_ptr<Load>>::iterator found)
    {
        std::unique_ptr<Load> entry = std::move(found->second);
        running.erase(found);
        expectMultiOk(curl_multi_remove_handle(multi, entry->request->easy()));
        deadlines.erase({entry->deadline, entry->ticket});
        entry->host->transfers.erase(entry.get());
        refresh(*entry->host);
        return entry;
    }

    void finishWithError(Ticket ticket, const QString& url, const Error& error)
    {
        LoadedPage page = emptyPage(url, PageOutcome::Failed);
        page.error = error;
        finish(ticket, std::move(page));
    }

    void finish(Ticket ticket, LoadedPage page)
    {
        finished.emplace_back(ticket, std::move(page));
        undelivered.insert(ticket);
        scheduleDelivery();
    }

    // Whether the host of a load that ended with page answered it: a whole
    // response (or one cut at the bound) came from the host itself, or the
    // host sent a redirect that the load followed elsewhere. A page that
    // timed out half sent is no answer: the station may have died in it.
    static bool answeredBy(const Load& entry, const LoadedPage& page)
    {
        if (redirectCount(entry.request->easy()) > 0)
            return true;
        return page.httpStatus > 0 &&
               (page.outcome == PageOutcome::Complete || page.outcome == PageOutcome::Truncated);
    }

    // Whether a running load is receiving an answer of its host's: a byte
    // of the host's response, or a redirect of the host's followed.
    static bool answering(const Load& entry)
    {
        return entry.request->responseStarted() || redirectCount(entry.request->easy()) > 0;
    }

    // Whether host has answered a page lately: since `since` (the start of
    // the limit of a load of it that timed out unanswered), a load of the
    // host ended with the host's answer, or one of its running loads is
    // receiving one now. A host that has not is silent.
    bool answeredSince(const Host& host, SteadyClock::time_point since) const
    {
        if (host.answeredAt && *host.answeredAt >= since)
            return true;
        return std::any_of(host.transfers.begin(), host.transfers.end(),
                           [](const Load* other) { return answering(*other); });
    }

    // A running load ended as its transfer's end (or the loader's time
    // limit) made it, with what that says about its host: a connection
    // attempt refused or timed out gives up the host's other loads that
    // would only wait for the same; a page that timed out without a byte of
    // answer does so only when the host has answered no other page since
    // that page's limit began (a silent station; a host that answers its
    // other pages has one page that hangs, and keeps its queue). See
    // giveUpHost. A load that followed a redirect ended on another host and
    // says nothing of its own, except that its host answered.
    void ended(std::unique_ptr<Load> entry, CURLcode code)
    {
        LoadedPage page = entry->request->finish(code).page;
        page.url = entry->url;
        const PageOutcome outcome = page.outcome;
        const bool ownHost = redirectCount(entry->request->easy()) == 0;
        const bool connectFailed =
            ownHost && !entry->connected &&
            (code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT);
        const bool unanswered = ownHost && entry->connected && code == CURLE_OPERATION_TIMEDOUT &&
                                !entry->request->responseStarted();
        if (connectFailed && code == CURLE_OPERATION_TIMEDOUT)
            page.noAnswer = NoAnswer::HostDown;
        Host& host = *entry->host;
        if (answeredBy(*entry, page))
            host.answeredAt = SteadyClock::now();
        // Judged once this load has left the host's transfers.
        const bool silent = unanswered && !answeredSince(host, entry->started);
        finish(entry->ticket, std::move(page));
        if (connectFailed)
            giveUpHost(host, outcome, NoAnswer::HostGivenUp, /*connecting=*/true);
        else if (silent)
            giveUpHost(host, outcome, NoAnswer::HostSilent, /*connecting=*/false);
    }

    // Ends, with an empty page of outcome that says `why`, the loads of host
    // that wait for a connection, and when `connecting` also those whose
    // transfer has not got a connection yet, oldest first. Loads with a
    // connection keep it and their own limit.
    void giveUpHost(Host& host, PageOutcome outcome, NoAnswer why, bool connecting)
    {
        std::map<Ticket, QString> ending;
        for (const std::unique_ptr<Load>& entry : host.waiting) {
            waiting.erase(entry->ticket);
            ending.emplace(entry->ticket, entry->url);
        }
        host.waiting.clear();
        if (connecting) {
            std::vector<Ticket> unconnected;
            for (const Load* entry : host.transfers) {
                if (!entry->connected)
                    unconnected.push_back(entry->ticket);
            }
            for (const Ticket ticket : unconnected) {
                const std::unique_ptr<Load> entry = detach(running.find(ticket));
                ending.emplace(ticket, entry->url);
            }
        }
        refresh(host);
        for (const auto& [ticket, url] : ending) {
            LoadedPage page = emptyPage(url, outcome);
            page.noAnswer = why;
            finish(ticket, std::move(page));
        }
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
            const auto* entry = reinterpret_cast<const Load*>(privateData);
            // Removing a handle takes its messages out of the queue, so
            // every message here is of a running load.
            const auto found = entry ? running.find(entry->ticket) : running.end();
            Q_ASSERT(found != running.end());
            if (found == running.end())
                continue;
            ended(detach(found), code);
        }
        startWaiting();
        armDeadline();
    }

    // The loader's time limit: loads whose time is up end as TimedOut, once
    // whatever has arrived for any transfer has been read.
    void onDeadline()
    {
        drainReadySockets();
        const SteadyClock::time_point now = SteadyClock::now();
        while (!deadlines.empty() && deadlines.begin()->first <= now) {
            const auto found = running.find(deadlines.begin()->second);
            Q_ASSERT(found != running.end());
            if (found == running.end()) {
                deadlines.erase(deadlines.begin());
                continue;
            }
            ended(detach(found), CURLE_OPERATION_TIMEDOUT);
        }
        startWaiting();
        armDeadline();
    }

    // Runs libcurl on the sockets that have data waiting (or room to send),
    // as their notifiers would have done had the thread not been busy
    // elsewhere; a late check of the limits must not take a page whose
    // answer is there for one that timed out.
    void drainReadySockets()
    {
        for (int round = 0; round < kMaxDrainRounds; ++round) {
            std::vector<pollfd> wanted;
            for (const auto& [fd, entry] : watches) {
                short events = 0;
                if (entry.read && entry.read->isEnabled())
                    events |= POLLIN;
                if (entry.write && entry.write->isEnabled())
                    events |= POLLOUT;
                if (events != 0)
                    wanted.push_back(pollfd{fd, events, 0});
            }
            if (wanted.empty() || ::poll(wanted.data(), wanted.size(), 0) <= 0)
                return;
            for (const pollfd& socket : wanted) {
                int direction = 0;
                if ((socket.events & POLLIN) && (socket.revents & (POLLIN | POLLHUP | POLLERR)))
                    direction |= CURL_CSELECT_IN;
                if ((socket.events & POLLOUT) && (socket.revents & (POLLOUT | POLLHUP | POLLERR)))
                    direction |= CURL_CSELECT_OUT;
                if (socket.revents & POLLERR)
                    direction |= CURL_CSELECT_ERR;
                // A socket an earlier action of this round has closed is
                // left alone.
                if (direction != 0 && watches.contains(socket.fd))
                    socketAction(socket.fd, direction);
            }
            collectFinished();
        }
    }

    void socketAction(curl_socket_t fd, int direction)
    {
        int stillRunning = 0;
        const CURLMcode code = curl_multi_socket_action(multi, fd, direction, &stillRunning);
        // A socket libcurl has just given up may still have had an event
        // queued for it: nothing to do.
        if (code == CURLM_OK || code == CURLM_BAD_SOCKET)
            return;
        multiFailed(code);
    }

    // libcurl could not drive its transfers: each running load ends with
    // the reason, and later loads try afresh.
    void multiFailed(CURLMcode code)
    {
        // A call from inside one of libcurl's callbacks is the loader's own
        // fault.
        Q_ASSERT(code != CURLM_RECURSIVE_API_CALL);
        const Error error = multiError(code);
        std::vector<Ticket> tickets;
        for (const auto& [ticket, entry] : running)
            tickets.push_back(ticket);
        std::sort(tickets.begin(), tickets.end());
        for (const Ticket ticket : tickets) {
            const std::unique_ptr<Load> entry = detach(running.find(ticket));
            finishWithError(ticket, entry->url, error);
        }
    }

    // The timer waits for the earliest limit of the running transfers.
    void armDeadline()
    {
        if (deadlines.empty()) {
            deadlineTimer.stop();
            return;
        }
        const SteadyClock::time_point earliest = deadlines.begin()->first;
        if (deadlineTimer.isActive() && earliest == armedFor)
            return;
        armedFor = earliest;
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(earliest - SteadyClock::now());
        deadlineTimer.start(std::max(wait, std::chrono::milliseconds(0)));
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
        socketAction(fd, direction);
        collectFinished();
    }

    void onTimeout()
    {
        socketAction(CURL_SOCKET_TIMEOUT, 0);
        collectFinished();
    }

    // A transfer has a connection to its host and is about to send its
    // request.
    static int onConnected(void* load, char*, char*, int, int)
    {
        static_cast<Load*>(load)->connected = true;
        return CURL_PREREQFUNC_OK;
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
    // Why no multi handle exists, when it could not be set up.
    std::optional<Error> setupError;
    // libcurl's own time-outs (connection attempts, its internal steps).
    QTimer timer;
    // The earliest page limit of the running transfers.
    QTimer deadlineTimer;
    SteadyClock::time_point armedFor;
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
    // The page limits of the running loads, earliest first.
    std::set<std::pair<SteadyClock::time_point, Ticket>> deadlines;
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
