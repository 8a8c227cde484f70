// Every program of the project answers --help and -h with its usage and
// nothing else, and refuses a command line it does not understand with exit
// code 2, naming what it did not understand.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The programs lie together in the build's program folder.
QString programPath(const char* name)
{
    return QFileInfo(QStringLiteral(TELVAR_PROGRAM)).dir().filePath(QString::fromLatin1(name));
}

struct Program {
    const char* name;
    // A word the usage must hold (one of its options).
    const char* usageMentions;
};

const Program kPrograms[] = {
    {"telvar", "--headless"},
    {"telvar_demo_install", "--recreate-databases"},
    {"telvar-import", "--password-stdin"},
    {"telvar_station_simulator", "--silent-ports"},
};

// Programs print as their names in the test's name and messages.
void PrintTo(const Program& p, std::ostream* os)
{
    *os << p.name;
}

struct Ran {
    int exitCode = -1;
    QString out;
    QString err;
};

Ran run(const QString& program, const QStringList& arguments, const QString& workingDirectory)
{
    QProcess process;
    // No window system: a program that answered with a window would fail.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Ran ran;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return ran;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        ran.exitCode = process.exitCode();
    ran.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    ran.err = QString::fromLocal8Bit(process.readAllStandardError());
    return ran;
}

// Nothing at all: the folder the program ran in stays empty.
QStringList leftIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

class ProgramHelp : public testing::TestWithParam<Program> {};

TEST_P(ProgramHelp, HelpPrintsTheUsageAndDoesNothingElse)
{
    const QString program = programPath(GetParam().name);
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << "not built: " << program.toStdString();
    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const Ran ran = run(program, {QString::fromLatin1(option)}, dir.path());
        EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
        EXPECT_TRUE(ran.out.contains(QStringLiteral("Usage:"))) << ran.out.toStdString();
        EXPECT_TRUE(ran.out.contains(QString::fromLatin1(GetParam().usageMentions)))
            << ran.out.toStdString();
        EXPECT_TRUE(ran.err.isEmpty()) << ran.err.toStdString();
        EXPECT_EQ(leftIn(dir), QStringList());
    }
}

TEST_P(ProgramHelp, AnUnknownOptionIsNamedAndExitsWithTwo)
{
    const QString program = programPath(GetParam().name);
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << "not built: " << program.toStdString();
    struct Mistake {
        QStringList arguments;
        const char* named;
    };
    const Mistake mistakes[] = {
        {{QStringLiteral("--no-such-option")}, "no-such-option"},
        {{QStringLiteral("--zqx"), QStringLiteral("--help")}, "zqx"},
    };
    for (const Mistake& mistake : mistakes) {
        SCOPED_TRACE(mistake.arguments.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const Ran ran = run(program, mistake.arguments, dir.path());
        EXPECT_EQ(ran.exitCode, 2) << ran.err.toStdString();
        EXPECT_TRUE(ran.err.contains(QString::fromLatin1(mistake.named))) << ran.err.toStdString();
        EXPECT_EQ(leftIn(dir), QStringList());
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramHelp, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<Program>& testInfo) {
                             std::string name = testInfo.param.name;
                             for (char& c : name) {
                                 if (c == '-')
                                     c = '_';
                             }
                             return name;
                         });

TEST(TelvarCommandLine, ArgumentsItTakesNoneOfAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Ran stray = run(programPath("telvar"), {QStringLiteral("extra")}, dir.path());
    EXPECT_EQ(stray.exitCode, 2);
    EXPECT_TRUE(stray.err.contains(QStringLiteral("'extra'"))) << stray.err.toStdString();
    const Ran version = run(programPath("telvar"), {QStringLiteral("--version")}, dir.path());
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("Telvar "))) << version.out.toStdString();
    EXPECT_EQ(leftIn(dir), QStringList());
}

} // namespace
