#include "app/HeadlessInteraccion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using telvar::BoxKind;
using telvar::HeadlessInteraccion;

namespace {

struct BoxLine {
    const char* name;
    BoxKind kind;
    QString text;
    QString line;
};

const BoxLine kBoxLines[] = {
    {"OneLine", BoxKind::Exclamation, QStringLiteral("Telvar. cmdAbre."),
     QStringLiteral("Telvar warning: Telvar. cmdAbre.")},
    {"ReportWithBlankLines", BoxKind::Critical,
     QStringLiteral("Module1. OpenDBOK.\n\nSQLite\n14.- unable to open\n\n"),
     QStringLiteral("Telvar critical: Module1. OpenDBOK. | SQLite | 14.- unable to open")},
    {"CarriageReturnLineFeed", BoxKind::Information, QStringLiteral("one\r\ntwo"),
     QStringLiteral("Telvar information: one | two")},
    {"PageTextCannotStartALine", BoxKind::Plain, QStringLiteral("value 1\u2028FAKE line\x1b[2J"),
     QStringLiteral("Telvar message: value 1\uFFFDFAKE line\uFFFD[2J")},
};

class HeadlessBoxLine : public ::testing::TestWithParam<BoxLine> {};

TEST_P(HeadlessBoxLine, IsOneLineWithTheBoxsKindAndText)
{
    EXPECT_EQ(HeadlessInteraccion::lineFor(GetParam().kind, GetParam().text), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Boxes, HeadlessBoxLine, ::testing::ValuesIn(kBoxLines),
                         [](const auto& box) { return std::string(box.param.name); });

TEST(HeadlessInteraccion, QuestionsThatNeedAPersonAreCancelledAndSaySo)
{
    QStringList lines;
    HeadlessInteraccion ui([&](const QString& line) { lines.append(line); });
    EXPECT_EQ(ui.inputBox(QStringLiteral("Password=***;\nType the password"),
                          telvar::InputEcho::Password),
              std::nullopt);
    EXPECT_FALSE(ui.questionBox(QStringLiteral("Record anyway?")));
    EXPECT_EQ(ui.superListBox({QStringLiteral("Operators"), QStringLiteral("A\nB\n")}), QString());
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("Telvar question: Password=***; | Type the password"));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("nobody can answer the password")));
    EXPECT_TRUE(lines[3].contains(QStringLiteral("nobody can answer")));
    EXPECT_TRUE(lines[5].contains(QStringLiteral("nobody can answer")));
}

