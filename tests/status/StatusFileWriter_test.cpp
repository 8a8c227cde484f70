#include "status/StatusFileWriter.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

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

} // namespace
} // namespace telvar
