#include "app/StopSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace telvar {

namespace {

// The write end of the pair, for the handler (which may touch nothing else).
volatile std::sig_atomic_t g_writeEnd = -1;

void onSignal(int number)
{
    const int fd = g_writeEnd;
    if (fd < 0)
        return;
    // The handler may interrupt code between a failed call and its look at
    // errno: what write leaves there must not reach it.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pair means a stop is already waiting to be read.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    errno = savedErrno;
}

// A service manager's stop and a person's Ctrl+C; and a hang-up, which a
// router without a screen gets when the terminal it was started from goes:
// it stops as cleanly as on the other two.
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_sockets) != 0)
        return;
    g_writeEnd = m_sockets[0];
    m_notifier = std::make_unique<QSocketNotifier>(m_sockets[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool all = true;
    for (const int number : kStopSignals)
        all = ::sigaction(number, &action, nullptr) == 0 && all;
    // A reader of standard error (or of a socket) that went away is no
    // reason to end: the write fails with EPIPE instead, and the router goes
    // on without that reader.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    all = ::sigaction(SIGPIPE, &ignore, &m_pipeAction) == 0 && all;
    m_installed = all;
}

StopSignals::~StopSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kStopSignals)
        ::sigaction(number, &action, nullptr);
    ::sigaction(SIGPIPE, &m_pipeAction, nullptr);
    g_writeEnd = -1;
    m_notifier.reset();
    for (int& fd : m_sockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void StopSignals::readSignal()
{
    unsigned char byte = 0;
    while (::read(m_sockets[1], &byte, 1) == 1)
        emit stopRequested(byte);
}

} // namespace telvar
