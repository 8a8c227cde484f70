#include "startup/UnicodeFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using telvar::UnicodeFile;

namespace {

class UnicodeFileTest : public testing::Test {
protected:
    QString write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("file%1.iau").arg(++m_count));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

struct MarkCase {
    const char* name;
    QByteArray bytes;
    const char* result;
};

void PrintTo(const MarkCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnicodeFileMark : public UnicodeFileTest, public testing::WithParamInterface<MarkCase> {};

TEST_P(UnicodeFileMark, OpenUnicodeChecksTheFirstTwoBytes)
{
    UnicodeFile file;
    EXPECT_EQ(file.OpenUnicode(write(GetParam().bytes)), QString::fromLatin1(GetParam().result));
}

const MarkCase kMarkCases[] = {
    {"LittleEndianMark",
     QByteArrayLiteral("\xFF\xFE"
                       "a\0"),
     "OK"},
    {"BigEndianMark", QByteArrayLiteral("\xFE\xFF\0a"), "65534"},
    {"Utf8Mark",
     QByteArrayLiteral("\xEF\xBB\xBF"
                       "abc"),
     "48111"},
    {"NoMark", QByteArrayLiteral("ab"), "25185"},
    {"OneByte", QByteArrayLiteral("A"), "65"},
    {"Empty", QByteArrayLiteral(""), "0"},
};

INSTANTIATE_TEST_SUITE_P(Cases, UnicodeFileMark, testing::ValuesIn(kMarkCases),
                         [](const testing::TestParamInfo<MarkCase>& testInfo) {
                             return std::string(testInfo.param.name);
                         });

TEST_F(UnicodeFileTest, MissingFileReadsAsZeroBytes)
{
    UnicodeFile file;
    EXPECT_EQ(file.OpenUnicode(m_dir.filePath(QStringLiteral("none.iau"))), QStringLiteral("0"));
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(file.LineInputUnicode(), QString());
}

QByteArray utf16le(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

TEST_F(UnicodeFileTest, LinesEndAtLineFeedAndDropEveryCarriageReturn)
{
    UnicodeFile file;
    ASSERT_EQ(file.OpenUnicode(write(utf16le(
                  QStringLiteral("CR LF\r\nLF only\nlone\rCR\n\nEspa\u00F1a \u20AC\r\nlast")))),
              QStringLiteral("OK"));
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("CR LF"));
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("LF only"));
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("loneCR"));
    EXPECT_EQ(file.LineInputUnicode(), QString());
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("Espa\u00F1a \u20AC"));
    EXPECT_FALSE(file.atEnd());
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("last"));
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(file.LineInputUnicode(), QString());
    EXPECT_EQ(file.LineInputUnicode(), QString());
}

TEST_F(UnicodeFileTest, FinalOddByteIsAUnitWithHighByteZero)
{
    UnicodeFile file;
    ASSERT_EQ(file.OpenUnicode(write(utf16le(QStringLiteral("a")) + "B")), QStringLiteral("OK"));
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("aB"));
}

TEST_F(UnicodeFileTest, LinesAfterARejectedMarkAreStillReadable)
{
    // The caller decides what to do with a file without the mark; the file
    // stays open after the two bytes.
    UnicodeFile file;
    ASSERT_EQ(file.OpenUnicode(write(QByteArray("\xFE\xFF"
                                                "a\0\n\0",
                                                6))),
              QStringLiteral("65534"));
    EXPECT_EQ(file.LineInputUnicode(), QStringLiteral("a"));
    file.close();
    EXPECT_TRUE(file.atEnd());
}

} // namespace
