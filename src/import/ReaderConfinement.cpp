#include "import/ReaderConfinement.h"

#include "common/ErrorNumbers.h"
#include "import/ImportErrors.h"

#include <QByteArray>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TELVAR_READER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TELVAR_READER_SANITIZER 1
#endif
#endif

#if defined(__x86_64__)
#define TELVAR_READER_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define TELVAR_READER_AUDIT_ARCH AUDIT_ARCH_AARCH64
#endif

namespace telvar {

namespace {

// The system calls the reader makes on what it holds open: libmdb reads
// the Jet file, SQLite writes the new file (locks, sync, size), the report
// goes down a pipe, and the C and C++ runtimes manage memory, time,
// signals to the process itself, and the way out.
const std::vector<long> kAllowed = {
    SYS_read,
    SYS_pread64,
    SYS_readv,
    SYS_preadv,
    SYS_write,
    SYS_pwrite64,
    SYS_writev,
    SYS_pwritev,
    SYS_lseek,
    SYS_fstat,
    SYS_close,
    SYS_fcntl,
    SYS_fsync,
    SYS_fdatasync,
    SYS_ftruncate,
    SYS_fallocate,
    SYS_dup,
    SYS_dup3,
    // memory
    SYS_brk,
    SYS_mmap,
    SYS_munmap,
    SYS_mremap,
    SYS_mprotect,
    SYS_madvise,
    // threads of the runtime, time, randomness
    SYS_futex,
    SYS_sched_yield,
    SYS_clock_gettime,
    SYS_clock_getres,
    SYS_clock_nanosleep,
    SYS_nanosleep,
    SYS_gettimeofday,
    SYS_getrandom,
    SYS_getpid,
    SYS_gettid,
    SYS_getuid,
    SYS_geteuid,
    SYS_getgid,
    SYS_getegid,
    SYS_getrusage,
    SYS_prlimit64,
    SYS_uname,
    // signals (abort() raises SIGABRT on its own thread) and leaving
    SYS_rt_sigaction,
    SYS_rt_sigprocmask,
    SYS_rt_sigreturn,
    SYS_sigaltstack,
    SYS_tgkill,
    SYS_restart_syscall,
    SYS_exit,
    SYS_exit_group,
    // waiting on the pipes
    SYS_ppoll,
    SYS_pselect6,
#ifdef SYS_poll
    SYS_poll,
#endif
#ifdef SYS_select
    SYS_select,
#endif
#ifdef SYS_dup2
    SYS_dup2,
#endif
#ifdef SYS_time
    SYS_time,
#endif
#ifdef SYS_rseq
    SYS_rseq,
#endif
    SYS_set_robust_list,
#ifdef TELVAR_READER_SANITIZER
    // AddressSanitizer reads its own maps and, at exit, the leak check
    // stops the process's threads with a helper thread that traces them.
    SYS_sched_getaffinity,
    SYS_getdents64,
    SYS_openat,
    SYS_readlinkat,
    SYS_prctl,
    SYS_clone,
    SYS_ptrace,
    SYS_wait4,
    SYS_getppid,
    SYS_sched_getparam,
    SYS_pipe2,
    SYS_process_vm_readv,
    SYS_sched_setaffinity,
#ifdef SYS_readlink
    SYS_readlink,
#endif
#ifdef SYS_open
    SYS_open,
#endif
#endif
};

// System calls that name a file, or ask of the terminal: they fail as if
// the file could not be reached, which the runtimes and SQLite take in
// their stride (SQLite asks whether a journal exists, stdio whether a
// stream is a terminal).
const std::vector<long> kRefused = {
    SYS_openat,     SYS_faccessat, SYS_newfstatat, SYS_statx,  SYS_readlinkat, SYS_unlinkat,
    SYS_mkdirat,    SYS_renameat2, SYS_getdents64, SYS_statfs, SYS_getcwd,     SYS_ioctl,
#ifdef SYS_faccessat2
    SYS_faccessat2,
#endif
#ifdef SYS_openat2
    SYS_openat2,
#endif
#ifdef SYS_open
    SYS_open,       SYS_access,    SYS_stat,       SYS_lstat,  SYS_readlink,   SYS_unlink,
    SYS_mkdir,      SYS_rename,
#endif
};

sock_filter statement(unsigned short code, unsigned int k)
{
    return sock_filter{code, 0, 0, k};
}

sock_filter jump(unsigned short code, unsigned int k, unsigned char yes, unsigned char no)
{
    return sock_filter{code, yes, no, k};
}

std::vector<sock_filter> readerFilter()
{
    std::vector<sock_filter> program;
    const auto load = [&](std::size_t offset) {
        program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, unsigned(offset)));
    };
    const auto ret = [&](unsigned int action) {
        program.push_back(statement(BPF_RET | BPF_K, action));
    };

