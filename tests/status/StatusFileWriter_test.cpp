#include "status/StatusFileWriter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace telvar {
namespace {

// A document of about size bytes that names its number.
QByteArray document(int number, int size)
{
    return QByteArray("{\"n\":") + QByteArray::number(number) + QByteArray(",\"pad\":\"") +
           QByteArray(size, 'x') + QByteArray("\"}\n");
}

TEST(StatusFileWriter, AReaderFindsTheOldDocumentOrTheNewOneNeverAMix)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("TelvarStatus.json"));
    std::atomic<bool> done = false;
    std::atomic<int> reads = 0;
    std::atomic<int> torn = 0;
    // Another process's reader, as a scraper or a script would be.
    std::thread reader([&] {
        while (!done) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            ++reads;
            if (QJsonDocument::fromJson(bytes).isNull())
                ++torn;
        }
    });
    {
        StatusFileWriter writer(path);
        for (int i = 0; i < 300; ++i) {
            // Large and small in turn: a file written in place would be
            // caught half long.
            writer.write(document(i, i % 2 == 0 ? 400000 : 10));
            if (i % 10 == 0)
                writer.flush();
        }
        writer.write(document(300, 10));
    }
    done = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), document(300, 10));
    // Nothing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("TelvarStatus.json")});
}

TEST(StatusFileWriter, AFolderThatCannotBeWrittenIsToldOncePerRunOfFailures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("missing"));
    StatusFileWriter writer(folder + QStringLiteral("/TelvarStatus.json"));
    QSignalSpy failing(&writer, &StatusFileWriter::startedFailing);
    QSignalSpy written(&writer, &StatusFileWriter::written);
    for (int i = 0; i < 3; ++i) {
        writer.write(document(i, 1));
        writer.flush();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(failing.count(), 1);
    EXPECT_TRUE(writer.failing());
    EXPECT_FALSE(writer.lastError().isEmpty());

    ASSERT_TRUE(QDir().mkpath(folder));
    writer.write(document(3, 1));
    writer.flush();
    EXPECT_TRUE(QTest::qWaitFor([&] { return written.count() == 1; }));
    EXPECT_FALSE(writer.failing());
    QDir(folder).removeRecursively();
    writer.write(document(4, 1));
    writer.flush();
    EXPECT_TRUE(QTest::qWaitFor([&] { return failing.count() == 2; }));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What may be found where the status file goes, and whether it is written.
struct Found {
    const char* name;
    bool needsRoot;
    bool written;
};

const Found kFound[] = {
    {"Nothing", false, true},
    {"AFileOfItsOwn", false, true},
    {"ALinkToAFileElsewhere", false, false},
    {"ALinkToNothing", false, false},
    {"AFileOfAnotherAccount", true, false},
};

class StatusFileFinds : public ::testing::TestWithParam<Found> {};

TEST_P(StatusFileFinds, OnlyItsOwnFileIsReplacedAndAlwaysWithoutBeingReadableByOthers)
{
    const Found& found = GetParam();
    if (found.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "a file of another account takes root to make";
    const mode_t oldMask = ::umask(0);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString path = dir.filePath(QStringLiteral("TelvarStatus.json"));
    const QString target = elsewhere.filePath(QStringLiteral("shadow"));
    QFile original(target);
    ASSERT_TRUE(original.open(QIODevice::WriteOnly));
    original.write("secret\n");
    original.close();
    const QString name = QString::fromLatin1(found.name);
    if (name == QLatin1String("AFileOfItsOwn") || name == QLatin1String("AFileOfAnotherAccount")) {
        ASSERT_TRUE(QFile::copy(target, path));
    }
    if (name == QLatin1String("AFileOfAnotherAccount")) {
        // In a folder others may write too (as /tmp): what root alone can
        // write, root put there.
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    if (name == QLatin1String("ALinkToAFileElsewhere")) {
        ASSERT_TRUE(QFile::link(target, path));
    }
    if (name == QLatin1String("ALinkToNothing")) {
        ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("new")), path));
    }
    {
        StatusFileWriter writer(path);
        QSignalSpy failing(&writer, &StatusFileWriter::startedFailing);
        writer.write(document(1, 10));
        writer.flush();
        QCoreApplication::processEvents();
        EXPECT_EQ(writer.failing(), !found.written) << writer.lastError().toStdString();
        if (!found.written) {
            EXPECT_EQ(failing.count(), 1);
            EXPECT_TRUE(writer.lastError().contains(path)) << writer.lastError().toStdString();
        }
    }
    ::umask(oldMask);
    EXPECT_EQ(contents(target), "secret\n");
    EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath(QStringLiteral("new"))));
    if (found.written) {
        EXPECT_EQ(contents(path), document(1, 10));
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StatusFileFinds, ::testing::ValuesIn(kFound),
                         [](const auto& found) { return std::string(found.param.name); });

} // namespace
} // namespace telvar
