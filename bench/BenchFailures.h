#pragma once

// What a benchmark does when something goes wrong: it stops, saying what,
// and takes down the processes it started.

#include "common/Error.h"
#include "common/Interaccion.h"

#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace telvar::bench {

// Child processes still running (a station simulator, a lock holder, a
// router), killed by die() on the way out.
inline std::vector<qint64>& childPids()
{
    static std::vector<qint64> pids;
    return pids;
}

[[noreturn]] inline void die(const QString& what)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", qPrintable(what));
    for (const qint64 pid : childPids())
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    std::exit(1);
}

inline void check(const Status& status, const QString& what)
{
    if (!status)
        die(what + QStringLiteral(": ") + status.error().description);
}

inline void check(const Status& status, const char* what)
{
    check(status, QString::fromLatin1(what));
}

// Any box during a benchmark is a failure worth stopping for (the list
// picker answers "" instead).
class FailOnBox final : public Interaccion {
public:
    void messageBox(const QString& text, BoxKind) override { fail(text); }
    void mensaBox(const QString& text, BoxKind, double) override { fail(text); }
    bool questionBox(const QString& text) override { fail(text); }
    std::optional<QString> inputBox(const QString& prompt, InputEcho) override { fail(prompt); }
    QString superListBox(const ListPickerRequest&) override { return {}; }
    void setMousePointer(PointerShape) override {}
    void beep() override {}

private:
    [[noreturn]] static void fail(const QString& text)
    {
        die(QStringLiteral("unexpected box:\n") + text);
    }
};

// Counts the boxes core code shows, for benchmarks that go on after one; a
// run should show none. The first few are kept, and printed as they come
// unless the benchmark prints them itself.
class CountingInteraccion final : public Interaccion {
public:
    explicit CountingInteraccion(bool printFirst = true) : m_printFirst(printFirst) {}

    void messageBox(const QString& text, BoxKind) override { record(text); }
    void mensaBox(const QString& text, BoxKind, double) override { record(text); }
    bool questionBox(const QString& text) override
    {
        record(text);
        return false;
    }
    std::optional<QString> inputBox(const QString& prompt, InputEcho) override
    {
        record(prompt);
        return std::nullopt;
    }
    QString superListBox(const ListPickerRequest& request) override
    {
        record(request.Title);
        return {};
    }
    void setMousePointer(PointerShape) override {}
    void beep() override {}

    int boxes = 0;
    QStringList first;

private:
    void record(const QString& text)
    {
        if (++boxes > 3)
            return;
        first.append(text);
        if (m_printFirst)
            std::fprintf(stderr, "box shown:\n%s\n", qPrintable(text));
    }

    bool m_printFirst;
};

} // namespace telvar::bench