// The built program, without a screen, on a demo installation of its own.
class HeadlessRun : public ::testing::Test {
protected:
    static constexpr int kWaitMs = 30000;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QProcess install;
        install.start(QStringLiteral(TELVAR_DEMO_INSTALL), {m_dir.path()});
        ASSERT_TRUE(install.waitForFinished(120000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    }

    // Starts the program; its standard error is gathered in m_errors.
    std::unique_ptr<QProcess>
    run(QStringList extra = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        m_errors.clear();
        QProcess* raw = process.get();
        QObject::connect(raw, &QProcess::readyReadStandardError, raw, [this, raw] {
            m_errors += QString::fromUtf8(raw->readAllStandardError());
        });
        process->start(QStringLiteral(TELVAR_PROGRAM),
                       QStringList{QStringLiteral("--headless"), QStringLiteral("--installation"),
                                   m_dir.path()} +
                           extra);
        EXPECT_TRUE(process->waitForStarted());
        return process;
    }

    bool said(const QString& text)
    {
        return QTest::qWaitFor([&] { return m_errors.contains(text); }, kWaitMs);
    }

    static int endWith(QProcess& process, int signalNumber)
    {
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        EXPECT_TRUE(process.waitForFinished(kWaitMs));
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QByteArray runState() const
    {
        QFile file(m_dir.filePath(QStringLiteral("TelvarRun.state")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }

    QTemporaryDir m_dir;
    QString m_errors;
};

TEST_F(HeadlessRun, AcquiresAgainByItselfAfterACrashUntilAPersonStopsIt)
{
    {
        // Never started here: it waits for a person.
        const auto first = run();
        ASSERT_TRUE(said(QStringLiteral("not acquiring"))) << m_errors.toStdString();
        EXPECT_EQ(endWith(*first, SIGTERM), 0) << m_errors.toStdString();
    }
    {
        const auto started = run({QStringLiteral("--start")});
        ASSERT_TRUE(said(QStringLiteral("Telvar: acquiring"))) << m_errors.toStdString();
        EXPECT_EQ(runState(), QByteArrayLiteral("acquiring"));
        endWith(*started, SIGKILL);
    }
    {
        // After the crash it acquires again with nobody there, and a
        // service stop ends it cleanly without forgetting that.
        const auto again = run();
        ASSERT_TRUE(said(QStringLiteral("Telvar: acquiring"))) << m_errors.toStdString();
        EXPECT_EQ(endWith(*again, SIGTERM), 0) << m_errors.toStdString();
        EXPECT_TRUE(m_errors.contains(QStringLiteral("acquisition stopped")));
        EXPECT_EQ(runState(), QByteArrayLiteral("acquiring"));
    }
    {
        const auto interrupted = run();
        ASSERT_TRUE(said(QStringLiteral("Telvar: acquiring"))) << m_errors.toStdString();
        EXPECT_EQ(endWith(*interrupted, SIGINT), 0) << m_errors.toStdString();
    }
}

TEST_F(HeadlessRun, AHangUpStopsItAsCleanlyAsAServiceStop)
{
    const auto process = run({QStringLiteral("--start")});
    ASSERT_TRUE(said(QStringLiteral("Telvar: acquiring"))) << m_errors.toStdString();
    EXPECT_EQ(endWith(*process, SIGHUP), 0) << m_errors.toStdString();
    EXPECT_TRUE(m_errors.contains(QStringLiteral("stop requested (signal %1)").arg(SIGHUP)))
        << m_errors.toStdString();
    EXPECT_TRUE(m_errors.contains(QStringLiteral("acquisition stopped"))) << m_errors.toStdString();
    // A stop, not a person's Stop: the next start acquires again.
    EXPECT_EQ(runState(), QByteArrayLiteral("acquiring"));
}

TEST_F(HeadlessRun, AnInstallationItCannotUseEndsItWithTheReason)
{
    ASSERT_TRUE(QFile::remove(m_dir.filePath(QStringLiteral("IAu/QLDirec.iau"))));
    const auto process = run();
    ASSERT_TRUE(process->waitForFinished(kWaitMs));
    EXPECT_EQ(process->exitCode(), 1);
    EXPECT_TRUE(m_errors.contains(QStringLiteral("Telvar critical:"))) << m_errors.toStdString();
    EXPECT_TRUE(m_errors.contains(QStringLiteral("QLDirec"), Qt::CaseInsensitive))
        << m_errors.toStdString();
}

// A service manager's notification socket, as systemd offers it.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : m_path(path.toUtf8())
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, m_path.constData(),
                    std::min<std::size_t>(static_cast<std::size_t>(m_path.size()),
                                          sizeof(address.sun_path) - 1));
        m_bound = m_fd >= 0 &&
                  ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return m_bound; }
    // Every datagram received so far, one after the other.
    QString received()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            m_received += QString::fromUtf8(buffer, n) + QLatin1Char('\n');
        }
        return m_received;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
    bool m_bound = false;
    QString m_received;
};

TEST_F(HeadlessRun, TellsTheServiceManagerItIsReadyAndFeedsItsWatchdog)
{
    NotifySocket manager(m_dir.filePath(QStringLiteral("notify")));
    ASSERT_TRUE(manager.bound());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), m_dir.filePath(QStringLiteral("notify")));
    // A watchdog of 0.4 s: the keep-alive comes every 0.2 s.
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    const auto process = run({QStringLiteral("--start")}, environment);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.received().contains(QStringLiteral("READY=1\nSTATUS=acquiring")); },
        kWaitMs))
        << manager.received().toStdString() << m_errors.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.received().count(QStringLiteral("WATCHDOG=1")) >= 3; }, kWaitMs))
        << manager.received().toStdString();
    EXPECT_EQ(endWith(*process, SIGTERM), 0);
    EXPECT_TRUE(manager.received().contains(QStringLiteral("STOPPING=1")));
}

// Standard error a pipe whose reader has ended, as `telvar --headless 2>&1 |
// head -c 10` leaves it once head has what it wants; SIGPIPE and SIGHUP as a
// shell leaves them (the test's own process may ignore SIGPIPE, and an
// ignored signal stays ignored across exec). Every line the router writes
// then fails; the router goes on, and its stop is as clean as ever.
TEST_F(HeadlessRun, AStandardErrorNobodyReadsNeitherEndsItNorSpoilsItsStop)
{
    NotifySocket manager(m_dir.filePath(QStringLiteral("notify")));
    ASSERT_TRUE(manager.bound());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), m_dir.filePath(QStringLiteral("notify")));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier([] {
        int ends[2];
        if (::pipe(ends) != 0)
            ::_exit(125);
        ::close(ends[0]);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
    });
    process.start(QStringLiteral(TELVAR_PROGRAM),
                  {QStringLiteral("--headless"), QStringLiteral("--installation"), m_dir.path(),
                   QStringLiteral("--start")});
    ASSERT_TRUE(process.waitForStarted());
    // Ready comes after the line saying it acquires has been written.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.received().contains(QStringLiteral("READY=1\nSTATUS=acquiring")); },
        kWaitMs))
        << manager.received().toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager.received().count(QStringLiteral("WATCHDOG=1")) >= 3; }, kWaitMs))
        << manager.received().toStdString();
    ASSERT_EQ(process.state(), QProcess::Running);
    EXPECT_EQ(endWith(process, SIGTERM), 0);
    // The stop went all the way: the acquisition stopped (its line written
    // into the closed pipe too), then the program ended.
    EXPECT_TRUE(manager.received().contains(QStringLiteral("STOPPING=1")));
    EXPECT_TRUE(manager.received().contains(QStringLiteral("STATUS=stopped")))
        << manager.received().toStdString();
    EXPECT_EQ(runState(), QByteArrayLiteral("acquiring"));
}

