#include "app/RunState.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

} // namespace