    // Another architecture's system call numbers mean other calls.
    load(offsetof(seccomp_data, arch));
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, TELVAR_READER_AUDIT_ARCH, 1, 0));
    ret(SECCOMP_RET_KILL_PROCESS);
    load(offsetof(seccomp_data, nr));
#if defined(__x86_64__)
    // The x32 calls of the same numbers.
    program.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
    ret(SECCOMP_RET_KILL_PROCESS);
#endif
    // fstat is newfstatat with AT_EMPTY_PATH in this C library: allowed
    // on a descriptor, refused on a name.
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, unsigned(SYS_newfstatat), 0, 4));
    load(offsetof(seccomp_data, args) + 3 * sizeof(__u64));
    program.push_back(jump(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 0, 1));
    ret(SECCOMP_RET_ALLOW);
    ret(SECCOMP_RET_ERRNO | EACCES);
    for (const long nr : kAllowed) {
        program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, unsigned(nr), 0, 1));
        ret(SECCOMP_RET_ALLOW);
    }
    for (const long nr : kRefused) {
        program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, unsigned(nr), 0, 1));
        ret(SECCOMP_RET_ERRNO | EACCES);
    }
    ret(SECCOMP_RET_KILL_PROCESS);
    return program;
}

Error refused(const QString& source, const QString& step)
{
    return jetImportError(ErrorNumber::PermissionDenied, source, {},
                          QStringLiteral("its reader cannot be confined (") + step +
                              QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)) +
                              QStringLiteral("), so it is not read."));
}

} // namespace

void prepareReaderChild(pid_t parent)
{
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    // The parent may have ended before the line above.
    if (::getppid() != parent)
        ::_exit(127);
}

Status confineReader(const QString& source)
{
    if (::geteuid() == 0 || ::getuid() == 0) {
        const gid_t group = kReaderAccount;
        if (::setgroups(0, nullptr) != 0)
            return refused(source, QStringLiteral("leaving the supplementary groups"));
        if (::setresgid(group, group, group) != 0)
            return refused(source, QStringLiteral("becoming the group nogroup"));
        if (::setresuid(kReaderAccount, kReaderAccount, kReaderAccount) != 0)
            return refused(source, QStringLiteral("becoming the account nobody"));
        // Changing the account must have taken: there is no way back.
        if (::setuid(0) == 0 || ::geteuid() == 0)
            return refused(source, QStringLiteral("root remained"));
        // PR_SET_PDEATHSIG is cleared by a change of account.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return refused(source, QStringLiteral("no_new_privs"));
    std::vector<sock_filter> program = readerFilter();
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0)
        return refused(source, QStringLiteral("installing its system call filter"));

    // A way to see the filter at work: the reader then attempts what it
    // must never do.
    if (qgetenv("TELVAR_READER_PROBE") == "socket")
        (void)::syscall(SYS_socket, 2, 1, 0);
    return {};
}

bool readerFilterRelaxedForSanitizer()
{
#ifdef TELVAR_READER_SANITIZER
    return true;
#else
    return false;
#endif
}

} // namespace telvar