// What a command printed on its standard output, and its exit code (-1 when
// it did not run to its end).
struct Ran {
    int exitCode = -1;
    QString output;
};

Ran runCommand(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

// The system unit's [Service] settings as systemd-run properties, for the
// built program on an installation of its own: what would start it (and
// start it again) is left out, the state folder is the test's.
QStringList unitProperties(const QString& stateDirectory, bool asTelvar)
{
    QFile unit(QStringLiteral(TELVAR_SOURCE_DIR "/packaging/systemd/telvar.service"));
    EXPECT_TRUE(unit.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList leftOut = {QStringLiteral("ExecStart"), QStringLiteral("Restart"),
                                 QStringLiteral("RestartSec"), QStringLiteral("StateDirectory")};
    QStringList properties;
    bool inService = false;
    for (const QString& raw : QString::fromUtf8(unit.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inService = line == QStringLiteral("[Service]");
            continue;
        }
        const QString key = line.section(QLatin1Char('='), 0, 0);
        if (!inService || line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            leftOut.contains(key))
            continue;
        if (!asTelvar && (key == QStringLiteral("User") || key == QStringLiteral("Group")))
            continue;
        properties << QStringLiteral("--property=") + line;
    }
    properties << QStringLiteral("--property=StateDirectory=") + stateDirectory;
    // The built program may lie in a home folder, which the unit hides.
    properties << QStringLiteral("--property=BindReadOnlyPaths=") +
                      QFileInfo(QStringLiteral(TELVAR_PROGRAM)).absolutePath();
    return properties;
}

// The router confined as the system unit confines it: it starts, acquires,
// tells systemd so, and stops cleanly. It needs a running systemd (and root
// to start a system unit); elsewhere it says why it cannot be tried.
TEST_F(HeadlessRun, AcquiresAndStopsCleanlyConfinedByTheSystemUnit)
{
    if (!QFileInfo(QStringLiteral("/run/systemd/system")).isDir())
        GTEST_SKIP() << "systemd is not running on this machine (no /run/systemd/system): the "
                        "unit's confinement cannot be tried here";
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting a system unit takes root";
    const QString name = QStringLiteral("telvar-confined-test-%1").arg(::getpid());
    const QString state = QStringLiteral("/var/lib/") + name;
    ASSERT_TRUE(
        QDir(m_dir.path()).rename(m_dir.path(), state) ||
        runCommand(QStringLiteral("cp"), {QStringLiteral("-a"), m_dir.path(), state}).exitCode ==
            0);
    const bool asTelvar =
        runCommand(QStringLiteral("getent"), {QStringLiteral("passwd"), QStringLiteral("telvar")})
            .exitCode == 0;
    const Ran started = runCommand(
        QStringLiteral("systemd-run"),
        QStringList{QStringLiteral("--unit=") + name, QStringLiteral("--quiet")} +
            unitProperties(name, asTelvar) +
            QStringList{QStringLiteral(TELVAR_PROGRAM), QStringLiteral("--headless"),
                        QStringLiteral("--installation"), state, QStringLiteral("--start")});
    const auto show = [&name](const char* property) {
        return runCommand(QStringLiteral("systemctl"),
                          {QStringLiteral("show"), QStringLiteral("--value"),
                           QStringLiteral("--property=") + QLatin1String(property), name})
            .output.trimmed();
    };
    const auto journal = [&name] {
        return runCommand(QStringLiteral("journalctl"),
                          {QStringLiteral("--unit=") + name, QStringLiteral("--no-pager")})
            .output.toStdString();
    };
    EXPECT_EQ(started.exitCode, 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return show("StatusText") == QStringLiteral("acquiring"); }, kWaitMs))
        << show("ActiveState").toStdString() << "\n"
        << journal();
    runCommand(QStringLiteral("systemctl"), {QStringLiteral("stop"), name});
    EXPECT_EQ(show("Result"), QStringLiteral("success")) << journal();
    EXPECT_EQ(show("ExecMainStatus"), QStringLiteral("0")) << journal();
    runCommand(QStringLiteral("systemctl"), {QStringLiteral("reset-failed"), name});
    QDir(state).removeRecursively();
}

} // namespace
