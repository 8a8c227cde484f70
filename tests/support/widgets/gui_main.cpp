#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Under AddressSanitizer, the window tests' allocations are made deep in Qt
// and the system's font and GLib libraries, built without frame pointers:
// only the slow unwinder reaches the frames that the leak suppressions name
// (fontconfig's and GLib's caches). The environment's options still apply.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

namespace {

// Each test starts with nothing kept by the windows of the tests before it.
class FreshWindowSettings final : public ::testing::EmptyTestEventListener {
public:
    explicit FreshWindowSettings(QString configHome) : m_configHome(std::move(configHome)) {}

    void OnTestStart(const ::testing::TestInfo&) override
    {
        QDir(m_configHome).removeRecursively();
        QDir().mkpath(m_configHome);
    }

private:
    QString m_configHome;
};

} // namespace

int main(int argc, char** argv)
{
    telvar::test::prepareProcessEnvironment();
    // What windows keep between runs (splitters, column widths) goes to a
    // folder of this run's own: never the user's, never another test's.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(
        new FreshWindowSettings(configHome.path()));
    return RUN_ALL_TESTS();
}
