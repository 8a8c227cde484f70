#include "database/ServerAnswerWatch.h"

#include <QSqlDriver>
#include <QVariant>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace telvar {

namespace {

using Clock = std::chrono::steady_clock;

// libpq's PQsocket(const PGconn*), from the libpq that Qt's QPSQL plugin
// loaded (the program itself does not link libpq).
using SocketOfConnection = int (*)(const void*);

SocketOfConnection socketOfConnection()
{
    static std::mutex mutex;
    static SocketOfConnection found = nullptr;
    const std::lock_guard lock(mutex);
    if (found)
        return found;
    void* symbol = ::dlsym(RTLD_DEFAULT, "PQsocket");
    for (const char* library : {"libpq.so.5", "libpq.so"}) {
        if (symbol)
            break;
        // Only a library already loaded: never load one for this.
        if (void* handle = ::dlopen(library, RTLD_LAZY | RTLD_NOLOAD)) {
            symbol = ::dlsym(handle, "PQsocket");
            ::dlclose(handle);
        }
    }
    static_assert(sizeof(found) == sizeof(symbol));
    std::memcpy(&found, &symbol, sizeof(found));
    return found;
}

// The socket of an open QPSQL connection, or -1.
int socketOf(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return -1;
    const QVariant handle = db.driver()->handle();
    // Qt names the handle's type by libpq's typedef or by the struct behind it.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return -1;
    const void* connection = *static_cast<void* const*>(handle.constData());
    const SocketOfConnection socketFunction = socketOfConnection();
    if (!connection || !socketFunction)
        return -1;
    return socketFunction(connection);
}

// The process's one deadline thread and the connections it watches. It is
// never destroyed: connections may be closed during the program's exit,
// after objects with static storage are gone.
class Watcher final {
public:
    static Watcher& instance()
    {
        static Watcher* watcher = new Watcher;
        return *watcher;
    }

    // Watches socket, the watcher's own duplicate of the connection's: it
    // stays valid until remove(), whatever libpq does with its descriptor,
    // so a shutdown can never reach another file that reused the number.
    unsigned long long add(int socket)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_started) {
            std::thread([this] { run(); }).detach();
            m_started = true;
        }
        const unsigned long long id = ++m_lastId;
        m_watched.emplace(id, Watched{socket, std::nullopt, false});
        return id;
    }

    void remove(unsigned long long id)
    {
        int socket = -1;
        {
            const std::lock_guard lock(m_mutex);
            const auto found = m_watched.find(id);
            if (found == m_watched.end())
                return;
            socket = found->second.socket;
            m_watched.erase(found);
        }
        ::close(socket);
    }

    void arm(unsigned long long id, std::chrono::milliseconds bound)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_watched.find(id);
        if (found == m_watched.end())
            return;
        const Clock::time_point deadline = Clock::now() + bound;
        found->second.deadline = deadline;
        // Woken only when it would otherwise sleep past this deadline.
        if (deadline < m_nextWake)
            m_wake.notify_one();
    }

    void disarm(unsigned long long id)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_watched.find(id);
        if (found != m_watched.end())
            found->second.deadline.reset();
        // The thread wakes at the old deadline anyway and finds nothing due.
    }

    bool gaveUp(unsigned long long id)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_watched.find(id);
        return found != m_watched.end() && found->second.gaveUp;
    }

private:
    struct Watched {
        int socket;
        std::optional<Clock::time_point> deadline;
        bool gaveUp;
    };

    Watcher() = default;

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            std::optional<Clock::time_point> next;
            const Clock::time_point now = Clock::now();
            for (auto& [id, watched] : m_watched) {
                if (!watched.deadline || watched.gaveUp)
                    continue;
                if (*watched.deadline <= now) {
                    // Ends the connection for both sides: libpq's wait for
                    // the answer returns at once, and the server hears that
                    // the client is gone.
                    ::shutdown(watched.socket, SHUT_RDWR);
                    watched.gaveUp = true;
                } else if (!next || *watched.deadline < *next) {
                    next = watched.deadline;
                }
            }
            m_nextWake = next.value_or(Clock::time_point::max());
            if (next)
                m_wake.wait_until(lock, *next);
            else
                m_wake.wait(lock);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<unsigned long long, Watched> m_watched;
    // When the thread wakes next unless notified (max: not before).
    Clock::time_point m_nextWake = Clock::time_point::max();
    unsigned long long m_lastId = 0;
    bool m_started = false;
};

} // namespace

std::unique_ptr<ServerAnswerWatch> ServerAnswerWatch::start(const QSqlDatabase& db,
                                                            std::chrono::milliseconds bound)
{
    const int socket = socketOf(db);
    if (socket < 0)
        return nullptr;
    const int own = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return nullptr;
    return std::unique_ptr<ServerAnswerWatch>(
        new ServerAnswerWatch(Watcher::instance().add(own), bound));
}

ServerAnswerWatch::~ServerAnswerWatch()
{
    Watcher::instance().remove(m_id);
}

bool ServerAnswerWatch::gaveUp() const
{
    return Watcher::instance().gaveUp(m_id);
}

ServerAnswerWatch::Wait::Wait(const ServerAnswerWatch* watch) : m_watch(watch)
{
    if (m_watch)
        Watcher::instance().arm(m_watch->m_id, m_watch->m_bound);
}

ServerAnswerWatch::Wait::~Wait()
{
    if (m_watch)
        Watcher::instance().disarm(m_watch->m_id);
}

} // namespace telvar
