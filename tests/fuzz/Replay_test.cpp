// Replays every input kept under regressions/<target>/ (the crashes the
// fuzzers found, and the hand-made hostile files) through its target.
#include "FuzzTarget.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace telvar::fuzz {
namespace {

TEST(FuzzRegressions, EveryKeptInputRunsThroughItsTarget)
{
    const QDir root(QStringLiteral(TELVAR_SOURCE_DIR "/tests/fuzz/regressions"));
    ASSERT_FALSE(targets().empty());
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto target = targets().find(name.toStdString());
        ASSERT_NE(target, targets().end()) << "no fuzz target named " << name.toStdString();
        const QDir inputs(root.filePath(name));
        for (const QString& file : inputs.entryList(QDir::Files)) {
            QFile input(inputs.filePath(file));
            ASSERT_TRUE(input.open(QIODevice::ReadOnly)) << file.toStdString();
            const QByteArray data = input.readAll();
            SCOPED_TRACE(name.toStdString() + "/" + file.toStdString());
            EXPECT_EQ(target->second(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                     std::size_t(data.size())),
                      0);
        }
    }
}

TEST(FuzzRegressions, EveryTargetTakesEmptyAndSmallInputs)
{
    const QByteArray inputs[] = {QByteArray(), QByteArray("\0", 1), QByteArray("\xFF\xFE"),
                                 QByteArray("\"[IMAGE]\",x\r\n[JET4],\"C:\\\\\"\r\n"),
                                 QByteArray(4096, ',')};
    for (const auto& [name, entry] : targets()) {
        for (const QByteArray& data : inputs)
            EXPECT_EQ(entry(reinterpret_cast<const std::uint8_t*>(data.constData()),
                            std::size_t(data.size())),
                      0)
                << name;
    }
}

} // namespace
} // namespace telvar::fuzz
