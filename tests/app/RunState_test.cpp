#include "app/RunState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using telvar::RunState;

namespace {

struct StoredState {
    const char* name;
    QByteArray content;
    bool acquiring;
};

const StoredState kStoredStates[] = {
    {"Acquiring", QByteArrayLiteral("acquiring\n"), true},
    {"AcquiringWithoutLineEnd", QByteArrayLiteral("acquiring"), true},
    {"Stopped", QByteArrayLiteral("stopped\n"), false},
    {"Empty", QByteArray(), false},
    {"AnotherWord", QByteArrayLiteral("running\n"), false},
    {"AcquiringFollowedByMore", QByteArrayLiteral("acquiring\nstopped\n"), false},
    {"LongerThanAnyState", QByteArray(1 << 20, 'a'), false},
    {"Binary", QByteArray("acq\0uiring", 10), false},
};

class RunStateFile : public ::testing::TestWithParam<StoredState> {};

TEST_P(RunStateFile, OnlyTheWordAcquiringMeansAcquiring)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TelvarRun.state"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().content);
    file.close();
    const auto read = RunState(path).wasAcquiring();
    ASSERT_TRUE(read.ok()) << read.error().description.toStdString();
    EXPECT_EQ(read.value(), GetParam().acquiring);
}

INSTANTIATE_TEST_SUITE_P(States, RunStateFile, ::testing::ValuesIn(kStoredStates),
                         [](const auto& state) { return std::string(state.param.name); });

TEST(RunState, IsStoppedUntilSavedAndReadsBackWhatWasSaved)
{
    QTemporaryDir dir;
    const RunState state(dir.filePath(QStringLiteral("TelvarRun.state")));
    EXPECT_FALSE(state.wasAcquiring().value());
    for (const bool acquiring : {true, false, true}) {
        ASSERT_TRUE(state.save(acquiring).ok());
        EXPECT_EQ(state.wasAcquiring().value(), acquiring);
    }
    // Replaced whole: nothing beside it is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("TelvarRun.state")});
}

TEST(RunState, AStateThatCannotBeReadOrWrittenIsAnErrorNamingTheFile)
{
    QTemporaryDir dir;
    // A folder where the file should be.
    const QString path = dir.filePath(QStringLiteral("TelvarRun.state"));
    ASSERT_TRUE(QDir().mkpath(path));
    const RunState state(path);
    const auto read = state.wasAcquiring();
    ASSERT_FALSE(read.ok());
    EXPECT_TRUE(read.error().description.contains(path));
    const auto saved = state.save(true);
    ASSERT_FALSE(saved.ok());
    EXPECT_TRUE(saved.error().description.contains(path));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What is found at the state's name that is not the router's own file.
struct Planted {
    const char* name;
    bool needsRoot;
};

const Planted kPlanted[] = {
    {"ALinkToAFileElsewhere", false},
    {"ALinkToNothing", false},
    {"AFileOfAnotherAccount", true},
};

class RunStatePlanted : public ::testing::TestWithParam<Planted> {};

TEST_P(RunStatePlanted, IsNeitherReadNorReplacedAndWhatItPointsToIsLeftAsItWas)
{
    if (GetParam().needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "a file of another account takes root to make";
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString path = dir.filePath(QStringLiteral("TelvarRun.state"));
    const QString target = elsewhere.filePath(QStringLiteral("acquiring"));
    QFile original(target);
    ASSERT_TRUE(original.open(QIODevice::WriteOnly));
    original.write("acquiring\n");
    original.close();
    const QString name = QString::fromLatin1(GetParam().name);
    if (name == QLatin1String("ALinkToAFileElsewhere")) {
        ASSERT_TRUE(QFile::link(target, path));
    }
    if (name == QLatin1String("ALinkToNothing")) {
        ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("new")), path));
    }
    if (name == QLatin1String("AFileOfAnotherAccount")) {
        ASSERT_TRUE(QFile::copy(target, path));
        // In a folder others may write too (as /tmp): what root alone can
        // write, root put there.
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    const RunState state(path);
    if (name != QLatin1String("ALinkToNothing")) {
        const auto read = state.wasAcquiring();
        ASSERT_FALSE(read.ok());
        EXPECT_TRUE(read.error().description.contains(path));
    }
    const auto saved = state.save(false);
    ASSERT_FALSE(saved.ok());
    EXPECT_TRUE(saved.error().description.contains(path))
        << saved.error().description.toStdString();
    EXPECT_EQ(contents(target), "acquiring\n");
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath(QStringLiteral("new"))));
}

INSTANTIATE_TEST_SUITE_P(Cases, RunStatePlanted, ::testing::ValuesIn(kPlanted),
                         [](const auto& planted) { return std::string(planted.param.name); });

TEST(RunState, IsSavedReadableByItsOwnersGroupOnlyWhateverTheUmask)
{
    const mode_t oldMask = ::umask(0);
    QTemporaryDir dir;
    const RunState state(dir.filePath(QStringLiteral("TelvarRun.state")));
    const auto saved = state.save(true);
    ::umask(oldMask);
    ASSERT_TRUE(saved.ok());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(state.path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

} // namespace
